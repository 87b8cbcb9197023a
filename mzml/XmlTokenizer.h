#pragma once

#include "mzml/ByteSource.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <vector>

// The most bytes of one piece of markup that the reader holds whole: a tag
// with its attributes, a comment, a CDATA section, a processing instruction.
constexpr qint64 TextLimit = qint64(4) << 20;
// The deepest nesting of elements that the reader takes; mzML nests about
// ten deep.
constexpr int DepthLimit = 256;

// The encodings whose markup is ASCII, the only ones the reader takes.
enum class TextEncoding { Utf8, Latin1, Ascii };

struct XmlAttribute
{
    QByteArrayView name;  // qualified, as written
    QByteArrayView value; // raw: references and line breaks not yet resolved
};

struct XmlToken
{
    // Comments, processing instructions and the XML declaration are checked
    // and passed over; CDATA sections come as text.
    enum class Kind { StartTag, EmptyTag, EndTag, Text, End };

    Kind kind = Kind::End;
    qint64 start = 0;    // document offset of its first byte
    qint64 end = 0;      // of the byte after it
    int depth = 0;       // elements open around it; an end tag's is its start tag's
    QByteArrayView name; // an element's name without its prefix
    QByteArrayView text; // Text: its raw bytes (a CDATA section's without its markup)
    bool cdata = false;  // Text: a CDATA section, whose bytes stand as they are

    bool opensElement() const { return kind == Kind::StartTag || kind == Kind::EmptyTag; }
};

// Where a document read in two halves joins: the open elements, qualified,
// between two tokens, where the second half begins.
struct XmlJoin
{
    QByteArray names;
    std::vector<qsizetype> nameStarts;

    friend bool operator==(const XmlJoin &, const XmlJoin &) = default;
};

// Thrown by XmlTokenizer::next where the bytes of a source that ends at a
// cut run out between two tokens: the first half of a pass is through.
struct HalfRead
{
};

// The one place where the reader's markup rules live: a pull tokenizer over
// the bytes of a document, or of a run of content inside it. It checks
// every rule of well-formed XML that an mzML document can break: names,
// quoted attributes without "<" and without repeats, references (the five
// predefined and characters), end tags that close the element last opened,
// comments without "--", no marked section but CDATA, no document type
// declaration, characters allowed in XML (and valid UTF-8), one root element
// with nothing but comments and instructions after it, and a document that
// ends only after its root closes. Faults are MzmlFault naming the byte.
class XmlTokenizer
{
public:
    enum class Scope {
        Document, // a whole document: prolog, one root element, nothing after it
        Content   // elements and text, all of them closed by the end
    };

    // Reads source, whose first byte stands at offset in the document. Texts
    // are checked and passed over: the index needs none.
    XmlTokenizer(ByteSource &source, qint64 offset, Scope scope, TextEncoding encoding = TextEncoding::Utf8);
    // Tokenizes bytes held in memory, from offset in the document on; texts
    // are handed out.
    XmlTokenizer(QByteArrayView bytes, qint64 offset, Scope scope, TextEncoding encoding);
    // Reads the second half of a document, which source holds from offset
    // on, inside the elements that join names, after its root began.
    XmlTokenizer(ByteSource &source, qint64 offset, TextEncoding encoding, const XmlJoin &join);

    // The next token; End once the input is through. The views it holds are
    // valid until the next call. A fault of the XML declaration before the
    // root element comes from the call after the one that hands out the root.
    const XmlToken &next();
    // The token last returned.
    const XmlToken &current() const { return m_token; }
    // How many elements are open.
    int openDepth() const { return int(m_nameStarts.size()); }
    // The open elements, where a second half could begin.
    XmlJoin openElements() const { return {m_names, m_nameStarts}; }
    // Passes over tokens until no more than depth elements are open.
    void skipTo(int depth);

    // The attributes of the start or empty tag last returned.
    const std::vector<XmlAttribute> &attributes() const { return m_attributes; }
    // The raw value of the attribute; null when the tag has none of that name.
    QByteArrayView attribute(QByteArrayView name) const;
    // The attribute's value as the document means it: references resolved,
    // each line break or tab a blank.
    QString value(QByteArrayView raw) const;
    // The attribute's value; empty when there is none.
    QString attributeValue(QByteArrayView name) const { return value(attribute(name)); }
    // Resolves the references of text (which the tokenizer has checked).
    static QByteArray ResolvedText(QByteArrayView text);

    // As the XML declaration names it; empty when it names none.
    const QString &declaredEncoding() const { return m_declaredEncoding; }
    TextEncoding encoding() const { return m_encoding; }

private:
    XmlTokenizer(ByteSource *source, QByteArrayView bytes, qint64 offset, Scope scope, TextEncoding encoding);

    qint64 offsetOf(qsizetype index) const { return m_bufferOffset + index; }
    bool fill();
    bool ensure(qsizetype count);

    bool text();
    qsizetype checkedText(qsizetype from, qsizetype limit);
    bool markup();
    qsizetype markupEnd(qsizetype bodyStart, QByteArrayView terminator);
    qsizetype tagEnd();
    qsizetype closingBracket(qsizetype at, char &quote);
    void tag();
    qsizetype endTag(qsizetype end);
    qsizetype startTag(qsizetype end);
    void tagToken(XmlToken::Kind kind, qsizetype end, int depth, QByteArrayView name);
    qsizetype checkedValueEnd(qsizetype quote, qsizetype limit) const;
    qsizetype plainValueEnd(qsizetype quote) const;
    void comment(qsizetype end);
    void instruction(qsizetype end);
    bool cdata(qsizetype end);
    bool declaration(QByteArrayView body);
    void useEncoding(QByteArrayView name);

    QByteArrayView tagName() const;
    qsizetype name(qsizetype from, qsizetype end, bool *mayHoldColon = nullptr) const;
    qsizetype restOfName(qsizetype from, qsizetype at, qsizetype end) const;
    qsizetype find(qsizetype from, qsizetype end, char a, char b) const;
    qsizetype space(qsizetype from, qsizetype end) const;
    qsizetype reference(qsizetype at, qsizetype limit) const;
    qsizetype character(qsizetype at, qsizetype limit) const;
    void checkCharacters(qsizetype from, qsizetype end) const;
    void open(QByteArrayView qualifiedName, qint64 at);
    void close(QByteArrayView qualifiedName, qint64 at);
    [[noreturn]] void damaged(const QString &what, qsizetype at) const;
    void declarationFault(const QString &what, qsizetype at);
    [[noreturn]] void truncated() const;
    [[noreturn]] void tooLong(const QString &what, qsizetype at) const;

    ByteSource *m_source; // null: the bytes are all in memory
    Scope m_scope;
    TextEncoding m_encoding;
    QString m_declaredEncoding;
    QByteArray m_buffer;        // the bytes read, from m_bufferOffset on
    const char *m_data;         // the bytes at hand
    qsizetype m_size;           // how many
    qsizetype m_pos = 0;        // the next byte to tokenize
    qint64 m_bufferOffset;      // document offset of m_data[0]
    qint64 m_documentStart = 0; // after a byte-order mark: where an XML declaration may stand
    bool m_atEnd;               // no more bytes to come
    XmlToken m_token;
    std::vector<XmlAttribute> m_attributes;
    QByteArray m_names;                  // of the open elements, qualified, one after another
    std::vector<qsizetype> m_nameStarts; // where each open element's name begins in m_names
    QString m_declarationFault;          // thrown once the root element has been handed out
    bool m_rootSeen = false;
    bool m_rootClosed = false;
};
