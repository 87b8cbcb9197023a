#include "convert/AscConversion.h"
#include "convert/BatchMode.h"
#include "convert/Errors.h"
#include "convert/modAPI.h"
#include "tests/fake/FakeComponent.h"
#include "tests/fake/ScopedReplacement.h"
#include "tests/fake/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <optional>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(FakeSpectrum)
Q_DECLARE_METATYPE(SampleHeader)

class TestAscConversion : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void dataPart_data();
    void dataPart();
    void dataLines_data();
    void dataLines();
    void headerSource_data();
    void headerSource();
    void nothingWrittenBeforeTheOutputIsSafe_data();
    void nothingWrittenBeforeTheOutputIsSafe();
    void outputName_data();
    void outputName();
    void componentFailure_data();
    void componentFailure();
    void callsTheComponentInOrder();
    void successMessage_data();
    void successMessage();
    void largeAcquisitions_data();
    void largeAcquisitions();
    void failureDeepInLargeOutput_data();
    void failureDeepInLargeOutput();
};

// Everything one conversion touches: a folder of its own, the in-memory
// component, a zone one hour east of UTC without daylight time, and a message
// box that records what it is asked to show.
struct Surroundings
{
    QTemporaryDir folder;
    FakeComponent component;
    QStringList messages;
    std::function<void()> whileMessageShown = [] {};

    ScopedReplacement<modAPI::TimeZoneInformation(const QDateTime &)> zone{
        modAPI::GetTimeZoneInformation, [](const QDateTime &) { return modAPI::TimeZoneInformation{.Bias = -60}; }};
    ScopedReplacement<void(const QString &, const QString &)> messageBox{
        modAPI::ShowInformation, [this](const QString &text, const QString &title) {
            messages << title + u" | "_s + text;
            whileMessageShown();
        }};

    QString path(const QString &name) const { return folder.filePath(name); }

    QByteArray read(const QString &name) const { return ContentOf(path(name)); }
};

static FakeAcquisition Acquisition(std::vector<FakeSpectrum> spectra = {})
{
    FakeAcquisition a = ExampleAcquisition(); // created 15.03.2004 10:23:17
    a.spectra = std::move(spectra);
    return a;
}

static const QStringList HeaderLines{u"TimeOfInjection=1079342597"_s,
                                     u"NameOfOperator=analyst"_s,
                                     u"NameOfInstrument=Orbit 2"_s,
                                     u"NameOfSample=QC-3"_s,
                                     u"NameOfMethod=lipids.meth"_s,
                                     u"Description= QC run, blank "_s,
                                     u"VialNumber=12"_s,
                                     u" "_s};

static const QString MsFilter = u"+ p ESI Full ms [100.00-1000.00]"_s;
static const QString SimFilter = u"+ c ESI SIM ms2 [445.00-446.00]"_s;

// Spectrum n: started at n/2 minutes, one point above 0 and one at 0.
static FakeSpectrum Numbered(int n, const QString &filter)
{
    return {filter, n * 0.5, {100.0 + n, 200.5}, {10.0 * n, 0}};
}

static std::vector<FakeSpectrum> Numbered(const QStringList &filters)
{
    std::vector<FakeSpectrum> spectra;
    for (const QString &filter : filters)
        spectra.push_back(Numbered(int(spectra.size()) + 1, filter));
    return spectra;
}

static QStringList Block(int n)
{
    return {u"IntervalOfScan=%1,000"_s.arg(n * 30), u"%1,000\t%2,0"_s.arg(100 + n).arg(10 * n)};
}

static QByteArray Lines(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLocal8Bit() + "\r\n";
    return bytes;
}

static qsizetype OpenFileCount()
{
    return QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
}

static const QString RawName = u"run7.raw"_s;
static const QString AscName = u"run7.asc"_s;

void TestAscConversion::init()
{
    QLocale::setDefault(QLocale(u"de_DE"_s));
    BatchMode = false;
}

void TestAscConversion::cleanup()
{
    QLocale::setDefault(QLocale::c());
    BatchMode = false;
}

