// The reader against the field's reference converter: msconvert rewrites one
// acquisition in each encoding, and every rewrite must read like the original.

#include "DemoAcquisition.h"
#include "MzmlDocument.h"
#include "ReadAcquisition.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(Tolerance)

class TestMzmlConformance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void readsWhatMsconvertWrites_data();
    void readsWhatMsconvertWrites();

private:
    QTemporaryDir m_dir;
    QString m_msconvert;
    QString m_original;
};

void TestMzmlConformance::initTestCase()
{
    InstallMzmlReader();
    m_msconvert = QStandardPaths::findExecutable(u"msconvert"_s);
    if (m_msconvert.isEmpty())
        QSKIP("msconvert is not installed (Debian package libpwiz-tools)");
    m_original = m_dir.filePath(u"original.mzML"_s);
    WriteDemoMzml(m_original);
}

void TestMzmlConformance::readsWhatMsconvertWrites_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("term"); // shows that msconvert wrote the encoding asked for
    QTest::addColumn<Tolerance>("masses");
    QTest::addColumn<Tolerance>("intensities");
    const Tolerance exact{};
    const Tolerance float32{0, 6e-8};
    QTest::newRow("indexed, zlib, 64-bit") << QStringList{u"-z"_s, u"--64"_s} << QByteArray("MS:1000574")
                                           << exact << exact;
    QTest::newRow("plain, uncompressed, 64-bit") << QStringList{u"--noindex"_s, u"--64"_s}
                                                 << QByteArray("MS:1000576") << exact << exact;
    QTest::newRow("indexed, 32-bit") << QStringList{u"--32"_s} << QByteArray("MS:1000521") << float32 << float32;
    QTest::newRow("plain, zlib, 32-bit") << QStringList{u"--noindex"_s, u"-z"_s, u"--32"_s}
                                         << QByteArray("MS:1000521") << float32 << float32;
    QTest::newRow("numpress linear and pic") << QStringList{u"--numpressLinear"_s, u"--numpressPic"_s}
                                             << QByteArray("MS:1002313") << Tolerance{0, 1e-8} << Tolerance{0.5, 0};
    QTest::newRow("numpress linear and slof with zlib") << QStringList{u"-n"_s, u"-z"_s} << QByteArray("MS:1002748")
                                                        << Tolerance{0, 1e-8} << Tolerance{0.01, 2e-4};
    QTest::newRow("plain, numpress slof") << QStringList{u"--noindex"_s, u"--numpressSlof"_s}
                                          << QByteArray("MS:1002314") << exact << Tolerance{0.01, 2e-4};
}

void TestMzmlConformance::readsWhatMsconvertWrites()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, term);
    QFETCH(Tolerance, masses);
    QFETCH(Tolerance, intensities);
    const QString output = u"rewritten.mzML"_s;
    QProcess msconvert;
    msconvert.setProcessChannelMode(QProcess::MergedChannels);
    msconvert.start(m_msconvert, QStringList{m_original, u"-o"_s, m_dir.path(), u"--outfile"_s, output} + options);
    QVERIFY(msconvert.waitForFinished(60000));
    QVERIFY2(msconvert.exitCode() == 0, msconvert.readAll().constData());

    QFile file(m_dir.filePath(output));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains(term));
    QCOMPARE(content.contains("<indexedmzML"), !options.contains(u"--noindex"_s));

    const QString difference = DifferenceOfFile(file.fileName(), DemoAcquisition(), masses, intensities);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

QTEST_GUILESS_MAIN(TestMzmlConformance)
#include "tst_mzmlconformance.moc"
