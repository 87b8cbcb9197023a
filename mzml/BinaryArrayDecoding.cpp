#include "mzml/BinaryArrayDecoding.h"

#include "mzml/Base64Decoder.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlParams.h"

#include <QtEndian>

#include <libdeflate.h>
#include <libmsnumpress/MSNumpress.hpp>

#include <algorithm>
#include <limits>
#include <memory>

using namespace Qt::Literals::StringLiterals;
namespace numpress = ms::numpress::MSNumpress;

namespace {

struct Term
{
    QByteArrayView accession;
    const char16_t *name;
};

// Terms of the vocabulary that an array may carry but that are not decoded
// here; naming them gives a clearer fault than "no data type".
constexpr Term UnsupportedDataTypes[] = {
    {"MS:1000519", u"32-bit integer"},
    {"MS:1000522", u"64-bit integer"},
    {"MS:1001479", u"null-terminated ASCII string"},
};

// The numpress decoders may look a few bytes past the end of a damaged
// stream; this many zero bytes after the data keep them inside the buffer.
constexpr size_t ReadSlack = 16;

bool ApplyCompression(int accession, ArrayTerms &terms)
{
    static constexpr struct
    {
        int accession;
        bool zlib;
        Numpress numpress;
    } compressions[] = {
        {1000576, false, Numpress::None}, {1000574, true, Numpress::None},  {1002312, false, Numpress::Linear},
        {1002313, false, Numpress::Pic},  {1002314, false, Numpress::Slof}, {1002746, true, Numpress::Linear},
        {1002747, true, Numpress::Pic},   {1002748, true, Numpress::Slof},
    };
    for (const auto &compression : compressions) {
        if (accession == compression.accession) {
            terms.zlib = terms.zlib || compression.zlib;
            if (terms.numpress == Numpress::None)
                terms.numpress = compression.numpress;
            terms.compressed = true;
            return true;
        }
    }
    return false;
}

// Adds the cvParam of the accession; name makes its name, only when it is asked for.
template <typename MakeName>
void AddTerm(ArrayTerms &terms, QByteArrayView accession, MakeName &&name)
{
    const int number = AccessionNumber(accession);
    terms.masses = terms.masses || number == 1000514;
    terms.intensities = terms.intensities || number == 1000515;
    if (number == 1000521 || number == 1000523) {
        if (!terms.precision)
            terms.precision = number == 1000521 ? Precision::Float32 : Precision::Float64;
        return;
    }
    if (ApplyCompression(number, terms))
        return;
    const QString text = name();
    if (text.contains(u"compression"_s, Qt::CaseInsensitive)) {
        if (terms.unknownCompression.isEmpty())
            terms.unknownCompression = u"%1 (%2)"_s.arg(ShownValue(QString::fromUtf8(accession)), ShownValue(text));
        return;
    }
    for (const Term &type : UnsupportedDataTypes)
        if (accession == type.accession && terms.unsupportedDataType.isEmpty())
            terms.unsupportedDataType =
                u"%1 (%2)"_s.arg(QLatin1StringView(type.accession), QString::fromUtf16(type.name));
}

// One decompressor for each thread that decodes: it is costly to set up.
libdeflate_decompressor &Decompressor(const QString &arrayName)
{
    static thread_local const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor *)>
        decompressor(libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
    if (!decompressor)
        throw ArrayFault(arrayName, u"cannot be inflated: out of memory"_s);
    return *decompressor;
}

// The most bytes that deflate makes of one byte of zlib data: a match of
// 258 bytes costs it two bits at the least.
constexpr size_t DeflateRatio = 1032;

// Inflates the zlib stream into the size bytes at output, and no further:
// a stream that would give more fails there. Returns the bytes it gave.
size_t InflateInto(const std::vector<unsigned char> &input, unsigned char *output, size_t size,
                   const QString &arrayName)
{
    size_t produced = 0;
    const libdeflate_result result =
        libdeflate_zlib_decompress(&Decompressor(arrayName), input.data(), input.size(), output, size, &produced);
    if (result == LIBDEFLATE_INSUFFICIENT_SPACE)
        throw InflatesBeyondDeclared(arrayName);
    if (result != LIBDEFLATE_SUCCESS)
        throw DamagedZlibStream(arrayName);
    return produced;
}

// Inflates the zlib stream into at most size bytes, the exact size of what
// is declared.
std::vector<unsigned char> InflateExactly(const std::vector<unsigned char> &input, size_t size,
                                          const QString &arrayName)
{
    std::vector<unsigned char> output(size);
    output.resize(InflateInto(input, output.data(), size, arrayName));
    return output;
}

// Inflates 64-bit floats in the machine's byte order straight into the
// values: a large array is held once, not as bytes and then as numbers.
std::vector<double> InflateDoubles(const std::vector<unsigned char> &input, qint64 declaredLength,
                                   const QString &arrayName)
{
    std::vector<double> values(static_cast<size_t>(declaredLength));
    const size_t size = values.size() * sizeof(double);
    const size_t produced = InflateInto(input, reinterpret_cast<unsigned char *>(values.data()), size, arrayName);
    if (produced % sizeof(double) != 0)
        throw NotWholeValues(arrayName, produced, sizeof(double));
    values.resize(produced / sizeof(double));
    return values;
}

// Inflates a zlib stream whose size is not known, up to the limit. The
// buffer starts no larger than the input's size bears out and grows only
// when the data fill it.
std::vector<unsigned char> Inflate(const std::vector<unsigned char> &input, size_t limit, const QString &arrayName)
{
    // One byte beyond the limit tells a stream that is too long from one that fills it.
    const size_t ceiling = limit + 1;
    size_t capacity = std::min(ceiling, std::max<size_t>(4096, input.size() * 4));
    std::vector<unsigned char> output;
    for (;;) {
        output.resize(capacity);
        size_t produced = 0;
        const libdeflate_result result = libdeflate_zlib_decompress(&Decompressor(arrayName), input.data(),
                                                                    input.size(), output.data(), capacity, &produced);
        if (result == LIBDEFLATE_SUCCESS) {
            output.resize(produced);
            return output;
        }
        if (result != LIBDEFLATE_INSUFFICIENT_SPACE)
            throw DamagedZlibStream(arrayName);
        if (capacity == ceiling)
            throw InflatesBeyondDeclared(arrayName);
        // The data filled the buffer: they bear out twice as much.
        capacity = capacity > ceiling / 2 ? ceiling : capacity * 2;
    }
}

std::vector<double> DecodeNumpress(Numpress kind, const std::vector<unsigned char> &bytes, size_t size,
                                   const QString &arrayName)
{
    if (size == 0)
        return {};
    const size_t payload = size >= 8 ? size - 8 : 0;
    const size_t capacity = kind == Numpress::Linear ? payload * 2 : kind == Numpress::Pic ? size * 2 : payload / 2;
    std::vector<double> values(capacity + 8);
    size_t count = 0;
    try {
        switch (kind) {
        case Numpress::Linear: count = numpress::decodeLinear(bytes.data(), size, values.data()); break;
        case Numpress::Pic: count = numpress::decodePic(bytes.data(), size, values.data()); break;
        case Numpress::Slof: count = numpress::decodeSlof(bytes.data(), size, values.data()); break;
        case Numpress::None: break;
        }
    } catch (...) {
        // The library reports damage by throwing a C string.
        count = std::numeric_limits<size_t>::max();
    }
    if (count > capacity)
        throw ArrayFault(arrayName, u"holds a damaged numpress stream"_s);
    values.resize(count);
    return values;
}

template <typename Float>
std::vector<double> DecodeFloats(const unsigned char *bytes, size_t size, const QString &arrayName)
{
    if (size % sizeof(Float) != 0)
        throw NotWholeValues(arrayName, size, sizeof(Float));
    std::vector<double> values(size / sizeof(Float));
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = qFromLittleEndian<Float>(bytes + i * sizeof(Float));
    return values;
}

// The values, when there are as many as declared.
std::vector<double> CheckedLength(std::vector<double> values, qint64 declaredLength, const QString &arrayName)
{
    if (qint64(values.size()) != declaredLength)
        throw WrongValueCount(arrayName, values.size(), declaredLength);
    return values;
}

} // namespace

