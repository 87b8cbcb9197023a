#include "SpectrumScan.h"

#include "MzmlFault.h"

#include <QByteArray>
#include <QByteArrayView>

namespace {

// A window over the file that moves forward only, so memory stays flat.
class ForwardReader
{
public:
    ForwardReader(QFile &file, qint64 from) : m_file(file), m_start(from) { m_file.seek(from); }

    // The offset of needle at or after offset; -1 when the file ends first.
    qint64 find(qint64 offset, QByteArrayView needle)
    {
        for (;;) {
            const qint64 found = m_window.indexOf(needle, qMax<qint64>(0, offset - m_start));
            if (found >= 0)
                return m_start + found;
            // Keep what could be the start of a needle split across reads.
            offset = qMax(offset, m_start + m_window.size() - needle.size() + 1);
            if (!refill(offset))
                return -1;
        }
    }

    // Up to size bytes from offset on; fewer at the end of the file.
    QByteArrayView peek(qint64 offset, qsizetype size)
    {
        if (offset + size > m_start + m_window.size())
            refill(offset);
        const qint64 from = offset - m_start;
        return QByteArrayView(m_window).sliced(from, qMin<qint64>(size, m_window.size() - from));
    }

private:
    static constexpr qint64 WindowSize = 1 << 20;

    // Drops what lies before keepFrom and reads on; false at the end of the file.
    bool refill(qint64 keepFrom)
    {
        const qint64 dropped = qBound<qint64>(0, keepFrom - m_start, m_window.size());
        m_window.remove(0, dropped);
        m_start += dropped;
        const QByteArray more = m_file.read(WindowSize);
        m_window.append(more);
        return !more.isEmpty();
    }

    QFile &m_file;
    QByteArray m_window;
    qint64 m_start = 0; // file offset of m_window[0]
};

bool IsNameEnd(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '>' || c == '/';
}

// The element name of the tag whose "<" stands at the start of tag, prefix dropped.
QByteArrayView TagName(QByteArrayView tag)
{
    qsizetype end = 0;
    while (end < tag.size() && !IsNameEnd(tag[end]))
        ++end;
    QByteArrayView name = tag.first(end);
    const qsizetype colon = name.lastIndexOf(':');
    return colon < 0 ? name : name.sliced(colon + 1);
}

} // namespace

SpectrumOffsets ScanSpectrumOffsets(QFile &file, qint64 from, bool inList)
{
    static const struct {
        QByteArrayView start;
        QByteArrayView end;
    } skipped[] = {{"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
    ForwardReader reader(file, from);
    SpectrumOffsets offsets;
    qint64 offset = from;
    for (;;) {
        const qint64 open = reader.find(offset, "<");
        if (open < 0)
            throw TruncatedDocument();
        const QByteArrayView tag = reader.peek(open, 128);
        offset = open + 1;
        bool wasSkipped = false;
        for (const auto &kind : skipped) {
            if (tag.startsWith(kind.start)) {
                const qint64 end = reader.find(open + kind.start.size(), kind.end);
                if (end < 0)
                    throw TruncatedDocument();
                offset = end + kind.end.size();
                wasSkipped = true;
                break;
            }
        }
        if (wasSkipped)
            continue;
        const bool isEnd = tag.size() > 1 && tag[1] == '/';
        const QByteArrayView name = TagName(tag.sliced(isEnd ? 2 : 1));
        if (!inList)
            inList = !isEnd && name == "spectrumList";
        else if (isEnd && name == "spectrumList")
            return {std::move(offsets.starts), open};
        else if (!isEnd && name == "spectrum")
            offsets.starts.push_back(open);
    }
}
