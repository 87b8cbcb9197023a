#pragma once

#include "mzml/ByteSource.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlParams.h"
#include "mzml/XmlTokenizer.h"

#include <QString>

#include <functional>
#include <optional>

struct MzmlSample
{
    QString id;
    QString name;
    SampleTexts texts;
};

// What the document says before its first spectrum.
struct MzmlHead
{
    QString encoding; // as the XML declaration names it; empty when it names none
    TextEncoding textEncoding = TextEncoding::Utf8;
    ParamGroups groups;
    std::optional<MzmlSample> sample; // the sample of the run
    std::optional<QString> startTimeStamp;
    QString sourceFolder; // of the first sourceFile (see SourceFolder); empty without one
    XmlJoin spectrumList; // the open elements inside the run's spectrum list, where a second half begins
};

// The fault of content that is not an mzML document: whatever stops the
// reading before its root element shows to be mzML's (mzML or
// indexedmzML), and an indexedmzML without mzML. Its text says "not an mzML
// acquisition" and why.
struct NotMzmlFault : MzmlFault
{
};

// Reads one spectrum: the tokenizer stands on its start (or empty) tag.
// What it leaves unread is passed over.
using SpectrumReader = std::function<void(XmlTokenizer &, const MzmlHead &)>;

// Reads the document that source holds from its start up to the first
// spectrum of the run's list and no further. Throws NotMzmlFault for what
// stops the reading before the root element (a document type declaration
// among it) or in another root element, MzmlFault for what is wrong in a
// document of mzML's root element (a misplaced or malformed XML declaration
// among it).
MzmlHead ReadMzml(ByteSource &source);

// Reads the whole document again, whose head ReadMzml gave: every rule of
// the markup to its end, and every spectrum of the run's list to spectrum
// with that head. The spectra are the spectrum children of
// mzML/run/spectrumList (inside indexedmzML or not) and nothing else. What
// the head holds is passed over, not taken in a second time. Throws as
// ReadMzml does.
void ReadMzml(ByteSource &source, const MzmlHead &head, const SpectrumReader &spectrum);

// The same in two halves, which two threads may read at once; a source that
// ends at the cut holds the first, and one from the cut on the second. The
// first half is through, and returns true, when it ends between two spectra
// of the run's list: the second half then reads the rest of the list and
// checks the rest of the document, as the whole reading would. Whatever
// else the first half meets makes it return false, a fault too, for a cut
// may stand where the second half reads nothing the whole reading would.
bool ReadMzmlFirstHalf(ByteSource &source, const MzmlHead &head, const SpectrumReader &spectrum);
void ReadMzmlSecondHalf(ByteSource &source, qint64 cut, const MzmlHead &head, const SpectrumReader &spectrum);