MzmlFault ArrayFault(const QString &arrayName, const QString &what)
{
    return MzmlFault{u"the %1 %2"_s.arg(arrayName, what)};
}

MzmlFault NotBase64(const QString &arrayName)
{
    return ArrayFault(arrayName, u"is not valid base64"_s);
}

MzmlFault InflatesBeyondDeclared(const QString &arrayName)
{
    return ArrayFault(arrayName, u"inflates beyond its declared length"_s);
}

MzmlFault DamagedZlibStream(const QString &arrayName)
{
    return ArrayFault(arrayName, u"holds a damaged zlib stream"_s);
}

MzmlFault NotWholeValues(const QString &arrayName, size_t bytes, size_t valueBytes)
{
    return ArrayFault(arrayName,
                      u"holds %1 bytes, which is not a whole number of %2-bit values"_s.arg(bytes).arg(valueBytes * 8));
}

MzmlFault WrongValueCount(const QString &arrayName, size_t count, qint64 declaredLength)
{
    return ArrayFault(arrayName, u"holds %1 values where the spectrum declares %2"_s.arg(count).arg(declaredLength));
}

size_t ValueBytes(const ArrayEncoding &encoding)
{
    return encoding.numpress != Numpress::None ? 5 : encoding.precision == Precision::Float32 ? 4 : 8;
}

