#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <functional>

// The most bytes of one piece of markup or text that the reader takes: a tag
// with its attributes, an element's text (a binary array's excepted), a
// comment, a CDATA section, a processing instruction, a declaration. An XML
// reader holds each such piece whole, several times over.
constexpr qint64 TextLimit = qint64(4) << 20;
// The deepest nesting of elements that the reader takes; mzML nests about
// ten deep, and an XML reader keeps every open element.
constexpr int DepthLimit = 256;

struct MarkupToken
{
    // Other: a comment, CDATA section, processing instruction or declaration.
    enum class Kind { Text, StartTag, EmptyTag, EndTag, Other };

    Kind kind = Kind::Text;
    qint64 start = 0;    // document offset of its first byte
    qint64 end = 0;      // of the byte after it
    int depth = 0;       // elements open around it, counted from where the lexer began
    QByteArrayView name; // a tag's element name without prefix; valid during the call only

    bool opensElement() const { return kind == Kind::StartTag || kind == Kind::EmptyTag; }
    bool isTag() const { return opensElement() || kind == Kind::EndTag; }
};

// Splits a document into tags, texts and other markup as its bytes pass, in
// pieces of any size, without holding them: for finding spectra without an
// XML reader, and for keeping what an XML reader is given within TextLimit
// and DepthLimit. The encoding must keep ASCII as it is (UTF-8, Latin-1).
class MarkupLexer
{
public:
    // Gets each token as it ends; false stops the lexer.
    using Sink = std::function<bool(const MarkupToken &)>;

    // offset: where in the document the bytes begin.
    explicit MarkupLexer(qint64 offset) : m_offset(offset), m_start(offset) {}

    // Passes the next bytes on; false when the sink stopped the lexer. Throws
    // MzmlFault for a piece beyond TextLimit, nesting beyond DepthLimit, and
    // an end tag that does not close the element last opened.
    bool pass(QByteArrayView bytes, const Sink &sink = {});

    // Where the token under way began: after a fault, the faulty one.
    qint64 tokenStart() const { return m_start; }

private:
    enum class State { Text, Open, Tag, Declaration, Comment, CData, Instruction };

    bool classify();
    qsizetype closingBracket(QByteArrayView bytes, qsizetype from);
    quint16 recentBefore(QByteArrayView bytes, qsizetype from, qsizetype end) const;
    bool endsBody(quint16 recent) const;
    MarkupToken::Kind closedKind() const; // of the markup just closed
    bool finish(MarkupToken::Kind kind, qint64 end, const Sink &sink);
    void open(QByteArrayView name);
    void close(QByteArrayView name);
    QByteArrayView tagName() const;
    void checkSize(qint64 end) const;

    qint64 m_offset;        // of the next byte to come
    qint64 m_start;         // of the token under way
    qint64 m_bodyStart = 0; // of its markup after the opening "<", "<!--", ...
    State m_state = State::Text;
    QByteArray m_head;    // the first bytes after its "<", maybe beyond its end
    quint16 m_recent = 0; // the last two bytes of its body
    char m_quote = 0;     // the quote open in a tag or declaration
    int m_brackets = 0;   // the brackets open in a declaration
    int m_depth = 0;
    QByteArray m_open;       // the names of the open elements, each after a "/"
    bool m_inBinary = false; // text now is a binary array's
};
