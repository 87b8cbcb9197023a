// The main window at work: the user's clicks and typing on the real window,
// with the dialogs answered by the test and acquisitions from the in-memory
// component.
#include "convert/modAPI.h"
#include "tests/fake/FakeComponent.h"
#include "tests/fake/ScopedReplacement.h"
#include "tests/fake/TestFiles.h"
#include "ui/ConversionProgressDialog.h"
#include "ui/frmMain.h"
#include "ui/modDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <limits>
#include <memory>
#include <utility>

using namespace Qt::Literals::StringLiterals;

class TestFrmMainBehaviour : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void states_data();
    void states();
    void failureStopsTheAction_data();
    void failureStopsTheAction();
    void resetEmptiesTheBoxesTopDown();
    void modeLetter_data();
    void modeLetter();
    void convertWritesBothFiles_data();
    void convertWritesBothFiles();
    void failedConversionStillWritesTheDescriptor();
    void noSpectrumToWriteIsTold();
    void longConversionShowsProgress();
    void browseAsksForRawFiles();
    void coloursFollowTheScheme();
    void openDialogShowsRawFilesInAnyCase();
    void messageBoxes_data();
    void messageBoxes();
    void exitEndsTheProgram();

private:
    template <typename T = QWidget>
    T *child(const char *name) const
    {
        return m_window->findChild<T *>(QString::fromLatin1(name));
    }
    QString path(const QString &name) const { return m_dir->filePath(name); }
    void run(const QStringList &steps);
    void type(QLineEdit *box, const QString &text);
    QString enabled() const;
    QStringList unlocked() const;
    bool coloursFollowLocking() const;
    QString convert();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeComponent> m_component;
    std::unique_ptr<frmMain> m_window;
    QString m_nextFileName;
    bool m_overflowNext = false;
    QList<modDialogs::OpenFileRequest> m_requests;
    QStringList m_failures;
    QStringList m_messages;
    std::unique_ptr<ScopedReplacement<QString(QWidget *, const modDialogs::OpenFileRequest &)>> m_browse;
    std::unique_ptr<ScopedReplacement<void(QWidget *, const Error &)>> m_report;
    std::unique_ptr<ScopedReplacement<void(const QString &, const QString &)>> m_inform;
    std::unique_ptr<ScopedReplacement<modAPI::TimeZoneInformation(const QDateTime &)>> m_zone;
};

// Calls a function for each event of one type that reaches an object.
class EventSpy : public QObject
{
public:
    EventSpy(QObject *watched, QEvent::Type type, std::function<void()> seen) : m_type(type), m_seen(std::move(seen))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == m_type)
            m_seen();
        return false;
    }

private:
    QEvent::Type m_type;
    std::function<void()> m_seen;
};

static const char *const HeaderBoxNames[] = {"txtCreationDateTime", "txtTimeOfInjection", "txtNameOfOperator",
                                             "txtNameOfInstrument", "txtNameOfSample",    "txtNameOfMethod",
                                             "txtDescription",      "txtVialNumber"};

static const QStringList Six{u"txtNameOfOperator"_s, u"txtNameOfInstrument"_s, u"txtNameOfSample"_s,
                             u"txtNameOfMethod"_s,   u"txtDescription"_s,      u"txtVialNumber"_s};

static const QString AllFour = u"cmdConvert chkEdit cmdRefresh cmdReset"_s;
static const QString ButConvert = u"chkEdit cmdRefresh cmdReset"_s;

// Two acquisitions: the documented example with one ms and one SIM spectrum,
// and a second one by another operator.
static FakeAcquisition First()
{
    FakeAcquisition a = ExampleAcquisition();
    a.spectra = {{u"+ p ESI Full ms [100.00-1000.00]"_s, 0.5, {100.0, 200.25, 445.12}, {1000.0, 0.0, 1520.46}},
                 {u"+ c ESI SIM ms [400.00-410.00]"_s, 1.25, {405.5}, {3.0}}};
    return a;
}

static FakeAcquisition Second()
{
    FakeAcquisition a = ExampleAcquisition();
    a.userText1 = u"night shift"_s;
    a.sampleName = u"QC-4"_s;
    a.creationDate = 38062.5;
    return a;
}

