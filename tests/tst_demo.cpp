#include "convert/AscConversion.h"
#include "convert/OpcDescriptor.h"
#include "convert/modAPI.h"
#include "mzml/MzmlDocument.h"
#include "tests/fake/ScopedReplacement.h"
#include "tests/fake/TestFiles.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

// The bundled demo acquisition, read by the program's own reader, gives the
// text files that the laboratory's software expects, byte for byte.
class TestDemo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void convertsToTheExpectedFiles();
};

void TestDemo::initTestCase()
{
    InstallMzmlReader();
}

void TestDemo::convertsToTheExpectedFiles()
{
    QLocale::setDefault(QLocale::c());
    ScopedReplacement utc(modAPI::GetTimeZoneInformation,
                          [](const QDateTime &) { return modAPI::TimeZoneInformation{}; });
    QTemporaryDir dir;
    const QString rawPath = dir.filePath(u"demo.raw"_s);
    QVERIFY(QFile::copy(QStringLiteral(QUORVANE_SOURCE_DIR "/examples/demo.raw"), rawPath));

    SampleHeader header;
    QVERIFY(ConvertRawFile(rawPath, u"N"_s, header, 1.0));
    QVERIFY(WriteOpcFile(rawPath));
    for (const QString &extension : {u"asc"_s, u"opc"_s}) {
        const QByteArray expected = ContentOf(QStringLiteral(QUORVANE_SOURCE_DIR "/tests/expected/demo.") + extension);
        QCOMPARE(ContentOf(dir.filePath(u"demo."_s + extension)), expected);
    }
}

QTEST_APPLESS_MAIN(TestDemo)
#include "tst_demo.moc"
