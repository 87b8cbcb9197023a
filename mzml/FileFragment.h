#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>
#include <QString>

// A read-only device that presents a prefix, then the file from offset on.
// It lets an XML reader start in the middle of a document: the prefix is an
// XML declaration that carries the document's encoding.
class FileFragment : public QIODevice
{
public:
    FileFragment(QFile &file, qint64 offset, QByteArray prefix);

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile &m_file;
    qint64 m_next; // file offset of the next byte after the prefix
    QByteArray m_prefix;
};

// The XML declaration that starts a fragment of a document in encoding
// (UTF-8 when the document names none).
QByteArray XmlDeclaration(const QString &encoding);
