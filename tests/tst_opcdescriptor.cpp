#include "convert/Errors.h"
#include "convert/OpcDescriptor.h"
#include "convert/PathFunctions.h"
#include "tests/fake/FakeComponent.h"
#include "tests/fake/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestOpcDescriptor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();

    void lastFolderOfPath_data();
    void lastFolderOfPath();
    void lastFolderOfPath_refuses();
    void writesTheExample();
    void writes_data();
    void writes();
    void failsBeforeCreating_data();
    void failsBeforeCreating();
    void secondRunRewrites();
    void anyExtensionCaseGivesLowerCaseOpc_data();
    void anyExtensionCaseGivesLowerCaseOpc();
    void readsEachValueOncePerLine();

private:
    QString pathInTemp(const QString &name) const { return m_dir->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

static const QByteArray ExampleFile = ExampleOpcFile();

// The example file's lines, each with its CR LF.
static QList<QByteArray> ExampleLines()
{
    QList<QByteArray> lines = ExampleFile.split('\n');
    lines.removeLast();
    for (QByteArray &line : lines)
        line += '\n';
    return lines;
}

void TestOpcDescriptor::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestOpcDescriptor::lastFolderOfPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");

    QTest::newRow("trailing backslash") << u"C:\\data\\batch1\\"_s << u"batch1"_s;
    QTest::newRow("no trailing backslash") << u"C:\\data\\batch1"_s << u"batch1"_s;
    QTest::newRow("no backslash") << u"batch1"_s << u"batch1"_s;
    QTest::newRow("drive root") << u"C:\\"_s << u"C:"_s;
    QTest::newRow("two trailing backslashes") << u"C:\\data\\batch1\\\\"_s << u"batch1"_s;
    QTest::newRow("three trailing backslashes") << u"C:\\data\\batch1\\\\\\"_s << QString();
    QTest::newRow("two backslashes alone") << u"\\\\"_s << QString();
    QTest::newRow("one character") << u"b"_s << u"b"_s;
    QTest::newRow("forward slashes are ordinary") << u"C:/data/batch1"_s << u"C:/data/batch1"_s;
    QTest::newRow("network path") << u"\\\\server\\share\\run7"_s << u"run7"_s;
    QTest::newRow("longer than 16 bits") << QString(40000, u'a') + u"\\"_s + QString(33000, u'b')
                                         << QString(33000, u'b');
}

void TestOpcDescriptor::lastFolderOfPath()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    const QString argument = path;
    QCOMPARE(LastFolderOfPath(path), folder);
    QCOMPARE(path, argument);
}

void TestOpcDescriptor::lastFolderOfPath_refuses()
{
    for (const QString &path : {u"\\"_s, QString()}) {
        try {
            LastFolderOfPath(path);
            QFAIL("no failure");
        } catch (const Error &error) {
            QCOMPARE(error.number(), ErrorNumber::InvalidArgument);
        }
    }
}

void TestOpcDescriptor::writesTheExample()
{
    FakeComponent component;
    const QString rawPath = pathInTemp(u"s01.raw"_s);
    component.add(rawPath, ExampleAcquisition());
    QVERIFY(WriteOpcFile(rawPath));
    QCOMPARE(ContentOf(pathInTemp(u"s01.opc"_s)), ExampleFile);
    QCOMPARE(component.openDocuments(), 0);
    QCOMPARE(component.liveObjects(), 0);
}

