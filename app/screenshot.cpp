// Renders the main window into an image file for the documentation: as it
// opens, or with an acquisition chosen through the browse button as a user
// would. Runs without a display.
#include "mzml/MzmlDocument.h"
#include "ui/frmMain.h"
#include "ui/modDialogs.h"

#include <QApplication>
#include <QPixmap>
#include <QPushButton>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2 && arguments.size() != 3) {
        QTextStream(stderr) << "usage: frmMain-screenshot IMAGE.png [RAWFILE]\n";
        return 2;
    }
    const QString rawPath = arguments.value(2);
    InstallMzmlReader();
    bool failed = false;
    modDialogs::ShowOpen.replace([&](QWidget *, const modDialogs::OpenFileRequest &) { return rawPath; });
    modDialogs::ReportFailure.replace([&](QWidget *, const Error &error) {
        QTextStream(stderr) << "Error " << int(error.number()) << ": " << error.description() << '\n';
        failed = true;
    });

    frmMain window;
    window.show();
    if (!rawPath.isEmpty())
        window.findChild<QPushButton *>(u"cmdRawfile"_s)->click();
    return !failed && window.grab().save(arguments.at(1)) ? 0 : 1;
}
