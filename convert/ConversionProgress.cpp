#include "convert/ConversionProgress.h"

#include "convert/modAPI.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

Seam<void(const ConversionProgress &)> ReportProgress{[](const ConversionProgress &) {}};

int ConversionProgress::Percent() const
{
    if (total <= 0)
        return 0;
    return int(std::clamp<qint64>(done * 100 / total, 0, 100));
}

QString ConversionProgress::Text() const
{
    if (step == Step::Reading)
        return u"reading the acquisition"_s;
    QString text = u"spectrum "_s + QString::number(spectrum) + u" of "_s + QString::number(count);
    if (!section.isEmpty())
        text += u", "_s + section + u" section"_s;
    return text;
}

ProgressPace::ProgressPace() : m_start(modAPI::SteadyMilliseconds()) {}

bool ProgressPace::Due()
{
    const qint64 elapsed = modAPI::SteadyMilliseconds() - m_start;
    if (elapsed < m_next)
        return false;
    m_elapsed = elapsed;
    m_next = elapsed + IntervalMilliseconds;
    return true;
}
