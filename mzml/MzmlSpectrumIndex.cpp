#include "mzml/MzmlSpectrumIndex.h"

#include "mzml/FilterText.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlSpectrum.h"

#include <QScopeGuard>

#include <exception>
#include <thread>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

// What the tags of one spectrum say, up to its arrays.
struct SpectrumTags
{
    SpectrumEntry entry; // where it stands and its declared length
    qint64 arraysStart = 0;
    qint64 arraysEnd = 0;
    std::optional<DirectArrays> direct;
    SpectrumTerms spectrum;
    SpectrumTerms scan; // of the first scan of its last scan list
};

class SpectrumTagReader
{
public:
    // n: the spectrum's number, which a fault of its parameters names.
    SpectrumTagReader(XmlTokenizer &tokenizer, const MzmlHead &head, qint64 n)
        : m_tokenizer(tokenizer), m_head(head), m_n(n)
    {
    }

    // The spectrum on whose start tag the tokenizer stands, up to its end
    // tag; of its arrays, only where they stand.
    SpectrumTags read()
    {
        SpectrumTags tags;
        SpectrumEntry &entry = tags.entry;
        entry.offset = m_tokenizer.current().start;
        entry.setDeclaredLength(ValidLength(m_tokenizer, "defaultArrayLength").value_or(-1));
        bool arraysBegun = false;
        tags.arraysStart = tags.arraysEnd = m_tokenizer.current().end;
        ReadChildren(m_tokenizer, [&](const XmlToken &child) {
            if (arraysBegun) {
                // A second list: its arrays add to the first's.
                if (child.name == "binaryDataArrayList")
                    tags.direct.reset();
                return;
            }
            if (child.name == "binaryDataArrayList") {
                arraysBegun = true;
                tags.arraysStart = child.start;
                tags.direct = ReadDirectArrays(m_tokenizer, m_head.groups, child.start, entry.declaredLength());
            } else if (child.name == "scanList") {
                tags.scan = readScanList();
            } else {
                addParam(tags.spectrum);
            }
        });
        if (m_tokenizer.current().kind == XmlToken::Kind::EndTag) {
            tags.arraysEnd = m_tokenizer.current().start;
            if (!arraysBegun)
                tags.arraysStart = tags.arraysEnd;
        }
        return tags;
    }

private:
    SpectrumTerms readScanList()
    {
        SpectrumTerms terms;
        bool scanSeen = false;
        ReadChildren(m_tokenizer, [&](const XmlToken &child) {
            if (child.name != "scan" || scanSeen)
                return;
            scanSeen = true;
            ReadChildren(m_tokenizer, [&](const XmlToken &) { addParam(terms); });
        });
        return terms;
    }

    // A fault of the markup names its byte; one of a parameter, the spectrum.
    void addParam(SpectrumTerms &terms)
    {
        try {
            ReadParam(m_tokenizer, m_head.groups, terms, &ParamGroup::spectrum);
        } catch (MzmlFault &fault) {
            fault.spectrum = m_n;
            throw;
        }
    }

    XmlTokenizer &m_tokenizer;
    const MzmlHead &m_head;
    qint64 m_n;
};

class IndexBuilder
{
public:
    void add(XmlTokenizer &tokenizer, const MzmlHead &head)
    {
        const qint64 n = qint64(m_index.entries.size()) + 1;
        SpectrumTags tags = SpectrumTagReader(tokenizer, head, n).read();
        SpectrumEntry &entry = tags.entry;
        try {
            entry.setArrays(tags.arraysStart, tags.arraysEnd);
        } catch (MzmlFault &fault) {
            fault.spectrum = n;
            throw;
        }
        entry.setPlaces(tags.direct ? PlacesOf(*tags.direct) : std::nullopt);
        entry.filter = m_index.filters.id(FilterText(tags.spectrum, tags.scan));
        const std::optional<double> startTime = ValidStartTime(tags.scan.startTime);
        entry.startTime = startTime.value_or(0);
        entry.setStartTimeFault(!startTime);
        m_index.entries.push_back(entry);
    }

