#include "modMain.h"

#include "frmMain.h"

#include <QApplication>

int Main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    frmMain window;
    window.show();
    return application.exec();
}
