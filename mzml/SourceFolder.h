#pragma once

#include <QString>

// The folder that an mzML sourceFile's location names, as the acquisition
// system writes paths: with backslashes, so that its last part is the
// sample's batch. A file: location is a URL, percent-decoded, unless it holds
// a backslash or a blank: then it is the folder as the converter on the
// acquisition computer writes it, "file://" and the Windows path as it
// stands. A drive or a network host gives that Windows path
// ("file:///C:/lab/exp7" and "file://C:\lab\exp7" give "C:\lab\exp7",
// "file://server/share" and "file://\\server\share" give "\\server\share");
// any other file: text gives what follows "file:" with one leading backslash
// at most ("file:///data/exp7" gives "\data\exp7"). A location without a
// scheme is a path as it stands, with backslashes ("D:/Data/exp7.d/" gives
// "D:\Data\exp7.d\"); one of another scheme is taken as it stands.
QString SourceFolder(const QString &location);
