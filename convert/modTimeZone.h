#pragma once

#include <QtGlobal>

// Seconds to add to UTC to get the local time in force at the local date
// value given (positive east of Greenwich).
qint32 UtcOffsetSeconds(double dateValue);

// Seconds since 1970-01-01 00:00 UTC of a local date value; fractions of a
// second stay. Throws an overflow Error when the arithmetic leaves the range
// of finite numbers.
double OleDateToEpochSeconds(double dateValue);
