#include "app/ArgumentText.h"
#include "app/modMain.h"
#include "convert/modAPI.h"
#include "tests/BatchOutcome.h"
#include "tests/fake/FakeComponent.h"
#include "tests/fake/ScopedReplacement.h"
#include "tests/fake/TestFiles.h"
#include "ui/frmMain.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <stdexcept>
#include <vector>

using namespace Qt::Literals::StringLiterals;

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { BatchMode = false; }

    void stripQuotes_data();
    void stripQuotes();
    void parseCommandLine_data();
    void parseCommandLine();
    void argumentTextOfCommandLine_data();
    void argumentTextOfCommandLine();
    void argumentTextJoinsArguments_data();
    void argumentTextJoinsArguments();
    void ensureTransferFolder_data();
    void ensureTransferFolder();
    void ensureTransferFolderSwallowsFailures();
    void errorLine_data();
    void errorLine();
    void batchMode_data();
    void batchMode();
    void batchProgress_data();
    void batchProgress();
    void windowMode();
};

// argv as the C runtime hands it to main: the program's name first.
class CommandLine
{
public:
    explicit CommandLine(const QStringList &arguments)
    {
        m_storage.push_back(QByteArrayLiteral("quorvane-to-text"));
        // "{byte e9}" stands for that byte alone: a name that is not UTF-8.
        for (const QString &argument : arguments)
            m_storage.push_back(argument.toLocal8Bit().replace("{byte e9}", "\xe9"));
        for (QByteArray &argument : m_storage)
            m_argv.push_back(argument.data());
        m_argv.push_back(nullptr);
    }
    int argc() const { return int(m_storage.size()); }
    char **argv() { return m_argv.data(); }

private:
    std::vector<QByteArray> m_storage;
    std::vector<char *> m_argv;
};

void TestStartup::stripQuotes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("stripped");

    QTest::newRow("no quotes") << u"C:\\data\\run 7.raw"_s << u"C:\\data\\run 7.raw"_s;
    QTest::newRow("enclosed") << u"\"C:\\data\\run 7.raw\""_s << u"C:\\data\\run 7.raw"_s;
    QTest::newRow("in the middle") << u"C:\\da\"ta\\run\" 7.raw"_s << u"C:\\data\\run 7.raw"_s;
    QTest::newRow("doubled") << u"\"\"C:\\x.raw\"\""_s << u"C:\\x.raw"_s;
    QTest::newRow("single, unbalanced") << u"\"C:\\x.raw"_s << u"C:\\x.raw"_s;
    QTest::newRow("two quoted paths") << u"\"C:\\a b.raw\" \"D:\\c d.raw\""_s << u"C:\\a b.raw D:\\c d.raw"_s;
    QTest::newRow("only quotes") << u"\"\""_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("escaped quote keeps the backslash") << u"C:\\x\\\".raw"_s << u"C:\\x\\.raw"_s;
    QTest::newRow("typographic quotes stay") << u"\u201CC:\\x.raw\u201D"_s << u"\u201CC:\\x.raw\u201D"_s;
    QTest::newRow("apostrophes stay") << u"'C:\\x.raw'"_s << u"'C:\\x.raw'"_s;
}

void TestStartup::stripQuotes()
{
    QFETCH(QString, text);
    QFETCH(QString, stripped);
    const QString original = text;
    QCOMPARE(StripQuotes(text), stripped);
    QCOMPARE(text, original);
}

void TestStartup::parseCommandLine_data()
{
    QTest::addColumn<QString>("argument");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("path") << u"C:\\data\\run7.raw"_s << true;
    QTest::newRow("path with blanks") << u"C:\\my data\\run 7.raw"_s << true;
    QTest::newRow("two paths") << u"C:\\a.raw D:\\b.raw"_s << true;
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("comma") << u"C:\\data\\run7.raw,2"_s << true;
    QTest::newRow("fullwidth semicolon") << u"C:\\data\\run7.raw\uFF1B2"_s << true;
    QTest::newRow("greek question mark") << u"C:\\data\\run7.raw\u037E2"_s << true;
    QTest::newRow("semicolon and factor") << u"C:\\data\\run7.raw;2"_s << false;
    QTest::newRow("semicolon first") << u";C:\\data\\run7.raw"_s << false;
    QTest::newRow("semicolon last") << u"C:\\data\\run7.raw;"_s << false;
    QTest::newRow("semicolon in a folder name") << u"C:\\a;b\\run7.raw"_s << false;
    QTest::newRow("semicolon alone") << u";"_s << false;
}

