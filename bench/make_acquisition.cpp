// Writes a synthetic acquisition as indexed mzML (zlib, 64-bit m/z, 32-bit
// intensities, as converters commonly write them) without holding it in memory:
//   make_acquisition OUTPUT SPECTRA POINTS

#include "tests/mzml/MzmlWriter.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QTextStream>

#include <exception>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    bool spectraOk = false;
    bool pointsOk = false;
    const qint64 spectra = arguments.value(2).toLongLong(&spectraOk);
    const int points = arguments.value(3).toInt(&pointsOk);
    if (arguments.size() != 4 || !spectraOk || !pointsOk || spectra < 0 || points < 0) {
        QTextStream(stderr) << "usage: make_acquisition OUTPUT SPECTRA POINTS\n";
        return 2;
    }
    try {
        FakeAcquisition head;
        head.sampleName = u"benchmark"_s;
        MzmlWriter writer(arguments[1], head, spectra);
        QRandomGenerator random(42);
        FakeSpectrum spectrum;
        for (qint64 n = 0; n < spectra; ++n) {
            spectrum.filter = n % 4 == 3 ? u"+ c ESI SIM ms [445.00-455.00]"_s : u"+ p ESI Full ms [100.00-2000.00]"_s;
            spectrum.startTime = n * 0.01;
            spectrum.masses.resize(size_t(points));
            spectrum.intensities.resize(size_t(points));
            for (int i = 0; i < points; ++i) {
                spectrum.masses[size_t(i)] = 100.0 + (i + random.generateDouble()) * 1900.0 / points;
                spectrum.intensities[size_t(i)] = random.bounded(10) == 0 ? 0.0 : random.generateDouble() * 1e6;
            }
            writer.add(spectrum);
        }
        writer.finish();
    } catch (const std::exception &e) {
        QTextStream(stderr) << e.what() << '\n';
        return 1;
    }
    return 0;
}
