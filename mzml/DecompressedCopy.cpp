#include "mzml/DecompressedCopy.h"

#include "convert/Errors.h"
#include "mzml/MzmlFault.h"

#include <QDir>

#include <algorithm>
#include <new>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype ChunkSize = 1 << 20;

Error CopyError(const QString &path, const QFileDevice &copy)
{
    return FileError(copy.error() == QFileDevice::ResourceError ? ErrorNumber::DiskFull : ErrorNumber::DeviceIO, path,
                     u"its decompressed copy in \"%1\" cannot be written: %2"_s.arg(
                         QDir::toNativeSeparators(QDir::tempPath()), copy.errorString()));
}

} // namespace

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
    if (m_copy && m_copy->write(data, produced) != produced)
        throw CopyError(m_path, *m_copy);
    return produced;
}

std::unique_ptr<QTemporaryFile> CreateDecompressedCopy(const QString &path)
{
    auto copy = std::make_unique<QTemporaryFile>(QDir::tempPath() + u"/quorvane-XXXXXX.mzML"_s);
    if (!copy->open())
        throw CopyError(path, *copy);
    return copy;
}
