#pragma once

#include <QtGlobal>

#include <array>
#include <string_view>

// The number patterns "0.000" and "0.0": at least one digit before the
// separator, exactly `decimals` after it, a leading minus for negatives, no
// grouping. Rounding is half away from zero on the value's 15 significant
// digits, so 2.675 gives "2.68" as a person reading the number expects.

// Room that FormatFixed needs for any finite double and up to 3 decimals,
// with a separator of up to 4 bytes.
inline constexpr int FixedFormatCapacity = 336;

// Writes the finite value at out and returns the end of what was written.
char *FormatFixed(char *out, double value, int decimals, std::string_view separator);

// FormatFixed for one pattern and separator, fast enough for millions of
// numbers: ordinary values go through integer arithmetic, and whatever that
// cannot decide for certain (values near a rounding tie, very large
// magnitudes) goes to FormatFixed itself, so the text is always the same.
class FixedFormatter
{
public:
    // decimals from 1 to 3; a separator of up to 4 bytes.
    FixedFormatter(int decimals, std::string_view separator);

    // Writes the finite value at out (FixedFormatCapacity bytes of room)
    // and returns the end of what was written.
    char *Format(char *out, double value) const;

private:
    std::string_view separator() const { return {m_separator.data(), m_separatorSize}; }

    int m_decimals;
    quint64 m_unit; // 10^decimals
    double m_scale; // the same as a double
    std::array<char, 4> m_separator{};
    size_t m_separatorSize;
};

// The data line of one spectrum point without its line end: the mass in
// "0.000", a TAB, the intensity in "0.0", as FixedFormatter writes them. On
// x86-64 both numbers of ordinary points go through the vector unit at once;
// anything else goes to FixedFormatter.
class PointFormatter
{
public:
    // A separator of up to 4 bytes.
    explicit PointFormatter(std::string_view separator);

    // Writes the line of the finite values at out (2 x FixedFormatCapacity + 1
    // bytes of room) and returns the end of what was written.
    char *Format(char *out, double mass, double intensity) const;

private:
    char *FormatEach(char *out, double mass, double intensity) const;

    FixedFormatter m_mass;
    FixedFormatter m_intensity;
    quint32 m_separator = 0; // its bytes, in memory order
    size_t m_separatorSize;
};
