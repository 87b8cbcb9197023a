#include "AscConversion.h"

bool ConvertRawFile(const QString &, const QString &, SampleHeader &, double)
{
    return false; // written with the spectrum conversion
}