void TestStartup::parseCommandLine()
{
    QFETCH(QString, argument);
    QFETCH(bool, accepted);

    QString path = u"before"_s;
    double scaling = 7.5;
    QCOMPARE(ParseCommandLine(argument, path, scaling), accepted);
    QCOMPARE(path, accepted ? argument : u"before"_s);
    QCOMPARE(scaling, accepted ? 1.0 : 7.5);
}

void TestStartup::argumentTextOfCommandLine_data()
{
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<QString>("argument");

    QTest::newRow("plain name, path with blanks") << u"q.exe C:\\my data\\run 7.raw"_s << u"C:\\my data\\run 7.raw"_s;
    QTest::newRow("quoted name, quoted path")
        << u"\"C:\\Program Files\\Q\\q.exe\" \"C:\\run 7.raw\""_s << u"\"C:\\run 7.raw\""_s;
    QTest::newRow("quotes inside the name") << u"C:\\Pro\"gram Fi\"les\\q.exe x.raw"_s << u"x.raw"_s;
    QTest::newRow("several blanks and a tab") << u"q.exe  \t x.raw"_s << u"x.raw"_s;
    QTest::newRow("blanks inside the argument kept") << u"q.exe a  b"_s << u"a  b"_s;
    QTest::newRow("only quotes") << u"q.exe \"\""_s << u"\"\""_s;
    QTest::newRow("no argument") << u"q.exe"_s << QString();
    QTest::newRow("quoted name alone") << u"\"C:\\Program Files\\Q\\q.exe\""_s << QString();
    QTest::newRow("trailing blanks alone") << u"q.exe   "_s << QString();
    QTest::newRow("semicolon kept") << u"q.exe x.raw;2"_s << u"x.raw;2"_s;
}

void TestStartup::argumentTextOfCommandLine()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, argument);
    QCOMPARE(ArgumentTextOfCommandLine(commandLine), argument);
}

void TestStartup::argumentTextJoinsArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("argument");

    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("one with blanks") << QStringList{u"/data/run 7.raw"_s} << u"/data/run 7.raw"_s;
    QTest::newRow("split at blanks") << QStringList{u"/my"_s, u"data/run"_s, u"7.raw"_s} << u"/my data/run 7.raw"_s;
    QTest::newRow("quotes kept") << QStringList{u"\"/a.raw\""_s, u"\"/b.raw\""_s} << u"\"/a.raw\" \"/b.raw\""_s;
    QTest::newRow("not ASCII") << QStringList{u"/daten/Probe \u00FC.raw"_s} << u"/daten/Probe \u00FC.raw"_s;
    // What a script's "$RAW" gives with RAW unset: an argument all the same.
    QTest::newRow("one empty") << QStringList{QString()} << QString();
}

void TestStartup::argumentTextJoinsArguments()
{
#ifdef Q_OS_WIN
    QSKIP("Windows reads the raw command line instead");
#else
    QFETCH(QStringList, arguments);
    QFETCH(QString, argument);
    CommandLine commandLine(arguments);
    const std::optional<QString> text = ArgumentText(commandLine.argc(), commandLine.argv());
    QCOMPARE(text.has_value(), !arguments.isEmpty());
    QCOMPARE(text.value_or(QString()), argument);
#endif
}

void TestStartup::ensureTransferFolder_data()
{
    QTest::addColumn<QString>("existing"); // "folder", "parent", "nothing" or "file"
    QTest::addColumn<bool>("result");

    QTest::newRow("present") << u"folder"_s << true;
    QTest::newRow("missing") << u"parent"_s << true;
    QTest::newRow("parent missing") << u"nothing"_s << false;
    QTest::newRow("a file in its place") << u"file"_s << false;
}

void TestStartup::ensureTransferFolder()
{
    QFETCH(QString, existing);
    QFETCH(bool, result);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString parent = root.filePath(u"quorvane/data"_s);
    const QString folder = parent + u"/transfer"_s;
    const QString kept = existing == u"file"_s ? folder : folder + u"/waiting.raw"_s;
    if (existing != u"nothing"_s)
        QVERIFY(QDir().mkpath(parent));
    if (existing == u"folder"_s)
        QVERIFY(QDir().mkpath(folder));
    if (existing == u"folder"_s || existing == u"file"_s)
        QVERIFY(WriteBytes(kept, "kept"));

    ScopedReplacement transfer(modAPI::TransferFolder, [&]() -> QString { return folder + u"/"_s; });
    QCOMPARE(EnsureTransferFolder(), result);

    QCOMPARE(QFileInfo(folder).isDir(), existing == u"folder"_s || existing == u"parent"_s);
    QCOMPARE(QFileInfo::exists(parent), existing != u"nothing"_s);
    if (existing == u"folder"_s || existing == u"file"_s)
        QCOMPARE(ContentOf(kept), QByteArray("kept"));
}

