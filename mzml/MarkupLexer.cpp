#include "mzml/MarkupLexer.h"

#include "mzml/MzmlFault.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Names are compared by their first NameCapacity bytes; the head of a tag
// keeps them after a "/".
constexpr qsizetype NameCapacity = 128;
constexpr qsizetype HeadCapacity = NameCapacity + 1;

constexpr quint16 Pair(char first, char second)
{
    return quint16(quint8(first) << 8 | quint8(second));
}

bool IsNameEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/';
}

} // namespace

bool MarkupLexer::pass(QByteArrayView bytes, const Sink &sink)
{
    const qint64 base = m_offset;
    if (m_state != State::Text && m_head.size() < HeadCapacity)
        m_head.append(bytes.first(qMin(HeadCapacity - m_head.size(), bytes.size())));
    qsizetype i = 0;
    while (i < bytes.size()) {
        if (m_state == State::Text) {
            // Texts are the bulk of a document: passed over by a search.
            const qsizetype open = bytes.indexOf('<', i);
            if (open < 0)
                break;
            if (base + open > m_start && !finish(MarkupToken::Kind::Text, base + open, sink))
                return false;
            m_state = State::Open;
            m_head.clear();
            m_head.append(bytes.sliced(open + 1, qMin(HeadCapacity, bytes.size() - open - 1)));
            i = open + 1;
        }
        if (m_state == State::Open && !classify())
            break;
        const qsizetype from = qMax(i, qsizetype(m_bodyStart - base));
        const qsizetype close = from < bytes.size() ? closingBracket(bytes, from) : -1;
        if (close < 0)
            break;
        i = close + 1;
        if (!finish(closedKind(), base + i, sink))
            return false;
    }
    m_offset = base + bytes.size();
    checkSize(m_offset);
    return true;
}

// Tells the kind of markup from the bytes after its "<"; false until they suffice.
bool MarkupLexer::classify()
{
    static constexpr struct
    {
        QByteArrayView opener;
        State state;
    } kinds[] = {{"!--", State::Comment},
                 {"![CDATA[", State::CData},
                 {"?", State::Instruction},
                 {"/", State::Tag},
                 {"!", State::Declaration}};
    const QByteArrayView head = m_head;
    m_recent = 0;
    m_quote = 0;
    m_brackets = 0;
    for (const auto &kind : kinds) {
        if (head.startsWith(kind.opener)) {
            m_state = kind.state;
            m_bodyStart = m_start + 1 + kind.opener.size();
            return true;
        }
        if (kind.opener.startsWith(head))
            return false;
    }
    m_state = State::Tag;
    m_bodyStart = m_start + 1;
    return true;
}

// The index of the ">" that closes the markup under way, searched from from
// on; -1 when it is not among the bytes. Keeps the last two bytes before it
// (or before the end of the bytes) in m_recent.
qsizetype MarkupLexer::closingBracket(QByteArrayView bytes, qsizetype from)
{
    qsizetype close = from;
    if (m_state == State::Tag || m_state == State::Declaration) {
        for (; close < bytes.size(); ++close) {
            const char c = bytes[close];
            if (m_quote != 0) {
                if (c == m_quote)
                    m_quote = 0;
            } else if (c == '"' || c == '\'') {
                m_quote = c;
            } else if (c == '>' && m_brackets <= 0) {
                break;
            } else if (m_state == State::Declaration && (c == '[' || c == ']')) {
                m_brackets += c == '[' ? 1 : -1;
            }
        }
    } else {
        for (;; ++close) {
            close = bytes.indexOf('>', close);
            if (close < 0 || endsBody(recentBefore(bytes, from, close)))
                break;
        }
        if (close < 0)
            close = bytes.size();
    }
    m_recent = recentBefore(bytes, from, close);
    return close < bytes.size() ? close : -1;
}