void TestFrmMainBehaviour::init()
{
    QLocale::setDefault(QLocale(u"de_DE"_s));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_component = std::make_unique<FakeComponent>();
    m_component->add(path(u"first.raw"_s), First());
    m_component->add(path(u"second.raw"_s), Second());
    m_nextFileName.clear();
    m_overflowNext = false;
    m_requests.clear();
    m_failures.clear();
    m_messages.clear();

    m_browse = std::make_unique<ScopedReplacement<QString(QWidget *, const modDialogs::OpenFileRequest &)>>(
        modDialogs::ShowOpen, [this](QWidget *, const modDialogs::OpenFileRequest &request) {
            m_requests << request;
            return m_nextFileName;
        });
    m_report = std::make_unique<ScopedReplacement<void(QWidget *, const Error &)>>(
        modDialogs::ReportFailure, [this](QWidget *, const Error &error) {
            m_failures << QString::number(int(error.number())) + u' ' + error.description();
        });
    // What the user would see while the success message is up.
    m_inform = std::make_unique<ScopedReplacement<void(const QString &, const QString &)>>(
        modAPI::ShowInformation, [this](const QString &text, const QString &) {
            const QCursor *cursor = QApplication::overrideCursor();
            m_messages << text + (cursor && cursor->shape() == Qt::WaitCursor ? u", busy"_s : u", idle"_s)
                              + (child<QPushButton>("cmdConvert")->isEnabled() ? u", Convert on"_s : u""_s)
                              + (QApplication::activeModalWidget() ? u", under a modal window"_s : u""_s);
        });
    m_zone = std::make_unique<ScopedReplacement<modAPI::TimeZoneInformation(const QDateTime &)>>(
        modAPI::GetTimeZoneInformation, [this](const QDateTime &) {
            modAPI::TimeZoneInformation zone;
            if (std::exchange(m_overflowNext, false))
                zone.Bias = std::numeric_limits<qint32>::max();
            return zone;
        });

    m_window = std::make_unique<frmMain>();
    m_window->show();
}

void TestFrmMainBehaviour::cleanup()
{
    m_window.reset();
    m_zone.reset();
    m_inform.reset();
    m_report.reset();
    m_browse.reset();
    m_component.reset();
    m_dir.reset();
    QLocale::setDefault(QLocale::c());
}

void TestFrmMainBehaviour::type(QLineEdit *box, const QString &text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, text);
}

// Steps as the user takes them:
//   "browse NAME" chooses the file NAME in the dialog, "browse" cancels it;
//   "click NAME" clicks a button or the check box;
//   "type NAME=TEXT" replaces the text of a box by typing;
//   "lose NUMBER [LATER]" makes the next opening of an acquisition (or the
//   one LATER openings after it) fail;
//   "delete NAME" takes the file NAME away for good;
//   "redate" records first.raw again, a day later;
//   "overflow" makes the next injection time overflow.
void TestFrmMainBehaviour::run(const QStringList &steps)
{
    for (const QString &step : steps) {
        const QString verb = step.section(u' ', 0, 0);
        const QString argument = step.section(u' ', 1);
        if (verb == u"browse"_s) {
            m_nextFileName = argument.isEmpty() ? QString() : path(argument);
            QTest::mouseClick(child<QPushButton>("cmdRawfile"), Qt::LeftButton);
        } else if (verb == u"click"_s) {
            auto *button = m_window->findChild<QAbstractButton *>(argument);
            QVERIFY2(button, qPrintable(step));
            // A check box takes clicks on its indicator and caption only.
            const QPoint at = qobject_cast<QCheckBox *>(button) ? QPoint(6, button->height() / 2) : QPoint();
            QTest::mouseClick(button, Qt::LeftButton, {}, at);
        } else if (verb == u"type"_s) {
            auto *box = m_window->findChild<QLineEdit *>(argument.section(u'=', 0, 0));
            QVERIFY2(box, qPrintable(step));
            type(box, argument.section(u'=', 1));
        } else if (verb == u"lose"_s) {
            // "lose NUMBER" fails the next opening, "lose NUMBER LATER" the one LATER openings after it.
            m_component->failAt(u"Open"_s, m_component->count(u"Open"_s) + 1 + argument.section(u' ', 1).toInt(),
                                ErrorNumber(argument.section(u' ', 0, 0).toInt()));
        } else if (verb == u"delete"_s) {
            m_component->remove(path(argument));
        } else if (verb == u"redate"_s) {
            FakeAcquisition a = First();
            a.creationDate += 1;
            m_component->add(path(u"first.raw"_s), a);
        } else if (verb == u"overflow"_s) {
            m_overflowNext = true;
        } else {
            QFAIL(qPrintable(u"unknown step: "_s + step));
        }
    }
}

// The four controls that follow the path, those enabled, in rule order.
QString TestFrmMainBehaviour::enabled() const
{
    QStringList names;
    for (const char *name : {"cmdConvert", "chkEdit", "cmdRefresh", "cmdReset"})
        if (child(name)->isEnabled())
            names << QString::fromLatin1(name);
    return names.join(u' ');
}

