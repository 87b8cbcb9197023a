#include "mzml/FilterTable.h"

#include <QHashFunctions>

namespace {

constexpr qsizetype BlockSize = 1 << 20;

} // namespace

qint32 FilterTable::id(QByteArrayView utf8)
{
    // At most half the slots in use, so that a search ends soon.
    if (m_slots.size() < 2 * (m_places.size() + 1))
        rehash();
    const size_t mask = m_slots.size() - 1;
    for (size_t slot = qHash(utf8, 0) & mask;; slot = (slot + 1) & mask) {
        if (m_slots[slot] < 0)
            return m_slots[slot] = add(utf8);
        if (bytes(m_slots[slot]) == utf8)
            return m_slots[slot];
    }
}

QString FilterTable::text(qint32 id) const
{
    return QString::fromUtf8(bytes(id));
}

QByteArrayView FilterTable::bytes(qint32 id) const
{
    const Place &place = m_places[size_t(id)];
    return QByteArrayView(m_blocks[place.block]).sliced(place.offset, place.size);
}

qint32 FilterTable::add(QByteArrayView utf8)
{
    // A text that does not fit the last block starts another; a long one has
    // a block of its own.
    if (m_blocks.empty() || m_blocks.back().capacity() - m_blocks.back().size() < utf8.size()) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(qMax(BlockSize, utf8.size()));
    }
    QByteArray &block = m_blocks.back();
    m_places.push_back({quint32(m_blocks.size() - 1), quint32(block.size()), quint32(utf8.size())});
    block.append(utf8);
    return qint32(m_places.size() - 1);
}

// Twice the slots: a quarter of them in use, up to half before the next.
void FilterTable::rehash()
{
    m_slots.assign(qMax<size_t>(16, 2 * m_slots.size()), -1);
    const size_t mask = m_slots.size() - 1;
    for (qint32 id = 0; id < size(); ++id) {
        size_t slot = qHash(bytes(id), 0) & mask;
        while (m_slots[slot] >= 0)
            slot = (slot + 1) & mask;
        m_slots[slot] = id;
    }
}
