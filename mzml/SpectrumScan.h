#pragma once

#include <QByteArray>
#include <QFile>

#include <vector>

struct SpectrumOffsets
{
    std::vector<qint64> starts; // of the spectrum start tags
    qint64 listEnd = 0;         // of the spectrumList end tag
};

// The spectra of the spectrumList, found by one pass over the bytes: for
// documents without a trustworthy index. Starts at from, at a spectrum of
// the list when inList. Comments, CDATA sections and processing instructions
// are passed over. Throws MzmlFault for an element in the list that is not a
// spectrum, for markup that MarkupLexer refuses, and when the document ends
// before the list does.
SpectrumOffsets ScanSpectrumOffsets(QFile &file, qint64 from = 0, bool inList = false);

// The bytes of the spectrum whose start tag stands at offset, up to its end
// tag. Up to end, where the next spectrum or the end of the list begins, no
// element may follow it: so an index that leaves out a spectrum is caught.
// Throws MzmlFault.
QByteArray ReadSpectrumBytes(QFile &file, qint64 offset, qint64 end);
