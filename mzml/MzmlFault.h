#pragma once

#include "convert/Errors.h"

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

// A value from the file as a message quotes it: at most about 100
// characters, then "...", so that no file can make a message of any size.
inline QString ShownValue(const QString &value)
{
    using namespace Qt::Literals::StringLiterals;
    constexpr qsizetype Longest = 100;
    if (value.size() <= Longest)
        return value;
    // A character of two code units stays whole or goes.
    const qsizetype cut = value.at(Longest - 1).isHighSurrogate() ? Longest - 1 : Longest;
    return value.first(cut) + u"..."_s;
}

// The fault of a document that ends before its spectrum list does.
inline MzmlFault TruncatedDocument()
{
    return MzmlFault{QStringLiteral("the document is truncated")};
}

// The fault of a file that is not what it was when its spectra were found.
inline MzmlFault DocumentChanged()
{
    return MzmlFault{QStringLiteral("the document changed while it was read")};
}
