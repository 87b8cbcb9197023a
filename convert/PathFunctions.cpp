#include "PathFunctions.h"

#include "Errors.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;

QString FileNameOfPath(const QString &path)
{
    const qsizetype lastBackslash = path.lastIndexOf(u'\\');
    return path.mid(lastBackslash + 1);
}

QString SiblingPath(const QString &rawPath, const QString &extension)
{
    if (rawPath.size() < 3)
        throw Error(ErrorNumber::InvalidArgument,
                    u"Invalid procedure call or argument: the path \"%1\" is too short."_s.arg(rawPath));
    return rawPath.left(rawPath.size() - 3) + extension;
}

bool IsSameFile(const QString &path, const QString &otherPath)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return !canonical.isEmpty() && canonical == QFileInfo(otherPath).canonicalFilePath();
}
