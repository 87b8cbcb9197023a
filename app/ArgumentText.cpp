#include "app/ArgumentText.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <QStringDecoder>
#include <QStringList>
#endif

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

} // namespace

QString ArgumentTextOfCommandLine(const QString &commandLine)
{
    qsizetype position = 0;
    bool quoted = false;
    for (; position < commandLine.size(); ++position) {
        const QChar c = commandLine.at(position);
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && IsBlank(c))
            break;
    }
    while (position < commandLine.size() && IsBlank(commandLine.at(position)))
        ++position;
    return commandLine.mid(position);
}

#ifdef Q_OS_WIN

bool ArgumentsAreUtf8(int, char *[])
{
    return true;
}

std::optional<QString> ArgumentText(int, char *[])
{
    const QString text = ArgumentTextOfCommandLine(QString::fromWCharArray(GetCommandLineW()));
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

#else

bool ArgumentsAreUtf8(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        QStringDecoder decoder(QStringDecoder::Utf8);
        [[maybe_unused]] const QString text = decoder(QByteArrayView(argv[i]));
        if (decoder.hasError())
            return false;
    }
    return true;
}

std::optional<QString> ArgumentText(int argc, char *argv[])
{
    if (argc < 2)
        return std::nullopt;
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments.join(u' ');
}

#endif
