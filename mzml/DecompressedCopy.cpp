#include "mzml/DecompressedCopy.h"

#include "convert/Errors.h"
#include "mzml/IsalInflate.h"
#include "mzml/MzmlFault.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype ChunkSize = 1 << 20;

Error CopyError(const QString &path, const QFileDevice &copy)
{
    return FileError(copy.error() == QFileDevice::ResourceError ? ErrorNumber::DiskFull : ErrorNumber::DeviceIO, path,
                     u"its decompressed copy in \"%1\" cannot be written: %2"_s.arg(
                         QDir::toNativeSeparators(CopyFolder()), copy.errorString()));
}

// A damaged stream, with what is wrong in the words that zlib has for it.
MzmlFault InvalidStream(int status)
{
    QString damage;
    switch (status) {
    case ISAL_INVALID_WRAPPER: damage = u"incorrect header check"_s; break;
    case ISAL_UNSUPPORTED_METHOD: damage = u"unknown compression method"_s; break;
    case ISAL_INVALID_BLOCK: damage = u"invalid block type"_s; break;
    case ISAL_INVALID_SYMBOL: damage = u"invalid code"_s; break;
    case ISAL_INVALID_LOOKBACK: damage = u"invalid distance too far back"_s; break;
    case ISAL_INCORRECT_CHECKSUM: damage = u"incorrect data check"_s; break;
    case ISAL_NEED_DICT: damage = u"a dictionary is needed"_s; break;
    default: damage = u"error %1"_s.arg(status);
    }
    return MzmlFault{u"the document is damaged: its gzip stream is invalid (%1)"_s.arg(damage)};
}

// Whether bytes can begin a gzip stream, as far as they go.
bool MayBeginGzip(QByteArrayView bytes)
{
    constexpr QByteArrayView Magic = "\x1f\x8b";
    return Magic.startsWith(bytes.first(qMin(bytes.size(), Magic.size())));
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
      m_in(ChunkSize, Qt::Uninitialized), m_state(NewInflateState(ISAL_GZIP))
{
}

GzipSource::~GzipSource() = default;

// Reads more compressed bytes; false at the end of the file.
bool GzipSource::refill()
{
    const qint64 read = m_compressed.read(m_in.data(), m_in.size());
    if (read < 0)
        throw FileError(ErrorNumber::DeviceIO, m_path,
                        u"the file cannot be read: %1"_s.arg(m_compressed.errorString()));
    m_state->next_in = reinterpret_cast<uint8_t *>(m_in.data());
    m_state->avail_in = quint32(read);
    return read > 0;
}

qint64 GzipSource::read(char *data, qint64 size)
{
    if (size <= 0)
        return 0;
    inflate_state &state = *m_state;
    state.next_out = reinterpret_cast<uint8_t *>(data);
    state.avail_out = quint32(qMin<qint64>(size, ChunkSize));
    const quint32 room = state.avail_out;
    while (state.avail_out == room) {
        const bool streamEnded = state.block_state == ISAL_BLOCK_FINISH;
        if (state.avail_in == 0 && (m_inputEnded || !refill())) {
            m_inputEnded = true;
            if (!streamEnded)
                throw TruncatedDocument();
            break;
        }
        if (streamEnded) {
            // Zero bytes after the last stream are padding, as gzip takes them.
            const uint8_t *next = state.next_in;
            if (std::all_of(next, next + state.avail_in, [](uint8_t byte) { return byte == 0; })) {
                state.avail_in = 0;
                continue;
            }
            // Another stream after the end of one: gzip files may be joined.
            // Other bytes are refused at once, not waited on as a header
            // that has not come yet.
            if (!MayBeginGzip(QByteArrayView(next, state.avail_in)))
                throw InvalidStream(ISAL_INVALID_WRAPPER);
            isal_inflate_reset(&state);
            state.crc_flag = ISAL_GZIP;
        }
        const int status = isal_inflate(&state);
        if (IsDamagedStream(status))
            throw InvalidStream(status);
    }
    const qint64 produced = room - state.avail_out;
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