    SpectrumIndex take() { return std::move(m_index); }
    qint64 count() const { return qint64(m_index.entries.size()); }

    // Adds the spectra that another builder read after these.
    void append(IndexBuilder &&later)
    {
        later.m_index.entries.forEachFilter(
            [&](qint32 &filter) { filter = m_index.filters.idOf(later.m_index.filters, filter); });
        m_index.entries.append(std::move(later.m_index.entries));
    }

private:
    SpectrumIndex m_index;
};

} // namespace

SpectrumEntry SpectrumEntries::operator[](size_t i) const
{
    const size_t index = size_t(std::upper_bound(m_ends.begin(), m_ends.end(), i) - m_ends.begin());
    const Block &block = m_blocks[index];
    const Kept &kept = block.entries[i - (index == 0 ? 0 : m_ends[index - 1])];
    SpectrumEntry entry;
    entry.offset = block.base + kept.offset;
    entry.m_startTimeFault = std::isnan(kept.startTime);
    entry.startTime = entry.m_startTimeFault ? 0 : kept.startTime;
    entry.filter = kept.filter;
    entry.m_declaredLength = kept.declaredLength;
    entry.m_arraysFrom = kept.arraysFrom;
    entry.m_arraysSize = kept.arraysSize;
    entry.m_masses = kept.masses;
    entry.m_intensities = kept.intensities;
    return entry;
}

void SpectrumEntries::push_back(const SpectrumEntry &entry)
{
    if (m_blocks.empty() || m_blocks.back().entries.size() == BlockEntries
        || entry.offset - m_blocks.back().base > qint64(std::numeric_limits<quint32>::max())) {
        m_blocks.push_back({entry.offset, {}});
        m_blocks.back().entries.reserve(BlockEntries);
        m_ends.push_back(size());
    }
    Block &block = m_blocks.back();
    block.entries.push_back({entry.m_startTimeFault ? std::numeric_limits<double>::quiet_NaN() : entry.startTime,
                             entry.filter, quint32(entry.offset - block.base), entry.m_declaredLength,
                             entry.m_arraysFrom, entry.m_arraysSize, entry.m_masses, entry.m_intensities});
    ++m_ends.back();
}

void SpectrumEntries::append(SpectrumEntries &&later)
{
    for (Block &block : later.m_blocks) {
        m_blocks.push_back(std::move(block));
        m_ends.push_back(size() + m_blocks.back().entries.size());
    }
    later = {};
}

void SpectrumEntry::setDeclaredLength(qint64 length)
{
    m_declaredLength = length < 0 || length > MostDeclaredLength ? AtFault : quint32(length);
}

void SpectrumEntry::setArrays(qint64 start, qint64 end)
{
    constexpr qint64 Most = std::numeric_limits<quint32>::max();
    if (start - offset > Most || end - start > Most)
        throw MzmlFault{u"its markup takes more than 4 GiB, more than this reader reads of one spectrum"_s};
    m_arraysFrom = quint32(start - offset);
    m_arraysSize = quint32(end - start);
}

namespace {

// An encoding in four bits: the precision, zlib, then numpress above them.
quint16 Packed(const ArrayEncoding &encoding)
{
    return quint16(encoding.precision == Precision::Float64) | quint16(encoding.zlib) << 1
         | quint16(encoding.numpress) << 2;
}

ArrayEncoding Unpacked(quint16 packed)
{
    return {packed & 1 ? Precision::Float64 : Precision::Float32, (packed & 2) != 0, Numpress(packed >> 2)};
}

} // namespace

std::optional<ArrayPlaces> SpectrumEntry::places() const
{
    if ((m_masses & PlaceMask) == NotDirect)
        return std::nullopt;
    return ArrayPlaces{quint16(m_masses & PlaceMask), quint16(m_intensities & PlaceMask),
                       Unpacked(m_masses >> PlaceBits), Unpacked(m_intensities >> PlaceBits)};
}

