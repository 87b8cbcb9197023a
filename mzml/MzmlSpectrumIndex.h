#pragma once

#include "mzml/ByteSource.h"
#include "mzml/FilterTable.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlHead.h"
#include "mzml/MzmlSpectrum.h"

#include <QString>

#include <limits>
#include <vector>

// Where a spectrum stands and what the conversion asks of it before its
// points. There is one for every spectrum, and a run of a million spectra
// keeps a million: SpectrumEntries keeps each in 32 bytes. A fault keeps no
// text here: a file of a million spectra in a unit of hours would hold a
// million texts, and one value of megabytes a text as long. StartTimeFault
// and DeclaredLengthAt find the fault again when it is reported.
class SpectrumEntry
{
public:
    qint64 offset = 0;    // of its start tag
    double startTime = 0; // minutes
    qint32 filter = 0;    // the index of its filter text

    // Its defaultArrayLength; -1 when that is at fault, or more than
    // MostDeclaredLength: DeclaredLengthAt then tells which.
    qint64 declaredLength() const { return m_declaredLength == AtFault ? -1 : qint64(m_declaredLength); }
    void setDeclaredLength(qint64 length);
    // Its arrays' markup: from its binaryDataArrayList up to its end tag.
    qint64 arraysStart() const { return offset + m_arraysFrom; }
    qint64 arraysEnd() const { return arraysStart() + m_arraysSize; }
    // Throws MzmlFault for a spectrum beyond 4 GiB, which is none that an
    // instrument writes: one that large would be read into memory whole.
    void setArrays(qint64 start, qint64 end);
    std::optional<ArrayPlaces> places() const;
    void setPlaces(const std::optional<ArrayPlaces> &places);
    bool startTimeFault() const { return m_startTimeFault; }
    void setStartTimeFault(bool fault) { m_startTimeFault = fault; }

private:
    friend class SpectrumEntries;

    static constexpr quint32 AtFault = std::numeric_limits<quint32>::max();
    // An array's place and its encoding in 16 bits: the place in the low 12
    // (MostArrayPlace at most), the encoding above.
    static constexpr int PlaceBits = 12;
    static constexpr quint16 PlaceMask = (1 << PlaceBits) - 1;
    static constexpr quint16 NotDirect = PlaceMask; // as the m/z text's place

    quint32 m_declaredLength = 0;
    quint32 m_arraysFrom = 0; // after offset
    quint32 m_arraysSize = 0;
    quint16 m_masses = NotDirect; // the m/z text's start, see ArrayPlaces
    quint16 m_intensities = 0;    // the gap before the intensity text
    bool m_startTimeFault = false;
};

// The most points that a spectrum may declare: its entry keeps the length
// in 32 bits.
constexpr qint64 MostDeclaredLength = qint64(std::numeric_limits<quint32>::max()) - 1;

// The entries of a document's spectra in document order, in blocks of a
// fixed size: neither a part that grows nor the joining of the halves of a
// pass copies an entry, and no block holds more than a few hundred
// kilobytes. An entry is kept in 32 bytes, its offset counted from its
// block's first entry: a block ends where that would not fit 32 bits.
class SpectrumEntries
{
public:
    size_t size() const { return m_ends.empty() ? 0 : m_ends.back(); }
    SpectrumEntry operator[](size_t i) const;
    void push_back(const SpectrumEntry &entry);
    // Adds the entries read after these.
    void append(SpectrumEntries &&later);
    // Calls renumber with each entry's filter number, in order, which it may change.
    template <typename Renumber>
    void forEachFilter(Renumber &&renumber)
    {
        for (Block &block : m_blocks)
            for (Kept &kept : block.entries)
                renumber(kept.filter);
    }

private:
    static constexpr size_t BlockEntries = 8192;

    struct Kept
    {
        double startTime; // NaN when at fault
        qint32 filter;
        quint32 offset; // from the block's base
        quint32 declaredLength;
        quint32 arraysFrom;
        quint32 arraysSize;
        quint16 masses;
        quint16 intensities;
    };
    static_assert(sizeof(Kept) == 32);

    struct Block
    {
        qint64 base = 0; // the offset of its first entry
        std::vector<Kept> entries;
    };

    std::vector<Block> m_blocks;
    std::vector<size_t> m_ends; // of each block, counted from the first entry
};

// The spectra of a document in document order.
struct SpectrumIndex
{
    SpectrumEntries entries;
    FilterTable filters;

    // Of an entry whose text was kept.
    QString filterOf(const SpectrumEntry &entry) { return filters.text(entry.filter); }
};

// Reads the whole document, whose head is known, from source in one pass:
// every spectrum of the run's list, and every rule of the markup to the
// document's end. Throws MzmlFault; a fault in a spectrum's parameters names
// the spectrum.
SpectrumIndex BuildSpectrumIndex(ByteSource &source, const MzmlHead &head);
// The same on two threads, from two sources: before ends at cut, after
// begins there. Nothing when the halves do not join (see ReadMzmlFirstHalf):
// the document is then to be read in one pass, which finds any fault before
// the cut. The index and the fault are those of the one pass.
std::optional<SpectrumIndex> BuildSpectrumIndexInHalves(ByteSource &before, ByteSource &after, qint64 cut,
                                                        const MzmlHead &head);

// The fault of the start time of the spectrum whose bytes source holds from
// its start tag on, at offset in the document, read again where it stands
// (or what else is wrong there).
MzmlFault StartTimeFault(ByteSource &source, qint64 offset, const MzmlHead &head);
// The filter text of that spectrum, read again where it stands: for an entry
// whose text the index did not keep. Throws the fault of what is wrong there.
QByteArray FilterTextAt(ByteSource &source, qint64 offset, const MzmlHead &head);
// The declared length of that spectrum, read again where it stands: for an
// entry that keeps none. Throws the fault of the length (or of what else is
// wrong there).
qint64 DeclaredLengthAt(ByteSource &source, qint64 offset, const MzmlHead &head);
