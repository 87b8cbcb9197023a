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

// The fault of a document that ends before its spectrum list does.
inline MzmlFault TruncatedDocument()
{
    return MzmlFault{QStringLiteral("the document is truncated")};
}

// A failure of the file at path as the user is told of it: "path": what.
// For spectrum n > 0: "path", spectrum n: what.
inline Error FileError(ErrorNumber number, const QString &path, const QString &what, qint64 spectrum = 0)
{
    using namespace Qt::Literals::StringLiterals;
    const QString where =
        spectrum > 0 ? u"\"%1\", spectrum %2"_s.arg(path, QString::number(spectrum)) : u"\"%1\""_s.arg(path);
    return Error(number, u"%1: %2."_s.arg(where, what));
}
