#include "mzml/FileWindow.h"

#include "mzml/MzmlFault.h"

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 WindowSize = 1 << 20;

// Reads size bytes at from into data; how many the file held.
qint64 ReadAt(QFile &file, qint64 from, char *data, qint64 size)
{
    if (file.pos() != from && !file.seek(from))
        throw MzmlFault{u"the file cannot be read at byte %1"_s.arg(from)};
    qint64 total = 0;
    while (total < size) {
        const qint64 read = file.read(data + total, size - total);
        if (read <= 0)
            break;
        total += read;
    }
    return total;
}

// The file changed since the spectra were found: it ends sooner, where it
// ends now. Asked under the file's mutex.
MzmlFault Truncated(const QFile &file)
{
    return MzmlFault{u"the document is truncated: it ends at byte %1"_s.arg(file.size())};
}

} // namespace

QByteArrayView FileWindow::bytes(qint64 from, qint64 to)
{
    if (from < m_start || to > m_start + m_buffer.size()) {
        const qint64 size = qMax(to - from, WindowSize);
        if (m_buffer.size() < size)
            m_buffer.resize(size);
        m_start = from;
        qint64 read = 0;
        try {
            const std::lock_guard lock(m_mutex);
            read = ReadAt(m_file, from, m_buffer.data(), size);
            if (read < to - from)
                throw Truncated(m_file);
        } catch (...) {
            m_buffer.truncate(0);
            throw;
        }
        m_buffer.truncate(read);
    }
    return QByteArrayView(m_buffer).sliced(from - m_start, to - from);
}

QByteArray ReadRange(QFile &file, std::mutex &mutex, qint64 from, qint64 to)
{
    QByteArray bytes(to - from, Qt::Uninitialized);
    const std::lock_guard lock(mutex);
    if (ReadAt(file, from, bytes.data(), bytes.size()) < bytes.size())
        throw Truncated(file);
    return bytes;
}

qint64 SharedFileSource::read(char *data, qint64 size)
{
    const std::lock_guard lock(m_mutex);
    const qint64 read = ReadAt(m_file, m_offset, data, size);
    m_offset += read;
    return read;
}
