#pragma once

#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <QTemporaryFile>

#include <memory>

// Whether content that begins with these bytes is gzip-compressed.
bool IsGzip(QByteArrayView start);

// The folder that decompressed copies go in: TMPDIR when it names a folder
// that can be written, else the system's own temporary folder; empty when
// neither can be used.
QString CopyFolder();

// The most that a decompressed copy of a file of compressedSize bytes may
// take: 64 times that size, and at least 64 MiB. A real export inflates a
// few times; a stream made to fill the disk inflates a thousandfold.
qint64 CopyLimit(qint64 compressedSize);

// The gzip content of compressed (one stream or several in a row), read
// from its current position and decompressed into a new temporary file in
// CopyFolder, flushed and open. Where the system allows it, the file's name
// is removed as soon as it is open, so that only its descriptor reads it;
// otherwise the file is removed when the object is destroyed, and on every
// failure here. Streams in chunks, so
// memory does not grow with the file. Throws MzmlFault for a damaged stream,
// one cut short, and content beyond limit; an Error that names path (the
// compressed file, as the user knows it) when either file fails.
std::unique_ptr<QTemporaryFile> DecompressedCopy(QFile &compressed, const QString &path, qint64 limit);
