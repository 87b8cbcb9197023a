#include "mzml/XmlTokenizer.h"

#include "mzml/MzmlFault.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

// Bytes read at a time: the file passes through a window of this size.
constexpr qsizetype ChunkSize = 1 << 20;
// How far past a character its check may look: the longest entity reference
// taken. A character reference may be longer: its digits are read as they come.
constexpr qsizetype Lookahead = 64;
// The longest element name taken; mzML's are a few dozen bytes.
constexpr qsizetype NameLimit = 4 << 10;
// Up to this many attributes, repeats are found by comparing each pair.
constexpr size_t PairwiseAttributes = 16;

bool IsDigit(char c, bool hex)
{
    return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// What each byte may be in a name: NameByte after its first character,
// NameByte | NameStartByte anywhere, BeyondAscii the first byte of a
// character beyond ASCII, which is decoded only when met.
constexpr quint8 NameByte = 1;
constexpr quint8 NameStartByte = 2;
constexpr quint8 BeyondAscii = 4;
constexpr std::array<quint8, 256> MakeNameBytes()
{
    std::array<quint8, 256> bytes{};
    for (size_t c = 0; c < bytes.size(); ++c) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':')
            bytes[c] = NameByte | NameStartByte;
        else if ((c >= '0' && c <= '9') || c == '.' || c == '-')
            bytes[c] = NameByte;
        else if (c >= 0x80)
            bytes[c] = BeyondAscii;
    }
    return bytes;
}
constexpr std::array<quint8, 256> NameBytes = MakeNameBytes();

