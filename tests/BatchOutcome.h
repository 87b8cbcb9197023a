#pragma once

// What an unattended run must leave behind for one RAW path: its exit status,
// the .asc file beside the path and what it told standard error. The
// expected outcome comes from running
// the conversion in this process with the values the command line stands
// for, so the run can be checked on any acquisition the conversion reads.

#include "convert/AscConversion.h"
#include "convert/BatchMode.h"
#include "convert/ErrorLine.h"
#include "convert/Errors.h"
#include "convert/PathFunctions.h"
#include "convert/SampleHeader.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>
#include <QString>

#include <algorithm>
#include <optional>

struct BatchOutcome
{
    int exitStatus = -1;
    std::optional<QByteArray> asc; // none when no .asc was written
    QString standardError;

    friend bool operator==(const BatchOutcome &, const BatchOutcome &) = default;
};

inline QDebug operator<<(QDebug debug, const BatchOutcome &outcome)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "exit status " << outcome.exitStatus << ", ";
    if (outcome.asc)
        debug << "an .asc of " << outcome.asc->size() << " bytes";
    else
        debug << "no .asc";
    debug << ", standard error " << outcome.standardError;
    return debug;
}

// Removes the .asc beside rawPath and gives its content.
inline std::optional<QByteArray> TakeAscBeside(const QString &rawPath)
{
    using namespace Qt::Literals::StringLiterals;
    if (rawPath.size() < 3)
        return std::nullopt;
    QFile file(SiblingPath(rawPath, u"asc"_s));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray content = file.readAll();
    file.remove();
    return content;
}

// Converts rawPath here as batch mode must: mode "N", an empty header, the
// scaling factor 1, no message, and a failure told in one line as the window
// would word it, the path named once; a header-only .asc told the same way. Takes the .asc it writes away again.
inline BatchOutcome ExpectedBatchOutcome(const QString &rawPath)
{
    using namespace Qt::Literals::StringLiterals;
    const bool wasBatchMode = BatchMode;
    BatchMode = true;
    SampleHeader header;
    const bool converted = ConvertRawFile(rawPath, u"N"_s, header, 1.0);
    BatchMode = wasBatchMode;
    if (converted) {
        const std::optional<QString> notice = LastConversionNotice();
        return {0, TakeAscBeside(rawPath), notice ? ErrorLine(rawPath, *notice) + u'\n' : QString()};
    }
    return {1, TakeAscBeside(rawPath),
            ErrorLine(rawPath, FailureBeyondPath(*LastConversionFailure(), rawPath)) + u'\n'};
}

// Whether standard error holds no control character but the line break that
// ends it: nothing in a path or a file forges a second line.
inline bool IsOneLine(QStringView text)
{
    const auto end = text.end() - (text.endsWith(u'\n') ? 1 : 0);
    return std::none_of(text.begin(), end, [](QChar c) { return c.category() == QChar::Other_Control; });
}
