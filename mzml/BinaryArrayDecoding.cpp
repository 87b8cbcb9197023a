#include "BinaryArrayDecoding.h"

#include "Base64Decoder.h"
#include "MzmlFault.h"

#include <QtEndian>

#include <libmsnumpress/MSNumpress.hpp>
#include <zlib.h>

#include <algorithm>
#include <limits>

using namespace Qt::Literals::StringLiterals;
namespace numpress = ms::numpress::MSNumpress;

namespace {

struct Term
{
    const char16_t *accession;
    const char16_t *name;
};

// Terms of the vocabulary that an array may carry but that are not decoded
// here; naming them gives a clearer fault than "no data type".
constexpr Term UnsupportedDataTypes[] = {
    {u"MS:1000519", u"32-bit integer"},
    {u"MS:1000522", u"64-bit integer"},
    {u"MS:1001479", u"null-terminated ASCII string"},
};

// The numpress decoders may look a few bytes past the end of a damaged
// stream; this many zero bytes after the data keep them inside the buffer.
constexpr size_t ReadSlack = 16;

MzmlFault ArrayFault(const QString &arrayName, const QString &what)
{
    return MzmlFault{u"the %1 %2"_s.arg(arrayName, what)};
}

bool ApplyCompression(const CvParam &param, ArrayEncoding &encoding)
{
    static const struct {
        const char16_t *accession;
        bool zlib;
        Numpress numpress;
    } compressions[] = {
        {u"MS:1000576", false, Numpress::None},    {u"MS:1000574", true, Numpress::None},
        {u"MS:1002312", false, Numpress::Linear},  {u"MS:1002313", false, Numpress::Pic},
        {u"MS:1002314", false, Numpress::Slof},    {u"MS:1002746", true, Numpress::Linear},
        {u"MS:1002747", true, Numpress::Pic},      {u"MS:1002748", true, Numpress::Slof},
    };
    for (const auto &compression : compressions) {
        if (param.accession == QStringView(compression.accession)) {
            encoding.zlib = encoding.zlib || compression.zlib;
            if (compression.numpress != Numpress::None)
                encoding.numpress = compression.numpress;
            return true;
        }
    }
    return false;
}

std::vector<unsigned char> Inflate(const std::vector<unsigned char> &input, size_t limit, const QString &arrayName)
{
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        throw ArrayFault(arrayName, u"cannot be inflated: out of memory"_s);
    stream.next_in = const_cast<Bytef *>(input.data());
    stream.avail_in = uInt(input.size());
    // One byte beyond the limit tells a stream that is too long from one that fills it.
    const size_t capacity = limit + 1;
    std::vector<unsigned char> output(std::min(capacity, std::max<size_t>(4096, input.size() * 4)));
    int result = Z_OK;
    while (result != Z_STREAM_END) {
        if (stream.total_out == output.size()) {
            if (output.size() == capacity)
                break;
            output.resize(std::min(capacity, output.size() * 2));
        }
        stream.next_out = output.data() + stream.total_out;
        stream.avail_out = uInt(std::min<size_t>(output.size() - stream.total_out,
                                                 std::numeric_limits<uInt>::max()));
        result = inflate(&stream, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END)
            break;
    }
    const size_t produced = stream.total_out;
    inflateEnd(&stream);
    if (produced > limit)
        throw ArrayFault(arrayName, u"inflates beyond its declared length"_s);
    if (result != Z_STREAM_END)
        throw ArrayFault(arrayName, u"holds a damaged zlib stream"_s);
    output.resize(produced);
    return output;
}

std::vector<double> DecodeNumpress(Numpress kind, const std::vector<unsigned char> &bytes, size_t size,
                                   const QString &arrayName)
{
    if (size == 0)
        return {};
    const size_t payload = size >= 8 ? size - 8 : 0;
    const size_t capacity = kind == Numpress::Linear ? payload * 2
                          : kind == Numpress::Pic    ? size * 2
                                                     : payload / 2;
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
        throw ArrayFault(arrayName, u"holds %1 bytes, which is not a whole number of %2-bit values"_s
                                        .arg(size)
                                        .arg(sizeof(Float) * 8));
    std::vector<double> values(size / sizeof(Float));
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = qFromLittleEndian<Float>(bytes + i * sizeof(Float));
    return values;
}

// The most bytes that declaredLength values may take in the encoding.
size_t ByteLimit(const ArrayEncoding &encoding, qint64 declaredLength)
{
    const size_t perValue = encoding.numpress != Numpress::None    ? 5
                          : encoding.precision == Precision::Float32 ? 4
                                                                     : 8;
    const size_t ceiling = std::numeric_limits<size_t>::max() / 8;
    return size_t(declaredLength) > ceiling ? ceiling : 16 + size_t(declaredLength) * perValue;
}

} // namespace

ArrayEncoding EncodingOfArray(const ParamSet &params, const QString &arrayName)
{
    ArrayEncoding encoding;
    bool hasPrecision = false;
    bool hasCompression = false;
    const Term *unsupportedType = nullptr;
    for (const CvParam &param : params.cvParams) {
        if (param.accession == u"MS:1000521" || param.accession == u"MS:1000523") {
            encoding.precision = param.accession == u"MS:1000521" ? Precision::Float32 : Precision::Float64;
            hasPrecision = true;
        } else if (ApplyCompression(param, encoding)) {
            hasCompression = true;
        } else if (param.name.contains(u"compression"_s, Qt::CaseInsensitive)) {
            throw ArrayFault(arrayName, u"uses the compression %1 (%2), which this reader does not decode"_s
                                            .arg(param.accession, param.name));
        } else {
            for (const Term &term : UnsupportedDataTypes)
                if (param.accession == QStringView(term.accession))
                    unsupportedType = &term;
        }
    }
    // Numpress gives numbers of its own, whatever data type the array names.
    if (unsupportedType && encoding.numpress == Numpress::None)
        throw ArrayFault(arrayName, u"holds values of type %1 (%2), which this reader does not decode"_s.arg(
                                        QString::fromUtf16(unsupportedType->accession),
                                        QString::fromUtf16(unsupportedType->name)));
    if (!hasCompression)
        throw ArrayFault(arrayName, u"names no compression (MS:1000576 for none, MS:1000574 for zlib, "
                                    u"or a numpress term)"_s);
    if (!hasPrecision && encoding.numpress == Numpress::None)
        throw ArrayFault(arrayName, u"names no binary data type (MS:1000521 or MS:1000523)"_s);
    return encoding;
}

std::vector<double> DecodeBinaryArray(QByteArrayView base64, const ArrayEncoding &encoding, qint64 declaredLength,
                                      const QString &arrayName)
{
    std::vector<unsigned char> bytes;
    if (!DecodeBase64(base64, bytes))
        throw ArrayFault(arrayName, u"is not valid base64"_s);
    if (encoding.zlib && !bytes.empty())
        bytes = Inflate(bytes, ByteLimit(encoding, declaredLength), arrayName);
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
    if (qint64(values.size()) != declaredLength)
        throw ArrayFault(arrayName, u"holds %1 values where the spectrum declares %2"_s.arg(values.size()).arg(declaredLength));
    return values;
}
