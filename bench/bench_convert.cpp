// The batch conversion of one acquisition, without the start-up wait:
//   bench_convert FILE
// Prints the conversion's result and wall time; /usr/bin/time measures the rest.

#include "AscConversion.h"
#include "BatchMode.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 2) {
        QTextStream(stderr) << "usage: bench_convert FILE\n";
        return 2;
    }
    BatchMode = true;
    SampleHeader header;
    QElapsedTimer timer;
    timer.start();
    const bool converted = ConvertRawFile(arguments[1], u"N"_s, header, 1);
    QTextStream(stdout) << "ConvertRawFile: " << (converted ? "true" : "false") << ", " << timer.elapsed() << " ms\n";
    return converted ? 0 : 1;
}
