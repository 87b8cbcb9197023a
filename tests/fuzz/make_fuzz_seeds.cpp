// Writes the fuzzer's seed corpus: one small acquisition in every layout the
// reader decodes, so that fuzzing starts from documents that open and read.
//   make_fuzz_seeds FOLDER

#include "examples/DemoAcquisition.h"
#include "tests/mzml/MzmlWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <exception>

using namespace Qt::Literals::StringLiterals;

namespace {

// The demo's sample texts and one spectrum of each kind: one cycle of ms,
// SIM, ms2 and SIM without "ms", then none at all and no points.
FakeAcquisition SeedAcquisition()
{
    FakeAcquisition a = DemoAcquisition();
    a.spectra.erase(a.spectra.begin() + 4, a.spectra.end() - 2);
    return a;
}

struct Seed
{
    const char *name;
    MzmlLayout layout;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() != 2 || !QDir().mkpath(arguments[1])) {
        QTextStream(stderr) << "usage: make_fuzz_seeds FOLDER\n";
        return 2;
    }
    const ArrayEncoding zlib64{Precision::Float64, true, Numpress::None};
    const ArrayEncoding zlib32{Precision::Float32, true, Numpress::None};
    const ArrayEncoding plain64{Precision::Float64, false, Numpress::None};
    const ArrayEncoding plain32{Precision::Float32, false, Numpress::None};
    const Seed seeds[] = {
        {"indexed-zlib", {true, zlib64, zlib32}},
        {"plain-uncompressed", {false, plain64, plain32}},
        {"numpress-linear-pic",
         {true, {Precision::Float64, false, Numpress::Linear}, {Precision::Float64, false, Numpress::Pic}}},
        {"numpress-slof-zlib",
         {false, {Precision::Float64, true, Numpress::Linear}, {Precision::Float64, true, Numpress::Slof}}},
        {"seconds-groups", {true, zlib64, plain64, TimeUnit::Seconds, true}},
        {"milliseconds", {false, plain32, zlib64, TimeUnit::Milliseconds}},
        {"indexed-compact", {.masses = zlib64, .intensities = plain32, .lineBreaks = false}},
    };
    try {
        for (const Seed &seed : seeds)
            WriteMzml(QDir(arguments[1]).filePath(QString::fromLatin1(seed.name) + u".raw"_s), SeedAcquisition(),
                      seed.layout);
    } catch (const std::exception &e) {
        QTextStream(stderr) << e.what() << '\n';
        return 1;
    }
    return 0;
}
