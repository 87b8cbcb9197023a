#include "mzml/FilterText.h"

using namespace Qt::Literals::StringLiterals;

namespace {

bool IsMs1(const SpectrumTerms &spectrum)
{
    return spectrum.ms1 || spectrum.msLevelOne.value_or(false);
}

} // namespace

QByteArray FilterText(const SpectrumTerms &spectrum, const SpectrumTerms &firstScan)
{
    if (firstScan.filter)
        return *firstScan.filter;
    if (spectrum.filter)
        return *spectrum.filter;
    if (spectrum.sim)
        return "+ SIM ms "_ba;
    return IsMs1(spectrum) ? "+ Full ms "_ba : QByteArray();
}