// The last two bytes of the body before end: from bytes on from, and before
// them the ones that m_recent keeps.
quint16 MarkupLexer::recentBefore(QByteArrayView bytes, qsizetype from, qsizetype end) const
{
    quint16 recent = m_recent;
    for (qsizetype k = qMax(from, end - 2); k < end; ++k)
        recent = quint16(recent << 8 | quint8(bytes[k]));
    return recent;
}

// Whether a ">" after these two bytes ends the comment, CDATA section or
// instruction under way.
bool MarkupLexer::endsBody(quint16 recent) const
{
    switch (m_state) {
    case State::Comment: return recent == Pair('-', '-');
    case State::CData: return recent == Pair(']', ']');
    default: return quint8(recent) == quint8('?');
    }
}

MarkupToken::Kind MarkupLexer::closedKind() const
{
    if (m_state != State::Tag)
        return MarkupToken::Kind::Other;
    if (m_head.startsWith('/'))
        return MarkupToken::Kind::EndTag;
    return quint8(m_recent) == quint8('/') ? MarkupToken::Kind::EmptyTag : MarkupToken::Kind::StartTag;
}

bool MarkupLexer::finish(MarkupToken::Kind kind, qint64 end, const Sink &sink)
{
    checkSize(end);
    MarkupToken token{kind, m_start, end, m_depth, {}};
    if (token.isTag()) {
        token.name = tagName();
        if (kind == MarkupToken::Kind::EndTag) {
            close(token.name);
            token.depth = m_depth; // where its start tag stood
        } else if (kind == MarkupToken::Kind::StartTag) {
            open(token.name);
        }
        m_inBinary = kind == MarkupToken::Kind::StartTag && token.name == "binary";
    }
    m_state = State::Text;
    m_start = end;
    return !sink || sink(token);
}

void MarkupLexer::open(QByteArrayView name)
{
    if (++m_depth > DepthLimit)
        throw MzmlFault{u"elements nest more than %1 deep at byte %2"_s.arg(DepthLimit).arg(m_start)};
    m_open += '/';
    m_open += name;
}

// Elements opened before the lexer began are closed unchecked.
void MarkupLexer::close(QByteArrayView name)
{
    --m_depth;
    if (m_open.isEmpty())
        return;
    const qsizetype slash = m_open.lastIndexOf('/');
    const QByteArrayView opened = QByteArrayView(m_open).sliced(slash + 1);
    if (opened != name)
        throw MzmlFault{u"the document is damaged: the end tag </%1> at byte %2 does not close <%3>"_s.arg(
            QString::fromUtf8(name), QString::number(m_start), QString::fromUtf8(opened))};
    m_open.truncate(slash);
}

QByteArrayView MarkupLexer::tagName() const
{
    QByteArrayView name = m_head;
    if (name.startsWith('/'))
        name = name.sliced(1);
    qsizetype end = 0;
    while (end < qMin(name.size(), NameCapacity) && !IsNameEnd(name[end]))
        ++end;
    name = name.first(end);
    const qsizetype colon = name.lastIndexOf(':');
    return colon < 0 ? name : name.sliced(colon + 1);
}

void MarkupLexer::checkSize(qint64 end) const
{
    if (end - m_start <= TextLimit || (m_state == State::Text && m_inBinary))
        return;
    QString what;
    switch (m_state) {
    case State::Text: what = u"text"_s; break;
    case State::Open:
    case State::Tag: what = u"tag <%1>"_s.arg(QString::fromUtf8(tagName())); break;
    case State::Declaration: what = u"declaration"_s; break;
    case State::Comment: what = u"comment"_s; break;
    case State::CData: what = u"CDATA section"_s; break;
    case State::Instruction: what = u"processing instruction"_s; break;
    }
    throw MzmlFault{u"the %1 at byte %2 is longer than %3 MiB, more than this reader takes"_s.arg(
        what, QString::number(m_start), QString::number(TextLimit >> 20))};
}