void TestOpcDescriptor::writes_data()
{
    QTest::addColumn<QString>("dataPath");
    QTest::addColumn<QString>("method");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QByteArray>("expected");

    const QList<QByteArray> lines = ExampleLines();
    const auto changed = [&lines](QList<std::pair<int, QByteArray>> replacements) {
        QList<QByteArray> result = lines;
        for (const auto &[number, line] : replacements)
            result[number - 1] = line + "\r\n";
        return result.join();
    };
    const QString example = u"D:\\results\\run7"_s;

    QTest::newRow("method without folder")
        << example << u"lipids.meth"_s << true << changed({{4, "Method = lipids.M"}});
    QTest::newRow("method without extension")
        << example << u"C:\\methods\\lipids"_s << true << changed({{4, "Method = liM"}});
    QTest::newRow("method of four characters") << example << u"meth"_s << true << changed({{4, "Method = M"}});
    // Too short for an extension: the file name as it stands, every line kept.
    QTest::newRow("method of three characters") << example << u"a.m"_s << true << changed({{4, "Method = a.m"}});
    QTest::newRow("method of three characters, a folder")
        << example << u"C:\\"_s << true << changed({{4, "Method = "}});
    QTest::newRow("empty method") << example << QString() << true << changed({{4, "Method = "}});
    QTest::newRow("data path with trailing backslash") << u"D:\\results\\run7\\"_s << u"C:\\methods\\lipids.meth"_s
                                                       << true << changed({{20, "Data Path = D:\\results\\run7\\"}});
    QTest::newRow("data path of a drive")
        << u"D:"_s << u"C:\\methods\\lipids.meth"_s << true
        << changed({{2, "Batch = D:.b"}, {20, "Data Path = D:"}, {21, "Batchname = D:.b"}, {22, "batchnme = D:"}});
    // Many exports name no folder: no batch, and every line all the same.
    QTest::newRow("empty data path")
        << QString() << u"C:\\methods\\lipids.meth"_s << true
        << changed({{2, "Batch = "}, {20, "Data Path = "}, {21, "Batchname = "}, {22, "batchnme = "}});
    QTest::newRow("data path of a backslash")
        << u"\\"_s << u"C:\\methods\\lipids.meth"_s << true
        << changed({{2, "Batch = .b"}, {20, "Data Path = \\"}, {21, "Batchname = .b"}, {22, "batchnme = "}});
    QTest::newRow("data path ending in two backslashes")
        << u"D:\\results\\run7\\\\"_s << u"C:\\methods\\lipids.meth"_s << true
        << changed({{2, "Batch = .b"},
                    {20, "Data Path = D:\\results\\run7\\\\"},
                    {21, "Batchname = .b"},
                    {22, "batchnme = "}});
    // A line break of any kind in a value is one blank: no value makes lines.
    QTest::newRow("line feed in the method")
        << example << u"C:\\methods\\lip\nids.meth"_s << true << changed({{4, "Method = lip ids.M"}});
    QTest::newRow("CR LF and a lone CR in the data path")
        << u"D:\\results\r\n\\run\r7"_s << u"C:\\methods\\lipids.meth"_s << true
        << changed({{2, "Batch = run 7.b"},
                    {20, "Data Path = D:\\results \\run 7"},
                    {21, "Batchname = run 7.b"},
                    {22, "batchnme = run 7"}});
}

void TestOpcDescriptor::writes()
{
    QFETCH(QString, dataPath);
    QFETCH(QString, method);
    QFETCH(bool, success);
    QFETCH(QByteArray, expected);

    FakeComponent component;
    FakeAcquisition acquisition = ExampleAcquisition();
    acquisition.dataPath = dataPath;
    acquisition.instrumentMethod = method;
    const QString rawPath = pathInTemp(u"s01.raw"_s);
    component.add(rawPath, acquisition);

    QCOMPARE(WriteOpcFile(rawPath), success);
    QCOMPARE(ContentOf(pathInTemp(u"s01.opc"_s)), expected);
    QCOMPARE(component.calls().last(), u"Close"_s);
    QCOMPARE(component.openDocuments(), 0);
    QCOMPARE(component.liveObjects(), 0);
}

void TestOpcDescriptor::failsBeforeCreating_data()
{
    QTest::addColumn<QString>("rawName");
    QTest::addColumn<bool>("known");
    QTest::addColumn<QString>("descriptorName");
    QTest::addColumn<bool>("hardLinked"); // the acquisition is a second name of the descriptor's file

    QTest::newRow("acquisition that does not open") << u"s01.raw"_s << false << u"s01.opc"_s << false;
    QTest::newRow("descriptor would be the acquisition") << u"s01.opc"_s << true << u"s01.opc"_s << false;
    QTest::newRow("path of two characters") << u"ab"_s << true << u"s01.opc"_s << false;
    QTest::newRow("descriptor hard-linked to the acquisition") << u"s01.raw"_s << true << u"s01.opc"_s << true;
}

