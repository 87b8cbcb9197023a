#pragma once

// One spectrum of an mzML document: its start time and its points.

#include "convert/RawFileAccess.h"
#include "mzml/MzmlHead.h"
#include "mzml/XmlTokenizer.h"

#include <QByteArrayView>

#include <optional>

// The length that the attribute of the tag on which the tokenizer stands
// declares. Throws MzmlFault when the tag has none or it is not a length.
qint64 DeclaredLength(const XmlTokenizer &tokenizer, QByteArrayView attribute);
// The same without a fault: nothing where DeclaredLength would throw.
std::optional<qint64> ValidLength(const XmlTokenizer &tokenizer, QByteArrayView attribute);

// The points of a spectrum from the bytes of its arrays (from its
// binaryDataArrayList up to its end tag), which begin at offset in the
// document; declaredLength is the spectrum's defaultArrayLength. Touches no
// file: threads may decode different spectra at once. Throws MzmlFault
// without a spectrum number.
SpectrumPoints DecodeSpectrumPoints(QByteArrayView arrays, qint64 offset, qint64 declaredLength, const MzmlHead &head);

// The start time in minutes; 0 without one. Throws MzmlFault for a value
// that is not a number, and for a unit other than minutes, seconds or
// milliseconds, naming its accession.
double StartTimeInMinutes(const std::optional<CvParam> &startTime);
// The same without a fault: nothing where StartTimeInMinutes would throw.
std::optional<double> ValidStartTime(const std::optional<CvParam> &startTime);
