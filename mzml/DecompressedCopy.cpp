#include "mzml/DecompressedCopy.h"

#include "convert/Errors.h"
#include "mzml/MzmlFault.h"

#include <QDir>

#include <zlib.h>

#include <new>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype ChunkSize = 1 << 20;

// Ends the stream however the decompression ends.
class Inflater
{
public:
    Inflater()
    {
        // 15 + 16: the largest window, and a gzip header and trailer.
        if (inflateInit2(&m_stream, 15 + 16) != Z_OK)
            throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&m_stream); }
    Inflater(const Inflater &) = delete;
    Inflater &operator=(const Inflater &) = delete;

    z_stream *operator->() { return &m_stream; }
    z_stream *get() { return &m_stream; }

private:
    z_stream m_stream{};
};

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

std::unique_ptr<QTemporaryFile> DecompressedCopy(QFile &compressed, const QString &path, qint64 limit)
{
    auto copy = std::make_unique<QTemporaryFile>(QDir::tempPath() + u"/quorvane-XXXXXX.mzML"_s);
    if (!copy->open())
        throw CopyError(path, *copy);
    Inflater stream;
    QByteArray in(ChunkSize, Qt::Uninitialized);
    QByteArray out(ChunkSize, Qt::Uninitialized);
    qint64 written = 0;
    int status = Z_OK;
    for (;;) {
        if (stream->avail_in == 0) {
            const qint64 read = compressed.read(in.data(), in.size());
            if (read < 0)
                throw FileError(ErrorNumber::DeviceIO, path,
                                u"the file cannot be read: %1"_s.arg(compressed.errorString()));
            if (read == 0)
                break;
            stream->next_in = reinterpret_cast<Bytef *>(in.data());
            stream->avail_in = uInt(read);
        }
        // Another stream after the end of one: gzip files may be joined.
        if (status == Z_STREAM_END && inflateReset(stream.get()) != Z_OK)
            throw std::bad_alloc();
        stream->next_out = reinterpret_cast<Bytef *>(out.data());
        stream->avail_out = uInt(out.size());
        status = inflate(stream.get(), Z_NO_FLUSH);
        if (status == Z_MEM_ERROR)
            throw std::bad_alloc();
        if (status == Z_NEED_DICT || (status < 0 && status != Z_BUF_ERROR))
            throw MzmlFault{u"the document is damaged: its gzip stream is invalid (%1)"_s.arg(
                QString::fromLatin1(stream->msg ? stream->msg : "no message"))};
        const qint64 produced = out.size() - qint64(stream->avail_out);
        written += produced;
        if (written > limit)
            throw MzmlFault{u"its gzip stream inflates beyond %1 MiB, more than this reader copies for a file of "
                            u"this size"_s.arg(limit >> 20)};
        if (copy->write(out.constData(), produced) != produced)
            throw CopyError(path, *copy);
    }
    if (status != Z_STREAM_END)
        throw TruncatedDocument();
    if (!copy->flush())
        throw CopyError(path, *copy);
    return copy;
}
