#pragma once

#include "convert/RawFileAccess.h"
#include "mzml/FileWindow.h"
#include "mzml/MzmlHead.h"
#include "mzml/MzmlSpectrumIndex.h"

#include <QFile>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// Gives the points of spectra, decoding them before they are asked for on a
// worker thread while the caller works on the one it has. The spectra
// decoded ahead are the next ones after the one asked for whose filter
// texts the caller has asked for in this pass (a run of rising spectrum
// numbers): a conversion asks for every spectrum of a kind, in order. Small
// spectra go to the worker in batches, since handing one over costs more
// than decoding it. What the caller gets is what reading the spectrum itself
// would give at that moment: its points, or its fault, never another
// spectrum's; a guess that the caller does not ask for is dropped unseen.
class DecodeAhead
{
public:
    // The file is read under fileMutex, as every other reader of it must;
    // file, fileMutex, head and index must outlive this object.
    DecodeAhead(QFile &file, std::mutex &fileMutex, const MzmlHead &head, const SpectrumIndex &index);
    // Stops and joins the worker; what it decoded is dropped.
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // The points of spectrum n, from 1 to the number of entries. Throws
    // MzmlFault without a spectrum number.
    SpectrumPoints Points(qint32 n);

private:
    // A batch of spectra decoded together.
    struct Slot
    {
        enum class State { Waiting, Decoding, Done };

        std::vector<qint32> spectra; // in rising order
        qint64 bytes = 0;            // of their arrays in the file or of their points, the more
        quint64 id = 0;              // tells a slot from a later one for the same spectra
        State state = State::Waiting;
        std::vector<SpectrumPoints> points; // by spectrum, once done
        std::vector<std::exception_ptr> failures;
        size_t doneBytes = 0; // of the points not yet taken
    };

    void Run();
    void Plan();
    Slot *Find(quint64 id);
    Slot *FirstReady();
    size_t HeldBytes() const;
    // Whether a spectrum of the filter number was asked for in this pass; the
    // texts that the index did not keep count as one.
    std::vector<bool>::reference asked(qint32 filter) { return m_asked[size_t(filter - FilterTable::Unkept)]; }
    void Decode(Slot &slot, std::unique_lock<std::mutex> &lock, FileWindow &window);
    SpectrumPoints Read(qint32 n, FileWindow &window);

    QFile &m_file;
    const MzmlHead &m_head;
    const SpectrumIndex &m_index;
    std::mutex &m_fileMutex;
    FileWindow m_window{m_file, m_fileMutex};       // the caller's reads
    FileWindow m_workerWindow{m_file, m_fileMutex}; // the worker's
    std::mutex m_mutex;                             // guards everything below
    std::condition_variable m_work;                 // a slot waits for the worker, or the stop
    std::condition_variable m_done;                 // a slot is decoded
    std::deque<Slot> m_slots;                       // in rising spectrum number; a few at most
    std::vector<bool> m_asked;                      // by filter text: asked for in this pass; see asked
    qint32 m_last = 0;                              // the spectrum asked for last
    qint32 m_planned = 0;                           // looked at for decoding ahead in this pass up to here
    quint64 m_nextId = 0;
    bool m_stop = false;
    std::thread m_thread{[this] { Run(); }}; // last: starts when all else is ready
};