void TestStartup::ensureTransferFolderSwallowsFailures()
{
    ScopedReplacement transfer(modAPI::TransferFolder, []() -> QString { throw std::runtime_error("no folder"); });
    QCOMPARE(EnsureTransferFolder(), false);
}

void TestStartup::errorLine_data()
{
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QString>("line");

    QTest::newRow("plain") << u"/data/run 7.raw"_s << u"Error 53: the file does not exist."_s
                           << u"quorvane-to-text: /data/run 7.raw: Error 53: the file does not exist."_s;
    QTest::newRow("backslashes, and text that looks escaped")
        << u"C:\\data\\run.raw"_s << u"a \\x1b b"_s << u"quorvane-to-text: C:\\\\data\\\\run.raw: a \\\\x1b b"_s;
    QTest::newRow("line ends and tab") << u"a\nb\r\nc\td"_s << QString() << u"quorvane-to-text: a\\nb\\r\\nc\\td: "_s;
    QTest::newRow("controls of ASCII") << u"x"_s << u"\x01\x1b[2K\x1f\x7f~"_s
                                       << u"quorvane-to-text: x: \\x01\\x1b[2K\\x1f\\x7f~"_s;
    QTest::newRow("controls of Latin-1, and the first character after them")
        << u"\u0080\u0085\u009b\u009f\u00a0\u00e9"_s << u"r"_s
        << u"quorvane-to-text: \\x80\\x85\\x9b\\x9f\u00a0\u00e9: r"_s;
    QTest::newRow("line and paragraph separators")
        << u"s"_s << u"a\u2027b\u2028c\u2029d"_s << u"quorvane-to-text: s: a\u2027b\\u2028c\\u2029d"_s;
    QTest::newRow("direction marks and their neighbours")
        << u"\u202a\u202e\u202f"_s << u"\u2065\u2066\u2069\u206a"_s
        << u"quorvane-to-text: \\u202a\\u202e\u202f: \u2065\\u2066\\u2069\u206a"_s;
}

// Checked against lines written out, not against the function's own making.
void TestStartup::errorLine()
{
    QFETCH(QString, subject);
    QFETCH(QString, reason);
    QFETCH(QString, line);
    QCOMPARE(ErrorLine(subject, reason), line);
}

void TestStartup::batchMode_data()
{
    // In the arguments, {dir} stands for a temporary folder whose name holds
    // a blank; the path is what the conversion must be given, or the text
    // that is refused; the line is what standard error must hold.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("line");

    QTest::newRow("quoted path with blanks, split by the shell")
        << QStringList{u"\"{dir}/run"_s, u"7.raw\""_s} << u"{dir}/run 7.raw"_s << false << QString();
    QTest::newRow("same path unquoted") << QStringList{u"{dir}/run 7.raw"_s} << u"{dir}/run 7.raw"_s << false
                                        << QString();
    QTest::newRow("two quoted paths make one")
        << QStringList{u"\"{dir}/a.raw\""_s, u"\"{dir}/b.raw\""_s} << u"{dir}/a.raw {dir}/b.raw"_s << false
        << u"quorvane-to-text: {dir}/a.raw {dir}/b.raw: Error 76: Cannot create "
           u"{dir}/a.raw {dir}/b.asc: No such file or directory\n"_s;
    const QString noFile = u"quorvane-to-text: : Error 53: Fake component: no file .\n"_s;
    QTest::newRow("only quotes") << QStringList{u"\"\""_s} << QString() << false << noFile;
    QTest::newRow("empty argument") << QStringList{QString()} << QString() << false << noFile;
    QTest::newRow("file that does not exist")
        << QStringList{u"{dir}/missing.raw"_s} << u"{dir}/missing.raw"_s << false
        << u"quorvane-to-text: {dir}/missing.raw: Error 53: Fake component: no file {dir}/missing.raw.\n"_s;
    QTest::newRow("semicolon and factor")
        << QStringList{u"{dir}/run7.raw;2"_s} << u"{dir}/run7.raw;2"_s << true
        << u"quorvane-to-text: {dir}/run7.raw;2: the argument holds a \";\" and is refused: nothing was converted.\n"_s;
    QTest::newRow("semicolon in a quoted path")
        << QStringList{u"\"{dir}/a;b.raw\""_s} << u"{dir}/a;b.raw"_s << true
        << u"quorvane-to-text: {dir}/a;b.raw: the argument holds a \";\" and is refused: nothing was converted.\n"_s;
    // The error line stays one line: no path forges a second, or moves the cursor.
    const QString forging = u"{dir}/nl\nquorvane-to-text: /data/x.raw: converted OK\x1b[2K\r missing.raw"_s;
    const QString forgingShown = u"{dir}/nl\\nquorvane-to-text: /data/x.raw: converted OK\\x1b[2K\\r missing.raw"_s;
    QTest::newRow("line break and escapes in a path")
        << QStringList{forging} << forging << false
        << u"quorvane-to-text: %1: Error 53: Fake component: no file %1.\n"_s.arg(forgingShown);
    const QString reordering = u"{dir}/a\\b\u2028c\u2029d\u202ee\u2066f\u0085g missing.raw"_s;
    const QString reorderingShown = u"{dir}/a\\\\b\\u2028c\\u2029d\\u202ee\\u2066f\\x85g missing.raw"_s;
    QTest::newRow("separators and direction marks in a path")
        << QStringList{reordering} << reordering << false
        << u"quorvane-to-text: %1: Error 53: Fake component: no file %1.\n"_s.arg(reorderingShown);
    // Its bytes cannot name the file again: refused, not reported missing.
    QTest::newRow("name not UTF-8")
        << QStringList{u"{dir}/caf{byte e9}.raw"_s} << u"{dir}/caf\ufffd.raw"_s << false
        << u"quorvane-to-text: {dir}/caf\ufffd.raw: Error 52: Bad file name: the name is "
           u"not valid UTF-8, and only names in UTF-8 can be converted; rename the file.\n"_s;
}