void TestAscConversion::dataPart_data()
{
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QStringList>("lines");

    const QString start = u"StartDataSection"_s;
    QTest::newRow("no spectra") << QStringList() << QStringList();
    QTest::newRow("ms only") << QStringList{MsFilter, MsFilter} << Block(1) + Block(2);
    QTest::newRow("SIM only") << QStringList{SimFilter} << Block(1);
    QTest::newRow("both kinds") << QStringList{SimFilter, MsFilter, u"neither"_s, MsFilter, SimFilter}
                                << QStringList{start} + Block(2) + Block(4) + QStringList{u" "_s, start} + Block(1)
                                       + Block(5);
    QTest::newRow("one spectrum of both kinds")
        << QStringList{u"+ p SIM ms [1-2]"_s} << QStringList{start} + Block(1) + QStringList{u" "_s, start} + Block(1);

    // Which filter texts count: the blanks on both sides and the case matter.
    QTest::newRow("ms between blanks") << QStringList{u" ms "_s} << Block(1);
    QTest::newRow("ms2") << QStringList{u"+ c ESI d Full ms2 445.12@cid35.00"_s} << QStringList();
    QTest::newRow("MS") << QStringList{u"+ c EI Full MS [50-500]"_s} << QStringList();
    QTest::newRow("ms at the start") << QStringList{u"ms [50-500]"_s} << QStringList();
    QTest::newRow("ms at the end") << QStringList{u"+ c Full ms"_s} << QStringList();
    QTest::newRow("ms between tabs") << QStringList{u"+ c\tms\t[50-500]"_s} << QStringList();
    QTest::newRow("sim") << QStringList{u"+ c sim [50-500]"_s} << QStringList();
    QTest::newRow("SIM at the end") << QStringList{u"+ c SIM"_s} << QStringList();
    QTest::newRow("SIMS") << QStringList{u"+ c SIMS [50-500]"_s} << QStringList();
    QTest::newRow("empty filter") << QStringList{QString()} << QStringList();
}

void TestAscConversion::dataPart()
{
    QFETCH(QStringList, filters);
    QFETCH(QStringList, lines);
    Surroundings s;
    s.component.add(s.path(RawName), Acquisition(Numbered(filters)));

    SampleHeader header;
    QVERIFY(ConvertRawFile(s.path(RawName), u"N"_s, header, 1));
    QCOMPARE(s.read(AscName), Lines(HeaderLines + lines));
}

