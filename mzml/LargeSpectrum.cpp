#include "mzml/LargeSpectrum.h"

#include "mzml/Base64Decoder.h"
#include "mzml/FileWindow.h"
#include "mzml/IsalInflate.h"
#include "mzml/MzmlFault.h"

#include <QtEndian>

#include <algorithm>

namespace {

// The base64 text read at a time, and the bytes inflated at a time.
constexpr qint64 TextPiece = qint64(1) << 20;
constexpr size_t InflatePiece = size_t(1) << 16;

// The bytes that an array's base64 text stands for, decoded a piece of the
// text at a time.
class DecodedText
{
public:
    DecodedText(QFile &file, std::mutex &mutex, const ArrayInFile &array)
        : m_file(file), m_mutex(mutex), m_at(array.start), m_end(array.start + array.size), m_name(array.name)
    {
    }

    // The next bytes in place of out's; none once the text is through.
    // Throws the fault of a text that is not base64.
    void next(std::vector<unsigned char> &out)
    {
        out.clear();
        while (out.empty() && !m_through) {
            if (m_at == m_end) {
                m_through = true;
                if (!m_base64.finish(out))
                    throw NotBase64(m_name);
                return;
            }
            const qint64 to = std::min(m_end, m_at + TextPiece);
            const QByteArray text = ReadRange(m_file, m_mutex, m_at, to);
            m_at = to;
            if (!m_base64.add(text, out))
                throw NotBase64(m_name);
        }
    }

private:
    QFile &m_file;
    std::mutex &m_mutex;
    qint64 m_at;
    qint64 m_end;
    const QString &m_name;
    Base64Stream m_base64;
    bool m_through = false;
};

// A zlib stream inflated as its bytes come.
class Inflater
{
public:
    explicit Inflater(const QString &name) : m_name(name), m_state(NewInflateState(ISAL_ZLIB)) {}

    // The next bytes of the stream; they must stay until it has taken them.
    void input(const std::vector<unsigned char> &bytes)
    {
        m_state->next_in = const_cast<unsigned char *>(bytes.data());
        m_state->avail_in = quint32(bytes.size());
    }
    // Only once it left room in the output: until then it may hold inflated
    // bytes of what it took, even with no input left.
    bool needsInput() const { return m_state->avail_in == 0 && !m_ended && m_leftRoom; }
    bool ended() const { return m_ended; }

    // Inflates into the size bytes at out; returns how many it gave. The
    // bytes after the stream's end are not read, as a whole inflation does not.
    size_t output(unsigned char *out, size_t size)
    {
        m_state->next_out = out;
        m_state->avail_out = quint32(size);
        const int result = isal_inflate(m_state.get());
        if (IsDamagedStream(result))
            throw DamagedZlibStream(m_name);
        m_ended = m_state->block_state == ISAL_BLOCK_FINISH;
        m_leftRoom = m_state->avail_out > 0;
        return size - m_state->avail_out;
    }

private:
    const QString &m_name;
    std::unique_ptr<inflate_state> m_state;
    bool m_ended = false;
    bool m_leftRoom = true;
};

} // namespace

// The bytes of an array: its text decoded and, when it names zlib and holds
// any bytes, inflated.
class ArrayBytes
{
public:
    ArrayBytes(QFile &file, std::mutex &mutex, const ArrayInFile &array)
        : m_text(file, mutex, array), m_zlib(array.encoding.zlib), m_name(array.name)
    {
    }

    // Up to size more bytes into out; fewer only where the array ends.
    // Throws the faults of its base64 and of its zlib stream.
    size_t read(unsigned char *out, size_t size)
    {
        size_t given = 0;
        while (given < size) {
            if (m_taken == m_piece.size() && (!m_inflater || m_inflater->needsInput()) && !nextPiece())
                break;
            if (m_inflater) {
                if (m_inflater->ended())
                    break;
                given += m_inflater->output(out + given, size - given);
            } else {
                const size_t count = std::min(size - given, m_piece.size() - m_taken);
                std::copy_n(m_piece.data() + m_taken, count, out + given);
                m_taken += count;
                given += count;
            }
        }
        return given;
    }

private:
    // False once the text is through; a zlib stream must have ended by then.
    bool nextPiece()
    {
        m_text.next(m_piece);
        m_taken = 0;
        if (m_piece.empty()) {
            if (m_inflater && !m_inflater->ended())
                throw DamagedZlibStream(m_name);
            return false;
        }
        if (m_zlib && !m_inflater)
            m_inflater = std::make_unique<Inflater>(m_name);
        if (m_inflater) {
            m_inflater->input(m_piece);
            m_taken = m_piece.size();
        }
        return true;
    }

    DecodedText m_text;
    bool m_zlib;
    const QString &m_name;
    std::vector<unsigned char> m_piece; // decoded text
    size_t m_taken = 0;                 // of m_piece
    std::unique_ptr<Inflater> m_inflater;
};

ArrayValueReader::ArrayValueReader(QFile &file, std::mutex &mutex, const ArrayInFile &array)
    : m_bytes(std::make_unique<ArrayBytes>(file, mutex, array)), m_valueBytes(ValueBytes(array.encoding))
{
}

ArrayValueReader::~ArrayValueReader() = default;

