// Writes the demo acquisition as mzML to the path given (examples/demo.raw).

#include "examples/DemoAcquisition.h"

#include <QCoreApplication>
#include <QTextStream>

#include <exception>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: make_demo OUTPUT\n";
        return 2;
    }
    try {
        WriteDemoMzml(arguments[1]);
    } catch (const std::exception &e) {
        QTextStream(stderr) << e.what() << '\n';
        return 1;
    }
    return 0;
}
