#pragma once

#include <QDateTime>

// A date value counts days since 1899-12-30 00:00 local time; its fraction is
// the time of day. Below zero the whole days count backwards while the
// fraction still counts forwards (-1.25 is 1899-12-29 06:00).

// The local date and time of a date value, to the nearest second, without a
// time zone attached. Throws an overflow Error outside the years 100 to 9999.
QDateTime DateTimeOfDateValue(double dateValue);

// The date value of a local date and time; milliseconds are kept.
double DateValueOfDateTime(const QDate &date, const QTime &time);

// The day that date value 0 stands for.
QDate DateValueOrigin();
