#pragma once

#include <QString>

// Conversions that follow the user's regional settings: the process's default
// QLocale (the system's unless a test sets another).

// The locale's short date (year widened to four digits), a blank and its long
// time (without a zone name), with ASCII digits where the locale's own lie
// beyond the basic plane. Midnight gives the date alone; the date
// 1899-12-30 gives the time alone.
QString DateToText(double dateValue);

// The inverse of DateToText, to the second. Throws a type-mismatch Error for
// a text that is not a date of that form.
double TextToDate(const QString &text);

// At most 15 significant digits in ASCII, an ASCII "-", no grouping, no
// trailing zeros, the locale's decimal separator, exponent form for very
// large or small magnitudes.
QString NumberToText(double value);

// Whether TextToNumber accepts the text: blanks around, a sign, the locale's
// decimal separator and an exponent are allowed; grouping is not.
bool IsNumeric(const QString &text);

// Throws a type-mismatch Error for a text that IsNumeric refuses.
double TextToNumber(const QString &text);

// The locale's decimal separator, as used by the "0.000" and "0.0" patterns.
QString DecimalSeparator();
