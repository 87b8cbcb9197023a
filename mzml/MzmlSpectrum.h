#pragma once

// One spectrum of an mzML document: its start time and its points.

#include "convert/RawFileAccess.h"
#include "mzml/BinaryArrayDecoding.h"
#include "mzml/MzmlHead.h"
#include "mzml/XmlTokenizer.h"

#include <QByteArrayView>

#include <optional>

// The arrays' names, as faults word them.
extern const QString MassArray;
extern const QString IntensityArray;

// Where the base64 text of one array stands among the bytes of its
// spectrum's arrays.
struct ArrayText
{
    quint32 start = 0;
    quint32 size = 0;
};

// A spectrum's two arrays as the pass over the document found them, so that
// their points decode without reading the markup again. Found only for the
// usual spectrum: one list of arrays, one array of each kind, each array's
// text one run of bytes, every term and length as the spectrum declares it.
struct DirectArrays
{
    ArrayText masses;
    ArrayText intensities;
    ArrayEncoding massEncoding;
    ArrayEncoding intensityEncoding;
};

// The farthest an array's place may be (see ArrayPlaces): a few hundred
// bytes in an export, kept in 12 bits by the index.
constexpr qint64 MostArrayPlace = 4094;

// Where a spectrum's direct arrays stand, in few bytes, for the index that
// keeps them for every spectrum: the m/z array's text from its start among
// the arrays' bytes, then the markup up to the intensity array's text, each
// at most MostArrayPlace. Each text runs up to its "</binary>", where it is
// found again.
struct ArrayPlaces
{
    quint16 massesStart = 0;
    quint16 gap = 0;
    ArrayEncoding massEncoding;
    ArrayEncoding intensityEncoding;
};

// The places of the direct arrays; nothing unless the m/z array comes first
// and both are within MostArrayPlace.
std::optional<ArrayPlaces> PlacesOf(const DirectArrays &direct);
// Where the text that begins at start among the bytes ends: at its
// "</binary>"; -1 when no such end tag is the first markup after it.
qsizetype ArrayTextEnd(QByteArrayView bytes, qsizetype start);

// Reads the binaryDataArrayList on whose start tag the tokenizer stands,
// whose arrays' bytes begin at arraysStart, for a spectrum of the declared
// length: its arrays when they can be decoded directly. Throws MzmlFault only
// for a fault of the markup: a fault of an array waits for its decoding.
std::optional<DirectArrays> ReadDirectArrays(XmlTokenizer &tokenizer, const ParamGroups &groups, qint64 arraysStart,
                                             qint64 declaredLength);

// The length that the attribute of the tag on which the tokenizer stands
// declares. Throws MzmlFault when the tag has none or it is not a length.
qint64 DeclaredLength(const XmlTokenizer &tokenizer, QByteArrayView attribute);
// The same without a fault: nothing where DeclaredLength would throw.
std::optional<qint64> ValidLength(const XmlTokenizer &tokenizer, QByteArrayView attribute);

// The points of a spectrum from the bytes of its arrays (from its
// binaryDataArrayList up to its end tag), which begin at offset in the
// document; declaredLength is the spectrum's defaultArrayLength. Decodes
// the direct arrays at their places when given, and reads the markup only
// where they fail, for the fault's words. Touches no file: threads may
// decode different spectra at once. Throws MzmlFault without a spectrum
// number.
SpectrumPoints DecodeSpectrumPoints(QByteArrayView arrays, qint64 offset, qint64 declaredLength, const MzmlHead &head,
                                    const std::optional<ArrayPlaces> &places = std::nullopt);

// The scan start time of the cvParam on whose tag the tokenizer stands.
StartTimeTerm StartTimeOfParam(const XmlTokenizer &tokenizer);
// The start time in minutes; 0 without one. Throws MzmlFault for a value
// that is not a number, and for a unit other than minutes, seconds or
// milliseconds, naming its accession.
double StartTimeInMinutes(const std::optional<StartTimeTerm> &startTime);
// The same without a fault: nothing where StartTimeInMinutes would throw.
std::optional<double> ValidStartTime(const std::optional<StartTimeTerm> &startTime);
