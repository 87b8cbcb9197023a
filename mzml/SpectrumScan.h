#pragma once

#include <QFile>

#include <vector>

struct SpectrumOffsets
{
    std::vector<qint64> starts; // of the spectrum start tags
    qint64 listEnd = 0;         // of the spectrumList end tag
};

// The spectra of the spectrumList, found by one pass over the bytes: for
// documents without a trustworthy index. Starts at from, inside the list
// when inList. Comments, CDATA sections and processing instructions are
// passed over. Throws MzmlFault when the document ends before the list does.
SpectrumOffsets ScanSpectrumOffsets(QFile &file, qint64 from = 0, bool inList = false);
