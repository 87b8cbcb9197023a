#include "convert/DateValue.h"

#include "convert/Errors.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr double SecondsPerDay = 86400.0;
constexpr double FirstDateValue = -657434.0; // 0100-01-01
constexpr double LastDateValue = 2958466.0;  // 10000-01-01, excluded

} // namespace

QDate DateValueOrigin()
{
    return QDate(1899, 12, 30);
}

QDateTime DateTimeOfDateValue(double dateValue)
{
    // The range is one of whole days: below zero a time of day lies below
    // its day's value (0100-01-01 06:00 is -657434.25).
    const double wholeDays = std::trunc(dateValue);
    if (!(wholeDays >= FirstDateValue && dateValue < LastDateValue))
        throw Error(ErrorNumber::Overflow, u"Overflow: the date value is out of range."_s);
    qint64 seconds = std::llround(std::fabs(dateValue - wholeDays) * SecondsPerDay);
    QDate date = DateValueOrigin().addDays(qint64(wholeDays));
    if (seconds == qint64(SecondsPerDay)) {
        date = date.addDays(1);
        seconds = 0;
    }
    return QDateTime(date, QTime(0, 0).addSecs(int(seconds)), Qt::UTC);
}

double DateValueOfDateTime(const QDate &date, const QTime &time)
{
    const double days = double(DateValueOrigin().daysTo(date));
    const double fraction = time.msecsSinceStartOfDay() / (SecondsPerDay * 1000.0);
    return days >= 0 ? days + fraction : days - fraction;
}