QStringList TestFrmMainBehaviour::unlocked() const
{
    QStringList names;
    for (const char *name : HeaderBoxNames)
        if (!child<QLineEdit>(name)->isReadOnly())
            names << QString::fromLatin1(name);
    std::sort(names.begin(), names.end());
    return names;
}

// A box the user may type into looks like one, a locked one like a button.
bool TestFrmMainBehaviour::coloursFollowLocking() const
{
    for (const char *name : HeaderBoxNames) {
        auto *box = child<QLineEdit>(name);
        const QPalette::ColorRole role = box->isReadOnly() ? QPalette::Button : QPalette::Base;
        if (box->palette().color(QPalette::Base) != QApplication::palette(box).color(role))
            return false;
    }
    return true;
}

// Clicks Convert; returns the mode letter that the conversion was given,
// told by whether it read the header from the acquisition before its spectra.
QString TestFrmMainBehaviour::convert()
{
    m_component->clearCalls();
    QTest::mouseClick(child<QPushButton>("cmdConvert"), Qt::LeftButton);
    const qsizetype header = m_component->calls().indexOf(u"SampleInfo"_s);
    const qsizetype spectra = m_component->calls().indexOf(u"Detector"_s);
    return header >= 0 && (spectra < 0 || header < spectra) ? u"N"_s : u"Y"_s;
}

void TestFrmMainBehaviour::states_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<QStringList>("unlocked");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("operatorName");

    const QStringList editing{u"browse first.raw"_s, u"click chkEdit"_s};
    const QStringList none;
    QTest::newRow("start") << QStringList() << u""_s << none << false << u""_s << u""_s;
    QTest::newRow("file chosen") << QStringList{u"browse first.raw"_s} << AllFour << none << false << u"first.raw"_s
                                 << u"analyst"_s;
    QTest::newRow("editing") << editing << AllFour << Six << true << u"first.raw"_s << u"analyst"_s;
    QTest::newRow("checked and unchecked")
        << editing + QStringList{u"click chkEdit"_s} << AllFour << none << false << u"first.raw"_s << u"analyst"_s;
    QTest::newRow("browse cancelled") << QStringList{u"browse first.raw"_s, u"browse"_s} << u""_s << none << false
                                      << u""_s << u"analyst"_s;
    QTest::newRow("browse cancelled while editing")
        << editing + QStringList{u"browse"_s} << u""_s << Six << true << u""_s << u"analyst"_s;
    QTest::newRow("browse while editing keeps editing")
        << editing + QStringList{u"type txtNameOfOperator=someone"_s, u"browse second.raw"_s} << AllFour << Six << true
        << u"second.raw"_s << u"night shift"_s;
    QTest::newRow("refresh discards edits")
        << editing + QStringList{u"type txtNameOfOperator=someone"_s, u"click cmdRefresh"_s} << AllFour << none << false
        << u"first.raw"_s << u"analyst"_s;
    QTest::newRow("reset") << editing + QStringList{u"type txtScaling=2"_s, u"click cmdReset"_s} << u""_s << none
                           << false << u""_s << u""_s;
    QTest::newRow("reset while scaling invalid") << editing + QStringList{u"type txtScaling=abc"_s, u"click cmdReset"_s}
                                                 << u""_s << none << false << u""_s << u""_s;

    // The scaling text gates Convert; a text that is not a number above 0
    // leaves everything else as the last valid text set it.
    const struct
    {
        const char *text;
        bool valid;
    } scalings[] = {{"abc", false}, {"", false},   {"0", false},  {"-1", false}, {"0.5", false}, {"1,5e", false},
                    {"2", true},    {" 2 ", true}, {"1e3", true}, {"0,5", true}, {"+7", true},   {"1.000", false}};
    for (const auto &s : scalings)
        QTest::addRow("scaling \"%s\" while editing", s.text)
            << editing + QStringList{u"type txtScaling="_s + QString::fromLatin1(s.text)}
            << (s.valid ? AllFour : ButConvert) << Six << true << u"first.raw"_s << u"analyst"_s;

    QTest::newRow("scaling invalid, then chkEdit")
        << editing + QStringList{u"type txtScaling=abc"_s, u"click chkEdit"_s} << ButConvert << Six << false
        << u"first.raw"_s << u"analyst"_s;
    QTest::newRow("scaling invalid, chkEdit, then valid")
        << editing + QStringList{u"type txtScaling=abc"_s, u"click chkEdit"_s, u"type txtScaling=3"_s} << AllFour
        << none << false << u"first.raw"_s << u"analyst"_s;
    QTest::newRow("scaling invalid, browse cancelled")
        << QStringList{u"browse first.raw"_s, u"type txtScaling=0"_s, u"browse"_s} << ButConvert << none << false
        << u""_s << u"analyst"_s;
    QTest::newRow("scaling invalid, file chosen") << QStringList{u"type txtScaling=x"_s, u"browse first.raw"_s} << u""_s
                                                  << none << false << u"first.raw"_s << u"analyst"_s;
    QTest::newRow("scaling invalid, file chosen, then valid")
        << QStringList{u"type txtScaling=x"_s, u"browse first.raw"_s, u"type txtScaling=1"_s} << AllFour << none
        << false << u"first.raw"_s << u"analyst"_s;
}