void TestAscConversion::dataLines_data()
{
    QTest::addColumn<FakeSpectrum>("spectrum");
    QTest::addColumn<double>("scaling");
    QTest::addColumn<bool>("converted");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("failure"); // "%1": the acquisition's path

    const double inf = HUGE_VAL;
    const double nan = std::nan("");
    const auto ms = [](double minutes, std::vector<double> masses, std::vector<double> intensities) {
        return FakeSpectrum{MsFilter, minutes, std::move(masses), std::move(intensities)};
    };
    const QString interval = u"IntervalOfScan=2190,000"_s;
    const FakeSpectrum example = ms(36.5, {445.12}, {1520.46});

    QTest::newRow("example") << example << 1.0 << true << QStringList{interval, u"445,120\t1520,5"_s} << QString();
    QTest::newRow("scaling 10") << example << 10.0 << true << QStringList{interval, u"445,120\t152,0"_s} << QString();
    QTest::newRow("scaling 0.5") << example << 0.5 << true << QStringList{interval, u"445,120\t3040,9"_s} << QString();
    QTest::newRow("scaling -1") << example << -1.0 << true << QStringList{interval, u"445,120\t-1520,5"_s} << QString();
    QTest::newRow("scaling 1e3") << example << 1e3 << true << QStringList{interval, u"445,120\t1,5"_s} << QString();
    QTest::newRow("tie rounds away from zero")
        << ms(0.0125, {0.0625}, {1520.25}) << -1.0 << true
        << QStringList{u"IntervalOfScan=0,750"_s, u"0,063\t-1520,3"_s} << QString();
    QTest::newRow("0 and below left out") << ms(36.5, {1, 2, 3, 4, 5}, {0, -5, 7, -0.0, nan}) << 1.0 << true
                                          << QStringList{interval, u"3,000\t7,0"_s} << QString();
    QTest::newRow("0.04 gives 0.0") << ms(36.5, {99.9999}, {0.04}) << 1.0 << true
                                    << QStringList{interval, u"100,000\t0,0"_s} << QString();
    QTest::newRow("no points") << ms(36.5, {}, {}) << 1.0 << true << QStringList{interval} << QString();
    QTest::newRow("all at 0") << ms(36.5, {1, 2}, {0, 0}) << 1.0 << true << QStringList{interval} << QString();
    QTest::newRow("scaling 0, nothing above 0")
        << ms(36.5, {1, 2}, {0, -1}) << 0.0 << true << QStringList{interval} << QString();
    QTest::newRow("start time -0 is no negative time")
        << ms(-0.0, {1}, {1}) << 1.0 << true << QStringList{u"IntervalOfScan=0,000"_s, u"1,000\t1,0"_s} << QString();
    QTest::newRow("negative start time") << ms(-0.5, {-1.5}, {1}) << 1.0 << true
                                         << QStringList{u"IntervalOfScan=-30,000"_s, u"-1,500\t1,0"_s} << QString();

    // Failures: the lines before the failing one stay, nothing of it is written.
    QTest::newRow("scaling 0 at the first point above 0")
        << ms(36.5, {1, 2}, {0, 5}) << 0.0 << false << QStringList{interval}
        << u"Division by zero: the scaling factor is 0."_s;
    QTest::newRow("start time overflows")
        << ms(1e308, {1}, {1}) << 1.0 << false << QStringList() << u"\"%1\", spectrum 1: Overflow in a start time."_s;
    QTest::newRow("start time not a number")
        << ms(nan, {1}, {1}) << 1.0 << false << QStringList() << u"\"%1\", spectrum 1: Overflow in a start time."_s;
    QTest::newRow("infinite mass") << ms(36.5, {1, inf}, {2, 3}) << 1.0 << false
                                   << QStringList{interval, u"1,000\t2,0"_s}
                                   << u"\"%1\", spectrum 1: Overflow in a mass."_s;
    QTest::newRow("mass not a number") << ms(36.5, {nan}, {3}) << 1.0 << false << QStringList{interval}
                                       << u"\"%1\", spectrum 1: Overflow in a mass."_s;
    QTest::newRow("division overflows") << ms(36.5, {1}, {1e300}) << 1e-300 << false << QStringList{interval}
                                        << u"\"%1\", spectrum 1: Overflow in a scaled intensity."_s;
    QTest::newRow("scaling not a number")
        << example << nan << false << QStringList{interval} << u"\"%1\", spectrum 1: Overflow in a scaled intensity."_s;
    QTest::newRow("masses and intensities differ") << ms(36.5, {1, 2}, {3}) << 1.0 << false << QStringList{interval}
                                                   << u"\"%1\", spectrum 1: it holds 2 masses but 1 intensities."_s;

    // A spectrum handed out in runs reads as one.
    const auto inRuns = [](FakeSpectrum spectrum, size_t runPoints) {
        spectrum.runPoints = runPoints;
        return spectrum;
    };
    const FakeSpectrum five = ms(36.5, {1, 2, 3, 4, 5}, {1, 0, 3, 4, 5});
    const QStringList fiveLines{interval, u"1,000\t1,0"_s, u"3,000\t3,0"_s, u"4,000\t4,0"_s, u"5,000\t5,0"_s};
    QTest::newRow("runs of 2") << inRuns(five, 2) << 1.0 << true << fiveLines << QString();
    QTest::newRow("runs of 1") << inRuns(five, 1) << 1.0 << true << fiveLines << QString();
    QTest::newRow("no points, no run") << inRuns(ms(36.5, {}, {}), 2) << 1.0 << true << QStringList{interval}
                                       << QString();
    QTest::newRow("infinite mass in the third run")
        << inRuns(ms(36.5, {1, 2, 3, 4, inf, 6}, {1, 2, 3, 4, 5, 6}), 2) << 1.0 << false
        << QStringList{interval, u"1,000\t1,0"_s, u"2,000\t2,0"_s, u"3,000\t3,0"_s, u"4,000\t4,0"_s}
        << u"\"%1\", spectrum 1: Overflow in a mass."_s;
    QTest::newRow("infinite mass second in a run")
        << inRuns(ms(36.5, {1, 2, 3, inf}, {1, 2, 3, 4}), 2) << 1.0 << false
        << QStringList{interval, u"1,000\t1,0"_s, u"2,000\t2,0"_s, u"3,000\t3,0"_s}
        << u"\"%1\", spectrum 1: Overflow in a mass."_s;
}

