#include "mzml/FilterText.h"

using namespace Qt::Literals::StringLiterals;

namespace {

bool IsMs1(const ParamSet &spectrum)
{
    if (spectrum.cvParam(u"MS:1000579"))
        return true;
    const CvParam *level = spectrum.cvParam(u"MS:1000511");
    bool ok = false;
    return level && level->value.trimmed().toInt(&ok) == 1 && ok;
}

} // namespace

QString FilterText(const ParamSet &spectrum, const ParamSet &firstScan)
{
    // Shared texts: the spectrum index keeps one for every spectrum.
    static const QString sim = u"+ SIM ms "_s;
    static const QString full = u"+ Full ms "_s;
    const CvParam *filter = firstScan.cvParam(u"MS:1000512");
    if (!filter)
        filter = spectrum.cvParam(u"MS:1000512");
    if (filter)
        return filter->value;
    if (spectrum.cvParam(u"MS:1000582"))
        return sim;
    return IsMs1(spectrum) ? full : QString();
}
