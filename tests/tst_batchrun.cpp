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
// and what standard error must hold, written out.
static const struct
{
    const char *name;
    QStringList arguments;
    QString path;
    QString refused;
    QString answer = {};
    QString line = {};
} BatchRows[] = {
    {"fixture, quoted path with blanks", {u"\"{dir}/demo"_s, u"run.raw\""_s}, u"{dir}/demo run.raw"_s, {}},
    {"file that does not exist",
     {u"{dir}/missing.raw"_s},
     u"{dir}/missing.raw"_s,
     {},
     {},
     u"quorvane-to-text: {dir}/missing.raw: Error 53: the file does not exist, and there is no mzML export beside "
     u"it (\"missing.mzML\" or \"missing.mzML.gz\").\n"_s},
    // Each character that could break or reorder the line, escaped in the path and in the names of the exports.
    {"name that would break the line",
     {u"{dir}/a\\b\u2028c\u202ed\x1b[2K.raw"_s},
     u"{dir}/a\\b\u2028c\u202ed\x1b[2K.raw"_s,
     {},
     {},
     u"quorvane-to-text: {dir}/a\\\\b\\u2028c\\u202ed\\x1b[2K.raw: Error 53: the file does not exist, and there "
     u"is no mzML export beside it (\"a\\\\b\\u2028c\\u202ed\\x1b[2K.mzML\" or "
     u"\"a\\\\b\\u2028c\\u202ed\\x1b[2K.mzML.gz\").\n"_s},
    // Beside it: "export only.mzML.gz" and "damaged.mzML.gz".
    {"export beside the RAW path", {u"{dir}/export only.raw"_s}, u"{dir}/export only.raw"_s, {}},
    {"damaged export beside the RAW path",
     {u"{dir}/damaged.raw"_s},
     u"{dir}/damaged.raw"_s,
     {},
     {},
     u"quorvane-to-text: {dir}/damaged.raw: Error 321: \"{dir}/damaged.mzML.gz\": the document is truncated.\n"_s},
    {"only quotes",
     {u"\"\""_s},
     QString(),
     {},
     {},
     u"quorvane-to-text: : Error 53: \"\": the file does not exist.\n"_s},
    {"empty argument",
     {QString()},
     QString(),
     {},
     {},
     u"quorvane-to-text: : Error 53: \"\": the file does not exist.\n"_s},
    {"semicolon and factor",
     {u"{dir}/demo run.raw;2"_s},
     u"{dir}/demo run.raw"_s,
     u"{dir}/demo run.raw;2"_s,
     {},
     u"quorvane-to-text: {dir}/demo run.raw;2: the argument holds a \";\" and is refused: nothing was converted.\n"_s},
    // The fixture with a start time stamp that quotes a line of its own.
    {"content that forges a line",
     {u"{dir}/forged.raw"_s},
     u"{dir}/forged.raw"_s,
     {},
     {},
     u"quorvane-to-text: {dir}/forged.raw: Error 321: the run's startTimeStamp \"1\\nquorvane-to-text: other.raw: "
     u"Error 53: forged\" is not a date and time.\n"_s},
    // Copies of the fixture and of its export, run under "ulimit -f 4".
    {"file-size limit, text file", {u"{dir}/limited.raw"_s}, u"{dir}/limited.raw"_s, {}},
    {"file-size limit, decompressed copy", {u"{dir}/limited export.raw"_s}, u"{dir}/limited export.raw"_s, {}},
    {"help", {u"--help"_s}, {}, {}, u"Usage: quorvane-to-text [RAW-FILE]\n"_s},
    {"help, short", {u"-h"_s}, {}, {}, u"Usage: quorvane-to-text [RAW-FILE]\n"_s},
    {"version", {u"--version"_s}, {}, {}, u"quorvane-to-text 7."_s},
    {"version, short", {u"-V"_s}, {}, {}, u"quorvane-to-text 7."_s},
    // Two MS2 spectra: a success, and a word that the .asc holds the header only.
    {"no ms or SIM spectrum",
     {u"{dir}/ms2 only.mzML"_s},
     u"{dir}/ms2 only.mzML"_s,
     {},
     {},
     u"quorvane-to-text: {dir}/ms2 only.mzML: no ms or SIM spectrum among the 2 spectra: ms2 only.asc holds the "
     u"sample header only\n"_s},
    {"a file named --help", {u"./--help"_s}, u"./--help"_s, {}},
    {"files a shell expanded",
     {u"{dir}/demo run.raw"_s, u"{dir}/export only.mzML.gz"_s},
     u"{dir}/demo run.raw {dir}/export only.mzML.gz"_s,
     {},
     {},
     u"quorvane-to-text: {dir}/demo run.raw {dir}/export only.mzML.gz: Error 53: the file does not exist. The "
     u"program converts one acquisition per run: to convert many, see \"Many acquisitions\" in its README.\n"_s},
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
    QTest::addColumn<QString>("line");
    for (const auto &row : BatchRows)
        QTest::newRow(row.name) << QString(row.path).replace(u"{dir}"_s, m_dir)
                                << QString(row.refused).replace(u"{dir}"_s, m_dir) << row.answer
                                << QString(row.line).replace(u"{dir}"_s, m_dir);
}

void TestBatchRun::batchRun()
{
    QFETCH(QString, path);
    QFETCH(QString, refused);
    QFETCH(QString, answer);
    QFETCH(QString, line);
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
        QCOMPARE(standardError, line);
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
    // The line as written out; the status and the .asc as a conversion in
    // this process makes them.
    const BatchOutcome outcome{run.process->exitCode(), TakeAscBeside(path), standardError};
    const BatchOutcome expected = ExpectedBatchOutcome(path);
    // The fixture and its export must convert, or equal outcomes would prove nothing.
    if (path.endsWith(u"demo run.raw"_s) || path.endsWith(u"export only.raw"_s))
        QCOMPARE(expected.exitStatus, 0);
    QCOMPARE(outcome, (BatchOutcome{expected.exitStatus, expected.asc, line}));
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
