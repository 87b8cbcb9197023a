#pragma once

#include "mzml/MzmlFault.h"
#include "mzml/MzmlParams.h"

#include <QFile>
#include <QString>

#include <optional>

struct MzmlSample
{
    QString id;
    QString name;
    ParamSet params;
};

// What the document says before its first spectrum.
struct MzmlHead
{
    QString encoding; // as the XML declaration names it; empty when it names none
    ParamGroups groups;
    std::optional<MzmlSample> sample; // the sample of the run
    std::optional<QString> startTimeStamp;
    QString sourceFilePath;  // of the first sourceFile (see SourceFilePath); empty without one
    bool hasSpectra = false; // a spectrumList with at least one child
};

// The fault of content that is not an mzML document: whatever stops the
// reading before its mzML element begins. Its text says "not an mzML
// acquisition" and why.
struct NotMzmlFault : MzmlFault
{
};

// Reads from the start of file up to the first spectrum and no further.
// Throws NotMzmlFault when the content is not XML or its root is not mzML,
// for a document type declaration, which mzML never has (and which could
// expand entities), and for markup that MarkupLexer refuses before the mzML
// element. Throws MzmlFault for what is wrong after it.
MzmlHead ReadMzmlHead(QFile &file);

// The fault of a reader that stopped on an error: a cut-short document is
// called truncated.
MzmlFault ReaderFault(const QXmlStreamReader &reader);
