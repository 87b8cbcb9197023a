// The batch conversion of one acquisition, without the start-up wait:
//   bench_convert FILE
// Prints the conversion's result and wall time; /usr/bin/time measures the rest.

#include "bench/FileArgument.h"
#include "convert/AscConversion.h"
#include "convert/BatchMode.h"
#include "mzml/MzmlDocument.h"

#include <QElapsedTimer>
#include <QTextStream>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    const std::optional<QString> file = FileArgument(argc, argv, "bench_convert");
    if (!file)
        return 2;
    InstallMzmlReader();
    BatchMode = true;
    SampleHeader header;
    QElapsedTimer timer;
    timer.start();
    const bool converted = ConvertRawFile(*file, u"N"_s, header, 1);
    QTextStream(stdout) << "ConvertRawFile: " << (converted ? "true" : "false") << ", " << timer.elapsed() << " ms\n";
    return converted ? 0 : 1;
}
