#include "AscConversion.h"
#include "BatchMode.h"
#include "MzmlDocument.h"
#include "MzmlWriter.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The child's argument: convert the file and print the growth of the peak
// resident size in kilobytes.
constexpr char ConvertArgument[] = "--convert-and-report-peak";

qint64 PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int ConvertAndReportPeak(const char *path)
{
    BatchMode = true;
    SampleHeader header;
    const qint64 before = PeakKilobytes();
    const bool converted = ConvertRawFile(QString::fromLocal8Bit(path), u"N"_s, header, 1);
    printf("%lld\n", static_cast<long long>(PeakKilobytes() - before));
    return converted ? 0 : 1;
}

} // namespace

class TestMemory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void conversionMemoryStaysFlat();
};

void TestMemory::conversionMemoryStaysFlat()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer keeps freed memory resident");
#endif
    // 20,000 spectra of 100 points: about 60 MB of mzML and 32 MB of values.
    // Holding the file or every spectrum's points shows up many times over
    // the bound; the spectrum index and one spectrum's points stay well inside.
    constexpr qint64 spectra = 20000;
    constexpr int points = 100;
    constexpr qint64 boundKilobytes = 16 * 1024;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"large.raw"_s);
    MzmlWriter writer(path, FakeAcquisition{}, spectra);
    FakeSpectrum spectrum;
    for (qint64 n = 0; n < spectra; ++n) {
        spectrum.filter = n % 4 == 3 ? u"+ c ESI SIM ms [445.00-455.00]"_s : u"FTMS + p ESI Full ms [100.00-2000.00]"_s;
        spectrum.startTime = double(n) * 0.01;
        spectrum.masses.clear();
        spectrum.intensities.clear();
        for (int i = 0; i < points; ++i) {
            spectrum.masses.push_back(100.0 + (i * 7919 + n) % 19000 * 0.1);
            spectrum.intensities.push_back(double((i * 104729 + n * 31) % 1000003));
        }
        writer.add(spectrum);
    }
    writer.finish();

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ConvertArgument), path});
    QVERIFY(child.waitForFinished(120000));
    QCOMPARE(child.exitCode(), 0);
    bool ok = false;
    const qint64 growth = child.readAllStandardOutput().trimmed().toLongLong(&ok);
    QVERIFY(ok);
    qInfo("peak grew by %lld kB", static_cast<long long>(growth));
    QVERIFY2(growth <= boundKilobytes, qPrintable(u"peak grew by %1 kB"_s.arg(growth)));
}

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    InstallMzmlReader();
    if (argc == 3 && qstrcmp(argv[1], ConvertArgument) == 0)
        return ConvertAndReportPeak(argv[2]);
    TestMemory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_memory.moc"
