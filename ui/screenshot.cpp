// Renders the main window, as it first opens, into an image file for the
// documentation. Runs without a display.
#include "frmMain.h"

#include <QApplication>
#include <QPixmap>
#include <QTextStream>

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: frmMain-screenshot IMAGE.png\n";
        return 2;
    }
    frmMain window;
    window.show();
    return window.grab().save(arguments.at(1)) ? 0 : 1;
}
