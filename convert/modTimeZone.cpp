#include "modTimeZone.h"

#include "DateValue.h"
#include "Errors.h"
#include "modAPI.h"

#include <cmath>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double UnixEpochDateValue = 25569.0;

qint32 CheckedInt32(qint64 value)
{
    if (value < std::numeric_limits<qint32>::min() || value > std::numeric_limits<qint32>::max())
        throw Error(ErrorNumber::Overflow, u"Overflow in the time zone offset."_s);
    return qint32(value);
}

double CheckedFinite(double value)
{
    if (!std::isfinite(value))
        throw Error(ErrorNumber::Overflow, u"Overflow in the injection time."_s);
    return value;
}

} // namespace

qint32 UtcOffsetSeconds(double dateValue)
{
    // Ask for the zone in force at the acquisition's own date: the offset of
    // today would shift a winter acquisition converted in summer by an hour.
    const modAPI::TimeZoneInformation zone =
        modAPI::GetTimeZoneInformation(DateTimeOfDateValue(dateValue));
    qint32 offset = CheckedInt32(qint64(zone.Bias) * -60);
    if (zone.Id == modAPI::TimeZoneId::Daylight && zone.HasDaylightRule)
        offset = CheckedInt32(qint64(offset) - CheckedInt32(qint64(zone.DaylightBias) * 60));
    return offset;
}

double OleDateToEpochSeconds(double dateValue)
{
    double seconds = CheckedFinite(dateValue - UnixEpochDateValue);
    seconds = CheckedFinite(seconds * 24 * 60 * 60);
    return CheckedFinite(seconds - double(UtcOffsetSeconds(dateValue)));
}
