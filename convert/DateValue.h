#pragma once

#include <QDateTime>

// A date value counts days since 1899-12-30 00:00 local time; its fraction is
// the time of day. Below zero the whole days count backwards while the
// fraction still counts forwards (-1.25 is 1899-12-29 06:00).

// The wall-clock date and time of a date value, to the nearest second. It is
// carried as UTC, where every date and time exists: a local QDateTime would
// be invalid in the hour that a spring change of the clocks skips. Throws an
// overflow Error outside the years 100 to 9999.
QDateTime DateTimeOfDateValue(double dateValue);

// The date value of a wall-clock date and time; milliseconds are kept.
double DateValueOfDateTime(const QDate &date, const QTime &time);

// The day that date value 0 stands for.
QDate DateValueOrigin();
