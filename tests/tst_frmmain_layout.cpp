// The main window as it is built, before any handler runs: every control by
// name, where it sits, what it says, and how the keyboard moves through it.
#include "ui/frmMain.h"
#include "ui/modDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include <limits>

#include <memory>

using namespace Qt::Literals::StringLiterals;

class TestFrmMainLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup() { m_window.reset(); }

    void window();
    void control_data();
    void control();
    void captionFits_data();
    void captionFits();
    void focusStartsOnThePath();
    void tabOrder_data();
    void tabOrder();
    void accessKeyClicks_data();
    void accessKeyClicks();
    void enterAndEscapeClickNothing_data();
    void enterAndEscapeClickNothing();
    void typing_data();
    void typing();

private:
    template <typename T = QWidget>
    T *child(const QString &name) const
    {
        const QList<QWidget *> found = m_window->findChildren<QWidget *>(name);
        return found.size() == 1 ? qobject_cast<T *>(found.first()) : nullptr;
    }
    bool showActive();

    std::unique_ptr<frmMain> m_window;
};

// The layout is drawn in twips; on screen 12 of them make one pixel, the
// scale at which the window's 8-point font fits every caption.
static int Pixels(int twips)
{
    return qRound(twips / 12.0);
}

static QRect PixelRect(int left, int top, int width, int height)
{
    return {Pixels(left), Pixels(top), Pixels(width), Pixels(height)};
}

// One control a row, as the form lists them.
// clang-format off
static const struct
{
    const char *name;
    const char *kind;
    const char *parent;
    int left, top, width, height;
    QString caption;
    QString toolTip;
} Controls[] = {
    {"lblRawfile", "QLabel", "frmMain", 1200, 360, 2055, 255, u"Quorvane RAW file to convert:"_s, {}},
    {"txtRawfile", "QLineEdit", "frmMain", 3480, 360, 7215, 285, {}, {}},
    {"cmdRawfile", "QPushButton", "frmMain", 10920, 360, 375, 255, u"..."_s, {}},
    {"fraFileInfo", "QGroupBox", "frmMain", 240, 960, 11055, 4335, u"File Information"_s, {}},
    {"chkEdit", "QCheckBox", "fraFileInfo", 3000, 3600, 6135, 255,
     u"Allow manual edit of sample header information prior to file conversion"_s, {}},
    {"cmdExit", "QPushButton", "frmMain", 8741, 6240, 1215, 495, u"E&xit"_s, u"Close the application"_s},
    {"cmdConvert", "QPushButton", "frmMain", 6344, 6240, 1215, 495, u"&Convert"_s,
     u"Begin the conversion processing"_s},
    {"cmdReset", "QPushButton", "frmMain", 1624, 6240, 1215, 495, u"&Reset"_s,
     u"Clear the UI and select a new RAW file"_s},
    {"lblCreationDateTime", "QLabel", "fraFileInfo", 1080, 480, 1935, 255, u"Creation Date and Time:"_s, {}},
    {"txtCreationDateTime", "QLineEdit", "fraFileInfo", 3240, 480, 7215, 285, {}, {}},
    {"lblTimeOfInjection", "QLabel", "fraFileInfo", 1320, 840, 1695, 255, u"Time of Injection:"_s, {}},
    {"txtTimeOfInjection", "QLineEdit", "fraFileInfo", 3240, 840, 7215, 285, {}, {}},
    {"lblNameOfOperator", "QLabel", "fraFileInfo", 600, 1200, 2415, 255, u"Name of Operator (User Label 1):"_s, {}},
    {"txtNameOfOperator", "QLineEdit", "fraFileInfo", 3240, 1200, 7215, 285, {}, {}},
    {"lblNameOfInstrument", "QLabel", "fraFileInfo", 360, 1560, 2655, 255, u"Name of Instrument (User Label 2):"_s, {}},
    {"txtNameOfInstrument", "QLineEdit", "fraFileInfo", 3240, 1560, 7215, 285, {}, {}},
    {"lblNameOfSample", "QLabel", "fraFileInfo", 480, 1920, 2535, 255, u"Name of Sample (Sample Name):"_s, {}},
    {"txtNameOfSample", "QLineEdit", "fraFileInfo", 3240, 1920, 7215, 285, {}, {}},
    {"lblDescription", "QLabel", "fraFileInfo", 480, 2640, 2535, 255, u"Description (Comment):"_s, {}},
    {"txtDescription", "QLineEdit", "fraFileInfo", 3240, 2640, 7215, 285, {}, {}},
    {"lblVialNumber", "QLabel", "fraFileInfo", 1320, 3000, 1695, 255, u"Vial Number (Position):"_s, {}},
    {"txtVialNumber", "QLineEdit", "fraFileInfo", 3240, 3000, 7215, 285, {}, {}},
    {"cmdRefresh", "QPushButton", "frmMain", 3984, 6240, 1215, 495, u"Re&fresh"_s,
     u"Retrieve the sample file information"_s},
    {"txtNameOfMethod", "QLineEdit", "fraFileInfo", 3240, 2280, 7215, 285, {}, {}},
    {"lblNameOfMethod", "QLabel", "fraFileInfo", 120, 2280, 2895, 255, u"Name of Method (Instrument Method):"_s, {}},
    {"txtScaling", "QLineEdit", "frmMain", 7879, 5640, 975, 285, {}, {}},
    {"lblScaling", "QLabel", "frmMain", 2760, 5640, 4695, 255,
     u"Scaling Factor (each ion intensity will be DIVIDED by this value):"_s, {}},
};
// clang-format on

