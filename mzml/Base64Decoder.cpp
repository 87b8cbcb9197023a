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

bool Base64Stream::add(QByteArrayView text, std::vector<unsigned char> &out)
{
    const size_t kept = out.size();
    out.resize(kept + size_t(text.size()) / 4 * 3 + 3);
    unsigned char *next = out.data() + kept;
    qsizetype i = 0;
    const qsizetype size = text.size();
    while (i < size && !m_tail) {
        // The common case first: groups of four sextets, nothing in between.
        if (m_filled == 0) {
            quint32 bits = 0;
            while (i + 4 <= size && !((bits = GroupAt(text.data() + i)) & NotASextet)) {
                next = PutGroup(next, bits);
                i += 4;
            }
            if (i == size)
                break;
        }
        const unsigned char value = Classify(text[i]);
        if (value == Padding) {
            m_tail = true;
            break;
        }
        if (value < 64) {
            m_group = (m_group << 6) | value;
            if (++m_filled == 4) {
                next = PutGroup(next, m_group);
                m_filled = 0;
                m_group = 0;
            }
        } else if (value != Space) {
            return false;
        }
        ++i;
    }
    // The tail: what the last group holds, then only padding and white space.
    for (; i < size; ++i) {
        const unsigned char value = Classify(text[i]);
        if (value == Padding)
            ++m_padding;
        else if (value != Space)
            return false;
    }
    out.resize(size_t(next - out.data()));
    return true;
}

bool Base64Stream::finish(std::vector<unsigned char> &out)
{
    if (m_filled == 1 || (m_padding > 0 && (m_filled < 2 || m_filled + m_padding != 4)))
        return false;
    if (m_filled == 2) {
        out.push_back(static_cast<unsigned char>(m_group >> 4));
    } else if (m_filled == 3) {
        out.push_back(static_cast<unsigned char>(m_group >> 10));
        out.push_back(static_cast<unsigned char>(m_group >> 2));
    }
    return true;
}

bool DecodeBase64(QByteArrayView text, std::vector<unsigned char> &out)
{
    out.clear();
    Base64Stream stream;
    return stream.add(text, out) && stream.finish(out);
}
