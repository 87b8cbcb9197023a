#include "mzml/DecompressedCopy.h"

#include "convert/Errors.h"
#include "mzml/MzmlFault.h"

#include <QDir>
#include <QFileInfo>

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

Error CopyError(const QString &path, const QString &folder, const QFileDevice &copy)
{
    return FileError(copy.error() == QFileDevice::ResourceError ? ErrorNumber::DiskFull : ErrorNumber::DeviceIO, path,
                     u"its decompressed copy in \"%1\" cannot be written: %2"_s.arg(QDir::toNativeSeparators(folder),
                                                                                    copy.errorString()));
}

bool IsUsableFolder(const QString &folder)
{
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isDir() && info.isWritable();
}

} // namespace

bool IsGzip(QByteArrayView start)
{
    return start.startsWith("\x1f\x8b");
}

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

qint64 CopyLimit(qint64 compressedSize)
{
    return qMax(qint64(64) << 20, compressedSize * 64);
}

std::unique_ptr<QTemporaryFile> DecompressedCopy(QFile &compressed, const QString &path, qint64 limit)
{
    const QString folder = CopyFolder();
    if (folder.isEmpty())
        throw FileError(ErrorNumber::PathNotFound, path,
                        u"its decompressed copy cannot be made: TMPDIR (\"%1\") names no folder that can be "
                        u"written, and neither is the system's temporary folder"_s.arg(qEnvironmentVariable("TMPDIR")));
    auto copy = std::make_unique<QTemporaryFile>(folder + u"/quorvane-XXXXXX.mzML"_s);
    if (!copy->open())
        throw CopyError(path, folder, *copy);
#ifdef Q_OS_UNIX
    // Open, the copy needs no name: removed at once, it goes with the
    // process however that ends, even when it is killed.
    if (QFile::remove(copy->fileName()))
        copy->setAutoRemove(false);
#endif
    Inflater stream;
    QByteArray in(ChunkSize, Qt::Uninitialized);
    QByteArray out(ChunkSize, Qt::Uninitialized);
    qint64 written = 0;
    int status = Z_OK;
    bool padding = false;
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
        if (status == Z_STREAM_END) {
            // Zero bytes after the last stream pad the file to a block, as
            // tapes and some copying tools leave it; gzip accepts them.
            while (stream->avail_in > 0 && *stream->next_in == 0) {
                ++stream->next_in;
                --stream->avail_in;
                padding = true;
            }
            if (stream->avail_in == 0)
                continue;
            if (padding)
                throw MzmlFault{u"the document is damaged: data follow the zero bytes after its gzip stream"_s};
            // Another stream after the end of one: gzip files may be joined.
            if (inflateReset(stream.get()) != Z_OK)
                throw std::bad_alloc();
        }
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
        // A write cut short is followed by one for the rest, which then
        // says why (a full disk, a file-size limit).
        for (qint64 done = 0; done < produced;) {
            const qint64 taken = copy->write(out.constData() + done, produced - done);
            if (taken <= 0)
                throw CopyError(path, folder, *copy);
            done += taken;
        }
    }
    if (status != Z_STREAM_END)
        throw TruncatedDocument();
    if (!copy->flush())
        throw CopyError(path, folder, *copy);
    return copy;
}
