#include "convert/FixedFormat.h"

#include "convert/Errors.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define QUORVANE_POINT_VECTORS 1
#endif

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
    const auto result =
        std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific, SignificantDigits - 1);
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
// Products of 5e13 and more never pass the test.
constexpr double TieMargin = 1e-14;
// Below it, a product converts to an integer and splits into whole part and
// fraction exactly.
constexpr double LargestExactWhole = 0x1p52;
// A product exactly halfway between two units is decided too: such values
// are common (a 32-bit intensity of 524288.25 in "0.0"). The value lies
// within 2^-52 of itself from the tie, which has at most 15 significant
// digits while the product stays below this bound; so FormatFixed's
// rounding to 15 digits lands on the tie itself and rounds it away from zero.
constexpr double LargestTie = 5e13;

constexpr char DigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                              "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                              "8081828384858687888990919293949596979899";

// The number of decimal digits of n, 1 for 0.
size_t DigitCount(quint64 n)
{
    static constexpr auto Powers = [] {
        std::array<quint64, 20> powers{};
        quint64 power = 1;
        for (quint64 &p : powers) {
            p = power;
            power *= 10;
        }
        return powers;
    }();
    n |= 1; // has as many digits, and at least one bit
    const int bits = 64 - std::countl_zero(n);
    const int estimate = (bits * 1233) >> 12; // bits x log10(2), never above the count
    return size_t(estimate + (n >= Powers[size_t(estimate)] ? 1 : 0));
}

// The eight digits of n below 10^8, leading zeros included, as characters
// in one register, the first in the lowest byte. Each step splits every
// lane of the register in two at once (division by 100, then by 10,
// through multiplications that cannot spill into the next lane).
quint64 EightDigits(quint64 n)
{
    quint64 lanes = n / 10000 | (n % 10000) << 32;              // 2 x 4 digits
    quint64 upper = (lanes * 10486 >> 20) & 0x0000007F0000007F; // / 100
    lanes = upper | (lanes - upper * 100) << 16;                // 4 x 2 digits
    upper = (lanes * 103 >> 10) & 0x000F000F000F000F;           // / 10
    lanes = upper | (lanes - upper * 10) << 8;                  // 8 x 1 digit
    return lanes | 0x3030303030303030;
}

// Writes the digits of n at out and returns their end; writes up to 8
// bytes beyond. Numbers of up to eight digits, nearly all that occur, are
// written without a branch that depends on their length: such branches,
// mispredicted, would cost more than the digits themselves.
char *WholeDigits(char *out, quint64 n)
{
    if (std::endian::native != std::endian::little || n >= 100000000) {
        const size_t count = DigitCount(n);
        for (char *at = out + count; at != out; n /= 10)
            *--at = char('0' + n % 10);
        return out + count;
    }
    const quint64 eight = EightDigits(n);
    // The leading zeros are the low bytes that hold '0'; 0 keeps one.
    const int leadingZeros = std::min(std::countr_zero(eight ^ 0x3030303030303030) / 8, 7);
    const quint64 digits = eight >> (8 * leadingZeros);
    std::memcpy(out, &digits, sizeof digits);
    return out + 8 - leadingZeros;
}

// Writes the fraction, in units of 10^-decimals, as exactly `decimals`
// digits; returns their end.
char *FractionDigits(char *out, quint64 fraction, int decimals)
{
    switch (decimals) {
    case 1: *out = char('0' + fraction); return out + 1;
    case 2: std::memcpy(out, DigitPairs + 2 * fraction, 2); return out + 2;
    default:
        *out = char('0' + fraction / 100);
        std::memcpy(out + 1, DigitPairs + 2 * (fraction % 100), 2);
        return out + 3;
    }
}

// The whole part of units of 10^-decimals. Constant divisors spare the
// costly division by a variable.
quint64 WholePart(quint64 units, int decimals)
{
    switch (decimals) {
    case 1: return units / 10;
    case 2: return units / 100;
    default: return units / 1000;
    }
}

} // namespace

