#include "app/modMain.h"

#include "app/ArgumentText.h"
#include "app/TerminalProgress.h"
#include "convert/AscConversion.h"
#include "convert/ErrorLine.h"
#include "convert/Errors.h"
#include "convert/SampleHeader.h"
#include "convert/modAPI.h"
#include "mzml/MzmlDocument.h"
#include "ui/frmMain.h"
#include "ui/modDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>

#include <optional>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

// Batch mode waits this long before it looks at its argument, whatever it is.
constexpr int BatchDelayMilliseconds = 5000;

int RunWindowMode(int &argc, char *argv[])
{
    BatchMode = false;
    QApplication application(argc, argv);
    modAPI::ShowInformation.replace(modDialogs::ShowInformationBox);
    frmMain window;
    window.show();
    return application.exec();
}

// The one line on standard error that tells the script which started batch
// mode why nothing, or not all, was converted, or that the .asc holds less
// than it may expect.
void Report(const QString &subject, const QString &words)
{
    modAPI::WriteErrorLine(ErrorLine(subject, words));
}

// A shell that expands *.raw hands over many files, which joined make a path
// that does not exist: the usual slip of a first folder conversion.
QString SeveralFilesHint(const QString &path, const QStringList &arguments)
{
    if (arguments.size() < 2 || QFileInfo::exists(path))
        return {};
    for (const QString &argument : arguments)
        if (!QFileInfo(StripQuotes(argument)).isFile())
            return {};
    return u" The program converts one acquisition per run: to convert many, see \"Many acquisitions\" in "_s
           u"its README."_s;
}

// Answers --help (-h) and --version (-V), the argument text exactly; none for
// any other text, which stays a RAW path ("./-h" reaches a file of that name).
std::optional<QString> AnswerToQuestion(const QString &argument)
{
    if (argument == u"--version"_s || argument == u"-V"_s)
        return u"quorvane-to-text " QUORVANE_VERSION "\n"_s;
    if (argument != u"--help"_s && argument != u"-h"_s)
        return std::nullopt;
    return uR"(Usage: quorvane-to-text [RAW-FILE]
Turns one Quorvane acquisition, X.raw (read through its mzML export X.mzML
or X.mzML.gz beside it, or given itself), into text beside it.

  quorvane-to-text                opens the window: pick a RAW file, review
                                  its sample header, set the scaling factor,
                                  convert; writes X.asc and X.opc
  quorvane-to-text RAW-FILE       batch mode: waits five seconds, then writes
                                  X.asc with the scaling factor 1; no window
  quorvane-to-text -h, --help     shows this text
  quorvane-to-text -V, --version  shows the version

Everything after the program's name is one path, blanks included; every "
is removed. A file named -h is reached as ./-h. Each run converts one
acquisition: for a folder, see "Many acquisitions" in the README.

Exit status:
  0  the .asc file was written (also the status of window mode); when no
     spectrum is an ms or SIM spectrum it holds the sample header only, and
     one line on standard error says so
  1  the conversion failed; one line on standard error says why
  2  the argument holds a ";" and was refused: nothing was converted

Manual: man quorvane-to-text. The README lies with the package's documents
(/usr/share/doc/quorvane-to-text/README.md).
)"_s;
}

// Shows nothing and needs no display: no Qt application object is created.
// A success is silent; a failure is told on standard error.
ExitStatus RunBatchMode(const QString &argument, bool utf8, const QStringList &arguments)
{
    BatchMode = true;
    modAPI::Sleep(BatchDelayMilliseconds);
    const QString stripped = StripQuotes(argument);
    QString path;
    double scaling = 0;
    if (!ParseCommandLine(stripped, path, scaling)) {
        Report(stripped, u"the argument holds a \";\" and is refused: nothing was converted."_s);
        return ArgumentRefused;
    }
    if (!utf8) {
        // Its bytes are lost in the text that names files here: any file
        // operation would look for another name.
        Report(path, ErrorMessage(Error(ErrorNumber::BadFileName,
                                        u"Bad file name: the name is not valid UTF-8, and only names in UTF-8 "
                                        u"can be converted; rename the file."_s)));
        return ConversionFailed;
    }
    SampleHeader header;
    bool converted = false;
    {
        const TerminalProgress progress;
        converted = ConvertRawFile(path, u"N"_s, header, scaling);
    }
    if (converted) {
        if (const std::optional<QString> notice = LastConversionNotice())
            Report(path, *notice);
        return Success;
    }
    Report(path, FailureBeyondPath(*LastConversionFailure(), path) + SeveralFilesHint(path, arguments));
    return ConversionFailed;
}

} // namespace

int Main(int argc, char *argv[])
{
#ifdef Q_OS_UNIX
    // Beyond a file-size limit a write then fails with "File too large" and
    // is reported like any other, instead of the signal ending the process
    // without a word.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    const std::optional<QString> argument = ArgumentText(argc, argv);
    // A question is answered at once and changes nothing.
    if (const std::optional<QString> answer = argument ? AnswerToQuestion(*argument) : std::nullopt) {
        modAPI::WriteOutput(*answer);
        return Success;
    }
    InstallMzmlReader();
    EnsureTransferFolder();
    if (!argument)
        return RunWindowMode(argc, argv);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return RunBatchMode(*argument, ArgumentsAreUtf8(argc, argv), arguments);
}

bool EnsureTransferFolder()
{
    try {
        const QString folder = modAPI::TransferFolder();
        if (QFileInfo(folder).isDir())
            return true;
        // Only the last level: a missing data folder means the laboratory's
        // software is not installed here, and nothing is made in its place.
        return QDir().mkdir(folder);
    } catch (...) {
        return false;
    }
}

QString StripQuotes(const QString &text)
{
    QString result = text;
    result.remove(u'"');
    return result;
}

bool ParseCommandLine(const QString &argument, QString &path, double &scaling)
{
    if (argument.contains(u';'))
        return false;
    path = argument;
    scaling = 1;
    return true;
}
