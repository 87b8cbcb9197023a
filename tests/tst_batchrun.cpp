// Runs the real program as a user's script would: on a machine without a
// display, with the argument on its command line.
#include "mzml/MzmlDocument.h"
#include "tests/BatchOutcome.h"
#include "tests/fake/TestFiles.h"
#include "tests/mzml/MzmlWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <map>
#include <memory>

#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

class TestBatchRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void batchRun_data();
    void batchRun();
    void leavesNoDecompressedCopy();
    void windowModeNeedsADisplay();
    void windowModeKeepsRunning();

private:
    struct Run
    {
        std::unique_ptr<QProcess> process;
        QElapsedTimer clock;
        qint64 milliseconds = 0;
    };

    void start(const QString &name, const QStringList &arguments, const QProcessEnvironment &environment);
    Run &finish(const QString &name);

    QTemporaryDir m_temporary;
    QString m_dir;
    QString m_temporaryFolder; // the system's temporary folder for every conversion
    std::map<QString, Run> m_runs;
};

static QProcessEnvironment WithoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(name);
    return environment;
}

static QString Fixture()
{
    return QStringLiteral(QUORVANE_SOURCE_DIR "/examples/demo.raw");
}

// Each row: the arguments, with {dir} for a folder whose name holds a blank,
// the RAW path they name, the text refused, the start of a question's answer
// and the words added to a failure's line for the arguments' look.
static const struct
{
    const char *name;
    QStringList arguments;
    QString path;
    QString refused;
    QString answer = {};
    QString added = {};
} BatchRows[] = {
    {"fixture, quoted path with blanks", {u"\"{dir}/demo"_s, u"run.raw\""_s}, u"{dir}/demo run.raw"_s, {}},
    {"file that does not exist", {u"{dir}/missing.raw"_s}, u"{dir}/missing.raw"_s, {}},
    // Beside it: "export only.mzML.gz" and "damaged.mzML.gz".
    {"export beside the RAW path", {u"{dir}/export only.raw"_s}, u"{dir}/export only.raw"_s, {}},
    {"damaged export beside the RAW path", {u"{dir}/damaged.raw"_s}, u"{dir}/damaged.raw"_s, {}},
    {"only quotes", {u"\"\""_s}, QString(), {}},
    {"empty argument", {QString()}, QString(), {}},
    {"semicolon and factor", {u"{dir}/demo run.raw;2"_s}, u"{dir}/demo run.raw"_s, u"{dir}/demo run.raw;2"_s},
    // The fixture with a start time stamp that quotes a line of its own.
    {"content that forges a line", {u"{dir}/forged.raw"_s}, u"{dir}/forged.raw"_s, {}},
    // Copies of the fixture and of its export, run under "ulimit -f 4".
    {"file-size limit, text file", {u"{dir}/limited.raw"_s}, u"{dir}/limited.raw"_s, {}},
    {"file-size limit, decompressed copy", {u"{dir}/limited export.raw"_s}, u"{dir}/limited export.raw"_s, {}},
    {"help", {u"--help"_s}, {}, {}, u"Usage: quorvane-to-text [RAW-FILE]\n"_s},
    {"help, short", {u"-h"_s}, {}, {}, u"Usage: quorvane-to-text [RAW-FILE]\n"_s},
    {"version", {u"--version"_s}, {}, {}, u"quorvane-to-text 7."_s},
    {"version, short", {u"-V"_s}, {}, {}, u"quorvane-to-text 7."_s},
    // Two MS2 spectra: a success, and a word that the .asc holds the header only.
    {"no ms or SIM spectrum", {u"{dir}/ms2 only.mzML"_s}, u"{dir}/ms2 only.mzML"_s, {}},
    {"a file named --help", {u"./--help"_s}, u"./--help"_s, {}},
    {"files a shell expanded",
     {u"{dir}/demo run.raw"_s, u"{dir}/export only.mzML.gz"_s},
     u"{dir}/demo run.raw {dir}/export only.mzML.gz"_s,
     {},
     {},
     u" The program converts one acquisition per run: to convert many, see \"Many acquisitions\" in its README."_s},
};

static constexpr int FileSizeLimit = 4096;

static bool IsLimited(QStringView rowName)
{
    return rowName.startsWith(u"file-size limit");
}