void ArrayValueReader::read(std::vector<double> &out, size_t count)
{
    m_buffer.resize(count * m_valueBytes);
    if (m_bytes->read(m_buffer.data(), m_buffer.size()) < m_buffer.size())
        throw DocumentChanged();
    out.resize(count);
    const unsigned char *bytes = m_buffer.data();
    for (size_t i = 0; i < count; ++i)
        out[i] = m_valueBytes == sizeof(float) ? double(qFromLittleEndian<float>(bytes + i * sizeof(float)))
                                               : qFromLittleEndian<double>(bytes + i * sizeof(double));
}

namespace {

// The bytes that the array's zlib stream inflates to, up to one byte beyond
// what is declared, which tells a stream that is too long.
size_t InflatedSize(QFile &file, std::mutex &mutex, const ArrayInFile &array, qint64 declaredLength)
{
    const size_t limit = DeclaredBytes(array.encoding, declaredLength);
    size_t bytes = 0;
    try {
        ArrayBytes inflated(file, mutex, array);
        std::vector<unsigned char> scratch(InflatePiece);
        for (size_t given = 1; given > 0 && bytes <= limit;) {
            given = inflated.read(scratch.data(), std::min(scratch.size(), limit + 1 - bytes));
            bytes += given;
        }
    } catch (const MzmlFault &damaged) {
        // Inflating it whole reads a stream cut short as if zeros followed,
        // and may find it too long instead: its fault is worded as that
        // finds it, holding the array once, as decoding it whole always did.
        DecodeBinaryArray(ReadRange(file, mutex, array.start, array.start + array.size), array.encoding, declaredLength,
                          array.name);
        throw damaged;
    }
    if (bytes > limit)
        throw InflatesBeyondDeclared(array.name);
    return bytes;
}

} // namespace

void CheckArrayInFile(QFile &file, std::mutex &mutex, const ArrayInFile &array, qint64 declaredLength)
{
    // The text first: decoding the array whole finds a fault of its base64
    // before anything else.
    size_t decoded = 0;
    {
        DecodedText text(file, mutex, array);
        std::vector<unsigned char> piece;
        do {
            text.next(piece);
            decoded += piece.size();
        } while (!piece.empty());
    }
    size_t bytes = decoded;
    if (array.encoding.zlib && decoded > 0) {
        RefuseLengthBeyondData(decoded, array.encoding, declaredLength, array.name);
        bytes = InflatedSize(file, mutex, array, declaredLength);
    }
    const size_t valueBytes = ValueBytes(array.encoding);
    if (bytes % valueBytes != 0)
        throw NotWholeValues(array.name, bytes, valueBytes);
    if (qint64(bytes / valueBytes) != declaredLength)
        throw WrongValueCount(array.name, bytes / valueBytes, declaredLength);
}

bool DecodesInPieces(qint64 declaredLength, const std::optional<ArrayPlaces> &places)
{
    return declaredLength > LargeSpectrumPoints && places && places->massEncoding.numpress == Numpress::None
        && places->intensityEncoding.numpress == Numpress::None;
}

namespace {

// Where the array text that begins at from in the file ends, before limit:
// see ArrayTextEnd. Each piece read takes the first bytes of the next too,
// enough to tell an end tag that begins in it.
qint64 TextEndInFile(QFile &file, std::mutex &mutex, qint64 from, qint64 limit)
{
    constexpr qint64 EndTagRoom = 16;
    for (qint64 at = from; at < limit; at += TextPiece) {
        const QByteArray text = ReadRange(file, mutex, at, std::min(limit, at + TextPiece + EndTagRoom));
        const qsizetype markup = QByteArrayView(text).first(std::min(text.size(), TextPiece)).indexOf('<');
        if (markup >= 0)
            return ArrayTextEnd(text, markup) == markup ? at + markup : -1;
    }
    return -1;
}

} // namespace

bool DecodeSpectrumInPieces(QFile &file, std::mutex &mutex, qint64 arraysStart, qint64 arraysEnd, qint64 declaredLength,
                            const ArrayPlaces &places, const std::function<void(SpectrumPoints &)> &piece)
{
    const qint64 massesStart = arraysStart + places.massesStart;
    const qint64 massesEnd = TextEndInFile(file, mutex, massesStart, arraysEnd);
    const qint64 intensitiesStart = massesEnd + places.gap;
    const qint64 intensitiesEnd = massesEnd < 0 ? -1 : TextEndInFile(file, mutex, intensitiesStart, arraysEnd);
    if (intensitiesEnd < 0)
        return false;
    const ArrayInFile masses{massesStart, massesEnd - massesStart, places.massEncoding, MassArray};
    const ArrayInFile intensities{intensitiesStart, intensitiesEnd - intensitiesStart, places.intensityEncoding,
                                  IntensityArray};
    CheckArrayInFile(file, mutex, masses, declaredLength);
    CheckArrayInFile(file, mutex, intensities, declaredLength);
    ArrayValueReader massValues(file, mutex, masses);
    ArrayValueReader intensityValues(file, mutex, intensities);
    SpectrumPoints points;
    for (qint64 done = 0; done < declaredLength;) {
        const size_t count = size_t(std::min<qint64>(qint64(PiecePoints), declaredLength - done));
        massValues.read(points.masses, count);
        intensityValues.read(points.intensities, count);
        piece(points);
        done += qint64(count);
    }
    return true;
}