void TestFrmMainBehaviour::states()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, enabled);
    QFETCH(QStringList, unlocked);
    QFETCH(bool, checked);
    QFETCH(QString, file);
    QFETCH(QString, operatorName);

    run(steps);
    QCOMPARE(this->enabled(), enabled);
    std::sort(unlocked.begin(), unlocked.end());
    QCOMPARE(this->unlocked(), unlocked);
    QVERIFY(coloursFollowLocking());
    QCOMPARE(child<QCheckBox>("chkEdit")->isChecked(), checked);
    QCOMPARE(child<QLineEdit>("txtRawfile")->text(), file.isEmpty() ? QString() : path(file));
    QCOMPARE(child<QLineEdit>("txtNameOfOperator")->text(), operatorName);
    QVERIFY(child("cmdRawfile")->isEnabled() && child("cmdExit")->isEnabled() && child("txtScaling")->isEnabled());
    QVERIFY(m_failures.isEmpty());

    // A header on show is a whole header: the injection time derives from
    // the creation date shown beside it, and both go together.
    const QString created = child<QLineEdit>("txtCreationDateTime")->text();
    const QString injected = child<QLineEdit>("txtTimeOfInjection")->text();
    if (operatorName == u"analyst"_s)
        QCOMPARE(created + u" / "_s + injected, u"15.03.2004 10:23:17 / 1079346197"_s);
    else if (operatorName == u"night shift"_s)
        QCOMPARE(created + u" / "_s + injected, u"16.03.2004 12:00:00 / 1079438400"_s);
    else
        QCOMPARE(created + injected, QString());
    if (operatorName.isEmpty()) { // the reset state: every text back to its start
        for (const char *name : HeaderBoxNames)
            QCOMPARE(child<QLineEdit>(name)->text(), QString());
        QCOMPARE(child<QLineEdit>("txtScaling")->text(), u"1"_s);
    }
}

// A failure that the action does not catch is reported once and stops the
// action where it happened, also when it happens in the handler of a box
// that the action changed; the window stays as far as the action got.
void TestFrmMainBehaviour::failureStopsTheAction_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<bool>("checked");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("operatorName");

    const QString overflow = u"6 Overflow in the time zone offset."_s;
    auto lost = [](int call) -> QString { return u"53 "_s + FakeComponent::FailureDescription(u"Open"_s, call); };
    QTest::newRow("refresh after the file went away")
        << QStringList{u"browse first.raw"_s, u"click chkEdit"_s, u"type txtNameOfOperator=someone"_s, u"lose 53"_s,
                       u"click cmdRefresh"_s}
        << lost(2) << AllFour << true << u"first.raw"_s << u"someone"_s;
    QTest::newRow("browse to an unreadable file")
        << QStringList{u"lose 53"_s, u"browse second.raw"_s} << lost(1) << u""_s << false << u"second.raw"_s << u""_s;
    QTest::newRow("browse to an unreadable file after another")
        << QStringList{u"browse first.raw"_s, u"browse"_s, u"lose 53"_s, u"browse second.raw"_s} << lost(2) << u""_s
        << false << u"second.raw"_s << u"analyst"_s;
    // A failure that is not the program's own: the window reports it too.
    QTest::newRow("browse, component out of memory")
        << QStringList{u"lose 7"_s, u"browse second.raw"_s} << u"7 Out of memory."_s << u""_s << false
        << u"second.raw"_s << u""_s;
    QTest::newRow("browse, injection time overflows")
        << QStringList{u"overflow"_s, u"browse first.raw"_s} << overflow << u""_s << false << u"first.raw"_s << u""_s;
    QTest::newRow("refresh, injection time overflows")
        << QStringList{u"browse first.raw"_s, u"click chkEdit"_s, u"type txtNameOfOperator=someone"_s,
                       u"redate"_s,           u"overflow"_s,      u"click cmdRefresh"_s}
        << overflow << AllFour << true << u"first.raw"_s << u"someone"_s;
    // Convert opens the file three times: header, spectra, descriptor.
    QTest::newRow("convert, the acquisition went away")
        << QStringList{u"browse first.raw"_s, u"lose 53"_s, u"click cmdConvert"_s} << lost(2) << AllFour << false
        << u"first.raw"_s << u"analyst"_s;
    // Both writers fail to open it, alike: one box says so.
    QTest::newRow("convert, the acquisition deleted")
        << QStringList{u"browse first.raw"_s, u"delete first.raw"_s, u"click cmdConvert"_s}
        << u"53 Fake component: no file {dir}/first.raw."_s << AllFour << false << u"first.raw"_s << u"analyst"_s;
    QTest::newRow("convert, the descriptor fails")
        << QStringList{u"browse first.raw"_s, u"lose 70 2"_s, u"click cmdConvert"_s}
        << u"70 "_s + FakeComponent::FailureDescription(u"Open"_s, 4) << AllFour << false << u"first.raw"_s
        << u"analyst"_s;
}

