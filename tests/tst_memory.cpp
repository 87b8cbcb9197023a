#include "convert/AscConversion.h"
#include "convert/BatchMode.h"
#include "mzml/MzmlDocument.h"
#include "tests/fake/TestFiles.h"
#include "tests/mzml/MzmlWriter.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// The child's argument: convert the file and print the growth of the peak
// resident size in kilobytes.
constexpr char ConvertArgument[] = "--convert-and-report-peak";

// The peak resident size of this process image (VmHWM): getrusage's would
// carry on the peak of the test that started it.
qint64 PeakKilobytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        qFatal("cannot read /proc/self/status");
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    qFatal("no VmHWM in /proc/self/status");
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

// Writes the acquisition that a row converts.
using WriteAcquisition = std::function<void(const QString &path)>;
Q_DECLARE_METATYPE(WriteAcquisition)

namespace {

// 20,000 spectra of 100 points: about 60 MB of mzML and 32 MB of values.
void WriteLargeAcquisition(const QString &path)
{
    constexpr qint64 spectra = 20000;
    constexpr int points = 100;
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
}

// 50,000 spectra without points whose start times are in hours: each
// spectrum's fault is kept as a mark, its text made only when it is reported.
void WriteStartTimesInHours(const QString &path)
{
    constexpr qint64 spectra = 50000;
    MzmlWriter writer(path, FakeAcquisition{}, spectra);
    for (qint64 n = 0; n < spectra; ++n)
        writer.add({u"+ p ESI Full ms [100.00-1000.00]"_s, double(n), {}, {}});
    writer.finish();
    QByteArray content = ContentOf(path);
    content.replace("UO:0000031", "UO:0000032");
    QVERIFY(WriteBytes(path, content));
}

// 20,000 spectra without points, each a filter text of its own of about
// 1.7 kB, 34 MB in all, as a run gives its MS2 scans: kept packed.
void WriteDistinctFilterTexts(const QString &path)
{
    constexpr qint64 spectra = 20000;
    MzmlWriter writer(path, FakeAcquisition{}, spectra);
    const QString ranges = u"[100.00-2000.00] "_s.repeated(100);
    for (qint64 n = 0; n < spectra; ++n)
        writer.add({u"+ p ESI Full ms %1@cid35.00 "_s.arg(n) + ranges, double(n), {}, {}});
    writer.finish();
}

// The example acquisition with two spectra, each text put in before the
// first occurrence of its place; "#" in a text stands for 64 MiB of "x",
// made only while the file is written.
WriteAcquisition WithInserted(std::vector<std::pair<QByteArray, QByteArray>> insertions)
{
    return [insertions](const QString &path) {
        FakeAcquisition acquisition = ExampleAcquisition();
        acquisition.spectra = {{u"+ p ESI Full ms [100.00-1000.00]"_s, 0.5, {100.5, 250.125}, {1520.25, 3.5}},
                               {u"+ c ESI SIM ms [445.00-455.00]"_s, 1.25, {445.5}, {17.0}}};
        WriteMzml(path, acquisition);
        QByteArray content = ContentOf(path);
        for (const auto &[place, text] : insertions) {
            const qsizetype at = content.indexOf(place);
            QVERIFY(at >= 0);
            content.insert(at, QByteArray(text).replace("#", QByteArray(64 << 20, 'x')));
        }
        QVERIFY(WriteBytes(path, content));
    };
}

// The example's first m/z array 64 MiB of zeros, deflated, whose spectrum
// declares 100 million values, 800 MB: refused before anything is inflated
// or allocated.
void WriteZlibBomb(const QString &path)
{
    WithInserted({})(path);
    QByteArray content = ContentOf(path);
    const qsizetype binary = content.indexOf("<binary>") + 8;
    content.replace(binary, content.indexOf("</binary>", binary) - binary,
                    qCompress(QByteArray(64 << 20, '\0')).mid(4).toBase64());
    content.replace("defaultArrayLength=\"2\"", "defaultArrayLength=\"100000000\"");
    QVERIFY(WriteBytes(path, content));
}

// One spectrum of 2,000,000 points, 32 MB as numbers: decoded a piece at a time.
void WriteOneLargeSpectrum(const QString &path)
{
    FakeAcquisition acquisition = ExampleAcquisition();
    FakeSpectrum spectrum{u"+ p ESI Full ms [100.00-2000.00]"_s, 0.5, {}, {}};
    for (int i = 0; i < 2000000; ++i) {
        spectrum.masses.push_back(100.0 + i * 0.0009765625);
        spectrum.intensities.push_back(double(i % 1000));
    }
    acquisition.spectra = {std::move(spectrum)};
    WriteMzml(path, acquisition);
}

// 60 spectra of 100,000 points that deflate to almost nothing: decoded
// ahead, they would take 96 MB.
void WriteSpectraOfZeros(const QString &path)
{
    FakeAcquisition acquisition = ExampleAcquisition();
    for (int n = 0; n < 60; ++n)
        acquisition.spectra.push_back(
            {u"+ p ESI Full ms [100.00-2000.00]"_s, n * 0.1, std::vector<double>(100000), std::vector<double>(100000)});
    WriteMzml(path, acquisition);
}

} // namespace

