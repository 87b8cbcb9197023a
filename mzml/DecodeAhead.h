#pragma once

#include "convert/RawFileAccess.h"
#include "mzml/MzmlHead.h"
#include "mzml/MzmlSpectrumIndex.h"

#include <QFile>

#include <condition_variable>
#include <exception>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

// Reads and decodes spectra before they are asked for, on a worker thread,
// while the caller works on the spectrum it has. The spectra decoded ahead
// are the next few after the one asked for whose filter texts the caller has
// asked for in this pass (a run of rising spectrum numbers): a conversion
// asks for every spectrum of a kind, in order. What the caller gets is what
// reading the spectrum itself would give at that moment: its points, or its
// fault, never another spectrum's; a guess that the caller does not ask for
// is dropped unseen. The caller helps with the decoding rather than wait.
class DecodeAhead
{
public:
    // The file is read under this object's lock from now on; file, head and
    // entries must outlive it.
    DecodeAhead(QFile &file, const MzmlHead &head, const std::vector<SpectrumEntry> &entries);
    // Stops and joins the worker; what it decoded is dropped.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // The points of spectrum n, from 1 to the number of entries. Throws
    // MzmlFault without a spectrum number.
    SpectrumPoints Points(qint32 n);

private:
    struct Slot
    {
        enum class State { Waiting, Decoding, Done };

        qint32 n;
        quint64 id; // tells a slot from a later one for the same spectrum
        State state = State::Waiting;
        SpectrumPoints points;
        std::exception_ptr failure;
    };
    using Slots = std::list<Slot>;

    void Run();
    void Plan(qint32 n);
    bool IsExpected(qint32 n) const;
    Slots::iterator Find(qint32 n);
    Slots::iterator FirstWaiting();
    size_t DoneBytes() const;
    void Decode(Slot &slot, std::unique_lock<std::mutex> &lock);
    SpectrumPoints Read(qint32 n);

    QFile &m_file;
    const MzmlHead &m_head;
    const std::vector<SpectrumEntry> &m_entries;
    std::mutex m_fileMutex;
    std::mutex m_mutex;             // guards everything below
    std::condition_variable m_work; // a slot waits for the worker, or the stop
    std::condition_variable m_done; // a slot is decoded
    Slots m_slots;                  // in rising spectrum number
    std::vector<QString> m_filters; // of the spectra asked for in this pass
    qint32 m_asked = 0;             // the spectrum asked for last
    quint64 m_nextId = 0;
    bool m_stop = false;
    std::thread m_thread{[this] { Run(); }}; // last: starts when all else is ready
};
