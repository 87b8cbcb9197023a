#include "convert/modTimeZone.h"

#include "convert/DateValue.h"
#include "convert/Errors.h"
#include "convert/modAPI.h"

#include <limits>

namespace {

constexpr double UnixEpochDateValue = 25569.0;
constexpr const char *InjectionTime = "the injection time";

qint32 CheckedInt32(qint64 value)
{
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        FailOverflow("the time zone offset");
    return qint32(value);
}

} // namespace

qint32 UtcOffsetSeconds(double dateValue)
{
    // Ask for the zone in force at the acquisition's own date: the offset of
    // today would shift a winter acquisition converted in summer by an hour.
    const modAPI::TimeZoneInformation zone = modAPI::GetTimeZoneInformation(DateTimeOfDateValue(dateValue));
    qint32 offset = CheckedInt32(qint64(zone.Bias) * -60);
    if (zone.Id == modAPI::TimeZoneId::Daylight && zone.HasDaylightRule)
        offset = CheckedInt32(qint64(offset) - CheckedInt32(qint64(zone.DaylightBias) * 60));
    return offset;
}

double OleDateToEpochSeconds(double dateValue)
{
    double seconds = CheckedFinite(dateValue - UnixEpochDateValue, InjectionTime);
    seconds = CheckedFinite(seconds * 24 * 60 * 60, InjectionTime);
    return CheckedFinite(seconds - double(UtcOffsetSeconds(dateValue)), InjectionTime);
}