void TestBatchRun::start(const QString &name, const QStringList &arguments, const QProcessEnvironment &environment)
{
    Run &run = m_runs[name];
    run.process = std::make_unique<QProcess>();
    if (IsLimited(name))
        run.process->setChildProcessModifier([] {
            const rlimit limit{FileSizeLimit, FileSizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
        });
    run.process->setProcessEnvironment(environment);
    run.process->setWorkingDirectory(m_dir);
    run.clock.start();
    run.process->start(QStringLiteral(QUORVANE_PROGRAM), arguments);
}

TestBatchRun::Run &TestBatchRun::finish(const QString &name)
{
    Run &run = m_runs[name];
    if (run.process->state() != QProcess::NotRunning && run.process->waitForFinished(30000))
        run.milliseconds = run.clock.elapsed();
    return run;
}

// The runs wait five seconds each, so they all start together.
void TestBatchRun::initTestCase()
{
    InstallMzmlReader();
    QVERIFY(m_temporary.isValid());
    m_dir = m_temporary.filePath(u"batch folder"_s);
    QVERIFY(QDir().mkpath(m_dir));
    QVERIFY(QFile::copy(Fixture(), m_dir + u"/demo run.raw"_s));
    const QByteArray compressed = Gzipped(ContentOf(Fixture()));
    QVERIFY(WriteBytes(m_dir + u"/export only.mzML.gz"_s, compressed));
    QVERIFY(WriteBytes(m_dir + u"/damaged.mzML.gz"_s, compressed.first(compressed.size() / 2)));
    QVERIFY(QFile::copy(Fixture(), m_dir + u"/limited.raw"_s));
    QVERIFY(WriteBytes(m_dir + u"/limited export.mzML.gz"_s, compressed));
    QVERIFY(WriteBytes(
        m_dir + u"/forged.raw"_s,
        ContentOf(Fixture()).replace("startTimeStamp=\"2024-03-15T10:23:17\"",
                                     "startTimeStamp=\"1&#10;quorvane-to-text: other.raw: Error 53: forged&#13;\"")));
    QVERIFY(WriteBytes(m_dir + u"/--help"_s, compressed));
    FakeAcquisition ms2 = ExampleAcquisition();
    ms2.spectra = {{u"ITMS + c ESI d Full ms2 445.12@cid35.00 [120.00-2000.00]"_s, 0.5, {200.0}, {3.0}},
                   {u"ITMS + c ESI d Full ms2 512.30@cid35.00 [120.00-2000.00]"_s, 0.6, {210.0}, {4.0}}};
    WriteMzml(m_dir + u"/ms2 only.mzML"_s, ms2);
    // Relative paths of the runs and of the conversions here mean the same.
    QVERIFY(QDir::setCurrent(m_dir));
    m_temporaryFolder = m_temporary.filePath(u"temporary"_s);
    QVERIFY(QDir().mkpath(m_temporaryFolder));
    qputenv("TMPDIR", QFile::encodeName(m_temporaryFolder));

    for (const auto &row : BatchRows) {
        // A question is timed alone, when its row comes.
        if (!row.answer.isEmpty())
            continue;
        QStringList arguments = row.arguments;
        arguments.replaceInStrings(u"{dir}"_s, m_dir);
        start(QString::fromLatin1(row.name), arguments, WithoutDisplay());
    }
    QProcessEnvironment offscreen = QProcessEnvironment::systemEnvironment();
    offscreen.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    start(u"window, offscreen"_s, {}, offscreen);
    start(u"window, no display"_s, {}, WithoutDisplay());
    for (auto &[name, run] : m_runs)
        QVERIFY(run.process->waitForStarted());
}

void TestBatchRun::cleanupTestCase()
{
    for (auto &[name, run] : m_runs) {
        run.process->kill();
        run.process->waitForFinished();
    }
}

void TestBatchRun::batchRun_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("refused");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("added");
    for (const auto &row : BatchRows)
        QTest::newRow(row.name) << QString(row.path).replace(u"{dir}"_s, m_dir)
                                << QString(row.refused).replace(u"{dir}"_s, m_dir) << row.answer << row.added;
}

