#pragma once

// One spectrum of an mzML document, read from its byte offset on.

#include "MzmlHead.h"
#include "RawFileAccess.h"

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

// Both throw MzmlFault without a spectrum number; the caller knows it.
SpectrumHead ReadSpectrumHead(QFile &file, qint64 offset, const MzmlHead &head);
// end: where the next spectrum or the end of the list begins (see ReadSpectrumBytes).
SpectrumPoints ReadSpectrumPoints(QFile &file, qint64 offset, qint64 end, const MzmlHead &head);

// The start time in minutes; 0 without one. Throws MzmlFault for a unit other
// than minutes, seconds or milliseconds, naming its accession.
double StartTimeInMinutes(const std::optional<CvParam> &startTime);