static QString Caption(const QWidget *widget)
{
    if (auto label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (auto button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (auto frame = qobject_cast<const QGroupBox *>(widget))
        return frame->title();
    return qobject_cast<const QLineEdit *>(widget)->text();
}

static QStringList Names(const QList<QWidget *> &widgets)
{
    QStringList names;
    for (const QWidget *widget : widgets)
        names << (widget ? widget->objectName() : u"(none)"_s);
    return names;
}

// The buttons' handlers are not under test here, only that the keys reach
// the buttons; a failure they report must not wait for a user.
void TestFrmMainLayout::initTestCase()
{
    modDialogs::ReportFailure.replace([](QWidget *, const Error &) {});
}

void TestFrmMainLayout::init()
{
    m_window = std::make_unique<frmMain>();
}

bool TestFrmMainLayout::showActive()
{
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    return QTest::qWaitForWindowActive(m_window.get());
}

void TestFrmMainLayout::window()
{
    QCOMPARE(m_window->objectName(), u"frmMain"_s);
    QCOMPARE(m_window->windowTitle(), u"Quorvane to Text V 7b"_s);
    const QSize client(Pixels(11580), Pixels(7095));
    QCOMPARE(m_window->size(), client);
    QCOMPARE(m_window->minimumSize(), client);
    QCOMPARE(m_window->maximumSize(), client);
    QCOMPARE(QFontInfo(m_window->font()).family(), u"Liberation Sans"_s);
    QCOMPARE(m_window->font().pointSize(), 8);
    QCOMPARE(m_window->font().weight(), QFont::Normal);

    QStringList expected;
    for (const auto &control : Controls)
        expected << QString::fromLatin1(control.name);
    QStringList named = Names(m_window->findChildren<QWidget *>());
    named.removeAll(QString()); // the toolkit's own parts of the controls
    expected.sort();
    named.sort();
    QCOMPARE(named, expected);
}

void TestFrmMainLayout::control_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");
    for (const auto &c : Controls)
        QTest::newRow(c.name) << QString::fromLatin1(c.kind) << QString::fromLatin1(c.parent)
                              << PixelRect(c.left, c.top, c.width, c.height) << c.caption << c.toolTip;
}

void TestFrmMainLayout::control()
{
    QFETCH(QString, kind);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    const QString name = QString::fromLatin1(QTest::currentDataTag());

    QWidget *widget = child(name);
    QVERIFY2(widget, "exactly one control of this name");
    QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), kind);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), geometry);
    QCOMPARE(Caption(widget), caption);
    QCOMPARE(widget->toolTip(), toolTip);
    QVERIFY(!widget->isHidden());
    QVERIFY(widget->isEnabled());

    QCOMPARE(QFontInfo(widget->font()).family(), u"Liberation Sans"_s);
    QCOMPARE(widget->font().pointSize(), 8);
    QCOMPARE(widget->font().weight(), name == u"cmdRawfile"_s ? QFont::Bold : QFont::Normal);
    QVERIFY(!widget->font().italic() && !widget->font().underline() && !widget->font().strikeOut());

    if (auto label = qobject_cast<QLabel *>(widget)) {
        const Qt::Alignment side = name == u"lblScaling"_s ? Qt::AlignLeft : Qt::AlignRight;
        QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask, side);
        QVERIFY(!label->wordWrap());
    }
    if (auto box = qobject_cast<QLineEdit *>(widget)) {
        QCOMPARE(box->isReadOnly(), name == u"txtRawfile"_s || name == u"txtCreationDateTime"_s);
        QVERIFY(box->hasFrame());
        QCOMPARE(box->maxLength(), std::numeric_limits<int>::max());
    }
    if (auto button = qobject_cast<QPushButton *>(widget)) {
        QVERIFY(!button->isDefault());
        QVERIFY(!button->autoDefault());
    }
}

