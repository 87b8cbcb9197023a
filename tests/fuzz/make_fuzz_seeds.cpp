// Writes the fuzzer's seed corpus: one small acquisition in every layout the
// reader decodes, so that fuzzing starts from documents that open and read.
//   make_fuzz_seeds FOLDER

#include "MzmlWriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

#include <exception>

using namespace Qt::Literals::StringLiterals;

namespace {

FakeAcquisition SeedAcquisition()
{
    FakeAcquisition a;
    a.creationDate = 38061.43283564815; // 2004-03-15 10:23:17
    a.comment = u"line one\nline two & <three>"_s;
    a.instrumentMethod = u"C:\\methods\\lipids.meth"_s;
    a.dataPath = u"D:\\results"_s;
    a.position = u"12"_s;
    a.sampleName = u"QC-3 µg"_s;
    a.userText1 = u"analyst"_s;
    a.userText2 = u"Bench 2"_s;
    a.spectra.push_back({u"FTMS + p ESI Full ms [100.00-1000.00]"_s, 0.5, {100.5, 250.125, 999.875}, {1520.25, 0, 3.5}});
    a.spectra.push_back({u"+ c ESI SIM ms [445.00-455.00]"_s, 1.25, {445.5, 450.0625}, {12.0, 7e5}});
    a.spectra.push_back({QString(), 2.0, {}, {}});
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
        {"numpress-linear-pic", {true, {Precision::Float64, false, Numpress::Linear}, {Precision::Float64, false, Numpress::Pic}}},
        {"numpress-slof-zlib", {false, {Precision::Float64, true, Numpress::Linear}, {Precision::Float64, true, Numpress::Slof}}},
        {"seconds-groups", {true, zlib64, plain64, TimeUnit::Seconds, true}},
        {"milliseconds", {false, plain32, zlib64, TimeUnit::Milliseconds}},
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
