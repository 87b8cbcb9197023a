#pragma once

#include "mzml/MarkupLexer.h"
#include "mzml/MzmlFault.h"

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

#include <optional>

// A read-only device that presents a prefix, then the file from offset on.
// It lets an XML reader start in the middle of a document: the prefix is an
// XML declaration that carries the document's encoding. It stops at a piece
// of markup or text that the reader must not hold (see MarkupLexer) and
// keeps the fault. It ends after the token on which last, when given,
// returns false: a reader that needs only a head is not given the rest.
class FileFragment : public QIODevice
{
public:
    FileFragment(QFile &file, qint64 offset, QByteArray prefix, MarkupLexer::Sink last = {});

    bool isSequential() const override { return true; }

    // The fault to report: the fragment's own when it stopped the reading,
    // else fault. Whatever a reader made of the bytes it did not get comes second.
    MzmlFault firstFault(const MzmlFault &fault) const { return m_fault ? *m_fault : fault; }
    // Throws firstFault(fault).
    [[noreturn]] void fail(const MzmlFault &fault) const { throw firstFault(fault); }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile &m_file;
    qint64 m_next; // file offset of the next byte after the prefix
    QByteArray m_prefix;
    MarkupLexer m_lexer;
    MarkupLexer::Sink m_last;
    bool m_ended = false; // after the last token
    std::optional<MzmlFault> m_fault;
};

// The XML declaration that starts a fragment of a document in encoding
// (UTF-8 when the document names none).
QByteArray XmlDeclaration(const QString &encoding);
