#include "mzml/SourceFilePath.h"

#include <QRegularExpression>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {

// A file: URL's path, after "//" and its host when it names one.
QString FolderOfLocation(const QString &location)
{
    if (!location.startsWith(u"file:", Qt::CaseInsensitive))
        return location;
    const QUrl url(location);
    const QString host = url.host();
    const QString path = url.path(QUrl::FullyDecoded);
    return host.isEmpty() || host == u"localhost" ? path : u"//"_s + host + path;
}

} // namespace

QString SourceFilePath(const QString &location, const QString &name)
{
    // "C:", "C:/...", "/C:/..." as a URL's path has it, and "//host/...".
    static const QRegularExpression windowsFolder(u"^(/?[A-Za-z]:($|[/\\\\])|//|\\\\\\\\)"_s);
    QString folder = FolderOfLocation(location);
    QChar separator = u'/';
    if (windowsFolder.match(folder).hasMatch()) {
        if (folder.startsWith(u'/') && !folder.startsWith(u"//"))
            folder.remove(0, 1);
        folder.replace(u'/', u'\\');
        separator = u'\\';
    }
    if (folder.isEmpty() || name.isEmpty() || folder.endsWith(separator))
        return folder + name;
    return folder + separator + name;
}