void TestFrmMainBehaviour::failureStopsTheAction()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, failure);
    QFETCH(QString, enabled);
    QFETCH(bool, checked);
    QFETCH(QString, file);
    QFETCH(QString, operatorName);

    run(steps);
    QCOMPARE(m_failures, QStringList{QString(failure).replace(u"{dir}"_s, m_dir->path())});
    QCOMPARE(this->enabled(), enabled);
    QCOMPARE(child<QCheckBox>("chkEdit")->isChecked(), checked);
    QCOMPARE(unlocked().size(), checked ? Six.size() : 0);
    QCOMPARE(child<QLineEdit>("txtRawfile")->text(), path(file));
    QCOMPARE(child<QLineEdit>("txtNameOfOperator")->text(), operatorName);
    QVERIFY(m_window->isVisible());
    QCOMPARE(m_component->openDocuments(), 0);

    // The window goes on working: the next action succeeds.
    m_component->add(path(u"first.raw"_s), First());
    run({u"browse first.raw"_s});
    QCOMPARE(m_failures.size(), 1);
    QCOMPARE(child<QLineEdit>("txtNameOfOperator")->text(), u"analyst"_s);
}

// Reset empties the path, then the header boxes from the top of the frame
// down. The creation date's own handler empties the injection time before
// the creation date's change reaches anyone else.
void TestFrmMainBehaviour::resetEmptiesTheBoxesTopDown()
{
    run({u"browse first.raw"_s});
    QStringList emptied;
    for (QLineEdit *box : m_window->findChildren<QLineEdit *>())
        connect(box, &QLineEdit::textChanged, this, [&emptied, box] { emptied << box->objectName(); });
    run({u"click cmdReset"_s});
    QCOMPARE(emptied, (QStringList{u"txtRawfile"_s, u"txtTimeOfInjection"_s, u"txtCreationDateTime"_s,
                                   u"txtNameOfOperator"_s, u"txtNameOfInstrument"_s, u"txtNameOfSample"_s,
                                   u"txtNameOfMethod"_s, u"txtDescription"_s, u"txtVialNumber"_s}));
}

void TestFrmMainBehaviour::modeLetter_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("letter");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("operatorLine");

    const QStringList editing{u"browse first.raw"_s, u"click chkEdit"_s};
    QTest::newRow("as read") << QStringList{u"browse first.raw"_s} << u"N"_s << u"first"_s
                             << QByteArray("NameOfOperator=analyst");
    QTest::newRow("edited") << editing + QStringList{u"type txtNameOfOperator=someone"_s} << u"Y"_s << u"first"_s
                            << QByteArray("NameOfOperator=someone");
    QTest::newRow("checked and unchecked without typing")
        << editing + QStringList{u"click chkEdit"_s} << u"Y"_s << u"first"_s << QByteArray("NameOfOperator=analyst");
    QTest::newRow("edited, then refreshed")
        << editing + QStringList{u"type txtNameOfOperator=someone"_s, u"click cmdRefresh"_s} << u"N"_s << u"first"_s
        << QByteArray("NameOfOperator=analyst");
    QTest::newRow("editing, another file chosen and edited")
        << editing + QStringList{u"browse second.raw"_s, u"type txtNameOfOperator=day shift"_s} << u"Y"_s << u"second"_s
        << QByteArray("NameOfOperator=day shift");
    QTest::newRow("edited, then reset and chosen again")
        << editing + QStringList{u"type txtNameOfOperator=someone"_s, u"click cmdReset"_s, u"browse first.raw"_s}
        << u"N"_s << u"first"_s << QByteArray("NameOfOperator=analyst");
}

