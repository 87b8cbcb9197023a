#include "tests/mzml/PiecesReading.h"

#include "mzml/ByteSource.h"
#include "mzml/MzmlFault.h"
#include "mzml/XmlTokenizer.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

// Hands out the document in pieces of random size.
class Pieces : public ByteSource
{
public:
    Pieces(const QByteArray &bytes, int largest, quint32 seed) : m_bytes(bytes), m_largest(largest), m_random(seed) {}
    qint64 read(char *data, qint64 size) override
    {
        const qint64 piece = std::min<qint64>({size, m_bytes.size() - m_at, m_random.bounded(1, m_largest + 1)});
        std::memcpy(data, m_bytes.constData() + m_at, size_t(piece));
        m_at += piece;
        return piece;
    }

private:
    const QByteArray &m_bytes;
    int m_largest;
    QRandomGenerator m_random;
    qint64 m_at = 0;
};

} // namespace

QStringList TokensInPieces(const QByteArray &document, int largestPiece, quint32 seed)
{
    QStringList seen;
    Pieces pieces(document, largestPiece, seed);
    try {
        XmlTokenizer tokenizer(pieces, 0, XmlTokenizer::Scope::Document);
        for (const XmlToken *token = &tokenizer.next(); token->kind != XmlToken::Kind::End; token = &tokenizer.next()) {
            QString attributes;
            for (const XmlAttribute &attribute : tokenizer.attributes())
                attributes += u' ' + QString::fromUtf8(attribute.name) + u'=' + tokenizer.value(attribute.value);
            seen << u"%1 %2-%3 %4 %5%6"_s.arg(int(token->kind))
                        .arg(token->start)
                        .arg(token->end)
                        .arg(token->depth)
                        .arg(QString::fromUtf8(token->name), attributes);
        }
    } catch (const MzmlFault &fault) {
        seen << fault.what;
    }
    return seen;
}

QString DisagreementOfPieces(const QByteArray &document)
{
    const QStringList whole = TokensInPieces(document, int(std::max<qsizetype>(document.size(), 1)), 0);
    for (const int largestPiece : {1, 3, 17, 300}) {
        const QStringList pieces = TokensInPieces(document, largestPiece, quint32(largestPiece));
        if (pieces != whole) {
            const auto differs = std::mismatch(whole.begin(), whole.end(), pieces.begin(), pieces.end());
            return u"read whole: %1\n... in pieces of up to %2 bytes: %3"_s.arg(
                differs.first == whole.end() ? u"(no more)"_s : *differs.first, QString::number(largestPiece),
                differs.second == pieces.end() ? u"(no more)"_s : *differs.second);
        }
    }
    return {};
}
