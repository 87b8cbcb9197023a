#include "tests/mzml/HalvesReading.h"

#include "mzml/MzmlSpectrumIndex.h"

#include <QStringList>

#include <cstring>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

// The document's bytes from an offset on.
class Bytes : public ByteSource
{
public:
    Bytes(const QByteArray &bytes, qint64 from) : m_bytes(bytes), m_at(from) {}
    qint64 read(char *data, qint64 size) override
    {
        // Small pieces, so that the halves meet the ends of their windows.
        const qint64 piece = std::min<qint64>({size, m_bytes.size() - m_at, 4096});
        std::memcpy(data, m_bytes.constData() + m_at, size_t(piece));
        m_at += piece;
        return piece;
    }
    qint64 end() const override { return m_bytes.size(); }

private:
    const QByteArray &m_bytes;
    qint64 m_at;
};

QString Described(const ArrayEncoding &encoding)
{
    return u"%1/%2/%3"_s.arg(int(encoding.precision)).arg(encoding.zlib).arg(int(encoding.numpress));
}

} // namespace

QString Described(const SpectrumEntry &entry)
{
    const std::optional<ArrayPlaces> places = entry.places();
    return u"%1 %2 %3 %4 %5 %6-%7 %8"_s.arg(entry.offset)
        .arg(entry.declaredLength())
        .arg(entry.startTime, 0, 'a')
        .arg(entry.startTimeFault())
        .arg(entry.filter)
        .arg(entry.arraysStart())
        .arg(entry.arraysEnd())
        .arg(places ? u"%1+%2 %3 %4"_s.arg(places->massesStart)
                          .arg(places->gap)
                          .arg(Described(places->massEncoding))
                          .arg(Described(places->intensityEncoding))
                    : u"-"_s);
}

namespace {

// Everything that the index says, a line a spectrum, or the fault.
QString Described(const std::function<SpectrumIndex()> &pass)
{
    try {
        SpectrumIndex index = pass();
        QStringList lines;
        for (size_t i = 0; i < index.entries.size(); ++i) {
            const SpectrumEntry entry = index.entries[i];
            const QString filter = entry.filter == FilterTable::Unkept ? u"read again"_s : index.filterOf(entry);
            lines << Described(entry) + u" ["_s + filter + u']';
        }
        return lines.join(u'\n');
    } catch (const MzmlFault &fault) {
        return u"fault in spectrum %1: %2"_s.arg(fault.spectrum).arg(fault.what);
    }
}

} // namespace

QString DisagreementOfHalves(const QByteArray &document, qint64 cut, bool *joined)
{
    if (joined)
        *joined = false;
    MzmlHead head;
    try {
        Bytes bytes(document, 0);
        head = ReadMzml(bytes);
    } catch (const MzmlFault &) {
        return {}; // not read at all: nothing to halve
    }
    std::optional<SpectrumIndex> halves;
    const QString inHalves = Described([&] {
        Bytes whole(document, 0);
        CutSource before(whole, cut);
        Bytes after(document, cut);
        halves = BuildSpectrumIndexInHalves(before, after, cut, head);
        return halves ? std::move(*halves) : SpectrumIndex{};
    });
    if (!halves && !inHalves.startsWith(u"fault"_s))
        return {};
    if (joined)
        *joined = true;
    const QString inOne = Described([&] {
        Bytes whole(document, 0);
        return BuildSpectrumIndex(whole, head);
    });
    if (inHalves == inOne)
        return {};
    return u"cut at byte %1, read in two halves:\n%2\n... and in one pass:\n%3"_s.arg(cut).arg(inHalves.left(2000),
                                                                                               inOne.left(2000));
}