// Convert writes the header shown ("Y") after any click on the check box
// since the last Refresh or Reset, and lets the conversion read it ("N")
// otherwise; converting again gives the same.
void TestFrmMainBehaviour::modeLetter()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, letter);
    QFETCH(QString, file);
    QFETCH(QByteArray, operatorLine);

    run(steps);
    for (int round = 1; round <= 2; ++round) {
        QCOMPARE(convert(), letter);
        QCOMPARE(ContentOf(path(file + u".asc"_s)).split('\r').value(1), "\n" + operatorLine);
        QVERIFY(ContentOf(path(file + u".opc"_s)).startsWith("TuneDate = \r\nBatch = run7.b\r\n"));
    }
}

void TestFrmMainBehaviour::convertWritesBothFiles_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("header as read") << QStringList{u"browse first.raw"_s, u"type txtScaling=0,5"_s}
                                    << QByteArray("TimeOfInjection=1079346197\r\n"
                                                  "NameOfOperator=analyst\r\n"
                                                  "NameOfInstrument=Orbit 2\r\n"
                                                  "NameOfSample=QC-3\r\n"
                                                  "NameOfMethod=lipids.meth\r\n"
                                                  "Description= QC run, blank \r\n"
                                                  "VialNumber=12\r\n");
    QTest::newRow("header as edited") << QStringList{u"browse first.raw"_s,
                                                     u"click chkEdit"_s,
                                                     u"type txtNameOfInstrument=Orbit 3"_s,
                                                     u"type txtNameOfSample=QC-3b"_s,
                                                     u"type txtDescription=repeat"_s,
                                                     u"type txtVialNumber=13"_s,
                                                     u"type txtScaling=0,5"_s}
                                      << QByteArray("TimeOfInjection=1079346197\r\n"
                                                    "NameOfOperator=analyst\r\n"
                                                    "NameOfInstrument=Orbit 3\r\n"
                                                    "NameOfSample=QC-3b\r\n"
                                                    "NameOfMethod=lipids.meth\r\n"
                                                    "Description=repeat\r\n"
                                                    "VialNumber=13\r\n");
}

// From the click to the two files beside the acquisition, with the success
// message shown while the window is busy, and the window usable after it.
void TestFrmMainBehaviour::convertWritesBothFiles()
{
    QFETCH(QStringList, steps);
    QFETCH(QByteArray, header);

    run(steps);
    convert();
    QCOMPARE(ContentOf(path(u"first.asc"_s)), header
                                                  + " \r\n"
                                                    "StartDataSection\r\n"
                                                    "IntervalOfScan=30,000\r\n"
                                                    "100,000\t2000,0\r\n"
                                                    "445,120\t3040,9\r\n"
                                                    "IntervalOfScan=75,000\r\n"
                                                    "405,500\t6,0\r\n"
                                                    " \r\n"
                                                    "StartDataSection\r\n"
                                                    "IntervalOfScan=75,000\r\n"
                                                    "405,500\t6,0\r\n");
    QCOMPARE(ContentOf(path(u"first.opc"_s)), ExampleOpcFile());
    QCOMPARE(m_messages, QStringList{u"Quorvane RAW file has been converted to ASCII text format, busy"_s});
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(enabled(), AllFour);
    QCOMPARE(m_component->openDocuments(), 0);
    QCOMPARE(m_component->liveObjects(), 0);
}

// The conversion's failure is told once; the descriptor is written all the
// same and the window is ready for the next attempt.
void TestFrmMainBehaviour::failedConversionStillWritesTheDescriptor()
{
    run({u"browse first.raw"_s, u"click chkEdit"_s});
    m_component->failAt(u"Detector"_s, 1);
    QCOMPARE(convert(), u"Y"_s);
    QCOMPARE(ContentOf(path(u"first.asc"_s)).count("\r\n"), 8);
    QCOMPARE(ContentOf(path(u"first.opc"_s)).count("\r\n"), 22);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(m_failures.size(), 1);
    QVERIFY2(m_failures.first().contains(u"Detector"_s), qPrintable(m_failures.first()));
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(enabled(), AllFour);
    QCOMPARE(unlocked().size(), Six.size());
}

// A header-only .asc is a success, and the user hears why it holds no spectra.
void TestFrmMainBehaviour::noSpectrumToWriteIsTold()
{
    FakeAcquisition a = First();
    a.spectra = {{u"ITMS + c ESI d Full ms2 445.12@cid35.00 [120.00-2000.00]"_s, 0.5, {200.0}, {3.0}}};
    a.dataPath.clear();
    m_component->add(path(u"ms2.raw"_s), a);
    run({u"browse ms2.raw"_s});
    convert();
    QCOMPARE(ContentOf(path(u"ms2.asc"_s)).count("\r\n"), 8);
    QCOMPARE(ContentOf(path(u"ms2.opc"_s)).count("\r\n"), 22);
    QCOMPARE(m_messages, (QStringList{u"Quorvane RAW file has been converted to ASCII text format, busy"_s,
                                      u"Its one spectrum is no ms or SIM spectrum: ms2.asc holds the sample header "_s
                                      u"only., busy"_s}));
    QVERIFY(m_failures.isEmpty());
}

