#include "modAPI.h"

#include <QTimeZone>

namespace modAPI {
namespace {

TimeZoneInformation SystemTimeZoneAt(const QDateTime &localTime)
{
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime at(localTime.date(), localTime.time(), zone);
    TimeZoneInformation info;
    info.Bias = -zone.standardTimeOffset(at) / 60;
    info.HasDaylightRule = zone.hasDaylightTime();
    if (!info.HasDaylightRule)
        return info;
    if (zone.isDaylightTime(at)) {
        info.Id = TimeZoneId::Daylight;
        info.DaylightBias = -zone.daylightTimeOffset(at) / 60;
    } else {
        info.Id = TimeZoneId::Standard;
    }
    return info;
}

} // namespace

Seam<TimeZoneInformation(const QDateTime &)> GetTimeZoneInformation{SystemTimeZoneAt};

Seam<void(const QString &, const QString &)> ShowInformation{[](const QString &, const QString &) {}};

} // namespace modAPI