FixedFormatter::FixedFormatter(int decimals, std::string_view separator)
    : m_decimals(decimals), m_unit(decimals == 1   ? 10
                                   : decimals == 2 ? 100
                                                   : 1000),
      m_scale(double(m_unit)), m_separatorSize(separator.size())
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
    if (!(scaled < LargestExactWhole)) // also for what is not a number
        return FormatFixed(out, value, m_decimals, separator());
    const qint64 whole = qint64(scaled);
    const double fraction = scaled - double(whole);
    const bool tie = fraction == 0.5 && scaled < LargestTie;
    if (!(std::fabs(fraction - 0.5) > scaled * TieMargin) && !tie)
        return FormatFixed(out, value, m_decimals, separator());

    const quint64 units = quint64(whole) + (fraction >= 0.5 ? 1 : 0);
    const quint64 wholePart = WholePart(units, m_decimals);
    *out = '-';
    out += std::signbit(value) ? 1 : 0;
    out = WholeDigits(out, wholePart);
    std::memcpy(out, m_separator.data(), m_separator.size());
    out += m_separatorSize;
    return FractionDigits(out, units - wholePart * m_unit, m_decimals);
}

#ifdef QUORVANE_POINT_VECTORS
namespace {

// The digits of two numbers below 10^8, held in the 32-bit lanes 0 and 2, as
// characters: eight for the first in bytes 0 to 7, eight for the second in
// bytes 8 to 15, leading zeros included, the most significant first. The
// lane-wise divisions of EightDigits, on 16-bit lanes.
__m128i SixteenDigits(__m128i numbers)
{
    // Each number splits into its high and low four digits (/ 10000 as
    // multiplication by 2^45 / 10000 rounded up, exact below 10^8).
    const __m128i high = _mm_srli_epi64(_mm_mul_epu32(numbers, _mm_set1_epi32(int(0xD1B71759))), 45);
    const __m128i low = _mm_sub_epi32(numbers, _mm_mul_epu32(high, _mm_set1_epi32(10000)));
    // 16-bit lanes high1 low1 high2 low2, then each of them four times.
    const __m128i halves = _mm_shuffle_epi32(_mm_or_si128(high, _mm_slli_epi64(low, 16)), _MM_SHUFFLE(3, 3, 2, 0));
    const __m128i doubled = _mm_unpacklo_epi16(halves, halves);
    const auto digits = [](__m128i fourTimes) {
        // Lane k of a group of four becomes v / 10^(3 - k): (4v x m >> 16) x s >> 16.
        const __m128i prefixes =
            _mm_mulhi_epu16(_mm_mulhi_epu16(_mm_slli_epi16(fourTimes, 2),
                                            _mm_setr_epi16(8389, 5243, 13108, -32768, 8389, 5243, 13108, -32768)),
                            _mm_setr_epi16(1 << 7, 1 << 11, 1 << 13, -32768, 1 << 7, 1 << 11, 1 << 13, -32768));
        // Less ten times the prefix before it: one digit in each lane.
        return _mm_sub_epi16(prefixes, _mm_slli_epi64(_mm_mullo_epi16(prefixes, _mm_set1_epi16(10)), 16));
    };
    const __m128i packed =
        _mm_packus_epi16(digits(_mm_unpacklo_epi32(doubled, doubled)), digits(_mm_unpackhi_epi32(doubled, doubled)));
    return _mm_add_epi8(packed, _mm_set1_epi8('0'));
}

} // namespace
#endif

PointFormatter::PointFormatter(std::string_view separator)
    : m_mass(3, separator), m_intensity(1, separator), m_separatorSize(separator.size())
{
    std::memcpy(&m_separator, separator.data(), separator.size());
}

char *PointFormatter::FormatEach(char *out, double mass, double intensity) const
{
    out = m_mass.Format(out, mass);
    *out++ = '\t';
    return m_intensity.Format(out, intensity);
}

