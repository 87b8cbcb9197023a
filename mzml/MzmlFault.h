#pragma once

#include <QString>
#include <QtGlobal>

// What is wrong in an mzML document, in words for the user. The document
// that meets it turns it into an Error that names the file and, where it
// applies, the spectrum (1-based; 0 for the document as a whole).
struct MzmlFault
{
    QString what;
    qint64 spectrum = 0;
};

// The fault of a document that ends before its spectrum list does.
inline MzmlFault TruncatedDocument()
{
    return MzmlFault{QStringLiteral("the document is truncated")};
}