class TestMemory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void conversionMemoryStaysFlat_data();
    void conversionMemoryStaysFlat();
};

void TestMemory::conversionMemoryStaysFlat_data()
{
    QTest::addColumn<WriteAcquisition>("write");
    QTest::addColumn<bool>("converts");
    // Holding the file or every spectrum's points (32 MB and more) shows up
    // over the bound; the spectrum index and one spectrum's points stay inside.
    QTest::newRow("20,000 spectra") << WriteAcquisition(WriteLargeAcquisition) << true;
    QTest::newRow("one spectrum of 2,000,000 points") << WriteAcquisition(WriteOneLargeSpectrum) << true;
    QTest::newRow("spectra that inflate a thousandfold") << WriteAcquisition(WriteSpectraOfZeros) << true;
    QTest::newRow("a filter text of its own in every spectrum") << WriteAcquisition(WriteDistinctFilterTexts) << true;
    // Texts of 64 MiB are refused, having been held no further than the limit.
    QTest::newRow("comment between spectra") << WithInserted({{"<spectrum index=\"1\"", "<!--#-->\n"}}) << false;
    QTest::newRow("attribute of a spectrum") << WithInserted({{" index=\"1\"", " n=\"#\""}}) << false;
    QTest::newRow("attribute in the head") << WithInserted({{" id=\"sample1\"", " n=\"#\""}}) << false;
    // A reference repeated 5,000 times to a group of 1,000 parameters.
    QTest::newRow("group referenced over and over") << WithInserted(
        {{"<sampleList", "<referenceableParamGroupList count=\"1\"><referenceableParamGroup id=\"g\">"
                             + QByteArray("<cvParam accession=\"MS:1000511\" value=\"1\"/>").repeated(1000)
                             + "</referenceableParamGroup></referenceableParamGroupList>\n"},
         {"<userParam name=\"Comment\"", QByteArray("<referenceableParamGroupRef ref=\"g\"/>").repeated(5000)}})
                                                    << true;
    QTest::newRow("zlib bomb declaring more than it can hold") << WriteAcquisition(WriteZlibBomb) << false;
    QTest::newRow("start time in hours in every spectrum") << WriteAcquisition(WriteStartTimesInHours) << false;
    // A group of 20,000 parameters that each of 100 samples refers to.
    QTest::newRow("group referred to by every sample") << WithInserted(
        {{"<sampleList", "<referenceableParamGroupList count=\"1\"><referenceableParamGroup id=\"g\">"
                             + QByteArray("<cvParam accession=\"MS:1000511\" value=\"1\"/>").repeated(20000)
                             + "</referenceableParamGroup></referenceableParamGroupList>\n"},
         {"<sample ", QByteArray("<sample id=\"s\"><referenceableParamGroupRef ref=\"g\"/></sample>").repeated(100)}})
                                                       << true;
}

void TestMemory::conversionMemoryStaysFlat()
{
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("the sanitizer keeps freed memory resident");
#endif
    QFETCH(WriteAcquisition, write);
    QFETCH(bool, converts);
    // The fixed allowances (output buffer, points decoded ahead, queue, file
    // windows) come to about 13 MB; what the allocator keeps of freed memory
    // varies by several MB with the threads' timing.
    constexpr qint64 boundKilobytes = 24 * 1024;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"large.raw"_s);
    write(path);

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ConvertArgument), path});
    QVERIFY(child.waitForFinished(120000));
    bool ok = false;
    const qint64 growth = child.readAllStandardOutput().trimmed().toLongLong(&ok);
    QVERIFY(ok);
    qInfo("peak grew by %lld kB", static_cast<long long>(growth));
    QVERIFY2(growth <= boundKilobytes, qPrintable(u"peak grew by %1 kB"_s.arg(growth)));
    QCOMPARE(child.exitCode(), converts ? 0 : 1);
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