static FakeAcquisition Acquisition()
{
    FakeAcquisition a = ExampleAcquisition();
    a.spectra = {{u"+ p ESI Full ms [100.00-1000.00]"_s, 0.5, {100.25, 200.5}, {3.0, 0.0}},
                 {u"+ p ESI SIM ms [400.00-410.00]"_s, 0.75, {405.125}, {7.0}}};
    return a;
}

void TestStartup::batchMode()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, path);
    QFETCH(bool, refused);
    QFETCH(QString, line);

    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString dir = temporary.filePath(u"batch folder"_s);
    QVERIFY(QDir().mkpath(dir));
    arguments.replaceInStrings(u"{dir}"_s, dir);
    path.replace(u"{dir}"_s, dir);
    line.replace(u"{dir}"_s, dir);
    const QString folder = temporary.filePath(u"transfer"_s);

    FakeComponent component;
    if (!refused && !path.isEmpty() && !path.endsWith(u"missing.raw"_s))
        component.add(path, Acquisition());

    QStringList events;
    ScopedReplacement transfer(modAPI::TransferFolder, [&]() -> QString {
        events << u"transfer folder"_s;
        return folder + u"/"_s;
    });
    ScopedReplacement sleep(modAPI::Sleep, [&](int milliseconds) {
        events << u"sleep %1"_s.arg(milliseconds);
        QVERIFY2(QFileInfo(folder).isDir(), "the transfer folder comes first");
        QVERIFY2(component.calls().isEmpty(), "nothing is read before the wait");
        QVERIFY2(QDir(dir).isEmpty(), "nothing is written before the wait");
        QVERIFY2(!QCoreApplication::instance(), "batch mode makes no Qt application");
    });
    ScopedReplacement message(modAPI::ShowInformation,
                              [&](const QString &text, const QString &) { events << u"message "_s + text; });
    QString standardError;
    ScopedReplacement errorLine(modAPI::WriteErrorLine,
                                [&](const QString &written) { standardError += written + u'\n'; });

    CommandLine commandLine(arguments);
    const int status = Main(commandLine.argc(), commandLine.argv());
    QVERIFY(BatchMode);
    QCOMPARE(events, (QStringList{u"transfer folder"_s, u"sleep 5000"_s}));
    QVERIFY2(IsOneLine(standardError), qPrintable(standardError));
    QCOMPARE(standardError, line);

    if (refused) {
        QCOMPARE(status, int(ArgumentRefused));
        QVERIFY(component.calls().isEmpty());
        QVERIFY(QDir(dir).isEmpty());
        return;
    }
    if (path.contains(QChar::ReplacementCharacter)) {
        QCOMPARE(status, int(ConversionFailed));
        QVERIFY(component.calls().isEmpty());
        return;
    }
    const BatchOutcome outcome{status, TakeAscBeside(path), standardError};
    QVERIFY(QDir(dir).isEmpty());
    QCOMPARE(outcome, ExpectedBatchOutcome(path));
    QCOMPARE(component.openDocuments(), 0);
}

