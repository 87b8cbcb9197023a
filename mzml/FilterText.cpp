#include "mzml/FilterText.h"

using namespace Qt::Literals::StringLiterals;

namespace {

bool IsMs1(const SpectrumTerms &spectrum)
{
    if (spectrum.ms1)
        return true;
    bool ok = false;
    return spectrum.msLevel && spectrum.msLevel->trimmed().toInt(&ok) == 1 && ok;
}

} // namespace

QString FilterText(const SpectrumTerms &spectrum, const SpectrumTerms &firstScan)
{
    if (firstScan.filter)
        return *firstScan.filter;
    if (spectrum.filter)
        return *spectrum.filter;
    if (spectrum.sim)
        return u"+ SIM ms "_s;
    return IsMs1(spectrum) ? u"+ Full ms "_s : QString();
}
