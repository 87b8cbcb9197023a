#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <vector>

struct libdeflate_compressor;
struct libdeflate_decompressor;

// The filter texts of an acquisition, by number. A method repeats a few
// texts, and each is kept once, as its UTF-8 bytes. A run can also give most
// spectra a text of their own (an MS2 scan's names its precursor): once the
// texts kept once fill a fixed allowance, every new text takes a number of
// its own and is kept deflated in a pack with its neighbours, about 6 bytes
// a text, and inflated again when it is asked for. The packs too have an
// allowance, which only texts made to fill memory reach: a new text beyond
// it is not kept at all, and is read again where it stands. Not for two
// threads at once: reading a text may inflate its pack.
class FilterTable
{
public:
    // The number of a text not kept.
    static constexpr qint32 Unkept = -1;

    FilterTable();
    FilterTable(FilterTable &&) noexcept;
    FilterTable &operator=(FilterTable &&) noexcept;
    ~FilterTable();

    // The number of the text, which is added when it is new; or Unkept.
    qint32 id(QByteArrayView utf8);
    // The number here of the text numbered id in other, as id gives it; Unkept
    // stays Unkept.
    qint32 idOf(FilterTable &other, qint32 id) { return id == Unkept ? Unkept : this->id(other.bytes(id)); }
    // Of a number id gave, not Unkept. Valid until the table is used again.
    QByteArrayView bytes(qint32 id);
    QString text(qint32 id) { return QString::fromUtf8(bytes(id)); }
    qint32 size() const { return m_size; }

private:
    struct Place
    {
        quint32 offset;
        quint32 size;
    };
    struct Pack
    {
        qint32 end;   // the number after its last text
        quint32 size; // inflated
        QByteArray deflated;
    };
    struct FreeDeflate
    {
        void operator()(libdeflate_compressor *compressor) const;
        void operator()(libdeflate_decompressor *decompressor) const;
    };

    bool looksUp(QByteArrayView utf8) const;
    qint32 add(QByteArrayView utf8);
    void rehash();
    qint32 pack(QByteArrayView utf8);
    void seal();
    qint32 firstOf(size_t pack) const;
    void inflate(size_t pack);

    // The texts kept once, looked up by their bytes: numbers 0 to
    // m_places.size() - 1.
    QByteArray m_texts;
    std::vector<Place> m_places;
    std::vector<qint32> m_slots; // open addressing by hash: a number, or -1

    // The texts after those, each a length and its bytes, in packs.
    std::vector<Pack> m_sealed;
    qsizetype m_sealedBytes = 0; // deflated
    QByteArray m_open;           // the pack still taking texts
    qint32 m_size = 0;
    std::unique_ptr<libdeflate_compressor, FreeDeflate> m_compressor;
    std::unique_ptr<libdeflate_decompressor, FreeDeflate> m_decompressor;

    // The pack last read (m_sealed.size() for the open one), or NoPack, and
    // where its texts stand in it.
    static constexpr size_t NoPack = size_t(-1);
    size_t m_inflatedPack = NoPack;
    QByteArray m_inflated;
    std::vector<Place> m_inflatedPlaces;
};
