#pragma once

#include "mzml/ByteSource.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Reads another source on a thread of its own, a few chunks ahead of the
// reader: a gzip stream inflates on one core while the document is
// tokenized on the other. The bytes, their end and a failure come in the
// order the source gives them: a failure after some bytes is thrown once
// those bytes are read. The source is touched only by that thread until
// this object is gone.
class ReadAheadSource : public ByteSource
{
public:
    explicit ReadAheadSource(std::unique_ptr<ByteSource> source);
    // Stops the thread once its chunk in hand is read, and joins it.
    ~ReadAheadSource() override;
    ReadAheadSource(const ReadAheadSource &) = delete;
    ReadAheadSource &operator=(const ReadAheadSource &) = delete;

    qint64 read(char *data, qint64 size) override;
    // Where the source stood after the chunk last read from.
    qint64 position() const override { return m_position; }

private:
    struct Chunk
    {
        QByteArray bytes;
        qint64 size = 0;      // 0: the source ended
        qint64 position = -1; // the source's position after it
        std::exception_ptr failure;
    };

    void Run();
    Chunk Fill(QByteArray bytes);

    std::unique_ptr<ByteSource> m_source;
    std::mutex m_mutex;              // guards everything below up to the thread
    std::condition_variable m_ready; // a chunk is ready, or the thread stops
    std::condition_variable m_taken; // room for a chunk, or the stop
    std::deque<Chunk> m_chunks;      // read ahead, in order
    std::vector<QByteArray> m_spare; // buffers that were read
    bool m_stop = false;
    Chunk m_current;    // the reader's own
    qint64 m_given = 0; // of m_current
    bool m_ended = false;
    qint64 m_position = -1;
    std::thread m_thread{[this] { Run(); }}; // last: starts when all else is ready
};