void SpectrumEntry::setPlaces(const std::optional<ArrayPlaces> &places)
{
    static_assert(MostArrayPlace < NotDirect);
    if (!places) {
        m_masses = NotDirect;
        m_intensities = 0;
        return;
    }
    Q_ASSERT(places->massesStart <= MostArrayPlace && places->gap <= MostArrayPlace);
    m_masses = quint16(places->massesStart | Packed(places->massEncoding) << PlaceBits);
    m_intensities = quint16(places->gap | Packed(places->intensityEncoding) << PlaceBits);
}

SpectrumIndex BuildSpectrumIndex(ByteSource &source, const MzmlHead &head)
{
    IndexBuilder builder;
    ReadMzml(source, head, [&](XmlTokenizer &tokenizer, const MzmlHead &known) { builder.add(tokenizer, known); });
    return builder.take();
}

std::optional<SpectrumIndex> BuildSpectrumIndexInHalves(ByteSource &before, ByteSource &after, qint64 cut,
                                                        const MzmlHead &head)
{
    IndexBuilder second;
    std::exception_ptr secondFailure;
    std::thread thread([&] {
        try {
            ReadMzmlSecondHalf(after, cut, head,
                               [&](XmlTokenizer &tokenizer, const MzmlHead &known) { second.add(tokenizer, known); });
        } catch (...) {
            secondFailure = std::current_exception();
        }
    });
    const auto joinThread = qScopeGuard([&] {
        if (thread.joinable())
            thread.join();
    });
    IndexBuilder first;
    if (!ReadMzmlFirstHalf(before, head,
                           [&](XmlTokenizer &tokenizer, const MzmlHead &known) { first.add(tokenizer, known); }))
        return std::nullopt;
    thread.join();
    if (secondFailure) {
        try {
            std::rethrow_exception(secondFailure);
        } catch (MzmlFault &fault) {
            // Its spectra are counted from the cut.
            if (fault.spectrum != 0)
                fault.spectrum += first.count();
            throw;
        }
    }
    first.append(std::move(second));
    return first.take();
}

namespace {

// What read makes of the spectrum whose start tag stands at offset, read
// again from there; the document changed when no spectrum begins there.
template <typename Read>
auto ReadSpectrumAgain(ByteSource &source, qint64 offset, const MzmlHead &head, Read &&read)
{
    XmlTokenizer tokenizer(source, offset, XmlTokenizer::Scope::Content, head.textEncoding);
    const XmlToken &tag = tokenizer.next();
    if (!tag.opensElement() || tag.name != "spectrum")
        throw DocumentChanged();
    return read(tokenizer);
}

} // namespace

MzmlFault StartTimeFault(ByteSource &source, qint64 offset, const MzmlHead &head)
{
    try {
        ReadSpectrumAgain(source, offset, head, [&](XmlTokenizer &tokenizer) {
            StartTimeInMinutes(SpectrumTagReader(tokenizer, head, 0).read().scan.startTime);
        });
    } catch (const MzmlFault &found) {
        return found;
    }
    return DocumentChanged();
}

QByteArray FilterTextAt(ByteSource &source, qint64 offset, const MzmlHead &head)
{
    return ReadSpectrumAgain(source, offset, head, [&](XmlTokenizer &tokenizer) {
        const SpectrumTags tags = SpectrumTagReader(tokenizer, head, 0).read();
        return FilterText(tags.spectrum, tags.scan);
    });
}

qint64 DeclaredLengthAt(ByteSource &source, qint64 offset, const MzmlHead &head)
{
    return ReadSpectrumAgain(source, offset, head,
                             [](XmlTokenizer &tokenizer) { return DeclaredLength(tokenizer, "defaultArrayLength"); });
}
