#include "mzml/DecodeAhead.h"

#include "mzml/MzmlSpectrum.h"
#include "mzml/SpectrumScan.h"

#include <algorithm>

namespace {

// Spectra decoded ahead of the one asked for: enough that the worker seldom
// sleeps while the caller is busy elsewhere (waking it costs more than
// decoding a small spectrum)...
constexpr size_t Depth = 8;
// ...but it starts no spectrum while those waiting for the caller hold this
// many bytes: large spectra are decoded only a little ahead.
constexpr size_t ByteBudget = 4 << 20;
// How many spectra after the one asked for are looked at for the next ones.
constexpr qint32 LookAhead = 256;

size_t BytesOf(const SpectrumPoints &points)
{
    return (points.masses.size() + points.intensities.size()) * sizeof(double);
}

} // namespace

DecodeAhead::DecodeAhead(QFile &file, const MzmlHead &head, const std::vector<SpectrumEntry> &entries)
    : m_file(file), m_head(head), m_entries(entries)
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
    if (n <= m_asked)
        m_filters.clear(); // a new pass
    m_asked = n;
    if (!IsExpected(n))
        m_filters.push_back(m_entries[size_t(n) - 1].filter);
    Plan(n);
    // The caller decodes its spectrum itself when the worker has not begun
    // it, and while the worker decodes it, decodes the next one waiting.
    const Slots::iterator slot = Find(n);
    for (;;) {
        if (slot->state == Slot::State::Done) {
            SpectrumPoints points = std::move(slot->points);
            const std::exception_ptr failure = slot->failure;
            m_slots.erase(slot);
            lock.unlock();
            if (failure)
                std::rethrow_exception(failure);
            return points;
        }
        if (slot->state == Slot::State::Waiting) {
            Decode(*slot, lock);
        } else if (const Slots::iterator next = FirstWaiting(); next != m_slots.end()) {
            Decode(*next, lock);
        } else {
            m_done.wait(lock);
        }
    }
}

void DecodeAhead::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        Slots::iterator slot = m_slots.end();
        m_work.wait(lock, [&] {
            slot = DoneBytes() < ByteBudget ? FirstWaiting() : m_slots.end();
            return m_stop || slot != m_slots.end();
        });
        if (m_stop)
            return;
        Decode(*slot, lock);
    }
}

// Keeps the slot of n and of the spectra expected after it, and only them;
// adds the missing ones.
void DecodeAhead::Plan(qint32 n)
{
    std::vector<qint32> expected{n};
    const qint64 last = std::min(qint64(m_entries.size()), qint64(n) + LookAhead);
    for (qint64 next = qint64(n) + 1; next <= last && expected.size() <= Depth; ++next) {
        if (IsExpected(qint32(next)))
            expected.push_back(qint32(next));
    }
    Slots::iterator slot = m_slots.begin();
    for (const qint32 number : expected) {
        while (slot != m_slots.end() && slot->n < number)
            slot = m_slots.erase(slot);
        if (slot == m_slots.end() || slot->n != number)
            slot = m_slots.insert(slot, Slot{number, m_nextId++, Slot::State::Waiting, {}, {}});
        ++slot;
    }
    m_slots.erase(slot, m_slots.end());
    m_work.notify_one();
}

// Whether the caller may ask for spectrum n in this pass: it has asked for
// one of the same filter text.
bool DecodeAhead::IsExpected(qint32 n) const
{
    const QString &filter = m_entries[size_t(n) - 1].filter;
    return std::find(m_filters.begin(), m_filters.end(), filter) != m_filters.end();
}

DecodeAhead::Slots::iterator DecodeAhead::Find(qint32 n)
{
    return std::find_if(m_slots.begin(), m_slots.end(), [n](const Slot &slot) { return slot.n == n; });
}

DecodeAhead::Slots::iterator DecodeAhead::FirstWaiting()
{
    return std::find_if(m_slots.begin(), m_slots.end(),
                        [](const Slot &slot) { return slot.state == Slot::State::Waiting; });
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
void DecodeAhead::Decode(Slot &slot, std::unique_lock<std::mutex> &lock)
{
    slot.state = Slot::State::Decoding;
    const qint32 n = slot.n;
    const quint64 id = slot.id;
    lock.unlock();
    SpectrumPoints points;
    std::exception_ptr failure;
    try {
        points = Read(n);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    const Slots::iterator decoded =
        std::find_if(m_slots.begin(), m_slots.end(), [id](const Slot &s) { return s.id == id; });
    if (decoded == m_slots.end())
        return;
    decoded->state = Slot::State::Done;
    decoded->points = std::move(points);
    decoded->failure = failure;
    m_done.notify_one();
}

SpectrumPoints DecodeAhead::Read(qint32 n)
{
    const SpectrumEntry &entry = m_entries[size_t(n) - 1];
    QByteArray bytes;
    {
        const std::lock_guard lock(m_fileMutex);
        bytes = ReadSpectrumBytes(m_file, entry.offset, entry.end);
    }
    return DecodeSpectrumPoints(bytes, entry.offset, m_head);
}
