#include "convert/ErrorLine.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Characters that break, end or reorder a line on a terminal: the control
// characters of ASCII and Latin-1, Unicode's line and paragraph separators,
// and the marks that reverse the direction of the text after them.
bool NeedsEscape(char16_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029 || (c >= 0x202a && c <= 0x202e)
        || (c >= 0x2066 && c <= 0x2069);
}

QString Escaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar character : text) {
        const char16_t c = character.unicode();
        if (c == u'\\')
            result += u"\\\\"_s;
        else if (c == u'\n')
            result += u"\\n"_s;
        else if (c == u'\r')
            result += u"\\r"_s;
        else if (c == u'\t')
            result += u"\\t"_s;
        else if (!NeedsEscape(c))
            result += character;
        else if (c < 0x100)
            result += u"\\x%1"_s.arg(int(c), 2, 16, QChar(u'0'));
        else
            result += u"\\u%1"_s.arg(int(c), 4, 16, QChar(u'0'));
    }
    return result;
}

} // namespace

QString ErrorLine(const QString &subject, const QString &reason)
{
    return u"quorvane-to-text: %1: %2"_s.arg(Escaped(subject), Escaped(reason));
}

QString FailureBeyondPath(const Error &error, const QString &path)
{
    QString description = error.description();
    const QString named = u"\"%1\""_s.arg(path);
    if (!path.isEmpty() && (description.startsWith(named + u": "_s) || description.startsWith(named + u", "_s)))
        description.remove(0, named.size() + 2);
    return ErrorMessage(Error(error.number(), description));
}
