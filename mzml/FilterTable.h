#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

// The distinct filter texts of an acquisition, each kept once, by number. An
// acquisition repeats a few texts; one that gives each spectrum its own
// stays small all the same: the texts are kept as their UTF-8 bytes in
// blocks, and a text becomes a QString only when it is asked for.
class FilterTable
{
public:
    // The number of the text, which is added when it is new.
    qint32 id(QByteArrayView utf8);
    QString text(qint32 id) const;
    QByteArrayView bytes(qint32 id) const;
    qint32 size() const { return qint32(m_places.size()); }

private:
    struct Place
    {
        quint32 block;
        quint32 offset;
        quint32 size;
    };

    qint32 add(QByteArrayView utf8);
    void rehash();

    std::vector<QByteArray> m_blocks; // filled up to their capacity, never moved
    std::vector<Place> m_places;      // by number
    std::vector<qint32> m_slots;      // open addressing by hash: a number, or -1
};
