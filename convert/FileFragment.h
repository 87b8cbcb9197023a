#pragma once

#include <QByteArray>
#include <QFile>
#include <QIODevice>

// A read-only device that lets an XML reader start in the middle of a
// document: an XML declaration naming the document's encoding (UTF-8 when it
// names none), then the file from offset on.
class FileFragment : public QIODevice
{
public:
    FileFragment(QFile &file, qint64 offset, const QString &encoding);

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QFile &m_file;
    qint64 m_next; // file offset of the next byte after the prefix
    QByteArray m_prefix;
};