// XML 1.0 (fifth edition): NameStartChar beyond ASCII.
bool IsNameStartCharacter(char32_t c)
{
    return (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF)
        || (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D)
        || (c >= 0x2070 && c <= 0x218F) || (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF)
        || (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

// NameChar beyond ASCII.
bool IsNameCharacter(char32_t c)
{
    return IsNameStartCharacter(c) || c == 0xB7 || (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

bool IsXmlCharacter(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

// The length of the character that the UTF-8 bytes at data (size of them
// at hand) begin with, its value in value; 0 when they begin no character
// that XML allows.
int Utf8Character(const char *data, qsizetype size, char32_t &value)
{
    const uchar c = uchar(data[0]);
    if (c < 0x80) {
        value = c;
        return 1;
    }
    const int length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    value = length == 4 ? c & 0x07 : length == 3 ? c & 0x0F : c & 0x1F;
    bool valid = length > 0 && length <= size && c < 0xF5;
    for (int k = 1; valid && k < length; ++k) {
        const uchar next = uchar(data[k]);
        valid = (next & 0xC0) == 0x80;
        value = value << 6 | (next & 0x3F);
    }
    static constexpr char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    return valid && value >= shortest[length] && IsXmlCharacter(value) ? length : 0;
}

QByteArrayView LocalPart(QByteArrayView name)
{
    for (qsizetype at = name.size(); at > 0; --at)
        if (name[at - 1] == ':')
            return name.sliced(at);
    return name;
}

// Whether any of the 8 bytes at data is outside printable ASCII (below a
// blank, or not ASCII): markup is mostly such bytes, checked 8 at a time.
bool HasSpecialByte(const char *data)
{
    quint64 word;
    std::memcpy(&word, data, sizeof word);
    constexpr quint64 high = 0x8080808080808080ULL;
    constexpr quint64 blanks = 0x2020202020202020ULL;
    return ((word | ((word - blanks) & ~word)) & high) != 0;
}

// Whether any of the 8 bytes at data stops a stretch of text: what is not
// printable ASCII, "<", "&" or "]" (which may begin "]]>"). Base64, the bulk
// of a document, has none, and passes 8 bytes at a time.
bool HasTextStop(const char *data)
{
    quint64 word;
    std::memcpy(&word, data, sizeof word);
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 high = 0x8080808080808080ULL;
    const auto hasByte = [&](char c) {
        const quint64 x = word ^ (ones * uchar(c));
        return (x - ones) & ~x & high;
    };
    return HasSpecialByte(data) || hasByte('<') || hasByte('&') || hasByte(']');
}

// "1." and digits: XML 1.0 reads a document of any version 1.x as its own.
bool IsVersion1(QByteArrayView version)
{
    return version.size() > 2 && version.startsWith("1.")
        && std::all_of(version.begin() + 2, version.end(), [](char c) { return IsDigit(c, false); });
}

// A qualified name as namespaces allow it, of a name whose characters are
// checked: no colon first, last or twice, and a local part that begins as a
// name does (not "ms:1000512").
bool IsQualified(QByteArrayView name, TextEncoding encoding)
{
    const qsizetype colon = name.indexOf(':');
    if (colon < 0)
        return true;
    if (colon == 0 || colon == name.size() - 1 || name.indexOf(':', colon + 1) >= 0)
        return false;
    const uchar first = uchar(name[colon + 1]);
    if (first < 0x80)
        return (NameBytes[first] & NameStartByte) != 0;
    char32_t character = first;
    if (encoding == TextEncoding::Utf8)
        Utf8Character(name.data() + colon + 1, name.size() - colon - 1, character);
    return IsNameStartCharacter(character);
}

// The bytes that end a stretch of tag markup: quotes, "<", ">", and what
// is not printable ASCII, which must be checked as a character.
constexpr std::array<bool, 256> MakeTagStops()
{
    std::array<bool, 256> stops{};
    for (size_t c = 0; c < stops.size(); ++c)
        stops[c] = (c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c >= 0x80;
    stops['"'] = stops['\''] = stops['<'] = stops['>'] = true;
    return stops;
}
constexpr std::array<bool, 256> TagStops = MakeTagStops();

// Tags are scanned this many bytes at a time: one bit for each byte of a
// block tells where the bytes to look at stand, and the rest pass unseen.
constexpr qsizetype BlockSize = 16;

#if defined(__SSE2__)
__m128i LoadBlock(const char *data)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(data));
}

__m128i Equal(__m128i block, char c)
{
    return _mm_cmpeq_epi8(block, _mm_set1_epi8(c));
}

quint32 Bits(__m128i block)
{
    return quint32(_mm_movemask_epi8(block));
}
#endif

// The bits of the TagStops among the bytes at data, of which size are at
// hand: a block, or the fewer bytes before the end of those at hand.
Q_ALWAYS_INLINE quint32 TagStopBits(const char *data, qsizetype size)
{
#if defined(__SSE2__)
    if (size >= BlockSize) {
        const __m128i block = LoadBlock(data);
        // Compared as signed, bytes beyond ASCII are below a blank too.
        const __m128i controls =
            _mm_andnot_si128(_mm_or_si128(_mm_or_si128(Equal(block, '\t'), Equal(block, '\n')), Equal(block, '\r')),
                             _mm_cmplt_epi8(block, _mm_set1_epi8(0x20)));
        const __m128i marks = _mm_or_si128(_mm_or_si128(Equal(block, '"'), Equal(block, '\'')),
                                           _mm_or_si128(Equal(block, '<'), Equal(block, '>')));
        return Bits(_mm_or_si128(controls, marks));
    }
#endif
    quint32 bits = 0;
    for (qsizetype i = 0; i < std::min(size, BlockSize); ++i)
        bits |= quint32(TagStops[uchar(data[i])]) << i;
    return bits;
}

// Among the bytes at data (size at hand): where a run of NameByte stops,
// with a bit for each byte past those at hand too, where colons stand, and
// the bytes beyond ASCII.
struct NameBits
{
    quint32 stops;
    quint32 colons;
    quint32 beyondAscii;
};

Q_ALWAYS_INLINE NameBits NameBitsOf(const char *data, qsizetype size)
{
#if defined(__SSE2__)
    if (size >= BlockSize) {
        const __m128i block = LoadBlock(data);
        const __m128i lower = _mm_or_si128(block, _mm_set1_epi8(0x20));
        const __m128i letters =
            _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)), _mm_cmplt_epi8(lower, _mm_set1_epi8('z' + 1)));
        // "-", ".", the digits and ":" stand from 0x2D to 0x3A, and "/" among them.
        const __m128i marks =
            _mm_andnot_si128(Equal(block, '/'), _mm_and_si128(_mm_cmpgt_epi8(block, _mm_set1_epi8(0x2C)),
                                                              _mm_cmplt_epi8(block, _mm_set1_epi8(0x3B))));
        const quint32 names = Bits(_mm_or_si128(_mm_or_si128(letters, marks), Equal(block, '_')));
        return {~names & 0xFFFF, Bits(Equal(block, ':')), Bits(block)};
    }
#endif
    NameBits bits{~quint32(0) << std::min(size, BlockSize), 0, 0};
    for (qsizetype i = 0; i < std::min(size, BlockSize); ++i) {
        bits.stops |= quint32(!(NameBytes[uchar(data[i])] & NameByte)) << i;
        bits.colons |= quint32(data[i] == ':') << i;
        bits.beyondAscii |= quint32(uchar(data[i]) >= 0x80) << i;
    }
    return bits;
}

// The bits of the bytes a and b among those at data (size at hand).
Q_ALWAYS_INLINE quint32 EitherBits(const char *data, qsizetype size, char a, char b)
{
#if defined(__SSE2__)
    if (size >= BlockSize) {
        const __m128i block = LoadBlock(data);
        return Bits(_mm_or_si128(Equal(block, a), Equal(block, b)));
    }
#endif
    quint32 bits = 0;
    for (qsizetype i = 0; i < std::min(size, BlockSize); ++i)
        bits |= quint32(data[i] == a || data[i] == b) << i;
    return bits;
}

// The bits of the bytes at data (size at hand) that end a plain value:
// quote, and "&", "<" and what is not printable ASCII, which ask for a closer look.
Q_ALWAYS_INLINE quint32 PlainValueStopBits(const char *data, qsizetype size, char quote)
{
#if defined(__SSE2__)
    if (size >= BlockSize) {
        const __m128i block = LoadBlock(data);
        return Bits(_mm_or_si128(_mm_or_si128(Equal(block, quote), Equal(block, '&')),
                                 _mm_or_si128(Equal(block, '<'), _mm_cmplt_epi8(block, _mm_set1_epi8(0x20)))));
    }
#endif
    quint32 bits = 0;
    for (qsizetype i = 0; i < std::min(size, BlockSize); ++i) {
        const uchar c = uchar(data[i]);
        bits |= quint32(c == uchar(quote) || c == '&' || c == '<' || c < 0x20 || c >= 0x80) << i;
    }
    return bits;
}

// Names of attributes of one tag, compared for repeats: most differ in
// length or in their first byte.
bool SameName(QByteArrayView a, QByteArrayView b)
{
    return a.size() == b.size() && a.front() == b.front() && std::memcmp(a.data(), b.data(), size_t(a.size())) == 0;
}

// A name that two of the attributes share; null when none is repeated.
// Most tags repeat none, which a bit for each length and first byte shows
// at once; else pair by pair for the few attributes a tag has, sorted for many.
QByteArrayView RepeatedName(const std::vector<XmlAttribute> &attributes)
{
    quint64 seen = 0;
    bool clash = false;
    for (const XmlAttribute &attribute : attributes) {
        const quint64 bit = quint64(1) << ((attribute.name.size() * 8 + uchar(attribute.name.front())) % 64);
        clash = clash || (seen & bit) != 0;
        seen |= bit;
    }
    if (!clash)
        return {};
    if (attributes.size() <= PairwiseAttributes) {
        for (size_t i = 0; i < attributes.size(); ++i)
            for (size_t j = i + 1; j < attributes.size(); ++j)
                if (SameName(attributes[i].name, attributes[j].name))
                    return attributes[i].name;
        return {};
    }
    std::vector<QByteArrayView> names;
    for (const XmlAttribute &attribute : attributes)
        names.push_back(attribute.name);
    std::sort(names.begin(), names.end());
    const auto repeated = std::adjacent_find(names.begin(), names.end());
    return repeated != names.end() ? *repeated : QByteArrayView();
}

// A name as a message shows it: short enough to read.
QString Shown(QByteArrayView bytes)
{
    constexpr qsizetype Longest = 80;
    return bytes.size() <= Longest ? QString::fromUtf8(bytes) : QString::fromUtf8(bytes.first(Longest)) + u"..."_s;
}

// The character that the reference (from "&" to ";") stands for; 0 when
// it stands for none.
char32_t ReferencedCharacter(QByteArrayView reference)
{
    const QByteArrayView body = reference.sliced(1, reference.size() - 2);
    if (body.startsWith('#')) {
        const bool hex = body.size() > 1 && body[1] == 'x';
        const QByteArrayView digits = body.sliced(hex ? 2 : 1);
        if (digits.isEmpty())
            return 0;
        // Any number of digits, leading zeros among them: the value stops
        // growing once it stands for no character, so that it cannot wrap.
        char32_t value = 0;
        for (const char c : digits) {
            int digit = -1;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (hex && c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (hex && c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            if (digit < 0)
                return 0;
            if (value <= 0x10FFFF)
                value = value * (hex ? 16 : 10) + char32_t(digit);
        }
        return IsXmlCharacter(value) ? value : 0;
    }
    static constexpr struct
    {
        QByteArrayView name;
        char32_t character;
    } predefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
    for (const auto &entity : predefined)
        if (body == entity.name)
            return entity.character;
    return 0;
}

// A fault that names where it is: "the document is damaged: what at byte n",
// or, when what names its byte already, "...: what".
MzmlFault Damaged(const QString &what, qint64 offset)
{
    if (what.contains(u" at byte "_s))
        return MzmlFault{u"the document is damaged: %1"_s.arg(what)};
    return MzmlFault{u"the document is damaged: %1 at byte %2"_s.arg(what).arg(offset)};
}

// Resolves the references in text, which the tokenizer has checked; with
// blanks, each line break and tab becomes a blank, as in attribute values.
QString Resolved(const QString &text, bool blanks)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text[at];
        if (c == u'&') {
            const qsizetype end = text.indexOf(u';', at);
            const char32_t referenced = ReferencedCharacter(text.sliced(at, end - at + 1).toLatin1());
            const char32_t pair[] = {referenced};
            result += QString::fromUcs4(pair, 1);
            at = end;
        } else if (blanks && c == u'\r') {
            result += u' ';
            if (at + 1 < text.size() && text[at + 1] == u'\n')
                ++at;
        } else if (blanks && (c == u'\n' || c == u'\t')) {
            result += u' ';
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace

XmlTokenizer::XmlTokenizer(ByteSource &source, qint64 offset, Scope scope, TextEncoding encoding)
    : XmlTokenizer(&source, {}, offset, scope, encoding)
{
}

XmlTokenizer::XmlTokenizer(QByteArrayView bytes, qint64 offset, Scope scope, TextEncoding encoding)
    : XmlTokenizer(nullptr, bytes, offset, scope, encoding)
{
}

XmlTokenizer::XmlTokenizer(ByteSource &source, qint64 offset, TextEncoding encoding, const XmlJoin &join)
    : XmlTokenizer(&source, {}, offset, Scope::Content, encoding)
{
    // The rules of a whole document, as they stand inside its root.
    m_scope = Scope::Document;
    m_rootSeen = true;
    m_documentStart = 0;
    m_names = join.names;
    m_nameStarts = join.nameStarts;
}

XmlTokenizer::XmlTokenizer(ByteSource *source, QByteArrayView bytes, qint64 offset, Scope scope, TextEncoding encoding)
    : m_source(source), m_scope(scope), m_encoding(encoding), m_data(bytes.data()), m_size(bytes.size()),
      m_bufferOffset(offset), m_atEnd(source == nullptr)
{
    if (m_scope == Scope::Document) {
        ensure(3);
        const QByteArrayView start(m_data, m_size);
        // A byte-order mark of UTF-16, or markup in two bytes a character:
        // the tokenizer finds markup by its ASCII bytes.
        for (const QByteArrayView mark : {QByteArrayView("\xff\xfe", 2), QByteArrayView("\xfe\xff", 2),
                                          QByteArrayView("<\0", 2), QByteArrayView("\0<", 2)})
            if (start.startsWith(mark))
                throw MzmlFault{u"the document is encoded in UTF-16, which this reader does not read (export it in "
                                u"UTF-8)"_s};
        // A byte-order mark of UTF-8 may begin a document.
        if (start.startsWith("\xEF\xBB\xBF"))
            m_pos = 3;
    }
    m_documentStart = offsetOf(m_pos);
}

const XmlToken &XmlTokenizer::next()
{
    if (m_rootSeen && !m_declarationFault.isEmpty())
        throw MzmlFault{m_declarationFault};
    m_attributes.clear();
    for (;;) {
        if (m_pos >= m_size && !fill()) {
            if (m_scope == Scope::Document && !m_rootSeen)
                throw MzmlFault{u"it holds no element"_s};
            if (!m_nameStarts.empty() && m_source && m_source->endsAtCut())
                throw HalfRead{};
            if (!m_nameStarts.empty())
                truncated();
            m_token = XmlToken{XmlToken::Kind::End, offsetOf(m_pos), offsetOf(m_pos), 0, {}, {}, false};
            return m_token;
        }
        if (m_data[m_pos] == '<' ? markup() : text())
            return m_token;
    }
}

void XmlTokenizer::skipTo(int depth)
{
    while (openDepth() > depth)
        next();
}

QByteArrayView XmlTokenizer::attribute(QByteArrayView name) const
{
    for (const XmlAttribute &attribute : m_attributes)
        if (attribute.name == name)
            return attribute.value;
    return {};
}

QString XmlTokenizer::value(QByteArrayView raw) const
{
    const QString text = m_encoding == TextEncoding::Utf8 ? QString::fromUtf8(raw) : QString::fromLatin1(raw);
    const bool plain =
        std::none_of(raw.begin(), raw.end(), [](char c) { return c == '&' || c == '\t' || c == '\n' || c == '\r'; });
    return plain ? text : Resolved(text, true);
}

QByteArray XmlTokenizer::ResolvedText(QByteArrayView text)
{
    if (!text.contains('&'))
        return text.toByteArray();
    return Resolved(QString::fromUtf8(text), false).toUtf8();
}

// Reads more bytes after those at hand, keeping them from m_pos on; false
// when no more come.
bool XmlTokenizer::fill()
{
    if (m_atEnd)
        return false;
    if (m_pos > 0) {
        const qsizetype kept = m_size - m_pos;
        std::memmove(m_buffer.data(), m_buffer.constData() + m_pos, size_t(kept));
        m_bufferOffset += m_pos;
        m_size = kept;
        m_pos = 0;
    }
    if (m_buffer.size() - m_size < ChunkSize)
        m_buffer.resize(m_size + ChunkSize);
    const qint64 read = m_source->read(m_buffer.data() + m_size, m_buffer.size() - m_size);
    m_data = m_buffer.constData();
    if (read <= 0) {
        m_atEnd = true;
        return false;
    }
    m_size += read;
    return true;
}

// Whether count bytes from m_pos on are at hand, reading them if need be.
Q_ALWAYS_INLINE bool XmlTokenizer::ensure(qsizetype count)
{
    while (m_size - m_pos < count)
        if (!fill())
            return false;
    return true;
}

// Text up to the next markup: a token when the bytes are in memory,
// otherwise checked and passed over. Returns whether a token is ready.
bool XmlTokenizer::text()
{
    if (!m_source) {
        const qsizetype start = m_pos;
        const qsizetype end = checkedText(start, m_size);
        m_pos = end;
        m_token = XmlToken{XmlToken::Kind::Text,
                           offsetOf(start),
                           offsetOf(end),
                           int(m_nameStarts.size()),
                           {},
                           QByteArrayView(m_data + start, end - start),
                           false};
        return true;
    }
    for (;;) {
        ensure(Lookahead + 1); // so that the text before the lookahead is not empty
        const qsizetype limit = m_atEnd ? m_size : m_size - Lookahead;
        m_pos = checkedText(m_pos, limit);
        if (m_pos < limit && m_data[m_pos] == '&') {
            fill(); // a character reference runs on past the bytes at hand
            continue;
        }
        if (m_pos < limit || m_atEnd)
            return false;
    }
}

// Checks the text from at on, up to the next "<" or limit; returns where it stopped.
qsizetype XmlTokenizer::checkedText(qsizetype at, qsizetype limit)
{
    const bool outside = m_nameStarts.empty() && m_scope == Scope::Document;
    while (at < limit) {
        if (!outside) {
            while (at + 8 <= limit && !HasTextStop(m_data + at))
                at += 8;
            if (at >= limit)
                break;
        }
        const char c = m_data[at];
        if (c == '<')
            return at;
        if (outside && !IsSpace(c))
            damaged(m_rootClosed ? u"content after the root element"_s : u"text outside the root element"_s, at);
        if (c == '&') {
            const qsizetype after = reference(at, m_size);
            if (after < 0)
                return at; // text() reads on
            at = after;
        } else if (c == ']' && QByteArrayView(m_data + at, m_size - at).startsWith("]]>"))
            damaged(u"\"]]>\" in text"_s, at);
        else
            at = IsSpace(c) ? at + 1 : character(at, m_size); // line breaks between tags, the most of text there
    }
    return at;
}

bool XmlTokenizer::markup()
{
    // Tags, the most of markup, are told by their second byte (a lone "<"
    // at the end is a tag cut short).
    if (!ensure(2) || (m_data[m_pos + 1] != '!' && m_data[m_pos + 1] != '?')) {
        tag();
        return true;
    }
    ensure(9);
    const QByteArrayView head(m_data + m_pos, m_size - m_pos);
    if (head.startsWith("<!--")) {
        comment(markupEnd(4, "--"));
        return false;
    }
    if (head.startsWith("<![CDATA["))
        return cdata(markupEnd(9, "]]>"));
    if (head.startsWith("<?")) {
        instruction(markupEnd(2, "?>"));
        return false;
    }
    if (head.startsWith("<!DOCTYPE"))
        throw MzmlFault{u"it declares a document type at byte %1"_s.arg(offsetOf(m_pos))};
    damaged(head.startsWith("<![") ? u"a marked section other than CDATA"_s : u"a declaration"_s, m_pos);
}

// The index (from m_pos) just past the terminator of the markup under way,
// searched from bodyStart on; reads on as needed.
qsizetype XmlTokenizer::markupEnd(qsizetype bodyStart, QByteArrayView terminator)
{
    const QString what = terminator == "--" ? u"comment"_s
                       : terminator == "?>" ? u"processing instruction"_s
                                            : u"CDATA section"_s;
    qsizetype from = bodyStart;
    for (;;) {
        const QByteArrayView bytes(m_data + m_pos, m_size - m_pos);
        const qsizetype found = bytes.indexOf(terminator, from);
        // A comment's "--" must be followed by the byte that tells whether it ends it.
        const bool complete = found >= 0 && (terminator != "--" || found + 2 < bytes.size());
        const qsizetype length = complete ? found + terminator.size() : bytes.size();
        if (length > TextLimit)
            tooLong(what, m_pos);
        if (complete)
            return length;
        if (found < 0)
            from = qMax(bodyStart, bytes.size() - terminator.size() + 1);
        if (!fill())
            truncated();
    }
}

// The index (from m_pos) of the ">" that ends the tag under way.
qsizetype XmlTokenizer::tagEnd()
{
    char quote = 0;
    for (qsizetype at = 1;;) {
        at = closingBracket(at, quote);
        if (at > TextLimit)
            tooLong(u"tag <%1>"_s.arg(Shown(LocalPart(tagName()))), m_pos);
        if (m_pos + at < m_size)
            return at;
        if (!fill())
            truncated();
    }
}

// The index (from m_pos) of the ">" outside quotes that ends the tag under
// way, searched from at on and checked on the way; of the end of the bytes
// at hand when they hold none. quote: the quote open at at, and at the end.
qsizetype XmlTokenizer::closingBracket(qsizetype at, char &quote)
{
    while (m_pos + at < m_size) {
        const qsizetype block = at;
        quint32 stops = TagStopBits(m_data + m_pos + block, m_size - m_pos - block);
        at = std::min(block + BlockSize, m_size - m_pos);
        for (; stops != 0; stops &= stops - 1) {
            const qsizetype stop = block + std::countr_zero(stops);
            const char c = m_data[m_pos + stop];
            if (uchar(c) < 0x20 || uchar(c) >= 0x80) {
                ensure(stop + 4); // a character cut by the end of the bytes at hand is read whole
                at = character(m_pos + stop, m_size) - m_pos;
                break; // the next block begins after it
            }
            if (c == '<') {
                const QString shown = Shown(LocalPart(tagName()));
                damaged(quote ? u"the tag <%1> at byte %2 holds a \"<\" in an attribute value"_s.arg(shown).arg(
                            offsetOf(m_pos))
                              : u"the tag <%1> at byte %2 is not closed"_s.arg(shown).arg(offsetOf(m_pos)),
                        m_pos + stop);
            }
            if (quote) {
                if (c == quote)
                    quote = 0;
            } else if (c == '"' || c == '\'') {
                quote = c;
            } else {
                return stop; // its ">"
            }
        }
    }
    return at;
}

void XmlTokenizer::tag()
{
    // Most tags are plain and read in one pass; any other has its
    // characters checked by tagEnd first, so that its first fault is found.
    const bool closing = m_pos + 1 < m_size && m_data[m_pos + 1] == '/';
    qsizetype end = closing ? endTag(-1) : startTag(-1);
    if (end < 0) {
        m_attributes.clear();
        end = tagEnd();
        if (m_data[m_pos + 1] == '/')
            endTag(end);
        else
            startTag(end);
    }
    m_pos += end + 1;
}

// Reads the end tag at m_pos, whose ">" stands at end (from m_pos); returns
// end. With end unknown (-1), reads it only when the bytes at hand show it
// plain, as startTag does; returns -1 otherwise.
qsizetype XmlTokenizer::endTag(qsizetype end)
{
    const qsizetype limit = end >= 0 ? m_pos + end : m_size;
    bool colon = false;
    const qsizetype nameEnd = name(m_pos + 2, limit, &colon);
    const QByteArrayView qualified(m_data + m_pos + 2, nameEnd - m_pos - 2);
    const qsizetype after = space(nameEnd, limit);
    const bool named = !qualified.isEmpty() && (!colon || IsQualified(qualified, m_encoding));
    if (end < 0) {
        if (!named || after == limit || m_data[after] != '>' || after - m_pos > TextLimit)
            return -1;
        end = after - m_pos;
    } else if (!named || after != limit) {
        damaged(u"the end tag </%1> at byte %2 is malformed"_s.arg(Shown(qualified)).arg(offsetOf(m_pos)), m_pos);
    }
    close(qualified, offsetOf(m_pos));
    tagToken(XmlToken::Kind::EndTag, end, int(m_nameStarts.size()), colon ? LocalPart(qualified) : qualified);
    return end;
}

// Reads the start or empty tag at m_pos, whose ">" stands at end (from
// m_pos), as tagEnd found it; returns end. With end unknown (-1), reads the
// common tag in one pass: at hand whole, of printable ASCII in its values,
// without references, well formed; returns -1 for any other, with
// attributes half read.
qsizetype XmlTokenizer::startTag(qsizetype end)
{
    const bool known = end >= 0;
    const qsizetype start = m_pos;
    qsizetype limit = known ? start + end : m_size;
    bool colon = false;
    const qsizetype nameEnd = name(start + 1, limit, &colon);
    const QByteArrayView qualified(m_data + start + 1, nameEnd - start - 1);
    const bool qualifiedName = !colon || IsQualified(qualified, m_encoding);
    if (!known && (qualified.isEmpty() || qualified.size() > NameLimit || !qualifiedName))
        return -1;
    if (qualified.isEmpty())
        damaged(u"a \"<\" that begins no markup"_s, start);
    // The names of the open elements are kept: long ones, deeply nested,
    // would take memory without bound.
    if (qualified.size() > NameLimit)
        throw MzmlFault{u"the name of the element at byte %1 is longer than %2 KiB, more than this reader takes"_s.arg(
            QString::number(offsetOf(start)), QString::number(NameLimit >> 10))};
    if (!qualifiedName)
        damaged(u"the tag <%1> at byte %2 is malformed: its name is not a qualified name"_s.arg(Shown(qualified))
                    .arg(offsetOf(start)),
                start);
    const QByteArrayView local = colon ? LocalPart(qualified) : qualified;
    const auto malformed = [&](const QString &why, qsizetype at) {
        damaged(u"the tag <%1> at byte %2 is malformed: %3"_s.arg(Shown(local)).arg(offsetOf(start)).arg(why), at);
    };
    bool empty = known && m_data[limit - 1] == '/';
    if (empty)
        --limit;
    for (qsizetype at = nameEnd;;) {
        const qsizetype attributeStart = space(at, limit);
        if (attributeStart == limit) {
            if (!known)
                return -1; // the bytes at hand end inside the tag
            break;
        }
        if (!known
            && (m_data[attributeStart] == '>'
                || (m_data[attributeStart] == '/' && attributeStart + 1 < limit
                    && m_data[attributeStart + 1] == '>'))) {
            empty = m_data[attributeStart] == '/';
            end = attributeStart + (empty ? 1 : 0) - start;
            limit = attributeStart;
            break;
        }
        const bool blank = attributeStart != at;
        bool attributeColon = false;
        const qsizetype attributeEnd = name(attributeStart, limit, &attributeColon);
        const QByteArrayView attribute(m_data + attributeStart, attributeEnd - attributeStart);
        const bool named = !attribute.isEmpty() && (!attributeColon || IsQualified(attribute, m_encoding));
        const qsizetype equals = space(attributeEnd, limit);
        const qsizetype quote = equals < limit && m_data[equals] == '=' ? space(equals + 1, limit) : limit;
        const bool quoted = quote < limit && (m_data[quote] == '"' || m_data[quote] == '\'');
        if (!blank || !named || !quoted) {
            if (!known)
                return -1;
            if (!blank)
                malformed(u"no blank before byte %1"_s.arg(offsetOf(at)), at);
            if (!named)
                malformed(u"no attribute name at byte %1"_s.arg(offsetOf(attributeStart)), attributeStart);
            malformed(u"no quoted value after the attribute at byte %1"_s.arg(offsetOf(attributeStart)),
                      attributeStart);
        }
        const qsizetype valueEnd = known ? checkedValueEnd(quote, limit) : plainValueEnd(quote);
        if (valueEnd < 0)
            return -1;
        if (valueEnd >= limit)
            malformed(u"its value at byte %1 is not closed"_s.arg(offsetOf(quote)), quote);
        m_attributes.push_back({attribute, QByteArrayView(m_data + quote + 1, valueEnd - quote - 1)});
        at = valueEnd + 1;
    }
    if (!known && end > TextLimit)
        return -1;
    if (const QByteArrayView repeated = RepeatedName(m_attributes); !repeated.isNull()) {
        if (!known)
            return -1;
        malformed(u"it repeats the attribute %1"_s.arg(Shown(repeated)), start);
    }
    const int depth = int(m_nameStarts.size());
    if (empty) {
        if (m_scope == Scope::Document && depth == 0) {
            if (m_rootSeen)
                damaged(u"content after the root element"_s, start);
            m_rootSeen = m_rootClosed = true;
        }
    } else {
        open(qualified, offsetOf(start));
    }
    tagToken(empty ? XmlToken::Kind::EmptyTag : XmlToken::Kind::StartTag, end, depth, local);
    return end;
}

// The token of the tag at m_pos whose ">" stands at end. Field by field: a
// token built whole and then copied makes each tag wait for its stores.
void XmlTokenizer::tagToken(XmlToken::Kind kind, qsizetype end, int depth, QByteArrayView name)
{
    m_token.kind = kind;
    m_token.start = offsetOf(m_pos);
    m_token.end = offsetOf(m_pos + end + 1);
    m_token.depth = depth;
    m_token.name = name;
    m_token.text = {};
    m_token.cdata = false;
}

// The index of the quote that closes the value opened at quote, the
// references on the way checked; limit when none comes before it.
qsizetype XmlTokenizer::checkedValueEnd(qsizetype quote, qsizetype limit) const
{
    qsizetype at = find(quote + 1, limit, m_data[quote], '&');
    while (at < limit && m_data[at] == '&')
        at = find(reference(at, limit), limit, m_data[quote], '&');
    return at;
}

// The index of the quote that closes the value opened at quote, when the
// bytes at hand hold it and before it only printable ASCII without "&" and
// "<"; -1 otherwise.
Q_ALWAYS_INLINE qsizetype XmlTokenizer::plainValueEnd(qsizetype quote) const
{
    for (qsizetype block = quote + 1; block < m_size; block += BlockSize)
        if (const quint32 stops = PlainValueStopBits(m_data + block, m_size - block, m_data[quote])) {
            const qsizetype at = block + std::countr_zero(stops);
            return m_data[at] == m_data[quote] ? at : -1;
        }
    return -1;
}

void XmlTokenizer::comment(qsizetype end)
{
    if (m_data[m_pos + end] != '>')
        damaged(u"\"--\" inside a comment"_s, m_pos + end - 2);
    checkCharacters(m_pos + 4, m_pos + end - 2);
    m_pos += end + 1;
}

void XmlTokenizer::instruction(qsizetype end)
{
    // Characters first: a byte that is none must not pass for the end of the target.
    checkCharacters(m_pos + 2, m_pos + end - 2);
    const qsizetype targetEnd = name(m_pos + 2, m_pos + end - 2);
    const QByteArrayView target(m_data + m_pos + 2, targetEnd - m_pos - 2);
    if (target.isEmpty() || (targetEnd < m_pos + end - 2 && !IsSpace(m_data[targetEnd])))
        damaged(u"a malformed processing instruction"_s, m_pos);
    if (target.compare("xml", Qt::CaseInsensitive) == 0) {
        const bool first = m_scope == Scope::Document && offsetOf(m_pos) == m_documentStart && target == "xml";
        if (!first)
            declarationFault(u"an XML declaration that does not begin the document"_s, m_pos);
        else if (!declaration(QByteArrayView(m_data + targetEnd, m_pos + end - 2 - targetEnd)))
            declarationFault(u"a malformed XML declaration"_s, m_pos);
    }
    m_pos += end;
}

bool XmlTokenizer::cdata(qsizetype end)
{
    // A run of content stands inside an element of the document it is taken from.
    if (m_scope == Scope::Document && m_nameStarts.empty())
        damaged(u"a CDATA section outside the root element"_s, m_pos);
    const qsizetype start = m_pos;
    checkCharacters(start + 9, start + end - 3);
    m_pos += end;
    if (m_source)
        return false; // texts are passed over
    m_token = XmlToken{XmlToken::Kind::Text,
                       offsetOf(start),
                       offsetOf(m_pos),
                       int(m_nameStarts.size()),
                       {},
                       QByteArrayView(m_data + start + 9, end - 12),
                       true};
    return true;
}

// The pseudo-attributes of the XML declaration, in their order: version,
// then maybe encoding and standalone. The encoding decides how names and
// values read. False when the declaration is malformed.
bool XmlTokenizer::declaration(QByteArrayView body)
{
    static constexpr QByteArrayView order[] = {"version", "encoding", "standalone"};
    m_declaredEncoding = u""_s;
    size_t next = 0;
    for (qsizetype at = 0;;) {
        qsizetype nameStart = at;
        while (nameStart < body.size() && IsSpace(body[nameStart]))
            ++nameStart;
        if (nameStart == body.size())
            break;
        qsizetype nameEnd = nameStart;
        while (nameEnd < body.size() && NameBytes[uchar(body[nameEnd])] != 0)
            ++nameEnd;
        const QByteArrayView name = body.sliced(nameStart, nameEnd - nameStart);
        while (next < std::size(order) && order[next] != name)
            ++next;
        qsizetype quote = nameEnd;
        while (quote < body.size() && IsSpace(body[quote]))
            ++quote;
        const bool equals = quote < body.size() && body[quote] == '=';
        for (quote += equals ? 1 : 0; quote < body.size() && IsSpace(body[quote]);)
            ++quote;
        const qsizetype close = quote < body.size() ? body.indexOf(body[quote], quote + 1) : -1;
        if (nameStart == at || next == std::size(order) || !equals || close < 0
            || (body[quote] != '"' && body[quote] != '\'') || (next == 0 && at > 0) || (next > 0 && at == 0))
            return false;
        const QByteArrayView value = body.sliced(quote + 1, close - quote - 1);
        if ((next == 0 && !IsVersion1(value)) || (next == 2 && value != "yes" && value != "no"))
            return false;
        if (next == 1)
            useEncoding(value);
        ++next;
        at = close + 1;
    }
    return next > 0;
}

void XmlTokenizer::useEncoding(QByteArrayView name)
{
    m_declaredEncoding = QString::fromLatin1(name);
    const QString lower = m_declaredEncoding.toLower();
    if (lower == u"utf-8" || lower == u"utf8")
        m_encoding = TextEncoding::Utf8;
    else if (lower == u"us-ascii" || lower == u"ascii")
        m_encoding = TextEncoding::Ascii;
    else if (lower == u"iso-8859-1" || lower == u"iso8859-1" || lower == u"latin1" || lower == u"latin-1")
        m_encoding = TextEncoding::Latin1;
    else
        throw MzmlFault{
            u"it is encoded in %1, which this reader does not read (export it in UTF-8)"_s.arg(Shown(name))};
}

// The qualified name of the tag at m_pos, as far as it is at hand.
QByteArrayView XmlTokenizer::tagName() const
{
    const qsizetype from = m_pos + (m_pos + 1 < m_size && m_data[m_pos + 1] == '/' ? 2 : 1);
    return QByteArrayView(m_data + from, name(from, m_size) - from);
}

// The index after the name that begins at from; from itself when none does.
// ASCII goes a block at a time; a character beyond it is left to restOfName.
// mayHoldColon, when given, is false only for a name without ":", which is
// qualified as it stands.
Q_ALWAYS_INLINE qsizetype XmlTokenizer::name(qsizetype from, qsizetype end, bool *mayHoldColon) const
{
    if (mayHoldColon)
        *mayHoldColon = true;
    if (from >= end)
        return from;
    if (!(NameBytes[uchar(m_data[from])] & NameStartByte))
        return NameBytes[uchar(m_data[from])] == BeyondAscii ? restOfName(from, from, end) : from;
    bool colon = m_data[from] == ':';
    bool beyondAscii = false; // the byte that stops the name
    qsizetype at = from + 1;
    for (qsizetype run = BlockSize; run == BlockSize && at < end; at += run) {
        const NameBits bits = NameBitsOf(m_data + at, m_size - at);
        run = std::countr_zero(bits.stops | quint32(1) << BlockSize);
        colon = colon || (bits.colons & ((quint32(1) << run) - 1)) != 0;
        beyondAscii = (bits.beyondAscii >> run & 1) != 0;
    }
    at = std::min(at, end);
    if (at < end && beyondAscii)
        return restOfName(from, at, end);
    if (mayHoldColon)
        *mayHoldColon = colon;
    return at;
}

// The index after the name that begins at from, checked up to at, where a
// character beyond ASCII stands: each such character is decoded and held to
// XML's ranges. Out of line, so that names of ASCII alone stay quick.
Q_NEVER_INLINE qsizetype XmlTokenizer::restOfName(qsizetype from, qsizetype at, qsizetype end) const
{
    while (at < end) {
        const quint8 kind = NameBytes[uchar(m_data[at])];
        if (kind != BeyondAscii) {
            if (!(kind & (at == from ? NameStartByte : NameByte)))
                break;
            ++at;
            continue;
        }
        char32_t value = uchar(m_data[at]);
        const int length = m_encoding == TextEncoding::Utf8   ? Utf8Character(m_data + at, end - at, value)
                         : m_encoding == TextEncoding::Latin1 ? 1
                                                              : 0;
        if (length == 0 || !(at == from ? IsNameStartCharacter(value) : IsNameCharacter(value)))
            break;
        at += length;
    }
    return at;
}

// The index of the first byte a or b from from on; end when none comes before it.
qsizetype XmlTokenizer::find(qsizetype from, qsizetype end, char a, char b) const
{
    for (qsizetype at = from; at < end; at += BlockSize)
        if (const quint32 bits = EitherBits(m_data + at, m_size - at, a, b))
            return std::min(at + std::countr_zero(bits), end);
    return end;
}

Q_ALWAYS_INLINE qsizetype XmlTokenizer::space(qsizetype from, qsizetype end) const
{
    while (from < end && IsSpace(m_data[from]))
        ++from;
    return from;
}

// Checks the reference that begins at "&" at; returns the index after its
// ";", or -1 when a character reference's digits run on to the end of the
// bytes at hand and more are to come.
qsizetype XmlTokenizer::reference(qsizetype at, qsizetype limit) const
{
    qsizetype end = at + 1; // of its ";"
    if (end < limit && m_data[end] == '#') {
        const bool hex = end + 1 < limit && m_data[end + 1] == 'x';
        for (end += hex ? 2 : 1; end < limit && IsDigit(m_data[end], hex);)
            ++end;
        if (end - at > TextLimit)
            tooLong(u"character reference"_s, at);
        if (end == limit && limit == m_size && !m_atEnd)
            return -1;
    } else {
        const qsizetype semicolon = QByteArrayView(m_data + at, qMin(limit - at, Lookahead)).indexOf(';');
        end = semicolon < 0 ? qMin(limit, at + 11) : at + semicolon;
    }
    const QByteArrayView written(m_data + at, qMin(end + 1, limit) - at);
    if (end == limit || m_data[end] != ';' || ReferencedCharacter(written) == 0)
        damaged(u"the reference \"%1\" stands for no character"_s.arg(Shown(written)), at);
    return end + 1;
}

// Checks the character that begins at at; returns the index after it.
qsizetype XmlTokenizer::character(qsizetype at, qsizetype limit) const
{
    const uchar c = uchar(m_data[at]);
    if (c >= 0x20 && c < 0x80)
        return at + 1;
    if (c < 0x20) {
        if (c == '\t' || c == '\n' || c == '\r')
            return at + 1;
        damaged(u"the control character 0x%1"_s.arg(int(c), 2, 16, QChar(u'0')), at);
    }
    if (m_encoding == TextEncoding::Latin1)
        return at + 1;
    if (m_encoding == TextEncoding::Ascii)
        damaged(u"the byte 0x%1, which is not US-ASCII as the document declares,"_s.arg(int(c), 2, 16), at);
    char32_t value;
    const int length = Utf8Character(m_data + at, limit - at, value);
    if (length == 0)
        damaged(u"bytes that are not a character in UTF-8"_s, at);
    return at + length;
}

void XmlTokenizer::checkCharacters(qsizetype from, qsizetype end) const
{
    for (qsizetype at = from; at < end;) {
        if (end - at >= 8 && !HasSpecialByte(m_data + at)) {
            at += 8;
            continue;
        }
        const uchar c = uchar(m_data[at]);
        at = c >= 0x20 && c < 0x80 ? at + 1 : character(at, end);
    }
}

void XmlTokenizer::open(QByteArrayView qualifiedName, qint64 at)
{
    if (m_scope == Scope::Document && m_nameStarts.empty()) {
        if (m_rootSeen)
            damaged(u"content after the root element"_s, m_pos);
        m_rootSeen = true;
    }
    if (int(m_nameStarts.size()) >= DepthLimit)
        throw MzmlFault{u"elements nest more than %1 deep at byte %2"_s.arg(DepthLimit).arg(at)};

    m_nameStarts.push_back(m_names.size());
    m_names += qualifiedName;
}

void XmlTokenizer::close(QByteArrayView qualifiedName, qint64 at)
{
    if (m_nameStarts.empty())
        damaged(u"the end tag </%1> at byte %2 closes no element"_s.arg(Shown(qualifiedName)).arg(at), m_pos);
    const QByteArrayView opened = QByteArrayView(m_names).sliced(m_nameStarts.back());
    if (opened != qualifiedName)
        damaged(
            u"the end tag </%1> at byte %2 does not close <%3>"_s.arg(Shown(qualifiedName)).arg(at).arg(Shown(opened)),
            m_pos);
    m_names.truncate(m_nameStarts.back());
    m_nameStarts.pop_back();
    m_rootClosed = m_scope == Scope::Document && m_nameStarts.empty();
}

void XmlTokenizer::damaged(const QString &what, qsizetype at) const
{
    throw Damaged(what, offsetOf(at));
}

// A fault of the XML declaration. Before the root element it waits until
// that element has been handed out, so that a reader can tell a damaged
// document of its own kind from content of another kind.
void XmlTokenizer::declarationFault(const QString &what, qsizetype at)
{
    if (m_scope == Scope::Document && !m_rootSeen) {
        if (m_declarationFault.isEmpty())
            m_declarationFault = Damaged(what, offsetOf(at)).what;
        return;
    }
    damaged(what, at);
}

// Where the source says the bytes end now, rather than where they stopped
// coming: a file cut while it is read ends before the bytes already read.
void XmlTokenizer::truncated() const
{
    const qint64 end = m_source ? m_source->end() : -1;
    throw MzmlFault{u"the document is truncated: it ends at byte %1"_s.arg(end >= 0 ? end : offsetOf(m_size))};
}

// The markup at at is longer than TextLimit.
void XmlTokenizer::tooLong(const QString &what, qsizetype at) const
{
    throw MzmlFault{u"the %1 at byte %2 is longer than %3 MiB, more than this reader takes"_s.arg(
        what, QString::number(offsetOf(at)), QString::number(TextLimit >> 20))};
}
