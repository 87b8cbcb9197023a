#pragma once

#include <QString>

// The path of an mzML sourceFile: its location, a file: URL (decoded), joined
// with its name. A location on a drive or a network host gives a path of the
// acquisition system, with backslashes: "file:///C:/lab/data" and "run7.RAW"
// give "C:\lab\data\run7.RAW", "file://server/share" and "a.raw" give
// "\\server\share\a.raw". Any other location is joined with "/". A location
// that is not a file: URL is taken as it stands.
QString SourceFilePath(const QString &location, const QString &name);
