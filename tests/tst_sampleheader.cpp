#include "convert/PathFunctions.h"
#include "convert/SampleHeader.h"
#include "tests/fake/FakeComponent.h"

#include <QLocale>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestSampleHeader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QLocale::setDefault(QLocale(u"de_DE"_s)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void fileNameOfPath_data();
    void fileNameOfPath();
    void readsEveryField();
    void callsTheComponentInOrder();
    void midnightGivesTheDateAlone();
    void failurePassesThrough_data();
    void failurePassesThrough();
};

static const QString RawPath = u"C:\\data\\run7.raw"_s;

void TestSampleHeader::fileNameOfPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");

    QTest::newRow("full path") << u"C:\\data\\x.raw"_s << u"x.raw"_s;
    QTest::newRow("no backslash") << u"x.raw"_s << u"x.raw"_s;
    QTest::newRow("trailing backslash") << u"C:\\data\\"_s << QString();
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("forward slashes") << u"C:/data/x.raw"_s << u"C:/data/x.raw"_s;
    QTest::newRow("network path") << u"\\\\server\\share\\x.raw"_s << u"x.raw"_s;
    QTest::newRow("longer than 16 bits") << QString(40000, u'a') + u"\\x.raw"_s << u"x.raw"_s;
    QTest::newRow("long name") << u"C:\\"_s + QString(40000, u'b') << QString(40000, u'b');
}

void TestSampleHeader::fileNameOfPath()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QCOMPARE(FileNameOfPath(path), name);
}

void TestSampleHeader::readsEveryField()
{
    FakeComponent component;
    component.add(RawPath, ExampleAcquisition());

    const SampleHeader header = ReadSampleHeader(RawPath);
    QCOMPARE(header.CreationDateTime, u"15.03.2004 10:23:17"_s);
    QCOMPARE(header.TimeOfInjection, QString());
    QCOMPARE(header.NameOfOperator, u"analyst"_s);
    QCOMPARE(header.NameOfInstrument, u"Orbit 2"_s);
    QCOMPARE(header.NameOfSample, u"QC-3"_s);
    QCOMPARE(header.NameOfMethod, u"lipids.meth"_s);
    QCOMPARE(header.Description, u" QC run, blank "_s);
    QCOMPARE(header.VialNumber, u"12"_s);
    QCOMPARE(header.DataPath, u"D:\\results\\run7"_s);
    QCOMPARE(ReadSampleHeader(RawPath), header);
    QCOMPARE(component.liveObjects(), 0);
    QCOMPARE(component.openDocuments(), 0);
}

void TestSampleHeader::callsTheComponentInOrder()
{
    FakeComponent component;
    component.add(RawPath, ExampleAcquisition());
    ReadSampleHeader(RawPath);
    QCOMPARE(component.calls(), ReadSampleHeaderCalls());
}

void TestSampleHeader::midnightGivesTheDateAlone()
{
    FakeComponent component;
    FakeAcquisition a = ExampleAcquisition();
    a.creationDate = 38061.0;
    a.instrumentMethod = u"lipids.meth"_s;
    component.add(RawPath, a);
    const SampleHeader header = ReadSampleHeader(RawPath);
    QCOMPARE(header.CreationDateTime, u"15.03.2004"_s);
    QCOMPARE(header.NameOfMethod, u"lipids.meth"_s);
}

void TestSampleHeader::failurePassesThrough_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("call");
    for (const char *operation : {"CreateRawFileDocument", "Open", "SampleInfo", "Position", "SampleName", "Comment",
                                  "InstrumentMethod", "FileHeader", "CreationDate", "DataPath", "Close"})
        QTest::newRow(operation) << QString::fromLatin1(operation) << 1;
    QTest::newRow("UserText 1") << u"UserText"_s << 1;
    QTest::newRow("UserText 2") << u"UserText"_s << 2;
}

void TestSampleHeader::failurePassesThrough()
{
    QFETCH(QString, operation);
    QFETCH(int, call);
    FakeComponent component;
    component.add(RawPath, ExampleAcquisition());
    component.failAt(operation, call, ErrorNumber::PermissionDenied);
    try {
        ReadSampleHeader(RawPath);
        QFAIL("no failure");
    } catch (const Error &error) {
        QCOMPARE(error.number(), ErrorNumber::PermissionDenied);
        QCOMPARE(error.description(), u"Fake component: %1 failed at call %2."_s.arg(operation).arg(call));
    }
    QCOMPARE(component.calls().last(), operation);
    QCOMPARE(component.liveObjects(), 0);
}

QTEST_APPLESS_MAIN(TestSampleHeader)
#include "tst_sampleheader.moc"
