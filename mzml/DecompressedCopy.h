#pragma once

#include "mzml/ByteSource.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QTemporaryFile>

#include <memory>

struct inflate_state;

// Whether content that begins with these bytes is gzip-compressed.
bool IsGzip(QByteArrayView start);

// The folder that decompressed copies go in: TMPDIR when it names a folder
// that can be written, else the system's own temporary folder; empty when
// neither can be used.
QString CopyFolder();

// The most that the decompressed content of a file of compressedSize bytes
// may take: 64 times that size, and at least 64 MiB. A real export inflates
// a few times; a stream made to fill the disk inflates a thousandfold.
qint64 CopyLimit(qint64 compressedSize);

// The gzip content of a file (one stream or several in a row, maybe followed
// by zero bytes), decompressed as it is read from the file's current
// position on. Each piece also goes to the copy when one is given, so that
// one decompression serves both a pass over the document and the reading of
// its spectra later. Throws MzmlFault for a damaged stream, one cut short,
// and content beyond CopyLimit; an Error that names path (the compressed
// file, as the user knows it) when either file fails.
class GzipSource : public ByteSource
{
public:
    GzipSource(QFile &compressed, const QString &path, QFileDevice *copy = nullptr);
    ~GzipSource() override;
    GzipSource(const GzipSource &) = delete;
    GzipSource &operator=(const GzipSource &) = delete;

    qint64 read(char *data, qint64 size) override;
    // Of the compressed file.
    qint64 position() const override { return m_compressed.pos(); }

private:
    bool refill();

    QFile &m_compressed;
    QString m_path;
    QFileDevice *m_copy;
    qint64 m_limit;
    qint64 m_written = 0;
    bool m_inputEnded = false;
    QByteArray m_in;
    std::unique_ptr<inflate_state> m_state; // some 40 KiB
};

// A new temporary file for the decompressed content of path, in
// CopyFolder. Where the system allows it, its name is removed as soon as it
// is open, so that only its descriptor reads it; otherwise it is removed
// with the object. Throws an Error that names path when it cannot be created.
std::unique_ptr<QTemporaryFile> CreateDecompressedCopy(const QString &path);
