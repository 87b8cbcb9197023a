#pragma once

#include "mzml/ByteSource.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QFile>

#include <mutex>

// Reads ranges of a file through a window of it: ranges that follow one
// another, as a conversion asks for its spectra, cost one read for many.
// Reads share the file with others through mutex.
class FileWindow
{
public:
    FileWindow(QFile &file, std::mutex &mutex) : m_file(file), m_mutex(mutex) {}

    // The bytes from offset from up to to, valid until the next call.
    // Throws MzmlFault when the file ends before to.
    QByteArrayView bytes(qint64 from, qint64 to);

private:
    QFile &m_file;
    std::mutex &m_mutex;
    QByteArray m_buffer;
    qint64 m_start = 0; // file offset of m_buffer's first byte
};

// The bytes from offset from up to to, read at once under mutex. Throws
// MzmlFault when the file ends before to.
QByteArray ReadRange(QFile &file, std::mutex &mutex, qint64 from, qint64 to);

// The bytes of a file from an offset on, each piece read under mutex: others
// share the file's position.
class SharedFileSource : public ByteSource
{
public:
    SharedFileSource(QFile &file, std::mutex &mutex, qint64 offset) : m_file(file), m_mutex(mutex), m_offset(offset) {}
    qint64 read(char *data, qint64 size) override;

private:
    QFile &m_file;
    std::mutex &m_mutex;
    qint64 m_offset;
};
