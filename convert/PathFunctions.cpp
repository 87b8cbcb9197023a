#include "convert/PathFunctions.h"

#include "convert/Errors.h"

#include <QFile>

#include <filesystem>
#include <system_error>

using namespace Qt::Literals::StringLiterals;

QString FileNameOfPath(const QString &path)
{
    const qsizetype lastBackslash = path.lastIndexOf(u'\\');
    return path.mid(lastBackslash + 1);
}

QString LastFolderOfPath(QString folderPath)
{
    if (!folderPath.endsWith(u'\\'))
        folderPath.append(u'\\');
    if (folderPath.size() < 2)
        throw Error(ErrorNumber::InvalidArgument, u"Invalid procedure call or argument: \"\\\" has no folder name."_s);
    // Only one of the trailing backslashes goes: three leave two, and an
    // empty name between them.
    if (folderPath.endsWith(u"\\\\"))
        folderPath.chop(1);
    const qsizetype last = folderPath.size() - 1;
    const qsizetype previous = folderPath.first(last).lastIndexOf(u'\\');
    return folderPath.mid(previous + 1, last - previous - 1);
}

QString SiblingPath(const QString &rawPath, const QString &extension)
{
    for (const QStringView exportExtension : {u".mzML.gz", u".mzML"}) {
        if (rawPath.endsWith(exportExtension, Qt::CaseInsensitive))
            return rawPath.chopped(exportExtension.size()) + u'.' + extension;
    }
    if (rawPath.size() < 3)
        throw Error(ErrorNumber::InvalidArgument,
                    u"Invalid procedure call or argument: the path \"%1\" is too short."_s.arg(rawPath));
    return rawPath.left(rawPath.size() - 3) + extension;
}

bool IsSameFile(const QString &path, const QString &otherPath)
{
    // The files themselves, not their names: a hard link is the same file
    // under a name of its own. Symbolic links are followed to their files.
    // A path that cannot be looked at, a missing one above all, is no file.
    std::error_code unknown;
    return std::filesystem::equivalent(QFile(path).filesystemFileName(), QFile(otherPath).filesystemFileName(),
                                       unknown);
}