void TestAscConversion::dataLines()
{
    QFETCH(FakeSpectrum, spectrum);
    QFETCH(double, scaling);
    QFETCH(bool, converted);
    QFETCH(QStringList, lines);
    QFETCH(QString, failure);
    Surroundings s;
    s.component.add(s.path(RawName), Acquisition({spectrum}));

    SampleHeader header;
    QCOMPARE(ConvertRawFile(s.path(RawName), u"N"_s, header, scaling), converted);
    QCOMPARE(s.read(AscName), Lines(HeaderLines + lines));
    const std::optional<Error> error = LastConversionFailure();
    QCOMPARE(error ? error->description() : QString(), failure.isEmpty() ? failure : failure.arg(s.path(RawName)));
    QCOMPARE(s.messages.size(), converted ? 1 : 0);
}

void TestAscConversion::headerSource_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<SampleHeader>("passed");
    QTest::addColumn<SampleHeader>("returned");
    QTest::addColumn<QStringList>("lines");

    // What the conversion gives back of a header passed to it: the injection
    // time recomputed from 01.07.2004 14:30:00.
    const auto recomputed = [](SampleHeader header) {
        header.TimeOfInjection = u"1088688600"_s;
        return header;
    };
    SampleHeader edited{u"01.07.2004 14:30:00"_s, u"999"_s,    u"Jürgen"_s, u"Orbit 3"_s, u"QC-4"_s,
                        u"proteins.meth"_s,       u"a\r\nb"_s, u"7"_s,      u"D:\\x"_s};
    const SampleHeader editedReturned = recomputed(edited);
    const QStringList editedLines{u"TimeOfInjection=1088688600"_s,
                                  u"NameOfOperator=Jürgen"_s,
                                  u"NameOfInstrument=Orbit 3"_s,
                                  u"NameOfSample=QC-4"_s,
                                  u"NameOfMethod=proteins.meth"_s,
                                  u"Description=a b"_s,
                                  u"VialNumber=7"_s,
                                  u" "_s};
    // A line break of any kind in a value is one blank: no value makes lines.
    SampleHeader broken{u"01.07.2004 14:30:00"_s, QString(),  u"a\r\nIntervalOfScan=0.000"_s,
                        u"\nOrbit\n"_s,           u"QC\r4"_s, u"\n\r"_s,
                        u"x\r\n\r\ny"_s,          u"7\r"_s,   QString()};
    const QStringList brokenLines{u"TimeOfInjection=1088688600"_s,
                                  u"NameOfOperator=a IntervalOfScan=0.000"_s,
                                  u"NameOfInstrument= Orbit "_s,
                                  u"NameOfSample=QC 4"_s,
                                  u"NameOfMethod=  "_s,
                                  u"Description=x  y"_s,
                                  u"VialNumber=7 "_s,
                                  u" "_s};
    SampleHeader read{u"15.03.2004 10:23:17"_s, u"1079342597"_s,      u"analyst"_s, u"Orbit 2"_s,          u"QC-3"_s,
                      u"lipids.meth"_s,         u" QC run, blank "_s, u"12"_s,      u"D:\\results\\run7"_s};

    QTest::newRow("N reads the acquisition") << u"N"_s << edited << read << HeaderLines;
    QTest::newRow("Y writes what is passed") << u"Y"_s << edited << editedReturned << editedLines;
    QTest::newRow("n is not N") << u"n"_s << edited << editedReturned << editedLines;
    QTest::newRow("empty mode") << QString() << edited << editedReturned << editedLines;
    QTest::newRow("line breaks in the values") << u"Y"_s << broken << recomputed(broken) << brokenLines;
}

