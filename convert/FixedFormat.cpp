#include "FixedFormat.h"

#include "Errors.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

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

namespace {

// FormatFixed first rounds to 15 significant digits, which moves a value by
// at most half a unit of its 15th digit: 0.5e-14 of its magnitude. The
// product |value| x 10^decimals is off by at most 2^-53 of itself. Whenever
// the product lies farther than this margin from a rounding tie, both
// roundings land on the same side of the tie, and the integer arithmetic
// below gives FormatFixed's digits. The margin is twice what is needed.
// Products of 5e13 and more never pass the test, so the whole part stays
// well inside exact integer range.
constexpr double TieMargin = 1e-14;

constexpr char DigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the decimal digits of n, at least minimumDigits of them, so that
// they end just before `end`; returns where they begin.
char *DigitsBackwards(char *end, quint64 n, int minimumDigits)
{
    char *begin = end;
    while (n >= 100) {
        begin -= 2;
        std::memcpy(begin, DigitPairs + 2 * (n % 100), 2);
        n /= 100;
    }
    if (n >= 10) {
        begin -= 2;
        std::memcpy(begin, DigitPairs + 2 * n, 2);
    } else {
        *--begin = char('0' + n);
    }
    while (end - begin < minimumDigits)
        *--begin = '0';
    return begin;
}

} // namespace

FixedFormatter::FixedFormatter(int decimals, std::string_view separator)
    : m_decimals(decimals), m_scale(decimals == 1 ? 10.0 : decimals == 2 ? 100.0 : 1000.0),
      m_separatorSize(separator.size())
{
    Q_ASSERT(decimals >= 1 && decimals <= 3);
    if (separator.size() > m_separator.size())
        throw Error(ErrorNumber::InvalidArgument,
                    u"Invalid procedure call or argument: the decimal separator is too long."_s);
    std::copy(separator.begin(), separator.end(), m_separator.begin());
}

char *FixedFormatter::Format(char *out, double value) const
{
    const double scaled = std::fabs(value) * m_scale;
    const double whole = std::floor(scaled);
    const double fraction = scaled - whole;
    // Also false for a product too large to decide here.
    if (!(std::fabs(fraction - 0.5) > scaled * TieMargin))
        return FormatFixed(out, value, m_decimals, separator());

    const quint64 units = quint64(whole) + (fraction > 0.5 ? 1 : 0);
    char digits[24];
    char *const end = digits + sizeof digits;
    const char *begin = DigitsBackwards(end, units, m_decimals + 1);
    const char *point = end - m_decimals;
    if (std::signbit(value))
        *out++ = '-';
    out = std::copy(begin, point, out);
    out = std::copy(m_separator.data(), m_separator.data() + m_separatorSize, out);
    return std::copy(point, static_cast<const char *>(end), out);
}
