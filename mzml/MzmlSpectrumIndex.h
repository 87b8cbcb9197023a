#pragma once

#include "mzml/ByteSource.h"
#include "mzml/FilterTable.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlHead.h"
#include "mzml/MzmlSpectrum.h"

#include <QString>

#include <deque>
#include <vector>

// Where a spectrum stands and what the conversion asks of it before its
// points. Packed: there is one for every spectrum. A fault keeps no text
// here: a file of a million spectra in a unit of hours would hold a million
// texts, and one value of megabytes a text as long. SpectrumEntryFault finds
// the fault again when it is reported.
class SpectrumEntry
{
public:
    qint64 offset = 0;         // of its start tag
    qint64 declaredLength = 0; // defaultArrayLength; -1 when that is at fault
    double startTime = 0;      // minutes
    qint32 filter = 0;         // the index of its filter text

    // Its arrays' markup: from its binaryDataArrayList up to its end tag.
    qint64 arraysStart() const { return offset + m_arraysFrom; }
    qint64 arraysEnd() const { return arraysStart() + m_arraysSize; }
    // Throws MzmlFault for a spectrum beyond 4 GiB, which is none that an
    // instrument writes: one that large would be read into memory whole.
    void setArrays(qint64 start, qint64 end);
    std::optional<DirectArrays> direct() const;
    void setDirect(const std::optional<DirectArrays> &direct);

private:
    quint32 m_arraysFrom = 0; // after offset
    quint32 m_arraysSize = 0;
    ArrayText m_masses;
    ArrayText m_intensities;
    quint8 m_massEncoding = 0; // packed; see setDirect
    quint8 m_intensityEncoding = 0;
    bool m_direct = false;

public:
    bool startTimeFault = false; // its start time is at fault; last, where it takes no room of its own
};
static_assert(sizeof(SpectrumEntry) <= 56);

// The entries of a document's spectra in document order, kept in the parts
// that were read apart (the halves of a pass), each in blocks: neither a
// part that grows nor the joining of two copies an entry.
class SpectrumEntries
{
public:
    size_t size() const { return m_ends.empty() ? 0 : m_ends.back(); }
    const SpectrumEntry &operator[](size_t i) const;
    void push_back(const SpectrumEntry &entry);
    // Adds the parts of entries read after these.
    void append(SpectrumEntries &&later);
    // Calls visit with each entry, in order.
    template <typename Visit>
    void forEach(Visit &&visit)
    {
        for (std::deque<SpectrumEntry> &part : m_parts)
            for (SpectrumEntry &entry : part)
                visit(entry);
    }

private:
    std::vector<std::deque<SpectrumEntry>> m_parts;
    std::vector<size_t> m_ends; // of each part, counted from the first entry
};

// The spectra of a document in document order.
struct SpectrumIndex
{
    SpectrumEntries entries;
    FilterTable filters;

    QString filterOf(const SpectrumEntry &entry) const { return filters.text(entry.filter); }
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

// What an entry stands for in place of a value.
enum class EntryFault { DeclaredLength, StartTime };

// The fault of the spectrum whose bytes source holds from its start tag on,
// at offset in the document: what its declared length or its start time is
// instead, read again where it stands (or what else is wrong there).
MzmlFault SpectrumEntryFault(ByteSource &source, qint64 offset, const MzmlHead &head, EntryFault fault);
