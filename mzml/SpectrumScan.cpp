#include "mzml/SpectrumScan.h"

#include "mzml/MarkupLexer.h"
#include "mzml/MzmlFault.h"

#include <functional>
#include <limits>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 ChunkSize = 1 << 20;

// Passes the bytes from `from` up to `to` through lexer, then each piece to
// keep. Returns false when the sink stopped the lexer. Throws MzmlFault when
// the file ends first.
bool LexFile(QFile &file, qint64 from, qint64 to, MarkupLexer &lexer, const MarkupLexer::Sink &sink,
             const std::function<void(QByteArrayView)> &keep = {})
{
    if (!file.seek(from))
        throw MzmlFault{u"the file cannot be read at byte %1"_s.arg(from)};
    QByteArray chunk(qMin(ChunkSize, to - from), Qt::Uninitialized);
    for (qint64 at = from; at < to;) {
        const qint64 read = file.read(chunk.data(), qMin<qint64>(chunk.size(), to - at));
        if (read <= 0)
            throw TruncatedDocument();
        const QByteArrayView piece(chunk.constData(), read);
        if (!lexer.pass(piece, sink))
            return false;
        if (keep)
            keep(piece);
        at += read;
    }
    return true;
}

// Only spectra stand in the spectrum list.
void CheckListElement(const MarkupToken &token)
{
    if (token.name != "spectrum")
        throw MzmlFault{u"the spectrum list holds an element <%1> at byte %2, which is not a spectrum"_s.arg(
            QString::fromUtf8(token.name), QString::number(token.start))};
}

} // namespace

SpectrumOffsets ScanSpectrumOffsets(QFile &file, qint64 from, bool inList)
{
    SpectrumOffsets offsets;
    int listDepth = inList ? 0 : -1; // where the list's elements stand; -1 before the list
    MarkupLexer lexer(from);
    LexFile(file, from, std::numeric_limits<qint64>::max(), lexer, [&](const MarkupToken &token) {
        if (listDepth < 0) {
            if (token.kind == MarkupToken::Kind::StartTag && token.name == "spectrumList")
                listDepth = token.depth + 1;
        } else if (token.kind == MarkupToken::Kind::EndTag && token.depth < listDepth) {
            if (token.name != "spectrumList")
                throw MzmlFault{u"the document is damaged: the end tag </%1> at byte %2 closes the spectrum list"_s.arg(
                    QString::fromUtf8(token.name), QString::number(token.start))};
            offsets.listEnd = token.start;
            return false;
        } else if (token.depth == listDepth && token.opensElement()) {
            CheckListElement(token);
            offsets.starts.push_back(token.start);
        }
        return true;
    });
    return offsets;
}

QByteArray ReadSpectrumBytes(QFile &file, qint64 offset, qint64 end)
{
    const auto indexDisagrees = [](qint64 at) {
        return MzmlFault{u"the file's index disagrees with the spectrum list at byte %1"_s.arg(at)};
    };
    QByteArray bytes;
    qint64 spectrumEnd = -1;
    MarkupLexer lexer(offset);
    const auto sink = [&](const MarkupToken &token) {
        if (spectrumEnd < 0) {
            if (token.depth == 0
                && (token.kind == MarkupToken::Kind::EmptyTag || token.kind == MarkupToken::Kind::EndTag))
                spectrumEnd = token.end;
        } else if (token.isTag()) {
            if (token.opensElement())
                CheckListElement(token);
            throw indexDisagrees(token.start);
        }
        return true;
    };
    LexFile(file, offset, end, lexer, sink, [&](QByteArrayView piece) {
        if (spectrumEnd < 0 || bytes.size() < spectrumEnd - offset)
            bytes.append(piece);
    });
    if (spectrumEnd < 0)
        throw indexDisagrees(end);
    bytes.truncate(spectrumEnd - offset);
    return bytes;
}