void TestStartup::batchProgress_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<int>("spectra");
    QTest::addColumn<QString>("written");
    const auto line = [](const char *text) -> QString {
        return u"\rquorvane-to-text: "_s + QLatin1StringView(text) + u"\x1b[K"_s;
    };
    // The clock moves 150 ms a reading, one reading a spectrum: the line
    // comes after a second, at the seventh spectrum, and goes at the end.
    QTest::newRow("terminal") << true << 9
                              << line("77%, spectrum 7 of 9, 1 s") + line("88%, spectrum 8 of 9, 1 s")
                                     + line("100%, spectrum 9 of 9, 1 s") + u"\r\x1b[K"_s;
    QTest::newRow("terminal, a short conversion") << true << 5 << QString();
    QTest::newRow("pipe or file") << false << 9 << QString();
}

// A person at a terminal sees a long conversion go on; a script sees only
// the error line, as before.
void TestStartup::batchProgress()
{
    QFETCH(bool, terminal);
    QFETCH(int, spectra);
    QFETCH(QString, written);
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString path = temporary.filePath(u"run7.raw"_s);
    FakeComponent component;
    FakeAcquisition a = ExampleAcquisition();
    a.spectra.assign(size_t(spectra), {u"+ p ESI Full ms [100.00-1000.00]"_s, 0.5, {100.25}, {3.0}});
    component.add(path, a);

    ScopedReplacement transfer(modAPI::TransferFolder, [&] { return temporary.filePath(u"transfer/"_s); });
    ScopedReplacement sleep(modAPI::Sleep, [](int) {});
    ScopedReplacement isTerminal(modAPI::StandardErrorIsTerminal, [&] { return terminal; });
    qint64 now = 0;
    ScopedReplacement clock(modAPI::SteadyMilliseconds, [&] { return now += 150; });
    QString standardError;
    ScopedReplacement errorText(modAPI::WriteErrorText, [&](const QString &text) { standardError += text; });

    CommandLine commandLine({path});
    QCOMPARE(Main(commandLine.argc(), commandLine.argv()), int(Success));
    QCOMPARE(standardError, written);
    QCOMPARE(ContentOf(temporary.filePath(u"run7.asc"_s)).count("IntervalOfScan="), spectra);
}

// What window mode looks like from inside its event loop.
struct WindowModeSeen
{
    QString transferFolder;
    bool transferFolderMade = false;
    bool batchMode = true;
    int windows = 0; // top-level frmMain windows shown, without owner, not modal
    QString box;     // the information box that ShowInformation showed
};
static WindowModeSeen Seen;

// Runs once the window's event loop turns: looks, asks for an information
// box, then closes the window as the user would.
static void LookAtWindowMode()
{
    Seen.transferFolderMade = QFileInfo(Seen.transferFolder).isDir();
    Seen.batchMode = BatchMode;
    for (QWidget *widget : QApplication::topLevelWidgets())
        Seen.windows +=
            qobject_cast<frmMain *>(widget) && widget->isVisible() && !widget->parentWidget() && !widget->isModal();
    QTimer::singleShot(0, [] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            Seen.box = box->windowTitle() + u" | "_s + box->text();
            Seen.box += box->icon() == QMessageBox::Information ? u" | information"_s : u" | other icon"_s;
            box->accept();
        }
    });
    modAPI::ShowInformation(u"converted"_s, u"Done"_s);
    QApplication::closeAllWindows();
    // Should closing not end the program, the test fails rather than hangs.
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); });
}

// Main in this process without an argument: the window opens on its own
// event loop, and closing it ends the program.
void TestStartup::windowMode()
{
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    Seen.transferFolder = temporary.filePath(u"transfer"_s);
    ScopedReplacement transfer(modAPI::TransferFolder, []() -> QString { return Seen.transferFolder + u"/"_s; });
    BatchMode = true;
    qAddPreRoutine([] { QTimer::singleShot(0, LookAtWindowMode); });

    CommandLine commandLine({});
    QCOMPARE(Main(commandLine.argc(), commandLine.argv()), int(Success));
    QVERIFY(Seen.transferFolderMade);
    QVERIFY(!Seen.batchMode);
    QCOMPARE(Seen.windows, 1);
    QCOMPARE(Seen.box, u"Done | converted | information"_s);
}

// No application object here, so that batch mode is seen to make none.
QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
