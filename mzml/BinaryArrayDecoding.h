#pragma once

// The binary arrays of an mzML spectrum: how they are encoded, and their
// decoding from base64 text into numbers.

#include "mzml/MzmlParams.h"

#include <QByteArrayView>
#include <QString>

#include <vector>

enum class Precision { Float32, Float64 };
enum class Numpress { None, Linear, Pic, Slof };

struct ArrayEncoding
{
    Precision precision = Precision::Float64;
    bool zlib = false;
    Numpress numpress = Numpress::None;
};

// The encoding that the array's parameters name. arrayName ("m/z array")
// words the faults: a missing or unknown data type or compression, named by
// its accession.
ArrayEncoding EncodingOfArray(const ParamSet &params, const QString &arrayName);

// Decodes base64 text into exactly declaredLength numbers, or throws
// MzmlFault. Memory is taken only as the data prove it: a declared length
// alone allocates nothing, and compressed data may not inflate beyond what
// the declared length allows.
std::vector<double> DecodeBinaryArray(QByteArrayView base64, const ArrayEncoding &encoding, qint64 declaredLength,
                                      const QString &arrayName);
