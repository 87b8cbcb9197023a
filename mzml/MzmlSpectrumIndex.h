#pragma once

#include "mzml/MzmlHead.h"

#include <QFile>
#include <QString>

#include <vector>

// Where each spectrum begins, and what the conversion asks of every
// spectrum before its points. Kept small: there is one for every spectrum.
struct SpectrumEntry
{
    qint64 offset = 0;
    qint64 end = 0;         // where the next spectrum or the end of the list begins
    QString filter;         // equal texts share their data
    double startTime = 0;   // minutes
    QString startTimeFault; // why there is no start time, when there is none
};

// The spectra in document order: from the index at the end of the file when
// it is present and accounts for every spectrum of the list, otherwise from
// one scan of the bytes. Throws MzmlFault.
std::vector<SpectrumEntry> BuildSpectrumIndex(QFile &file, const MzmlHead &head);
