#include "mzml/PlainHead.h"

#include "mzml/MzmlFault.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Plain heads are short; a longer one is left to Qt's reader.
constexpr qint64 PlainHeadLimit = 64 << 10;
constexpr qint64 PieceSize = 4 << 10;

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsNameChar(char c)
{
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// Printable ASCII and line breaks, without references: bytes that mean
// the same in every encoding that the lexer takes, and to Qt's reader.
bool IsPlainText(QByteArrayView bytes)
{
    for (const char c : bytes)
        if ((c < ' ' || c > '~' || c == '&') && !IsSpace(c))
            return false;
    return true;
}

bool IsPlainEncoding(const QString &encoding)
{
    static const QStringList plain = {u""_s, u"utf-8"_s, u"utf8"_s, u"iso-8859-1"_s, u"us-ascii"_s};
    return plain.contains(encoding.toLower());
}

// Reads tag markup from its "<" on; every step refuses what is not plain.
class TagParser
{
public:
    explicit TagParser(QByteArrayView bytes) : m_bytes(bytes) {}

    std::optional<PlainTag> parse(MarkupToken::Kind kind)
    {
        PlainTag tag{kind, {}, {}};
        const bool isEnd = kind == MarkupToken::Kind::EndTag;
        if (!take(isEnd ? "</" : "<") || !name(tag.name))
            return std::nullopt;
        while (!isEnd && skipSpace() && IsNameStart(peek())) {
            QString attribute;
            QString value;
            if (!name(attribute) || attribute == u"xmlns" || tag.attributes.hasAttribute(attribute))
                return std::nullopt;
            skipSpace();
            if (!take("="))
                return std::nullopt;
            skipSpace();
            if (!quoted(value))
                return std::nullopt;
            tag.attributes.append(attribute, value);
        }
        skipSpace();
        const QByteArrayView close = kind == MarkupToken::Kind::EmptyTag ? "/>" : ">";
        if (!take(close) || m_at != m_bytes.size())
            return std::nullopt;
        return tag;
    }

private:
    char peek() const { return m_at < m_bytes.size() ? m_bytes[m_at] : '\0'; }

    bool take(QByteArrayView expected)
    {
        if (!m_bytes.sliced(m_at).startsWith(expected))
            return false;
        m_at += expected.size();
        return true;
    }

    // Whether any space was skipped.
    bool skipSpace()
    {
        const qsizetype from = m_at;
        while (IsSpace(peek()))
            ++m_at;
        return m_at > from;
    }

    bool name(QString &result)
    {
        const qsizetype from = m_at;
        if (!IsNameStart(peek()))
            return false;
        while (IsNameChar(peek()))
            ++m_at;
        result = QString::fromLatin1(m_bytes.sliced(from, m_at - from));
        return true;
    }

    // A value without "<" or line breaks, which Qt's reader would refuse or
    // normalise.
    bool quoted(QString &result)
    {
        const char quote = peek();
        if (quote != '"' && quote != '\'')
            return false;
        const qsizetype end = m_bytes.indexOf(quote, m_at + 1);
        if (end < 0)
            return false;
        const QByteArrayView value = m_bytes.sliced(m_at + 1, end - m_at - 1);
        for (const char c : value)
            if (c == '<' || (IsSpace(c) && c != ' '))
                return false;
        result = QString::fromLatin1(value);
        m_at = end + 1;
        return true;
    }

    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};

// The tokens of the head and their bytes: whitespace between tags only.
struct HeadMarkup
{
    QByteArray bytes; // from the spectrum's start tag on
    std::vector<MarkupToken> tags;
};

std::optional<HeadMarkup> ReadHeadMarkup(QFile &file, qint64 offset)
{
    HeadMarkup markup;
    bool plain = true;
    bool ended = false;
    MarkupLexer lexer(offset);
    const MarkupLexer::Sink sink = [&](const MarkupToken &token) {
        if (token.isTag())
            markup.tags.push_back({token.kind, token.start - offset, token.end - offset, token.depth, {}});
        else
            plain = plain && token.kind == MarkupToken::Kind::Text && token.start > offset;
        ended = !HeadGoesOn(token);
        return plain && !ended;
    };
    if (!file.seek(offset))
        return std::nullopt;
    try {
        while (plain && !ended && markup.bytes.size() < PlainHeadLimit) {
            const QByteArray piece = file.read(PieceSize);
            if (piece.isEmpty())
                return std::nullopt;
            markup.bytes += piece;
            lexer.pass(piece, sink);
        }
    } catch (const MzmlFault &) {
        return std::nullopt;
    }
    if (!plain || !ended)
        return std::nullopt;
    markup.bytes.truncate(markup.tags.back().end);
    return markup;
}

} // namespace

bool HeadGoesOn(const MarkupToken &token)
{
    using Kind = MarkupToken::Kind;
    const bool spectrumEnds = token.depth == 0 && (token.kind == Kind::EndTag || token.kind == Kind::EmptyTag);
    const bool arraysBegin = token.depth == 1 && token.kind == Kind::StartTag && token.name == "binaryDataArrayList";
    return !spectrumEnds && !arraysBegin;
}

std::optional<std::vector<PlainTag>> ReadPlainHead(QFile &file, qint64 offset, const QString &encoding)
{
    if (!IsPlainEncoding(encoding))
        return std::nullopt;
    const std::optional<HeadMarkup> markup = ReadHeadMarkup(file, offset);
    if (!markup || !IsPlainText(markup->bytes))
        return std::nullopt;
    std::vector<PlainTag> tags;
    QStringList open; // Qt's reader matches whole names; the lexer their start
    qsizetype textFrom = 0;
    for (const MarkupToken &token : markup->tags) {
        const QByteArrayView bytes = QByteArrayView(markup->bytes).sliced(token.start, token.end - token.start);
        std::optional<PlainTag> tag = TagParser(bytes).parse(token.kind);
        const QByteArrayView text = QByteArrayView(markup->bytes).sliced(textFrom, token.start - textFrom);
        if (!tag || !text.trimmed().isEmpty())
            return std::nullopt;
        if (tag->kind == MarkupToken::Kind::EndTag && (open.isEmpty() || open.takeLast() != tag->name))
            return std::nullopt;
        if (tag->kind == MarkupToken::Kind::StartTag)
            open.append(tag->name);
        textFrom = token.end;
        tags.push_back(std::move(*tag));
    }
    if (tags.empty() || tags.front().name != u"spectrum")
        return std::nullopt;
    return tags;
}
