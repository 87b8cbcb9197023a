#include "PathFunctions.h"

using namespace Qt::Literals::StringLiterals;

QString FileNameOfPath(const QString &path)
{
    const qsizetype lastBackslash = path.lastIndexOf(u'\\');
    return path.mid(lastBackslash + 1);
}
