#include "modMain.h"

#include "ArgumentText.h"
#include "AscConversion.h"
#include "MzmlDocument.h"
#include "SampleHeader.h"
#include "frmMain.h"
#include "modAPI.h"
#include "modDialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

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

// Shows nothing and needs no display: no Qt application object is created.
ExitStatus RunBatchMode(const QString &argument)
{
    BatchMode = true;
    modAPI::Sleep(BatchDelayMilliseconds);
    QString path;
    double scaling = 0;
    if (!ParseCommandLine(StripQuotes(argument), path, scaling))
        return ArgumentRefused;
    SampleHeader header;
    return ConvertRawFile(path, u"N"_s, header, scaling) ? Success : ConversionFailed;
}

} // namespace

int Main(int argc, char *argv[])
{
    InstallMzmlReader();
    EnsureTransferFolder();
    const QString argument = ArgumentText(argc, argv);
    if (argument.isEmpty())
        return RunWindowMode(argc, argv);
    return RunBatchMode(argument);
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