void TestAscConversion::headerSource()
{
    QFETCH(QString, mode);
    QFETCH(SampleHeader, passed);
    QFETCH(SampleHeader, returned);
    QFETCH(QStringList, lines);
    Surroundings s;
    s.component.add(s.path(RawName), Acquisition());

    QVERIFY(ConvertRawFile(s.path(RawName), mode, passed, 1));
    QCOMPARE(passed, returned);
    QCOMPARE(s.read(AscName), Lines(lines));
}

void TestAscConversion::nothingWrittenBeforeTheOutputIsSafe_data()
{
    QTest::addColumn<QString>("rawName");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("creationDateTime");
    QTest::addColumn<QString>("link"); // how the output's name leads to the acquisition run7.raw, if it does

    const QString valid = u"15.03.2004 10:23:17"_s;
    QTest::newRow("no creation date") << RawName << u"Y"_s << QString() << QString();
    QTest::newRow("creation date unreadable") << RawName << u"Y"_s << u"15/03/2004"_s << QString();
    QTest::newRow("acquisition missing") << u"other.raw"_s << u"N"_s << valid << QString();
    QTest::newRow("folder missing") << u"missing/run7.raw"_s << u"Y"_s << valid << QString();
    QTest::newRow("output would be the acquisition") << AscName << u"N"_s << valid << QString();
    QTest::newRow("path too short") << u"ab"_s << u"Y"_s << valid << QString();
    QTest::newRow("output hard-linked to the acquisition") << RawName << u"N"_s << valid << u"hard"_s;
    QTest::newRow("output a symbolic link to the acquisition") << RawName << u"Y"_s << valid << u"symbolic"_s;
}

void TestAscConversion::nothingWrittenBeforeTheOutputIsSafe()
{
    QFETCH(QString, rawName);
    QFETCH(QString, mode);
    QFETCH(QString, creationDateTime);
    QFETCH(QString, link);
    Surroundings s;
    s.component.add(s.path(RawName), Acquisition(Numbered({MsFilter})));
    s.component.add(s.path(AscName), Acquisition(Numbered({MsFilter})));
    const QByteArray acquisition = "acquisition bytes";
    const QStringList files = link.isEmpty() ? QStringList{AscName} : QStringList{AscName, RawName};
    QVERIFY(WriteBytes(s.path(files.last()), acquisition));
    if (link == u"hard")
        QVERIFY(HardLink(s.path(RawName), s.path(AscName)));
    if (link == u"symbolic")
        QVERIFY(QFile::link(RawName, s.path(AscName)));
    const QString rawPath = rawName == u"ab" ? rawName : s.path(rawName);

    SampleHeader header;
    header.CreationDateTime = creationDateTime;
    QVERIFY(!ConvertRawFile(rawPath, mode, header, 1));
    QCOMPARE(QDir(s.folder.path()).entryList(QDir::Files), files);
    for (const QString &name : files)
        QCOMPARE(s.read(name), acquisition);
    QVERIFY(!s.component.calls().contains(u"Detector"_s));
    QCOMPARE(s.component.openDocuments(), 0);
    QCOMPARE(s.messages, QStringList());
}

