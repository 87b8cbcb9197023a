#include "mzml/Base64Decoder.h"

#include <array>

namespace {

constexpr unsigned char Invalid = 0xFF;
constexpr unsigned char Space = 0xFE;
constexpr unsigned char Padding = 0xFD;

// Table-driven because the arrays are the bulk of every acquisition.
constexpr std::array<unsigned char, 128> MakeTable()
{
    std::array<unsigned char, 128> table{};
    table.fill(Invalid);
    const char *alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (unsigned char value = 0; value < 64; ++value)
        table[static_cast<unsigned char>(alphabet[value])] = value;
    table[' '] = table['\t'] = table['\n'] = table['\r'] = Space;
    table['='] = Padding;
    return table;
}

constexpr std::array<unsigned char, 128> Table = MakeTable();

// For the k-th character of a group of four: its sextet in place in the
// group's 24 bits, or a bit above them for anything that is not a sextet.
constexpr quint32 NotASextet = 1u << 31;
constexpr std::array<quint32, 256> MakeShiftedTable(int k)
{
    std::array<quint32, 256> table{};
    for (size_t c = 0; c < table.size(); ++c)
        table[c] = c < 128 && Table[c] < 64 ? quint32(Table[c]) << (6 * (3 - k)) : NotASextet;
    return table;
}

constexpr std::array<std::array<quint32, 256>, 4> Shifted = {MakeShiftedTable(0), MakeShiftedTable(1),
                                                             MakeShiftedTable(2), MakeShiftedTable(3)};

// The 24 bits of the four characters at text, or NotASextet among them.
quint32 GroupAt(const char *text)
{
    const auto byte = [text](int k) { return static_cast<unsigned char>(text[k]); };
    return Shifted[0][byte(0)] | Shifted[1][byte(1)] | Shifted[2][byte(2)] | Shifted[3][byte(3)];
}

unsigned char Classify(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte < 128 ? Table[byte] : Invalid;
}

// Writes the three bytes of four sextets.
unsigned char *PutGroup(unsigned char *next, quint32 bits)
{
    *next++ = static_cast<unsigned char>(bits >> 16);
    *next++ = static_cast<unsigned char>(bits >> 8);
    *next++ = static_cast<unsigned char>(bits);
    return next;
}

} // namespace

bool DecodeBase64(QByteArrayView text, std::vector<unsigned char> &out)
{
    out.resize(size_t(text.size()) / 4 * 3 + 3);
    unsigned char *next = out.data();
    quint32 group = 0;
    int filled = 0; // sextets in group
    qsizetype i = 0;
    const qsizetype size = text.size();
    while (i < size) {
        // The common case first: groups of four sextets, nothing in between.
        if (filled == 0) {
            quint32 bits = 0;
            while (i + 4 <= size && !((bits = GroupAt(text.data() + i)) & NotASextet)) {
                next = PutGroup(next, bits);
                i += 4;
            }
            if (i == size)
                break;
        }
        const unsigned char value = Classify(text[i]);
        if (value == Padding)
            break;
        if (value < 64) {
            group = (group << 6) | value;
            if (++filled == 4) {
                next = PutGroup(next, group);
                filled = 0;
                group = 0;
            }
        } else if (value != Space) {
            return false;
        }
        ++i;
    }
    // The tail: what the last group holds, then only padding and white space.
    int padding = 0;
    for (; i < size; ++i) {
        const unsigned char value = Classify(text[i]);
        if (value == Padding)
            ++padding;
        else if (value != Space)
            return false;
    }
    if (filled == 1 || (padding > 0 && (filled < 2 || filled + padding != 4)))
        return false;
    if (filled == 2) {
        *next++ = static_cast<unsigned char>(group >> 4);
    } else if (filled == 3) {
        *next++ = static_cast<unsigned char>(group >> 10);
        *next++ = static_cast<unsigned char>(group >> 2);
    }
    out.resize(size_t(next - out.data()));
    return true;
}
