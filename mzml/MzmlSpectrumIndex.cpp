#include "mzml/MzmlSpectrumIndex.h"

#include "mzml/FileFragment.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlSpectrum.h"
#include "mzml/SpectrumScan.h"

#include <QSet>

#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

struct IndexedOffset
{
    QString id;
    qint64 offset = 0;
};

// The offset that <indexListOffset> near the end of the file gives; -1 without one.
qint64 IndexListOffset(QFile &file)
{
    const qint64 tailSize = qMin<qint64>(file.size(), 4096);
    if (!file.seek(file.size() - tailSize))
        return -1;
    const QByteArray tail = file.read(tailSize);
    const QByteArray open = "<indexListOffset>";
    const qsizetype start = tail.lastIndexOf(open);
    const qsizetype end = tail.indexOf("</indexListOffset>", start);
    if (start < 0 || end < 0)
        return -1;
    bool ok = false;
    const qint64 offset = tail.mid(start + open.size(), end - start - open.size()).trimmed().toLongLong(&ok);
    return ok && offset >= 0 && offset < file.size() ? offset : -1;
}

// The spectrum offsets of the file's own index, in its order; nothing when
// the file has none or it cannot be read.
std::optional<std::vector<IndexedOffset>> ReadFileIndex(QFile &file, const MzmlHead &head)
{
    const qint64 listOffset = IndexListOffset(file);
    if (listOffset < 0)
        return std::nullopt;
    FileFragment fragment(file, listOffset, XmlDeclaration(head.encoding));
    QXmlStreamReader reader(&fragment);
    reader.setNamespaceProcessing(false);
    if (!reader.readNextStartElement() || LocalName(reader) != u"indexList")
        return std::nullopt;
    std::vector<IndexedOffset> offsets;
    while (reader.readNextStartElement()) {
        if (LocalName(reader) != u"index" || reader.attributes().value(u"name"_s) != u"spectrum") {
            reader.skipCurrentElement();
            continue;
        }
        while (reader.readNextStartElement()) {
            const QString id = reader.attributes().value(u"idRef"_s).toString();
            bool ok = false;
            const qint64 offset = reader.readElementText().trimmed().toLongLong(&ok);
            if (!ok)
                return std::nullopt;
            offsets.push_back({id, offset});
        }
    }
    if (reader.hasError())
        return std::nullopt;
    return offsets;
}

// The entries under construction; equal filter texts share one copy, as an
// acquisition repeats a few filters over and over.
struct Entries
{
    std::vector<SpectrumEntry> list;
    QSet<QString> filters;
};

void AppendEntry(Entries &entries, qint64 offset, const SpectrumHead &spectrum)
{
    SpectrumEntry entry{offset, 0, *entries.filters.insert(spectrum.filter), 0, {}};
    try {
        entry.startTime = StartTimeInMinutes(spectrum.startTime);
    } catch (const MzmlFault &fault) {
        entry.startTimeFault = fault.what;
    }
    entries.list.push_back(std::move(entry));
}

// Each spectrum ends where the next begins; the last where the list ends.
std::vector<SpectrumEntry> WithEnds(Entries &entries, qint64 listEnd)
{
    std::vector<SpectrumEntry> &list = entries.list;
    for (size_t i = 0; i < list.size(); ++i)
        list[i].end = i + 1 < list.size() ? list[i + 1].offset : listEnd;
    return std::move(list);
}

// The entries of an index that agrees with the document: in ascending order,
// each offset the start of the spectrum with that id and position, and the
// list closing after the last. Nothing for an index that lies or leaves out
// spectra at the end; one that leaves out spectra in between is caught when
// their neighbour's points are read.
std::optional<std::vector<SpectrumEntry>> EntriesOfFileIndex(QFile &file, const MzmlHead &head)
{
    const std::optional<std::vector<IndexedOffset>> offsets = ReadFileIndex(file, head);
    if (!offsets || offsets->empty())
        return std::nullopt;
    Entries entries;
    entries.list.reserve(offsets->size());
    qint64 previous = -1;
    for (const IndexedOffset &indexed : *offsets) {
        if (indexed.offset <= previous || indexed.offset >= file.size())
            return std::nullopt;
        previous = indexed.offset;
        SpectrumHead spectrum;
        try {
            spectrum = ReadSpectrumHead(file, indexed.offset, head);
        } catch (const MzmlFault &) {
            return std::nullopt;
        }
        if (spectrum.id != indexed.id || spectrum.index != QString::number(entries.list.size()))
            return std::nullopt;
        AppendEntry(entries, indexed.offset, spectrum);
    }
    try {
        const SpectrumOffsets rest = ScanSpectrumOffsets(file, entries.list.back().offset, true);
        if (rest.starts.size() != 1)
            return std::nullopt;
        return WithEnds(entries, rest.listEnd);
    } catch (const MzmlFault &) {
        return std::nullopt;
    }
}

std::vector<SpectrumEntry> EntriesOfScan(QFile &file, const MzmlHead &head)
{
    const SpectrumOffsets offsets = ScanSpectrumOffsets(file);
    Entries entries;
    for (const qint64 offset : offsets.starts) {
        try {
            AppendEntry(entries, offset, ReadSpectrumHead(file, offset, head));
        } catch (MzmlFault &fault) {
            fault.spectrum = qint64(entries.list.size()) + 1;
            throw;
        }
    }
    return WithEnds(entries, offsets.listEnd);
}

} // namespace

std::vector<SpectrumEntry> BuildSpectrumIndex(QFile &file, const MzmlHead &head)
{
    if (!head.hasSpectra)
        return {};
    if (std::optional<std::vector<SpectrumEntry>> entries = EntriesOfFileIndex(file, head))
        return std::move(*entries);
    return EntriesOfScan(file, head);
}
