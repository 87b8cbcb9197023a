#pragma once

// The binary arrays of an mzML spectrum: how they are encoded, and their
// decoding from base64 text into numbers.

#include "mzml/MzmlFault.h"
#include "mzml/XmlTokenizer.h"

#include <QByteArrayView>
#include <QString>

#include <optional>
#include <vector>

// One byte each: the index of a large run keeps two encodings per spectrum.
enum class Precision : quint8 { Float32, Float64 };
enum class Numpress : quint8 { None, Linear, Pic, Slof };

struct ArrayEncoding
{
    Precision precision = Precision::Float64;
    bool zlib = false;
    Numpress numpress = Numpress::None;
};

// What a binaryDataArray's cvParams say of it: its kind and its encoding.
// The first term of each kind counts, as elsewhere, so that the terms of a
// group, derived once, add up with the array's own in any order; the
// parameters themselves are not kept.
struct ArrayTerms
{
    bool masses = false;      // MS:1000514, m/z array
    bool intensities = false; // MS:1000515, intensity array
    std::optional<Precision> precision;
    bool compressed = false; // a compression is named
    bool zlib = false;
    Numpress numpress = Numpress::None;
    QString unknownCompression;  // the first compression not decoded: its accession and name
    QString unsupportedDataType; // the first data type not decoded: its accession and name

    // Adds the cvParam on whose tag the tokenizer stands.
    void addCvParam(const XmlTokenizer &tokenizer);
    void addUserParam(const XmlTokenizer &) {}
    // Adds the terms of a group.
    void add(const ArrayTerms &group);
};

// The encoding that the array's terms name. arrayName ("m/z array") words
// the faults: a missing or unknown data type or compression, named by its
// accession.
ArrayEncoding EncodingOfArray(const ArrayTerms &terms, const QString &arrayName);

// Decodes base64 text into exactly declaredLength numbers, or throws
// MzmlFault. Memory is taken only as the data prove it: a declared length
// alone allocates nothing, a zlib stream is refused before it is inflated
// when its bytes cannot give the declared values at deflate's largest
// ratio, and none inflates beyond what the declared length allows.
std::vector<double> DecodeBinaryArray(QByteArrayView base64, const ArrayEncoding &encoding, qint64 declaredLength,
                                      const QString &arrayName);

// The faults of an array's decoding, in the words of every way of decoding
// it: "the m/z array ...".
MzmlFault ArrayFault(const QString &arrayName, const QString &what);
MzmlFault NotBase64(const QString &arrayName);
MzmlFault InflatesBeyondDeclared(const QString &arrayName);
MzmlFault DamagedZlibStream(const QString &arrayName);
MzmlFault NotWholeValues(const QString &arrayName, size_t bytes, size_t valueBytes);
MzmlFault WrongValueCount(const QString &arrayName, size_t count, qint64 declaredLength);

// The bytes of one value: for numpress 5 at most, otherwise the width of
// the data type.
size_t ValueBytes(const ArrayEncoding &encoding);
// The bytes that declaredLength values take at most. Absurd lengths are
// cut to what a size_t holds with room to spare.
size_t DeclaredBytes(const ArrayEncoding &encoding, qint64 declaredLength);
// Refuses, before anything is inflated, an array whose declared values
// take more bytes than its compressed bytes can give at deflate's largest
// ratio: the document is damaged, and believing it would inflate a stream
// made to fill the memory.
void RefuseLengthBeyondData(size_t compressed, const ArrayEncoding &encoding, qint64 declaredLength,
                            const QString &arrayName);
