// Writes a synthetic acquisition as indexed mzML (zlib, 64-bit m/z, 32-bit
// intensities, as converters commonly write them) without holding it in memory:
//   make_acquisition OUTPUT SPECTRA POINTS [SHAPE]
// SHAPE: "repeated" (the default) three in four spectra of one full-scan
// filter text, the fourth of one SIM text; "distinct" the same with a
// different range in each spectrum's text; "lab" a run as laboratories have it: every tenth an MS1
// scan of ten times POINTS points, the rest MS2 scans of POINTS points whose
// filter text names the precursor.

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
    const QString shape = arguments.value(4, u"repeated"_s);
    const QStringList shapes = {u"repeated"_s, u"distinct"_s, u"lab"_s};
    if (arguments.size() < 4 || arguments.size() > 5 || !spectraOk || !pointsOk || spectra < 0 || points < 0
        || !shapes.contains(shape)) {
        QTextStream(stderr) << "usage: make_acquisition OUTPUT SPECTRA POINTS [repeated|distinct|lab]\n";
        return 2;
    }
    try {
        FakeAcquisition head;
        head.sampleName = u"benchmark"_s;
        MzmlWriter writer(arguments[1], head, spectra);
        QRandomGenerator random(42);
        FakeSpectrum spectrum;
        for (qint64 n = 0; n < spectra; ++n) {
            int count = points;
            if (shape == u"distinct") {
                spectrum.filter = (n % 4 == 3 ? u"+ c ESI SIM ms [%1.00-%2.00]"_s : u"+ p ESI Full ms [%1.00-%2.00]"_s)
                                      .arg(100 + n)
                                      .arg(2000 + n);
            } else if (shape == u"lab" && n % 10 == 0) {
                spectrum.filter = u"FTMS + p ESI Full ms [350.00-1800.00]"_s;
                count = points * 10;
            } else if (shape == u"lab") {
                spectrum.filter = u"ITMS + c ESI d Full ms2 %1@cid35.00 [120.00-2000.00]"_s.arg(
                    350.0 + random.bounded(145000) / 100.0, 0, 'f', 2);
            } else {
                spectrum.filter =
                    n % 4 == 3 ? u"+ c ESI SIM ms [445.00-455.00]"_s : u"+ p ESI Full ms [100.00-2000.00]"_s;
            }
            spectrum.startTime = n * 0.01;
            spectrum.masses.resize(size_t(count));
            spectrum.intensities.resize(size_t(count));
            for (int i = 0; i < count; ++i) {
                spectrum.masses[size_t(i)] = 100.0 + (i + random.generateDouble()) * 1900.0 / count;
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
