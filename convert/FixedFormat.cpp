#include "FixedFormat.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr int SignificantDigits = 15;

// The value's 15 significant digits and decimal exponent: value is
// 0.d1 d2 ... d15 x 10^(exponent + 1).
struct Decimal
{
    char digits[SignificantDigits + 1];
    int exponent;
};

Decimal Decompose(double magnitude)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, magnitude,
                                      std::chars_format::scientific, SignificantDigits - 1);
    Decimal decimal{};
    decimal.digits[0] = text[0];
    std::memcpy(decimal.digits + 1, text + 2, SignificantDigits - 1);
    const char *exponent = text + SignificantDigits + 2; // past "d.dddd...e"
    if (*exponent == '+')
        ++exponent;
    std::from_chars(exponent, result.ptr, decimal.exponent);
    return decimal;
}

// Rounds half away from zero so that `kept` digits remain; a carry out of the
// first digit moves the exponent. Digits past `kept` become zeros.
void RoundToDigits(Decimal &decimal, int kept)
{
    if (kept >= SignificantDigits)
        return;
    if (kept < 0) {
        std::memset(decimal.digits, '0', SignificantDigits);
        return;
    }
    const bool up = decimal.digits[kept] >= '5';
    std::memset(decimal.digits + kept, '0', SignificantDigits - kept);
    if (!up)
        return;
    int i = kept - 1;
    while (i >= 0 && decimal.digits[i] == '9')
        decimal.digits[i--] = '0';
    if (i >= 0) {
        ++decimal.digits[i];
        return;
    }
    // 999.9 rounded up: the digits become 1000..., one place higher.
    decimal.digits[0] = '1';
    ++decimal.exponent;
}

char DigitAt(const Decimal &decimal, int position)
{
    // position counts from the most significant digit, 0-based.
    return position >= 0 && position < SignificantDigits ? decimal.digits[position] : '0';
}

} // namespace

char *FormatFixed(char *out, double value, int decimals, std::string_view separator)
{
    const bool negative = std::signbit(value);
    Decimal decimal = Decompose(std::fabs(value));
    const bool zero = value == 0;
    if (zero)
        decimal.exponent = 0;
    RoundToDigits(decimal, decimal.exponent + 1 + decimals);
    if (negative)
        *out++ = '-';
    // Digit positions: the units digit is at index `exponent`.
    const int units = zero ? -1 : decimal.exponent;
    if (units < 0) {
        *out++ = '0';
    } else {
        for (int i = 0; i <= units; ++i)
            *out++ = DigitAt(decimal, i);
    }
    out = std::copy(separator.begin(), separator.end(), out);
    for (int i = 1; i <= decimals; ++i)
        *out++ = zero ? '0' : DigitAt(decimal, units + i);
    return out;
}