void TestFrmMainLayout::captionFits_data()
{
    QTest::addColumn<QString>("text"); // as drawn: an access key's "&" is not shown
    for (const auto &c : Controls) {
        const QString kind = QString::fromLatin1(c.kind);
        if (kind != u"QGroupBox"_s)
            QTest::newRow(c.name) << QString(c.caption).remove(u'&');
    }
}

void TestFrmMainLayout::captionFits()
{
    QFETCH(QString, text);
    QWidget *widget = child(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(widget);
    m_window->ensurePolished();
    const QFontMetrics metrics(widget->font());

    QRect room = widget->contentsRect();
    if (auto button = qobject_cast<QPushButton *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        room = widget->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    } else if (auto checkBox = qobject_cast<QCheckBox *>(widget)) {
        QStyleOptionButton option;
        option.initFrom(checkBox);
        option.text = checkBox->text();
        room = widget->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, checkBox);
    } else if (auto textBox = qobject_cast<QLineEdit *>(widget)) {
        QVERIFY2(textBox->height() >= textBox->minimumSizeHint().height(), "the text box shows its text whole");
        return;
    }
    QVERIFY2(metrics.horizontalAdvance(text) <= room.width(),
             qPrintable(u"%1 pixels of text in %2"_s.arg(metrics.horizontalAdvance(text)).arg(room.width())));
    QVERIFY(metrics.height() <= room.height());
}

void TestFrmMainLayout::focusStartsOnThePath()
{
    QVERIFY(showActive());
    QCOMPARE(Names({QApplication::focusWidget()}), QStringList{u"txtRawfile"_s});
}

void TestFrmMainLayout::tabOrder_data()
{
    QTest::addColumn<QStringList>("disabled");
    QTest::addColumn<QStringList>("visited"); // from txtRawfile on

    const QStringList all{u"cmdRawfile"_s,         u"chkEdit"_s,           u"cmdExit"_s,
                          u"cmdConvert"_s,         u"cmdReset"_s,          u"txtCreationDateTime"_s,
                          u"txtTimeOfInjection"_s, u"txtNameOfOperator"_s, u"txtNameOfInstrument"_s,
                          u"txtNameOfSample"_s,    u"txtDescription"_s,    u"txtVialNumber"_s,
                          u"cmdRefresh"_s,         u"txtNameOfMethod"_s,   u"txtScaling"_s,
                          u"txtRawfile"_s};
    QTest::newRow("all enabled") << QStringList() << all;

    const QStringList disabled{u"cmdConvert"_s, u"chkEdit"_s, u"cmdRefresh"_s, u"cmdReset"_s};
    QStringList rest = all;
    for (const QString &name : disabled)
        rest.removeAll(name);
    QTest::newRow("no file chosen yet") << disabled << rest;
}

void TestFrmMainLayout::tabOrder()
{
    QFETCH(QStringList, disabled);
    QFETCH(QStringList, visited);
    QVERIFY(showActive());
    for (const char *name : {"cmdConvert", "chkEdit", "cmdRefresh", "cmdReset"})
        child(QString::fromLatin1(name))->setEnabled(!disabled.contains(QString::fromLatin1(name)));
    child(u"txtRawfile"_s)->setFocus();

    QList<QWidget *> focused;
    for (qsizetype i = 0; i < visited.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        focused << QApplication::focusWidget();
    }
    QCOMPARE(Names(focused), visited);
}