// A conversion that lasts: the window keeps painting, and after a second a
// modal dialog without a button says how far it has come; a click or Escape
// meanwhile does nothing. The dialog is gone before the success message.
void TestFrmMainBehaviour::longConversionShowsProgress()
{
    FakeAcquisition a = First();
    a.spectra.assign(20, {u"+ p ESI Full ms [100.00-1000.00]"_s, 0.5, {100.0}, {1.0}});
    m_component->add(path(u"long.raw"_s), a);
    run({u"browse long.raw"_s});
    auto *convertButton = child<QPushButton>("cmdConvert");
    QStringList seen;
    int paintedDisabled = 0;
    EventSpy spy(convertButton, QEvent::Paint, [&] { paintedDisabled += !convertButton->isEnabled(); });
    // The clock moves 150 ms a reading, one reading a spectrum.
    qint64 now = 0;
    ScopedReplacement clock(modAPI::SteadyMilliseconds, [&] {
        auto *dialog = qobject_cast<ConversionProgressDialog *>(QApplication::activeModalWidget());
        if (dialog && seen.isEmpty()) {
            seen << dialog->windowTitle() + u", "_s + dialog->findChild<QLabel *>()->text() + u", "_s
                        + QString::number(dialog->findChild<QProgressBar *>()->value()) + u"%, buttons "_s
                        + QString::number(dialog->findChildren<QAbstractButton *>().size()) + u", painted "_s
                        + (paintedDisabled > 0 ? u"disabled"_s : u"not"_s);
            // As the user clicks: through the window, which the dialog blocks.
            auto *reset = child<QPushButton>("cmdReset");
            QTest::mouseClick(m_window->windowHandle(), Qt::LeftButton, {},
                              reset->mapTo(m_window.get(), reset->rect().center()));
            QTest::keyClick(dialog, Qt::Key_Escape);
            seen << (dialog->isVisible() ? u"still up"_s : u"closed"_s);
        }
        return now += 150;
    });

    convert();
    QCOMPARE(seen, (QStringList{u"Converting long.raw, Spectrum 7 of 20, 35%, buttons 0, painted disabled"_s,
                                u"still up"_s}));
    QCOMPARE(child<QLineEdit>("txtRawfile")->text(), path(u"long.raw"_s));
    QCOMPARE(m_messages, QStringList{u"Quorvane RAW file has been converted to ASCII text format, busy"_s});
    QVERIFY(!m_window->findChild<ConversionProgressDialog *>());
}

// The dialog is asked afresh each time for a RAW file, starting at the top
// of the file system; a cancelled dialog empties the path.
void TestFrmMainBehaviour::browseAsksForRawFiles()
{
    run({u"browse first.raw"_s, u"browse"_s});
    QCOMPARE(m_requests.size(), 2);
    for (const modDialogs::OpenFileRequest &request : m_requests) {
        QCOMPARE(request.DialogTitle, u"Please select the Quorvane RAW file you wish to convert"_s);
#ifdef Q_OS_WIN
        QCOMPARE(request.InitDir, u"c:\\"_s);
#else
        QCOMPARE(request.InitDir, u"/"_s);
#endif
        QCOMPARE(request.Filter, (QStringList{u"Quorvane RAW files (*.raw)"_s, u"mzML exports (*.mzML *.mzML.gz)"_s,
                                              u"All files (*)"_s}));
    }
    QCOMPARE(child<QLineEdit>("txtRawfile")->text(), QString());
    QCOMPARE(child<QLineEdit>("txtScaling")->text(), u"1"_s);
}

void TestFrmMainBehaviour::coloursFollowTheScheme()
{
    run({u"browse first.raw"_s, u"click chkEdit"_s});
    const QPalette original = QApplication::palette();
    QPalette scheme = original;
    scheme.setColor(QPalette::Base, Qt::yellow);
    scheme.setColor(QPalette::Button, Qt::darkGreen);
    QApplication::setPalette(scheme);
    QCoreApplication::processEvents();
    const bool followed = coloursFollowLocking()
                       && child<QLineEdit>("txtNameOfOperator")->palette().color(QPalette::Base) == Qt::yellow
                       && child<QLineEdit>("txtTimeOfInjection")->palette().color(QPalette::Base) == Qt::darkGreen;
    QApplication::setPalette(original);
    QCoreApplication::processEvents();
    QVERIFY(followed);
    QVERIFY(coloursFollowLocking());
}

