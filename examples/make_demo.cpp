// Writes the demo acquisition as mzML to the path given (examples/demo.raw).

#include "DemoAcquisition.h"
#include "MzmlWriter.h"

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
        // 64-bit intensities: the demo reads back exactly as built.
        MzmlLayout layout;
        layout.intensities.precision = Precision::Float64;
        WriteMzml(arguments[1], DemoAcquisition(), layout);
    } catch (const std::exception &e) {
        QTextStream(stderr) << e.what() << '\n';
        return 1;
    }
    return 0;
}