void TestAscConversion::outputName_data()
{
    QTest::addColumn<QString>("rawName");
    QTest::addColumn<QString>("ascName");
    QTest::addColumn<QString>("linkedFile"); // the file a symbolic link of that name leads to, if any

    QTest::newRow("lower-case extension") << u"run7.raw"_s << u"run7.asc"_s << QString();
    QTest::newRow("upper-case extension") << u"run7.RAW"_s << u"run7.asc"_s << QString();
    QTest::newRow("no extension") << u"run7"_s << u"rasc"_s << QString();
    QTest::newRow("mzML export") << u"run7.mzML"_s << u"run7.asc"_s << QString();
    QTest::newRow("mzML export, upper case") << u"run7.MZML"_s << u"run7.asc"_s << QString();
    QTest::newRow("gzip-compressed mzML export") << u"run7.mzML.gz"_s << u"run7.asc"_s << QString();
    QTest::newRow("gzip-compressed mzML export, mixed case") << u"run7.mzml.GZ"_s << u"run7.asc"_s << QString();
    QTest::newRow("mzML without the dot") << u"run7mzML"_s << u"run7masc"_s << QString();
    QTest::newRow("gzip-compressed other file") << u"run7.raw.gz"_s << u"run7.rawasc"_s << QString();
    QTest::newRow("three characters") << u"raw"_s << u"asc"_s << QString();
    QTest::newRow("symbolic link to another file") << u"run7.raw"_s << u"run7.asc"_s << u"spectra.txt"_s;
}

void TestAscConversion::outputName()
{
    QFETCH(QString, rawName);
    QFETCH(QString, ascName);
    QFETCH(QString, linkedFile);
    Surroundings s;
    s.component.add(s.path(rawName), Acquisition(Numbered({MsFilter})));
    const QByteArray expected = Lines(HeaderLines + Block(1));
    QStringList files{ascName};
    if (!linkedFile.isEmpty()) {
        QVERIFY(QFile::link(linkedFile, s.path(ascName)));
        files.append(linkedFile);
    }
    QVERIFY(WriteBytes(s.path(files.last()), QByteArray(100000, 'x')));

    // The second run finds the first one's file and overwrites it alike.
    for (int run = 1; run <= 2; ++run) {
        SampleHeader header;
        QVERIFY(ConvertRawFile(s.path(rawName), u"N"_s, header, 1));
        QCOMPARE(QDir(s.folder.path()).entryList(QDir::Files), files);
        for (const QString &name : files)
            QCOMPARE(s.read(name), expected);
    }
}

// One spectrum of each kind: every part of the data layout occurs.
static const QStringList BothKinds{MsFilter, SimFilter};

void TestAscConversion::componentFailure_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("call");
    QTest::addColumn<int>("linesKept"); // -1: no output file
    QTest::addColumn<bool>("opened");   // the conversion's own document was opened

    // Taking the header from the acquisition fails before any output exists.
    for (const char *operation : {"Open", "SampleInfo", "UserText", "FileHeader", "CreationDate", "DataPath"})
        QTest::addRow("header: %s", operation) << u"N"_s << QString::fromLatin1(operation) << 1 << -1 << false;

    // The complete file has 15 lines: 8 of the header, "StartDataSection"
    // and the ms block (2 lines), " ", "StartDataSection" and the SIM block.
    const auto row = [](const char *operation, int call, int linesKept, bool opened = true) {
        QTest::addRow("%s %d", operation, call)
            << u"Y"_s << QString::fromLatin1(operation) << call << linesKept << opened;
    };
    row("CreateRawFileDocument", 1, 8, false);
    row("Open", 1, 8, false);
    row("Detector", 1, 8);
    row("Spectra", 1, 8);
    row("Count", 1, 8);  // ms search
    row("Count", 2, 8);  // SIM search
    row("Count", 3, 9);  // ms section
    row("Count", 4, 13); // SIM section
    row("Filters", 1, 8);
    row("ScanNumber", 3, 8);
    row("Text", 3, 8);
    row("Filters", 4, 9);
    row("Text", 5, 11);
    row("Filters", 6, 13);
    row("ScanNumber", 7, 13);
    row("StartTime", 1, 9);
    row("Item", 1, 10);
    row("Points", 1, 10);
    row("StartTime", 2, 13);
    row("Points", 2, 14);
    row("Close", 1, 15);
}

