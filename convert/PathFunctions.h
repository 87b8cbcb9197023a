#pragma once

#include <QString>

// Paths here are the acquisition system's paths: only the backslash
// separates their parts.

// The text after the last backslash; the whole text when there is none.
QString FileNameOfPath(const QString &path);

// The name of the last folder of a folder path: the text between the last
// two backslashes, after one backslash is appended when missing and one of
// two trailing backslashes dropped. "C:\data\batch1" and "C:\data\batch1\"
// give "batch1", "C:\" gives "C:". Throws an invalid-argument Error for the
// text that is a single backslash (the empty text included).
QString LastFolderOfPath(QString folderPath);

// The name of an output file beside the acquisition at rawPath. An mzML export
// loses its whole extension, ".mzML" or ".mzML.gz" in any letter case
// ("run7.mzML.gz" gives "run7.asc"); any other path has its last three
// characters replaced by extension, whatever they are ("run7.RAW" gives
// "run7.asc", "run7mzML" gives "run7masc"). Throws an invalid-argument Error
// for a path of fewer than three characters.
QString SiblingPath(const QString &rawPath, const QString &extension);

// Whether the two paths lead to one existing file (device and inode), through
// hard and symbolic links alike.
bool IsSameFile(const QString &path, const QString &otherPath);