// An existing descriptor is left as it was, and so is the acquisition.
void TestOpcDescriptor::failsBeforeCreating()
{
    QFETCH(QString, rawName);
    QFETCH(bool, known);
    QFETCH(QString, descriptorName);
    QFETCH(bool, hardLinked);

    FakeComponent component;
    const QString rawPath = rawName.size() < 3 ? rawName : pathInTemp(rawName);
    if (known)
        component.add(rawPath, ExampleAcquisition());
    const QByteArray before = "kept as it was\r\n";
    QVERIFY(WriteBytes(pathInTemp(descriptorName), before));
    if (hardLinked)
        QVERIFY(HardLink(pathInTemp(descriptorName), rawPath));

    QVERIFY(!WriteOpcFile(rawPath));
    QCOMPARE(ContentOf(pathInTemp(descriptorName)), before);
    QCOMPARE(component.openDocuments(), 0);
    QCOMPARE(component.liveObjects(), 0);
    QCOMPARE(component.count(u"Close"_s), known ? 1 : 0);
    QCOMPARE(component.count(u"DataPath"_s), 0);
}

void TestOpcDescriptor::secondRunRewrites()
{
    FakeComponent component;
    const QString rawPath = pathInTemp(u"s01.raw"_s);
    component.add(rawPath, ExampleAcquisition());
    QVERIFY(WriteBytes(pathInTemp(u"s01.opc"_s), QByteArray(10000, 'x')));
    QVERIFY(WriteOpcFile(rawPath));
    QVERIFY(WriteOpcFile(rawPath));
    QCOMPARE(ContentOf(pathInTemp(u"s01.opc"_s)), ExampleFile);
}

void TestOpcDescriptor::anyExtensionCaseGivesLowerCaseOpc_data()
{
    QTest::addColumn<QString>("rawName");
    QTest::addColumn<QString>("opcName");
    QTest::newRow("upper case") << u"s01.RAW"_s << u"s01.opc"_s;
    QTest::newRow("mixed case") << u"s01.Raw"_s << u"s01.opc"_s;
    QTest::newRow("no dot") << u"s01xraw"_s << u"s01xopc"_s;
    QTest::newRow("mzML export") << u"s01.mzML"_s << u"s01.opc"_s;
    QTest::newRow("gzip-compressed mzML export, upper case") << u"s01.MZML.GZ"_s << u"s01.opc"_s;
}

void TestOpcDescriptor::anyExtensionCaseGivesLowerCaseOpc()
{
    QFETCH(QString, rawName);
    QFETCH(QString, opcName);
    FakeComponent component;
    const QString rawPath = pathInTemp(rawName);
    component.add(rawPath, ExampleAcquisition());
    const QByteArray acquisition = "acquisition bytes";
    QVERIFY(WriteBytes(rawPath, acquisition));

    QVERIFY(WriteOpcFile(rawPath));
    QCOMPARE(ContentOf(pathInTemp(opcName)), ExampleFile);
    QCOMPARE(ContentOf(rawPath), acquisition);
}

void TestOpcDescriptor::readsEachValueOncePerLine()
{
    FakeComponent component;
    const QString rawPath = pathInTemp(u"s01.raw"_s);
    component.add(rawPath, ExampleAcquisition());
    QVERIFY(WriteOpcFile(rawPath));
    const QStringList expected{u"CreateRawFileDocument"_s,
                               u"Open"_s,
                               u"SampleInfo"_s,
                               u"DataPath"_s, // line 2
                               u"Position"_s, // line 3
                               u"InstrumentMethod"_s,
                               u"InstrumentMethod"_s, // line 4
                               u"UserText"_s,         // line 7
                               u"SampleName"_s,
                               u"SampleName"_s,
                               u"SampleName"_s, // lines 8, 9, 17
                               u"DataPath"_s,
                               u"DataPath"_s,
                               u"DataPath"_s, // lines 20 to 22
                               u"Close"_s};
    QCOMPARE(component.calls(), expected);
}

QTEST_APPLESS_MAIN(TestOpcDescriptor)
#include "tst_opcdescriptor.moc"