void TestAscConversion::componentFailure()
{
    QFETCH(QString, mode);
    QFETCH(QString, operation);
    QFETCH(int, call);
    QFETCH(int, linesKept);
    QFETCH(bool, opened);
    const qsizetype openFiles = OpenFileCount();
    Surroundings s;
    s.component.add(s.path(RawName), Acquisition(Numbered(BothKinds)));
    s.component.failAt(operation, call);

    SampleHeader header{u"15.03.2004 10:23:17"_s, {},      u"analyst"_s, u"Orbit 2"_s, u"QC-3"_s, u"lipids.meth"_s,
                        u" QC run, blank "_s,     u"12"_s, QString()};
    QVERIFY(!ConvertRawFile(s.path(RawName), mode, header, 1));

    const QStringList complete = HeaderLines + QStringList{u"StartDataSection"_s} + Block(1)
                               + QStringList{u" "_s, u"StartDataSection"_s} + Block(2);
    QCOMPARE(s.read(AscName), linesKept < 0 ? QByteArray("<missing>") : Lines(complete.first(linesKept)));
    QCOMPARE(s.component.calls().last(), opened ? u"Close"_s : operation);
    QCOMPARE(s.component.count(u"Close"_s), opened ? 1 : 0);
    QCOMPARE(s.component.liveObjects(), 0);
    QCOMPARE(s.messages, QStringList());
    QCOMPARE(OpenFileCount(), openFiles);
}

void TestAscConversion::callsTheComponentInOrder()
{
    Surroundings s;
    s.component.add(s.path(RawName), Acquisition(Numbered({SimFilter, MsFilter, u"none"_s})));
    SampleHeader header;
    QVERIFY(ConvertRawFile(s.path(RawName), u"N"_s, header, 1));

    const QStringList readHeader = ReadSampleHeaderCalls();
    const QStringList filter{u"Filters"_s, u"ScanNumber"_s, u"Text"_s};
    const QStringList block{u"StartTime"_s, u"Item"_s, u"Points"_s};
    const QStringList open{u"CreateRawFileDocument"_s, u"Open"_s, u"Detector"_s, u"Spectra"_s};
    const QStringList msSearch = QStringList{u"Count"_s} + filter + filter;
    const QStringList simSearch = QStringList{u"Count"_s} + filter;
    const QStringList msSection = QStringList{u"Count"_s} + filter + filter + block + filter;
    const QStringList simSection = QStringList{u"Count"_s} + filter + block + filter + filter;
    QCOMPARE(s.component.calls(),
             readHeader + open + msSearch + simSearch + msSection + simSection + QStringList{u"Close"_s});
}

void TestAscConversion::successMessage_data()
{
    QTest::addColumn<bool>("batch");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<QStringList>("messages");

    const QStringList shown{u"Successful Conversion | Quorvane RAW file has been converted to ASCII text format"_s};
    QTest::newRow("window, converted") << false << false << shown;
    QTest::newRow("window, failed") << false << true << QStringList();
    QTest::newRow("batch, converted") << true << false << QStringList();
    QTest::newRow("batch, failed") << true << true << QStringList();
}

void TestAscConversion::successMessage()
{
    QFETCH(bool, batch);
    QFETCH(bool, fails);
    QFETCH(QStringList, messages);
    Surroundings s;
    s.component.add(s.path(RawName), Acquisition(Numbered(BothKinds)));
    if (fails)
        s.component.failAt(u"Points"_s, 2);
    BatchMode = batch;
    // The message comes when all is finished: file complete, component released.
    s.whileMessageShown = [&s] {
        QCOMPARE(s.read(AscName).count("IntervalOfScan="), 2);
        QCOMPARE(s.component.liveObjects(), 0);
        QCOMPARE(s.component.openDocuments(), 0);
    };

    SampleHeader header;
    QCOMPARE(ConvertRawFile(s.path(RawName), u"N"_s, header, 1), !fails);
    QCOMPARE(s.messages, messages);
}

void TestAscConversion::largeAcquisitions_data()
{
    QTest::addColumn<int>("spectra");
    QTest::addColumn<int>("points");

    QTest::newRow("40,000 spectra") << 40000 << 1;
    QTest::newRow("32,768 points") << 1 << 32768;
    QTest::newRow("40,000 points") << 1 << 40000;
}

