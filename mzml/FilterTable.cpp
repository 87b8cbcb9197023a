#include "mzml/FilterTable.h"

#include <QHashFunctions>

#include <libdeflate.h>

#include <algorithm>
#include <stdexcept>

namespace {

// The texts kept once: enough for every kind of scan that a method repeats,
// little memory however many distinct texts a run has.
constexpr qsizetype LookupBytes = 1 << 20;
constexpr size_t LookupTexts = 1 << 15;
// A pack is deflated once its texts take this many bytes: enough for
// deflate to find what neighbouring texts share, little to inflate for one.
constexpr qsizetype PackBytes = 4 << 10;
// Enough for millions of texts as instruments write them, and a bound on
// what texts made to fill memory take: two tables in a pass in halves.
constexpr qsizetype PackedBytes = 16 << 20;
// What a pack takes beside its bytes: its entry, the bytes' header and the
// allocator's own.
constexpr qsizetype PackOverhead = 64;
// Fast: a run of distinct texts deflates each of them once.
constexpr int DeflateLevel = 1;

void AppendLength(QByteArray &pack, quint32 size)
{
    for (; size >= 0x80; size >>= 7)
        pack.append(char(0x80 | (size & 0x7f)));
    pack.append(char(size));
}

quint32 TakeLength(const char *&at)
{
    quint32 size = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = quint8(*at++);
        size |= quint32(byte & 0x7f) << shift;
        if (byte < 0x80)
            return size;
    }
}

} // namespace

void FilterTable::FreeDeflate::operator()(libdeflate_compressor *compressor) const
{
    libdeflate_free_compressor(compressor);
}

void FilterTable::FreeDeflate::operator()(libdeflate_decompressor *decompressor) const
{
    libdeflate_free_decompressor(decompressor);
}

FilterTable::FilterTable() = default;
FilterTable::FilterTable(FilterTable &&) noexcept = default;
FilterTable &FilterTable::operator=(FilterTable &&) noexcept = default;
FilterTable::~FilterTable() = default;

qint32 FilterTable::id(QByteArrayView utf8)
{
    // At most half the slots in use, so that a search ends soon.
    if (m_slots.size() < 2 * (m_places.size() + 1))
        rehash();
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = qHash(utf8, 0) & mask;; slot = (slot + 1) & mask) {
        if (m_slots[slot] < 0)
            return looksUp(utf8) ? (m_slots[slot] = add(utf8)) : pack(utf8);
        if (bytes(m_slots[slot]) == utf8)
            return m_slots[slot];
    }
}

QByteArrayView FilterTable::bytes(qint32 id)
{
    if (size_t(id) < m_places.size()) {
        const Place &place = m_places[size_t(id)];
        return QByteArrayView(m_texts).sliced(place.offset, place.size);
    }
    // The first pack that ends after it: m_sealed.size() for the open one.
    const auto pack = size_t(std::upper_bound(m_sealed.begin(), m_sealed.end(), id,
                                              [](qint32 number, const Pack &p) { return number < p.end; })
                             - m_sealed.begin());
    inflate(pack);
    const Place &place = m_inflatedPlaces[size_t(id - firstOf(pack))];
    return QByteArrayView(pack < m_sealed.size() ? m_inflated : m_open).sliced(place.offset, place.size);
}

// Whether a new text is to be looked up by its bytes: once one is not, no
// later one is, and the numbers of the packed texts follow those kept once.
bool FilterTable::looksUp(QByteArrayView utf8) const
{
    return m_size == qint32(m_places.size()) && m_places.size() < LookupTexts
        && m_texts.size() + utf8.size() <= LookupBytes;
}

qint32 FilterTable::add(QByteArrayView utf8)
{
    m_places.push_back({quint32(m_texts.size()), quint32(utf8.size())});
    m_texts.append(utf8);
    return m_size++;
}

// Twice the slots: a quarter of them in use, up to half before the next.
void FilterTable::rehash()
{
    m_slots.assign(qMax<size_t>(16, 2 * m_slots.size()), -1);
    const size_t mask = m_slots.size() - 1;
    for (qint32 id = 0; id < qint32(m_places.size()); ++id) {
        size_t slot = qHash(bytes(id), 0) & mask;
        while (m_slots[slot] >= 0)
            slot = (slot + 1) & mask;
        m_slots[slot] = id;
    }
}

qint32 FilterTable::pack(QByteArrayView utf8)
{
    if (m_sealedBytes >= PackedBytes)
        return Unkept;
    AppendLength(m_open, quint32(utf8.size()));
    m_open.append(utf8);
    // The open pack, when at hand, is at hand no longer: it has one more.
    if (m_inflatedPack == m_sealed.size())
        m_inflatedPack = NoPack;
    const qint32 id = m_size++;
    if (m_open.size() >= PackBytes)
        seal();
    return id;
}

void FilterTable::seal()
{
    if (!m_compressor) {
        m_compressor.reset(libdeflate_alloc_compressor(DeflateLevel));
        if (!m_compressor)
            throw std::bad_alloc();
    }
    std::vector<char> deflated(libdeflate_deflate_compress_bound(m_compressor.get(), size_t(m_open.size())));
    const size_t size = libdeflate_deflate_compress(m_compressor.get(), m_open.constData(), size_t(m_open.size()),
                                                    deflated.data(), deflated.size());
    m_sealed.push_back({m_size, quint32(m_open.size()), QByteArray(deflated.data(), qsizetype(size))});
    m_sealedBytes += qsizetype(size) + PackOverhead;
    m_open.resize(0);
}

qint32 FilterTable::firstOf(size_t pack) const
{
    return pack == 0 ? qint32(m_places.size()) : m_sealed[pack - 1].end;
}

// Makes pack the one whose texts are at hand.
void FilterTable::inflate(size_t pack)
{
    if (pack == m_inflatedPack)
        return;
    const QByteArray *texts = &m_open;
    if (pack < m_sealed.size()) {
        if (!m_decompressor) {
            m_decompressor.reset(libdeflate_alloc_decompressor());
            if (!m_decompressor)
                throw std::bad_alloc();
        }
        const Pack &sealed = m_sealed[pack];
        m_inflated.resize(sealed.size);
        if (libdeflate_deflate_decompress(m_decompressor.get(), sealed.deflated.constData(),
                                          size_t(sealed.deflated.size()), m_inflated.data(), sealed.size, nullptr)
            != LIBDEFLATE_SUCCESS)
            throw std::logic_error("a pack of filter texts does not inflate as it was deflated");
        texts = &m_inflated;
    }
    m_inflatedPlaces.clear();
    for (const char *at = texts->constData(), *end = at + texts->size(); at < end;) {
        const quint32 size = TakeLength(at);
        m_inflatedPlaces.push_back({quint32(at - texts->constData()), size});
        at += size;
    }
    m_inflatedPack = pack;
}