void TestFrmMainLayout::accessKeyClicks_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("disabled");
    QTest::addColumn<QString>("button");
    QTest::newRow("Alt+X") << int(Qt::Key_X) << QString() << u"cmdExit"_s;
    QTest::newRow("Alt+C") << int(Qt::Key_C) << QString() << u"cmdConvert"_s;
    QTest::newRow("Alt+R") << int(Qt::Key_R) << QString() << u"cmdReset"_s;
    QTest::newRow("Alt+F") << int(Qt::Key_F) << QString() << u"cmdRefresh"_s;
    QTest::newRow("Alt+C, Convert disabled") << int(Qt::Key_C) << u"cmdConvert"_s << QString();
    QTest::newRow("Alt+A") << int(Qt::Key_A) << QString() << QString();
    QTest::newRow("Alt+S") << int(Qt::Key_S) << QString() << QString();
    QTest::newRow("Alt+Q") << int(Qt::Key_Q) << QString() << QString();
}

void TestFrmMainLayout::accessKeyClicks()
{
    QFETCH(int, key);
    QFETCH(QString, disabled);
    QFETCH(QString, button);
    QVERIFY(showActive());
    for (QPushButton *b : m_window->findChildren<QPushButton *>())
        b->setEnabled(b->objectName() != disabled); // as with a file chosen

    const QList<QAbstractButton *> buttons = m_window->findChildren<QAbstractButton *>();
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QAbstractButton *b : buttons)
        spies.push_back(std::make_unique<QSignalSpy>(b, &QAbstractButton::clicked));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key), Qt::AltModifier);
    QTest::qWait(200); // an access key presses the button and releases it a moment later

    QStringList clicked;
    for (qsizetype i = 0; i < buttons.size(); ++i)
        if (!spies[i]->isEmpty())
            clicked << buttons[i]->objectName();
    QCOMPARE(clicked, button.isEmpty() ? QStringList() : QStringList{button});
}

void TestFrmMainLayout::enterAndEscapeClickNothing_data()
{
    QTest::addColumn<QString>("focus");
    QTest::addColumn<int>("key");
    for (const char *focus : {"txtRawfile", "txtScaling", "cmdConvert", "cmdExit"}) {
        QTest::addRow("%s, Enter", focus) << QString::fromLatin1(focus) << int(Qt::Key_Return);
        QTest::addRow("%s, keypad Enter", focus) << QString::fromLatin1(focus) << int(Qt::Key_Enter);
        QTest::addRow("%s, Escape", focus) << QString::fromLatin1(focus) << int(Qt::Key_Escape);
    }
}

void TestFrmMainLayout::enterAndEscapeClickNothing()
{
    QFETCH(QString, focus);
    QFETCH(int, key);
    QVERIFY(showActive());
    child(focus)->setEnabled(true); // as with a file chosen: a disabled button takes no focus
    child(focus)->setFocus();
    QCOMPARE(QApplication::focusWidget(), child(focus));

    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (QAbstractButton *b : m_window->findChildren<QAbstractButton *>())
        spies.push_back(std::make_unique<QSignalSpy>(b, &QAbstractButton::clicked));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
    for (const auto &spy : spies)
        QVERIFY(spy->isEmpty());
    QVERIFY(m_window->isVisible());
}

void TestFrmMainLayout::typing_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("changes");
    QTest::newRow("txtRawfile") << u"txtRawfile"_s << false;
    QTest::newRow("txtCreationDateTime") << u"txtCreationDateTime"_s << false;
    QTest::newRow("txtScaling") << u"txtScaling"_s << true;
}

void TestFrmMainLayout::typing()
{
    QFETCH(QString, box);
    QFETCH(bool, changes);
    QVERIFY(showActive());
    auto *edit = child<QLineEdit>(box);
    QVERIFY(edit);
    edit->setFocus();
    QTest::keyClicks(edit, u"abc"_s);
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(edit->text().isEmpty(), !changes);
    QCOMPARE(QApplication::focusWidget(), edit); // the caret still enters
}

QTEST_MAIN(TestFrmMainLayout)
#include "tst_frmmain_layout.moc"
