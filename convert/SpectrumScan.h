#pragma once

#include <QFile>

#include <vector>

// The byte offsets of the spectrum start tags inside the spectrumList, found
// by one pass over the bytes: for documents without a trustworthy index.
// Comments, CDATA sections and processing instructions are passed over.
// Throws MzmlFault when the document ends before the list does.
std::vector<qint64> ScanSpectrumOffsets(QFile &file);
