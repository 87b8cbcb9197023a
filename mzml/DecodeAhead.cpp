#include "mzml/DecodeAhead.h"

#include "mzml/LargeSpectrum.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlSpectrum.h"
#include "mzml/MzmlSpectrumIndex.h"

#include <algorithm>

namespace {

// Batches decoded ahead of the one asked for: enough that the worker seldom
// sleeps while the caller writes one out.
constexpr size_t Depth = 8;
// No batch is started that would bring the bytes decoded, or being decoded,
// for the caller beyond this: memory stays within a fixed allowance.
constexpr size_t ByteBudget = 4 << 20;
// How many spectra after the one asked for are looked at for the next ones.
constexpr qint32 LookAhead = 2048;
// A batch takes spectra until their arrays' bytes in the file, or their
// points in memory, take this many bytes: a hand-off to the worker then
// costs little beside the decoding, and memory stays bounded whatever the
// arrays inflate to. A large spectrum (LargeSpectrumPoints) is decoded only
// when asked for, so that no second copy of one is ever held.
constexpr qint64 BatchBytes = 256 << 10;

// Whether the spectrum is one to decode ahead: its length known, and not
// one decoded in pieces.
bool GoesAhead(const SpectrumEntry &entry)
{
    return entry.declaredLength() >= 0 && entry.declaredLength() <= LargeSpectrumPoints;
}

size_t BytesOf(const SpectrumPoints &points)
{
    return (points.masses.size() + points.intensities.size()) * sizeof(double);
}

} // namespace

DecodeAhead::DecodeAhead(QFile &file, std::mutex &fileMutex, const MzmlHead &head, const SpectrumIndex &index)
    : m_file(file), m_head(head), m_index(index), m_fileMutex(fileMutex),
      m_asked(size_t(index.filters.size() - FilterTable::Unkept), false)
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
    asked(m_index.entries[size_t(n) - 1].filter) = true;
    while (!m_slots.empty() && m_slots.front().spectra.back() < n)
        m_slots.pop_front();
    m_planned = std::max(m_planned, n);
    Plan();
    const auto inFront = [&] {
        const std::vector<qint32> &spectra = m_slots.front().spectra;
        return std::lower_bound(spectra.begin(), spectra.end(), n) - spectra.begin();
    };
    if (m_slots.empty() || m_slots.front().spectra[size_t(inFront())] != n) {
        lock.unlock();
        return Read(n, m_window);
    }
    // The caller decodes its batch itself when the worker has not begun
    // it, and while the worker decodes it, decodes the next one waiting.
    const quint64 id = m_slots.front().id;
    for (;;) {
        Slot &slot = *Find(id);
        if (slot.state == Slot::State::Done) {
            const size_t i = size_t(inFront());
            SpectrumPoints points = std::move(slot.points[i]);
            slot.doneBytes -= BytesOf(points);
            const std::exception_ptr failure = slot.failures[i];
            if (i + 1 == slot.spectra.size()) {
                m_slots.pop_front();
                m_work.notify_one();
            }
            lock.unlock();
            if (failure)
                std::rethrow_exception(failure);
            return points;
        }
        if (slot.state == Slot::State::Waiting)
            Decode(slot, lock, m_window);
        else if (Slot *next = FirstReady())
            Decode(*next, lock, m_window);
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
            slot = FirstReady();
            return m_stop || slot;
        });
        if (m_stop)
            return;
        Decode(*slot, lock, m_workerWindow);
    }
}

// Adds the spectra expected after the one asked for to batches, each looked
// at once in a pass. A batch still waiting takes more until it is full.
void DecodeAhead::Plan()
{
    const qint32 last = qint32(std::min(qint64(m_index.entries.size()), qint64(m_last) + LookAhead));
    bool ready = false;
    while (m_planned < last) {
        const qint32 n = m_planned + 1;
        const SpectrumEntry entry = m_index.entries[size_t(n) - 1];
        if (!asked(entry.filter) || !GoesAhead(entry)) {
            m_planned = n;
            continue;
        }
        const bool full =
            m_slots.empty() || m_slots.back().state != Slot::State::Waiting || m_slots.back().bytes >= BatchBytes;
        if (full && m_slots.size() >= Depth)
            break;
        if (full) {
            ready = ready || !m_slots.empty();
            m_slots.push_back(Slot{{}, 0, m_nextId++, Slot::State::Waiting, {}, {}});
        }
        m_slots.back().spectra.push_back(n);
        m_slots.back().bytes +=
            std::max(entry.arraysEnd() - entry.arraysStart(), entry.declaredLength() * qint64(2 * sizeof(double)));
        m_planned = n;
    }
    if (ready || (!m_slots.empty() && m_slots.back().bytes >= BatchBytes))
        m_work.notify_one();
}

DecodeAhead::Slot *DecodeAhead::Find(quint64 id)
{
    const auto slot = std::find_if(m_slots.begin(), m_slots.end(), [id](const Slot &s) { return s.id == id; });
    return slot == m_slots.end() ? nullptr : &*slot;
}

// The first batch waiting that takes no more spectra (full, or followed by
// another) if it fits in the allowance; at least one batch is always held.
DecodeAhead::Slot *DecodeAhead::FirstReady()
{
    for (size_t i = 0; i < m_slots.size(); ++i) {
        Slot &slot = m_slots[i];
        if (slot.state == Slot::State::Waiting && (slot.bytes >= BatchBytes || i + 1 < m_slots.size())) {
            const size_t held = HeldBytes();
            return held == 0 || held + size_t(slot.bytes) <= ByteBudget ? &slot : nullptr;
        }
    }
    return nullptr;
}

// Of the batches decoded and not yet taken, and of those being decoded (as planned).
size_t DecodeAhead::HeldBytes() const
{
    size_t bytes = 0;
    for (const Slot &slot : m_slots)
        bytes += slot.state == Slot::State::Decoding ? size_t(slot.bytes) : slot.doneBytes;
    return bytes;
}

// Decodes outside the lock; the slot may be dropped meanwhile, and so is
// then what was decoded for it.
void DecodeAhead::Decode(Slot &slot, std::unique_lock<std::mutex> &lock, FileWindow &window)
{
    slot.state = Slot::State::Decoding;
    const std::vector<qint32> spectra = slot.spectra;
    const quint64 id = slot.id;
    lock.unlock();
    std::vector<SpectrumPoints> points(spectra.size());
    std::vector<std::exception_ptr> failures(spectra.size());
    for (size_t i = 0; i < spectra.size(); ++i) {
        try {
            points[i] = Read(spectra[i], window);
        } catch (...) {
            failures[i] = std::current_exception();
        }
    }
    lock.lock();
    Slot *decoded = Find(id);
    if (!decoded)
        return;
    decoded->state = Slot::State::Done;
    for (const SpectrumPoints &done : points)
        decoded->doneBytes += BytesOf(done);
    decoded->points = std::move(points);
    decoded->failures = std::move(failures);
    m_done.notify_one();
}

// Through the window of the thread that decodes.
SpectrumPoints DecodeAhead::Read(qint32 n, FileWindow &window)
{
    const SpectrumEntry &entry = m_index.entries[size_t(n) - 1];
    qint64 declaredLength = entry.declaredLength();
    if (declaredLength < 0) {
        SharedFileSource source(m_file, m_fileMutex, entry.offset);
        declaredLength = DeclaredLengthAt(source, entry.offset, m_head);
    }
    return DecodeSpectrumPoints(window.bytes(entry.arraysStart(), entry.arraysEnd()), entry.arraysStart(),
                                declaredLength, m_head, entry.places());
}
