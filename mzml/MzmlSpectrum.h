#pragma once

// One spectrum of an mzML document, read from its byte offset on.

#include "convert/RawFileAccess.h"
#include "mzml/MzmlHead.h"

#include <QFile>
#include <QString>

#include <optional>

// What the spectrum says before its arrays.
struct SpectrumHead
{
    QString id;
    QString index;
    QString filter; // see FilterText
    std::optional<CvParam> startTime;
};

// These throw MzmlFault without a spectrum number; the caller knows it.
SpectrumHead ReadSpectrumHead(QFile &file, qint64 offset, const MzmlHead &head);
// The points of the spectrum whose bytes (ReadSpectrumBytes) begin at
// offset. Touches no file: threads may decode different spectra at once.
SpectrumPoints DecodeSpectrumPoints(const QByteArray &bytes, qint64 offset, const MzmlHead &head);

// The start time in minutes; 0 without one. Throws MzmlFault for a unit other
// than minutes, seconds or milliseconds, naming its accession.
double StartTimeInMinutes(const std::optional<CvParam> &startTime);
