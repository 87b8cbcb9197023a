#include "mzml/ReadAhead.h"

#include <cstring>

namespace {

constexpr qint64 ChunkSize = 1 << 20;
// Chunks read ahead at most: enough to keep both threads busy, little memory.
constexpr size_t AheadChunks = 4;

} // namespace

ReadAheadSource::ReadAheadSource(std::unique_ptr<ByteSource> source) : m_source(std::move(source)) {}

ReadAheadSource::~ReadAheadSource()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_taken.notify_one();
    m_thread.join();
}

qint64 ReadAheadSource::read(char *data, qint64 size)
{
    if (size <= 0)
        return 0;
    if (m_given == m_current.size && !m_current.failure && !m_ended) {
        std::unique_lock lock(m_mutex);
        if (m_current.size > 0)
            m_spare.push_back(std::move(m_current.bytes));
        m_ready.wait(lock, [this] { return !m_chunks.empty(); });
        m_current = std::move(m_chunks.front());
        m_chunks.pop_front();
        m_given = 0;
        lock.unlock();
        m_taken.notify_one();
        m_position = m_current.position;
        m_ended = m_current.size == 0;
    }
    if (m_given == m_current.size) {
        if (m_current.failure)
            std::rethrow_exception(m_current.failure);
        return 0;
    }
    const qint64 given = std::min(size, m_current.size - m_given);
    std::memcpy(data, m_current.bytes.constData() + m_given, size_t(given));
    m_given += given;
    return given;
}

void ReadAheadSource::Run()
{
    for (;;) {
        QByteArray bytes;
        {
            std::unique_lock lock(m_mutex);
            m_taken.wait(lock, [this] { return m_stop || m_chunks.size() < AheadChunks; });
            if (m_stop)
                return;
            if (!m_spare.empty()) {
                bytes = std::move(m_spare.back());
                m_spare.pop_back();
            }
        }
        Chunk chunk = Fill(std::move(bytes));
        const bool last = chunk.size == 0 || chunk.failure;
        {
            const std::lock_guard lock(m_mutex);
            m_chunks.push_back(std::move(chunk));
        }
        m_ready.notify_one();
        if (last)
            return;
    }
}

// A chunk full of the source's bytes, or what it holds before the source
// ends or fails.
ReadAheadSource::Chunk ReadAheadSource::Fill(QByteArray bytes)
{
    Chunk chunk;
    try {
        if (bytes.size() < ChunkSize)
            bytes = QByteArray(ChunkSize, Qt::Uninitialized);
        qint64 read = 0;
        while (chunk.size < ChunkSize && (read = m_source->read(bytes.data() + chunk.size, ChunkSize - chunk.size)) > 0)
            chunk.size += read;
    } catch (...) {
        chunk.failure = std::current_exception();
    }
    chunk.bytes = std::move(bytes);
    chunk.position = m_source->position();
    return chunk;
}