void TestAscConversion::largeAcquisitions()
{
    QFETCH(int, spectra);
    QFETCH(int, points);
    Surroundings s;
    FakeAcquisition a = Acquisition();
    for (int n = 1; n <= spectra; ++n) {
        FakeSpectrum spectrum{n % 2 ? MsFilter : SimFilter, 0.5, {}, {}};
        for (int j = 1; j <= points; ++j) {
            spectrum.masses.push_back(j);
            spectrum.intensities.push_back(1);
        }
        a.spectra.push_back(std::move(spectrum));
    }
    s.component.add(s.path(RawName), std::move(a));

    SampleHeader header;
    QVERIFY(ConvertRawFile(s.path(RawName), u"N"_s, header, 1));
    const QList<QByteArray> lines = s.read(AscName).split('\n');
    const int sections = spectra > 1 ? 2 : 1;
    QCOMPARE(lines.size() - 1, 8 + spectra * (1 + points) + (sections - 1) * 3);
    QCOMPARE(lines[lines.size() - 2], u"%1,000\t1,0\r"_s.arg(points).toLatin1());
}

void TestAscConversion::failureDeepInLargeOutput_data()
{
    QTest::addColumn<int>("spectra");
    QTest::addColumn<int>("points");
    QTest::addColumn<int>("badMass");       // index of a mass that is not a number in the last spectrum; -1: none
    QTest::addColumn<QString>("operation"); // the component operation that fails, at the last spectrum
    QTest::addColumn<int>("linesKept");

    // Many thousand lines are taken before the failure: more than are ever
    // held back at once.
    QTest::newRow("bad mass deep in a large spectrum") << 1 << 60000 << 45000 << QString() << 8 + 1 + 45000;
    QTest::newRow("bad mass after many spectra") << 30 << 2000 << 1500 << QString() << 8 + 29 * 2001 + 1 + 1500;
    QTest::newRow("StartTime fails after many spectra") << 30 << 2000 << -1 << u"StartTime"_s << 8 + 29 * 2001;
    QTest::newRow("Points fails after many spectra") << 30 << 2000 << -1 << u"Points"_s << 8 + 29 * 2001 + 1;
}

// The file of a failed conversion is the complete file cut after the lines
// before the failure.
void TestAscConversion::failureDeepInLargeOutput()
{
    QFETCH(int, spectra);
    QFETCH(int, points);
    QFETCH(int, badMass);
    QFETCH(QString, operation);
    QFETCH(int, linesKept);
    FakeAcquisition a = Acquisition();
    for (int n = 1; n <= spectra; ++n) {
        FakeSpectrum spectrum{MsFilter, 0.25 * n, {}, {}};
        for (int j = 0; j < points; ++j) {
            spectrum.masses.push_back(100 + j * 0.0137);
            spectrum.intensities.push_back(1e3 + j * 77.7);
        }
        a.spectra.push_back(std::move(spectrum));
    }
    QByteArray complete;
    {
        Surroundings s;
        s.component.add(s.path(RawName), a);
        SampleHeader header;
        QVERIFY(ConvertRawFile(s.path(RawName), u"N"_s, header, 1));
        complete = s.read(AscName);
    }
    if (badMass >= 0)
        a.spectra.back().masses[size_t(badMass)] = std::nan("");
    Surroundings s;
    s.component.add(s.path(RawName), std::move(a));
    if (!operation.isEmpty())
        s.component.failAt(operation, spectra);

    SampleHeader header;
    QVERIFY(!ConvertRawFile(s.path(RawName), u"N"_s, header, 1));
    if (badMass >= 0)
        QCOMPARE(LastConversionFailure()->description(),
                 u"\"%1\", spectrum %2: Overflow in a mass."_s.arg(s.path(RawName)).arg(spectra));
    qsizetype end = 0;
    for (int line = 0; line < linesKept; ++line)
        end = complete.indexOf('\n', end) + 1;
    QCOMPARE(s.read(AscName), complete.first(end));
}

QTEST_APPLESS_MAIN(TestAscConversion)
#include "tst_ascconversion.moc"