#ifndef QUORVANE_POINT_VECTORS
char *PointFormatter::Format(char *out, double mass, double intensity) const
{
    return FormatEach(out, mass, intensity);
}
#else
char *PointFormatter::Format(char *out, double mass, double intensity) const
{
    // FixedFormatter's arithmetic on both numbers at once, for units of
    // 10^-3 and 10^-1 below 10^8 (up to eight digits each): the product plus
    // one half, truncated, rounds half away from zero whatever the
    // processor's rounding mode. Products near a tie go to FixedFormatter,
    // except an exact one (see LargestTie).
    const __m128d signBits = _mm_set1_pd(-0.0);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128d values = _mm_setr_pd(mass, intensity);
    const __m128d scaled = _mm_mul_pd(_mm_andnot_pd(signBits, values), _mm_setr_pd(1000, 10));
    const __m128d halfUp = _mm_add_pd(scaled, half);
    const __m128i rounded = _mm_cvttpd_epi32(halfUp);
    // How far past a tie the product lies, in units: 0 at a tie, 1 at the next.
    const __m128d past = _mm_sub_pd(halfUp, _mm_cvtepi32_pd(rounded));
    const __m128d margin = _mm_mul_pd(scaled, _mm_set1_pd(TieMargin));
    const __m128d clearOfTie =
        _mm_and_pd(_mm_cmpgt_pd(past, margin), _mm_cmplt_pd(past, _mm_sub_pd(_mm_set1_pd(1), margin)));
    // Halfway, with the half added without rounding.
    const __m128d exactTie =
        _mm_and_pd(_mm_cmpeq_pd(past, _mm_setzero_pd()), _mm_cmpeq_pd(_mm_sub_pd(halfUp, scaled), half));
    const __m128d fits = _mm_cmplt_pd(scaled, _mm_set1_pd(99999999));
    if (_mm_movemask_pd(_mm_and_pd(fits, _mm_or_pd(clearOfTie, exactTie))) != 3) [[unlikely]]
        return FormatEach(out, mass, intensity);
    const __m128i units = _mm_shuffle_epi32(rounded, _MM_SHUFFLE(3, 1, 3, 0));
    const __m128i digits = SixteenDigits(units);

    // Leading zeros to leave out: of the eight digits the mass keeps at
    // least four (units and three decimals), the intensity at least two.
    const auto significant = ~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(digits, _mm_set1_epi8('0'))));
    const int massZeros = std::countr_zero(significant | 1u << 4);
    const int intensityZeros = std::countr_zero(significant >> 8 | 1u << 6);
    const auto massDigits = quint64(_mm_cvtsi128_si64(digits));
    const auto intensityDigits = quint64(_mm_cvtsi128_si64(_mm_unpackhi_epi64(digits, digits)));
    const int negative = _mm_movemask_pd(values);

    // Each piece is stored whole and the position moves by its length: the
    // bytes beyond are overwritten by the next piece.
    *out = '-';
    out += negative & 1;
    const quint64 massWhole = massDigits >> (8 * massZeros);
    std::memcpy(out, &massWhole, sizeof massWhole);
    out += 5 - massZeros;
    std::memcpy(out, &m_separator, sizeof m_separator);
    out += m_separatorSize;
    const quint32 massDecimals = quint32(massDigits >> 40) | quint32('\t') << 24;
    std::memcpy(out, &massDecimals, sizeof massDecimals);
    out += 4;
    *out = '-';
    out += negative >> 1;
    const quint64 intensityWhole = intensityDigits >> (8 * intensityZeros);
    std::memcpy(out, &intensityWhole, sizeof intensityWhole);
    out += 7 - intensityZeros;
    std::memcpy(out, &m_separator, sizeof m_separator);
    out += m_separatorSize;
    *out = char(intensityDigits >> 56);
    return out + 1;
}
#endif