// The real dialog, set up as the window asks, lists acquisitions whatever the
// case of their extension, mzML exports under the second filter, and proposes
// nothing on the next call.
void TestFrmMainBehaviour::openDialogShowsRawFilesInAnyCase()
{
    run({u"browse"_s});
    m_browse.reset();
    for (const char *name : {"a.raw", "B.RAW", "c.Raw", "notes.txt", "d.raw.bak", "e.mzML", "f.MZML.GZ", "g.mzML.bak"})
        QVERIFY(WriteBytes(path(QString::fromLatin1(name)), "x"));
    modDialogs::OpenFileRequest request = m_requests.constFirst();
    request.InitDir = m_dir->path();

    QStringList listed;
    QString proposed = u"(not shown)"_s;
    // Chooses the filter, waits for the listing to hold `rows` files, then
    // opens B.RAW or cancels.
    auto answer = [&](bool choose, int filter, int rows) {
        QTimer::singleShot(0, this, [&, choose, filter, rows] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (filter > 0)
                dialog->selectNameFilter(request.Filter.at(filter));
            auto *view = dialog->findChild<QListView *>(u"listView"_s);
            for (int wait = 0; wait < 100 && view && view->model()->rowCount(view->rootIndex()) < rows; ++wait)
                QTest::qWait(50);
            listed.clear();
            for (int row = 0; view && row < view->model()->rowCount(view->rootIndex()); ++row)
                listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
            listed.sort();
            proposed = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s)->text();
            if (choose) {
                QTest::keyClicks(dialog->findChild<QLineEdit *>(u"fileNameEdit"_s), u"B.RAW"_s);
                static_cast<QDialog *>(dialog)->accept(); // as the Open button does
            } else {
                dialog->reject();
            }
        });
    };
    answer(true, 0, 3);
    QCOMPARE(modDialogs::ShowOpen(nullptr, request), QDir::toNativeSeparators(path(u"B.RAW"_s)));
    QCOMPARE(listed, (QStringList{u"B.RAW"_s, u"a.raw"_s, u"c.Raw"_s}));
    QCOMPARE(proposed, QString());
    answer(false, 1, 2);
    QCOMPARE(modDialogs::ShowOpen(nullptr, request), QString());
    QCOMPARE(listed, (QStringList{u"e.mzML"_s, u"f.MZML.GZ"_s}));
    QCOMPARE(proposed, QString());
}

void TestFrmMainBehaviour::messageBoxes_data()
{
    QTest::addColumn<bool>("failure");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::newRow("success message") << false << int(QMessageBox::Information) << u"Successful Conversion"_s
                                     << u"Quorvane RAW file has been converted to ASCII text format"_s;
    QTest::newRow("failure report") << true << int(QMessageBox::Critical) << u"Quorvane to Text V 7b"_s
                                    << u"Error 53: File not found: D:\\x.raw"_s;
}

// The real boxes: modal, one OK button, the message whole.
void TestFrmMainBehaviour::messageBoxes()
{
    QFETCH(bool, failure);
    QFETCH(int, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);
    m_report.reset();

    QString seen = u"(no box)"_s;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        const QCursor *cursor = QApplication::overrideCursor();
        seen = QString::number(box->icon()) + u'|' + box->windowTitle() + u'|' + box->text() + u'|'
             + QString::number(box->buttons().size()) + u'|' + QString::number(cursor ? int(cursor->shape()) : -1);
        box->button(QMessageBox::Ok)->click();
    });
    QApplication::setOverrideCursor(Qt::WaitCursor); // as inside Convert
    if (failure)
        modDialogs::ReportFailure(m_window.get(), Error(ErrorNumber::FileNotFound, u"File not found: D:\\x.raw"_s));
    else
        modDialogs::ShowInformationBox(text, title);
    QApplication::restoreOverrideCursor();
    const int cursor = failure ? int(Qt::WaitCursor) : int(Qt::ArrowCursor);
    QCOMPARE(seen, QString::number(icon) + u'|' + title + u'|' + text + u"|1|"_s + QString::number(cursor));
}

// Exit ends the event loop at once, with the window's state unasked.
void TestFrmMainBehaviour::exitEndsTheProgram()
{
    run({u"browse first.raw"_s, u"click chkEdit"_s, u"type txtNameOfOperator=someone"_s});
    QTimer::singleShot(0, this, [this] { QTest::mouseClick(child<QPushButton>("cmdExit"), Qt::LeftButton); });
    QTimer::singleShot(5000, this, [] { QCoreApplication::exit(99); });
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(m_failures.isEmpty() && m_messages.isEmpty());
}

QTEST_MAIN(TestFrmMainBehaviour)
#include "tst_frmmain_behaviour.moc"