size_t DeclaredBytes(const ArrayEncoding &encoding, qint64 declaredLength)
{
    return std::min(size_t(declaredLength), std::numeric_limits<size_t>::max() / 16) * ValueBytes(encoding);
}

// A numpress value takes half a byte at the least.
void RefuseLengthBeyondData(size_t compressed, const ArrayEncoding &encoding, qint64 declaredLength,
                            const QString &arrayName)
{
    const quint64 most = (quint64(compressed) + 1) * DeflateRatio;
    const quint64 declared = quint64(declaredLength);
    const bool borne =
        encoding.numpress != Numpress::None ? declared / 2 <= most : declared <= most / ValueBytes(encoding);
    if (!borne)
        throw ArrayFault(arrayName,
                         u"is damaged: its %1 bytes of zlib data cannot hold the %2 values declared"_s.arg(compressed)
                             .arg(declaredLength));
}

void ArrayTerms::addCvParam(const XmlTokenizer &tokenizer)
{
    QByteArray resolved;
    AddTerm(*this, AttributeBytes(tokenizer, "accession", resolved), [&] { return tokenizer.attributeValue("name"); });
}

void ArrayTerms::add(const ArrayTerms &group)
{
    masses = masses || group.masses;
    intensities = intensities || group.intensities;
    if (!precision)
        precision = group.precision;
    compressed = compressed || group.compressed;
    zlib = zlib || group.zlib;
    if (numpress == Numpress::None)
        numpress = group.numpress;
    if (unknownCompression.isEmpty())
        unknownCompression = group.unknownCompression;
    if (unsupportedDataType.isEmpty())
        unsupportedDataType = group.unsupportedDataType;
}

ArrayEncoding EncodingOfArray(const ArrayTerms &terms, const QString &arrayName)
{
    if (!terms.unknownCompression.isEmpty())
        throw ArrayFault(arrayName,
                         u"uses the compression %1, which this reader does not decode"_s.arg(terms.unknownCompression));
    // Numpress gives numbers of its own, whatever data type the array names.
    if (!terms.unsupportedDataType.isEmpty() && terms.numpress == Numpress::None)
        throw ArrayFault(
            arrayName, u"holds values of type %1, which this reader does not decode"_s.arg(terms.unsupportedDataType));
    if (!terms.compressed)
        throw ArrayFault(arrayName, u"names no compression (MS:1000576 for none, MS:1000574 for zlib, "
                                    u"or a numpress term)"_s);
    if (!terms.precision && terms.numpress == Numpress::None)
        throw ArrayFault(arrayName, u"names no binary data type (MS:1000521 or MS:1000523)"_s);
    return {terms.precision.value_or(Precision::Float64), terms.zlib, terms.numpress};
}

std::vector<double> DecodeBinaryArray(QByteArrayView base64, const ArrayEncoding &encoding, qint64 declaredLength,
                                      const QString &arrayName)
{
    std::vector<unsigned char> bytes;
    if (!DecodeBase64(base64, bytes))
        throw NotBase64(arrayName);
    if (encoding.zlib && !bytes.empty()) {
        RefuseLengthBeyondData(bytes.size(), encoding, declaredLength, arrayName);
        if (encoding.numpress != Numpress::None) {
            // The 16 bytes of a numpress header, and what the values take at most.
            bytes = Inflate(bytes, 16 + DeclaredBytes(encoding, declaredLength), arrayName);
        } else if (encoding.precision == Precision::Float64 && Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
            return CheckedLength(InflateDoubles(bytes, declaredLength, arrayName), declaredLength, arrayName);
        } else {
            bytes = InflateExactly(bytes, DeclaredBytes(encoding, declaredLength), arrayName);
        }
    }
    const size_t size = bytes.size();
    std::vector<double> values;
    if (encoding.numpress != Numpress::None) {
        bytes.resize(size + ReadSlack, 0);
        values = DecodeNumpress(encoding.numpress, bytes, size, arrayName);
    } else if (encoding.precision == Precision::Float32) {
        values = DecodeFloats<float>(bytes.data(), size, arrayName);
    } else {
        values = DecodeFloats<double>(bytes.data(), size, arrayName);
    }
    return CheckedLength(std::move(values), declaredLength, arrayName);
}