void TestBatchRun::batchRun()
{
    QFETCH(QString, path);
    QFETCH(QString, refused);
    QFETCH(QString, answer);
    QFETCH(QString, added);
    const QString name = QString::fromLatin1(QTest::currentDataTag());
    for (const auto &row : BatchRows)
        if (!answer.isEmpty() && name == QLatin1StringView(row.name))
            start(name, row.arguments, WithoutDisplay());
    Run &run = finish(name);

    QCOMPARE(run.process->state(), QProcess::NotRunning);
    QCOMPARE(run.process->exitStatus(), QProcess::NormalExit);
    // A question is answered at once, on standard output, and converts nothing.
    if (!answer.isEmpty()) {
        QCOMPARE(run.process->exitCode(), 0);
        QVERIFY2(run.milliseconds < 5000, qPrintable(u"answered after %1 ms"_s.arg(run.milliseconds)));
        QVERIFY(QString::fromLocal8Bit(run.process->readAllStandardOutput()).startsWith(answer));
        QCOMPARE(run.process->readAllStandardError(), QByteArray());
        return;
    }
    QVERIFY2(run.milliseconds >= 5000, qPrintable(u"ended after %1 ms"_s.arg(run.milliseconds)));
    // Standard error holds the one line of a failure and nothing else: had
    // the run made a window, the missing display would have stopped it with
    // a complaint there.
    const QString standardError = QString::fromLocal8Bit(run.process->readAllStandardError());
    QCOMPARE(run.process->readAllStandardOutput(), QByteArray());
    QVERIFY2(IsOneLine(standardError), qPrintable(standardError));

    if (!refused.isEmpty()) {
        QCOMPARE(run.process->exitCode(), 2);
        QCOMPARE(standardError, RefusedOutput(refused));
        QVERIFY2(!TakeAscBeside(path), "a refused argument converts nothing");
        return;
    }
    if (IsLimited(QString::fromLatin1(QTest::currentDataTag()))) {
        // Not killed by the signal: the write fails, and the line says so.
        QCOMPARE(run.process->exitCode(), 1);
        QVERIFY2(standardError.startsWith(u"quorvane-to-text: %1: Error 57: "_s.arg(path))
                     && standardError.contains(u": File too large"_s),
                 qPrintable(standardError));
        QVERIFY(TakeAscBeside(path).value_or(QByteArray()).size() <= FileSizeLimit);
        return;
    }
    const BatchOutcome outcome{run.process->exitCode(), TakeAscBeside(path), standardError};
    BatchOutcome expected = ExpectedBatchOutcome(path);
    if (!added.isEmpty())
        expected.standardError.insert(expected.standardError.size() - 1, added);
    if (!path.isEmpty() && expected.exitStatus != 0)
        QCOMPARE(standardError.count(path), 1);
    // The fixture must convert and the missing file must say so, or equal
    // outcomes would prove nothing.
    if (path.endsWith(u"demo run.raw"_s))
        QCOMPARE(expected.exitStatus, 0);
    if (path.endsWith(u"missing.raw"_s))
        QVERIFY2(expected.standardError.startsWith(u"quorvane-to-text: %1: Error 53: "_s.arg(path)),
                 qPrintable(expected.standardError));
    if (path.endsWith(u"export only.raw"_s))
        QCOMPARE(expected.exitStatus, 0);
    if (path.endsWith(u"ms2 only.mzML"_s))
        QCOMPARE(expected, (BatchOutcome{0, expected.asc,
                                         ErrorLine(path, u"no ms or SIM spectrum among the 2 spectra: "
                                                         u"ms2 only.asc holds the sample header only"_s)
                                             + u'\n'}));
    if (path.endsWith(u"damaged.raw"_s))
        QVERIFY2(expected.standardError.contains(u"damaged.mzML.gz\": the document is truncated."_s),
                 qPrintable(expected.standardError));
    QCOMPARE(outcome, expected);
}

// Every conversion has ended: the copies of compressed exports are gone,
// after a success and after a failure alike.
void TestBatchRun::leavesNoDecompressedCopy()
{
    QCOMPARE(QDir(m_temporaryFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
}

// Shows that the check above would see a window: without a display the
// toolkit refuses to start and says so.
void TestBatchRun::windowModeNeedsADisplay()
{
    Run &run = finish(u"window, no display"_s);
    QCOMPARE(run.process->state(), QProcess::NotRunning);
    QVERIFY(run.process->exitStatus() != QProcess::NormalExit || run.process->exitCode() != 0);
    QVERIFY(!run.process->readAllStandardError().isEmpty());
}

// Without an argument the window opens and the program lives on after
// start-up, here for as long as the batch runs took.
void TestBatchRun::windowModeKeepsRunning()
{
    Run &run = m_runs[u"window, offscreen"_s];
    QVERIFY(run.clock.elapsed() >= 5000);
    QCOMPARE(run.process->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestBatchRun)
#include "tst_batchrun.moc"
