#pragma once

#include "mzml/ByteSource.h"
#include "mzml/MzmlHead.h"

#include <QString>

#include <vector>

// Where a spectrum stands and what the conversion asks of it before its
// points. Kept small: there is one for every spectrum.
struct SpectrumEntry
{
    qint64 offset = 0;          // of its start tag
    qint64 arraysStart = 0;     // of its arrays' markup: the binaryDataArrayList on
    qint64 arraysEnd = 0;       // up to its end tag
    qint64 declaredLength = 0;  // defaultArrayLength; below 0: -1 - the index of its fault
    double startTime = 0;       // minutes
    qint32 filter = 0;          // the index of its filter text
    qint32 startTimeFault = -1; // the index of the fault that stands for its start time; -1 for none
};

// The spectra of a document in document order.
struct SpectrumIndex
{
    std::vector<SpectrumEntry> entries;
    std::vector<QString> filters; // the distinct filter texts: an acquisition repeats a few
    std::vector<QString> faults;  // what a spectrum's start time or declared length is instead

    const QString &filterOf(const SpectrumEntry &entry) const { return filters[size_t(entry.filter)]; }
};

// Reads the whole document, whose head is known, from source in one pass:
// every spectrum of the run's list, and every rule of the markup to the
// document's end. Throws MzmlFault; a fault in a spectrum's parameters names
// the spectrum.
SpectrumIndex BuildSpectrumIndex(ByteSource &source, const MzmlHead &head);
