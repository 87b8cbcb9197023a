#include "mzml/DecompressedCopy.h"

#include "convert/Errors.h"
#include "mzml/MzmlFault.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <new>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype ChunkSize = 1 << 20;

Error CopyError(const QString &path, const QFileDevice &copy)
{
    return FileError(copy.error() == QFileDevice::ResourceError ? ErrorNumber::DiskFull : ErrorNumber::DeviceIO, path,
                     u"its decompressed copy in \"%1\" cannot be written: %2"_s.arg(
                         QDir::toNativeSeparators(CopyFolder()), copy.errorString()));
}

bool IsUsableFolder(const QString &folder)
{
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isDir() && info.isWritable();
}

} // namespace

QString CopyFolder()
{
    // Qt gives no folder for a TMPDIR that does not exist, and a copy made
    // relative to nothing would land in the root folder.
    const QString named = QDir::tempPath();
    if (IsUsableFolder(named))
        return named;
#ifdef Q_OS_UNIX
    if (IsUsableFolder(u"/tmp"_s))
        return u"/tmp"_s;
#endif
    return {};
}

bool IsGzip(QByteArrayView start)
{
    return start.startsWith("\x1f\x8b");
}

qint64 CopyLimit(qint64 compressedSize)
{
    return qMax(qint64(64) << 20, compressedSize * 64);
}

GzipSource::GzipSource(QFile &compressed, const QString &path, QFileDevice *copy)
    : m_compressed(compressed), m_path(path), m_copy(copy), m_limit(CopyLimit(compressed.size())),
      m_in(ChunkSize, Qt::Uninitialized)
{
    // 15 + 16: the largest window, and a gzip header and trailer.
    if (inflateInit2(&m_stream, 15 + 16) != Z_OK)
        throw std::bad_alloc();
}

GzipSource::~GzipSource()
{
    inflateEnd(&m_stream);
}

// Reads more compressed bytes; false at the end of the file.
bool GzipSource::refill()
{
    const qint64 read = m_compressed.read(m_in.data(), m_in.size());
    if (read < 0)
        throw FileError(ErrorNumber::DeviceIO, m_path,
                        u"the file cannot be read: %1"_s.arg(m_compressed.errorString()));
    m_stream.next_in = reinterpret_cast<Bytef *>(m_in.data());
    m_stream.avail_in = uInt(read);
    return read > 0;
}

qint64 GzipSource::read(char *data, qint64 size)
{
    if (size <= 0)
        return 0;
    m_stream.next_out = reinterpret_cast<Bytef *>(data);
    m_stream.avail_out = uInt(qMin<qint64>(size, ChunkSize));
    const uInt room = m_stream.avail_out;
    while (m_stream.avail_out == room) {
        if (m_stream.avail_in == 0 && (m_inputEnded || !refill())) {
            m_inputEnded = true;
            if (m_status != Z_STREAM_END)
                throw TruncatedDocument();
            break;
        }
        if (m_status == Z_STREAM_END) {
            // Zero bytes after the last stream are padding, as gzip takes them.
            const auto *next = m_stream.next_in;
            if (std::all_of(next, next + m_stream.avail_in, [](Bytef byte) { return byte == 0; })) {
                m_stream.avail_in = 0;
                continue;
            }
            // Another stream after the end of one: gzip files may be joined.
            if (inflateReset(&m_stream) != Z_OK)
                throw std::bad_alloc();
        }
        m_status = inflate(&m_stream, Z_NO_FLUSH);
        if (m_status == Z_MEM_ERROR)
            throw std::bad_alloc();
        if (m_status == Z_NEED_DICT || (m_status < 0 && m_status != Z_BUF_ERROR))
            throw MzmlFault{u"the document is damaged: its gzip stream is invalid (%1)"_s.arg(
                QString::fromLatin1(m_stream.msg ? m_stream.msg : "no message"))};
    }
    const qint64 produced = room - m_stream.avail_out;
    m_written += produced;
    if (m_written > m_limit)
        throw MzmlFault{u"its gzip stream inflates beyond %1 MiB, more than this reader copies for a file of "
                        u"this size"_s.arg(m_limit >> 20)};
    // A write cut short is followed by one for the rest, which then says why
    // (a full disk, a file-size limit).
    for (qint64 done = 0; m_copy && done < produced;) {
        const qint64 taken = m_copy->write(data + done, produced - done);
        if (taken <= 0)
            throw CopyError(m_path, *m_copy);
        done += taken;
    }
    return produced;
}

std::unique_ptr<QTemporaryFile> CreateDecompressedCopy(const QString &path)
{
    const QString folder = CopyFolder();
    if (folder.isEmpty())
        throw FileError(ErrorNumber::PathNotFound, path,
                        u"its decompressed copy cannot be made: TMPDIR (\"%1\") names no folder that can be "
                        u"written, and neither is the system's temporary folder"_s.arg(qEnvironmentVariable("TMPDIR")));
    auto copy = std::make_unique<QTemporaryFile>(folder + u"/quorvane-XXXXXX.mzML"_s);
    if (!copy->open())
        throw CopyError(path, *copy);
#ifdef Q_OS_UNIX
    // Open, the copy needs no name: removed at once, it goes with the
    // process however that ends, even when it is killed.
    if (QFile::remove(copy->fileName()))
        copy->setAutoRemove(false);
#endif
    return copy;
}
