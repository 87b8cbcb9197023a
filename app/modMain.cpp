#include "app/modMain.h"

#include "app/ArgumentText.h"
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
// mode why nothing, or not all, was converted.
void ReportFailure(const QString &subject, const QString &reason)
{
    modAPI::WriteErrorLine(ErrorLine(subject, reason));
}

// Shows nothing and needs no display: no Qt application object is created.
// A success is silent; a failure is told on standard error.
ExitStatus RunBatchMode(const QString &argument, bool utf8)
{
    BatchMode = true;
    modAPI::Sleep(BatchDelayMilliseconds);
    const QString stripped = StripQuotes(argument);
    QString path;
    double scaling = 0;
    if (!ParseCommandLine(stripped, path, scaling)) {
        ReportFailure(stripped, u"the argument holds a \";\" and is refused: nothing was converted."_s);
        return ArgumentRefused;
    }
    if (!utf8) {
        // Its bytes are lost in the text that names files here: any file
        // operation would look for another name.
        ReportFailure(path, ErrorMessage(Error(ErrorNumber::BadFileName,
                                               u"Bad file name: the name is not valid UTF-8, and only names in UTF-8 "
                                               u"can be converted; rename the file."_s)));
        return ConversionFailed;
    }
    SampleHeader header;
    if (ConvertRawFile(path, u"N"_s, header, scaling))
        return Success;
    ReportFailure(path, ErrorMessage(*LastConversionFailure()));
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
    InstallMzmlReader();
    EnsureTransferFolder();
    const std::optional<QString> argument = ArgumentText(argc, argv);
    if (!argument)
        return RunWindowMode(argc, argv);
    return RunBatchMode(*argument, ArgumentsAreUtf8(argc, argv));
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
