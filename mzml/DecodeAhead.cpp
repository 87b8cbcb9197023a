#include "mzml/DecodeAhead.h"

#include "mzml/LargeSpectrum.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlSpectrum.h"
#include "mzml/MzmlSpectrumIndex.h"

#include <algorithm>

namespace {

// Spectra decoded ahead of the one asked for: enough that the worker seldom
// sleeps while the caller writes one out.
constexpr size_t Depth = 8;
// The worker starts no spectrum while those waiting for the caller hold this
// many bytes: memory stays within the largest spectrum plus a fixed allowance.
constexpr size_t ByteBudget = 4 << 20;
// How many spectra after the one asked for are looked at for the next ones.
constexpr qint32 LookAhead = 256;
// A spectrum whose arrays take fewer bytes decodes faster than a hand-off
// to the worker costs. A large spectrum (LargeSpectrumPoints) is decoded
// only when asked for, so that no second copy of one is ever held.
constexpr qint64 AheadMinimumBytes = 16 << 10;

size_t BytesOf(const SpectrumPoints &points)
{
    return (points.masses.size() + points.intensities.size()) * sizeof(double);
}

} // namespace

DecodeAhead::DecodeAhead(QFile &file, std::mutex &fileMutex, const MzmlHead &head, const SpectrumIndex &index)
    : m_file(file), m_head(head), m_index(index), m_fileMutex(fileMutex), m_asked(index.filters.size(), false)
{
}

DecodeAhead::~DecodeAhead()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_one();
    m_thread.join();
}

SpectrumPoints DecodeAhead::Points(qint32 n)
{
    std::unique_lock lock(m_mutex);
    if (n <= m_last) { // a new pass
        std::fill(m_asked.begin(), m_asked.end(), false);
        m_slots.clear();
        m_planned = 0;
    }
    m_last = n;
    m_asked[size_t(m_index.entries[size_t(n) - 1].filter)] = true;
    while (!m_slots.empty() && m_slots.front().n < n)
        m_slots.pop_front();
    m_planned = std::max(m_planned, n);
    Plan();
    if (m_slots.empty() || m_slots.front().n != n) {
        lock.unlock();
        return Read(n, false);
    }
    // The caller decodes its spectrum itself when the worker has not begun
    // it, and while the worker decodes it, decodes the next one waiting.
    const quint64 id = m_slots.front().id;
    for (;;) {
        Slot &slot = *Find(id);
        if (slot.state == Slot::State::Done) {
            SpectrumPoints points = std::move(slot.points);
            const std::exception_ptr failure = slot.failure;
            m_slots.pop_front();
            m_work.notify_one();
            lock.unlock();
            if (failure)
                std::rethrow_exception(failure);
            return points;
        }
        if (slot.state == Slot::State::Waiting)
            Decode(slot, lock, false);
        else if (Slot *next = FirstWaiting())
            Decode(*next, lock, false);
        else
            m_done.wait(lock);
    }
}

void DecodeAhead::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        Slot *slot = nullptr;
        m_work.wait(lock, [&] {
            slot = DoneBytes() < ByteBudget ? FirstWaiting() : nullptr;
            return m_stop || slot;
        });
        if (m_stop)
            return;
        Decode(*slot, lock, true);
    }
}

// Adds slots for the spectra expected after the one asked for, each looked
// at once in a pass.
void DecodeAhead::Plan()
{
    const qint32 last = qint32(std::min(qint64(m_index.entries.size()), qint64(m_last) + LookAhead));
    bool added = false;
    while (m_slots.size() < Depth && m_planned < last) {
        ++m_planned;
        if (m_asked[size_t(m_index.entries[size_t(m_planned) - 1].filter)] && PaysAhead(m_planned)) {
            m_slots.push_back(Slot{m_planned, m_nextId++, Slot::State::Waiting, {}, {}});
            added = true;
        }
    }
    if (added)
        m_work.notify_one();
}

bool DecodeAhead::PaysAhead(qint32 n) const
{
    const SpectrumEntry &entry = m_index.entries[size_t(n) - 1];
    return entry.arraysEnd() - entry.arraysStart() >= AheadMinimumBytes && entry.declaredLength >= 0
        && entry.declaredLength <= LargeSpectrumPoints;
}

DecodeAhead::Slot *DecodeAhead::Find(quint64 id)
{
    const auto slot = std::find_if(m_slots.begin(), m_slots.end(), [id](const Slot &s) { return s.id == id; });
    return slot == m_slots.end() ? nullptr : &*slot;
}

DecodeAhead::Slot *DecodeAhead::FirstWaiting()
{
    const auto slot =
        std::find_if(m_slots.begin(), m_slots.end(), [](const Slot &s) { return s.state == Slot::State::Waiting; });
    return slot == m_slots.end() ? nullptr : &*slot;
}

size_t DecodeAhead::DoneBytes() const
{
    size_t bytes = 0;
    for (const Slot &slot : m_slots)
        bytes += BytesOf(slot.points);
    return bytes;
}

// Decodes outside the lock; the slot may be dropped meanwhile, and so is
// then what was decoded for it.
void DecodeAhead::Decode(Slot &slot, std::unique_lock<std::mutex> &lock, bool onWorker)
{
    slot.state = Slot::State::Decoding;
    const qint32 n = slot.n;
    const quint64 id = slot.id;
    lock.unlock();
    SpectrumPoints points;
    std::exception_ptr failure;
    try {
        points = Read(n, onWorker);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    Slot *decoded = Find(id);
    if (!decoded)
        return;
    decoded->state = Slot::State::Done;
    decoded->points = std::move(points);
    decoded->failure = failure;
    m_done.notify_one();
}

// The caller reads through the window; the worker reads its spectrum whole.
SpectrumPoints DecodeAhead::Read(qint32 n, bool onWorker)
{
    const SpectrumEntry &entry = m_index.entries[size_t(n) - 1];
    if (entry.declaredLength < 0) {
        SharedFileSource source(m_file, m_fileMutex, entry.offset);
        throw SpectrumEntryFault(source, entry.offset, m_head, EntryFault::DeclaredLength);
    }
    if (onWorker) {
        const QByteArray bytes = ReadRange(m_file, m_fileMutex, entry.arraysStart(), entry.arraysEnd());
        return DecodeSpectrumPoints(bytes, entry.arraysStart(), entry.declaredLength, m_head, entry.direct());
    }
    return DecodeSpectrumPoints(m_window.bytes(entry.arraysStart(), entry.arraysEnd()), entry.arraysStart(),
                                entry.declaredLength, m_head, entry.direct());
}
