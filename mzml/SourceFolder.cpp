#include "mzml/SourceFolder.h"

#include <QRegularExpression>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace {

// "C:" alone or before a backslash.
bool StartsWithDrive(QStringView path)
{
    return path.size() >= 2 && path[0].isLetter() && path[0].unicode() < 128 && path[1] == u':'
        && (path.size() == 2 || path[2] == u'\\');
}

// "http:" and the like; a single letter before the colon is a drive.
bool HasOtherScheme(const QString &location)
{
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.-]+:"_s);
    return scheme.match(location).hasMatch();
}

// The path that the text after "file:" names.
QString PathOfFileLocation(QString rest)
{
    // A URL encodes blanks and has no backslashes: anything else is the
    // folder as Windows writes it, and a "%" in it is a "%".
    if (!rest.contains(u'\\') && !rest.contains(u' '))
        rest = QUrl::fromPercentEncoding(rest.toUtf8());
    rest.replace(u'/', u'\\');
    qsizetype slashes = 0;
    while (slashes < rest.size() && rest[slashes] == u'\\')
        ++slashes;
    QStringView path = QStringView(rest).sliced(slashes);
    if (path.isEmpty())
        return {};
    if (StartsWithDrive(path))
        return path.toString();
    if (slashes >= 4)
        return u"\\\\"_s + path;
    if (slashes == 2) {
        const qsizetype hostEnd = path.indexOf(u'\\');
        const QStringView host = hostEnd < 0 ? path : path.first(hostEnd);
        if (host.compare(u"localhost", Qt::CaseInsensitive) != 0)
            return u"\\\\"_s + path;
        path = path.sliced(host.size());
        return StartsWithDrive(path.sliced(std::min<qsizetype>(path.size(), 1))) ? path.sliced(1).toString()
                                                                                 : path.toString();
    }
    return QStringView(rest).sliced(std::max<qsizetype>(slashes - 1, 0)).toString();
}

} // namespace

QString SourceFolder(const QString &location)
{
    if (location.startsWith(u"file:", Qt::CaseInsensitive))
        return PathOfFileLocation(location.sliced(5));
    if (HasOtherScheme(location))
        return location;
    QString path = location;
    return path.replace(u'/', u'\\');
}
