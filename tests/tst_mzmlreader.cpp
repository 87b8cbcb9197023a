#include "convert/ConversionProgress.h"
#include "convert/DateValue.h"
#include "convert/Errors.h"
#include "examples/DemoAcquisition.h"
#include "mzml/Base64Decoder.h"
#include "mzml/BinaryArrayDecoding.h"
#include "mzml/DecompressedCopy.h"
#include "mzml/LargeSpectrum.h"
#include "mzml/MzmlDocument.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlParams.h"
#include "mzml/MzmlSpectrumIndex.h"
#include "mzml/XmlTokenizer.h"
#include "tests/fake/ScopedReplacement.h"
#include "tests/fake/TestFiles.h"
#include "tests/mzml/HalvesReading.h"
#include "tests/mzml/MzmlWriter.h"
#include "tests/mzml/PiecesReading.h"
#include "tests/mzml/ReadAcquisition.h"
#include "tests/mzml/ReferenceReading.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

using Mutation = std::function<void(QByteArray &)>;
Q_DECLARE_METATYPE(MzmlLayout)
Q_DECLARE_METATYPE(Tolerance)
Q_DECLARE_METATYPE(Mutation)
Q_DECLARE_METATYPE(Numpress)
Q_DECLARE_METATYPE(ArrayEncoding)

class TestMzmlReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void base64MatchesQt();
    void base64Rejects_data();
    void base64Rejects();
    void readsEveryEncoding_data();
    void readsEveryEncoding();
    void mapsSampleAndSpectrum_data();
    void mapsSampleAndSpectrum();
    void creationDate_data();
    void creationDate();
    void badInput_data();
    void badInput();
    void groupsAreReadOnce_data();
    void groupsAreReadOnce();
    void damageNeverCrashes_data();
    void damageNeverCrashes();
    void randomArraysNeverCrash_data();
    void randomArraysNeverCrash();
    void decodesLargeSpectraAhead();
    void largeSpectrumInRuns_data();
    void largeSpectrumInRuns();
    void arraysInPiecesAsWhole_data();
    void arraysInPiecesAsWhole();
    void agreesWithReferenceParser_data();
    void agreesWithReferenceParser();
    void tokenizerIgnoresHowBytesArrive_data();
    void tokenizerIgnoresHowBytesArrive();
    void largeFileReadInHalves_data();
    void largeFileReadInHalves();
    void entriesKeepEveryField();
    void filterTableKeepsEveryText_data();
    void filterTableKeepsEveryText();
    void copyFolder_data();
    void copyFolder();
    void refusesWhatIsNotAFile_data();
    void refusesWhatIsNotAFile();
    void opensTheExportBeside_data();
    void opensTheExportBeside();
    void readsLatin1Documents();
    void openReadsOnlyTheHead();
    void objectsFailAfterClose();
    void demoReadsAsBuilt();

private:
    QString write(const QString &name, const QByteArray &content);
    QTemporaryDir m_dir;
};

namespace {

FakeSpectrum Generated(const QString &filter, double minutes, int points)
{
    FakeSpectrum spectrum{filter, minutes, {}, {}};
    for (qint64 i = 0; i < points; ++i) {
        spectrum.masses.push_back(120.0 + double(i) * 8.0625 + double(i * i) * 0.001953125);
        spectrum.intensities.push_back(i % 7 == 0 ? 0.0 : 1000.0 + double(i * 7919 % 5003) * 3.25);
    }
    return spectrum;
}

// The documented example with texts that need escaping in XML.
FakeAcquisition TestAcquisition()
{
    FakeAcquisition a = ExampleAcquisition();
    a.comment = u"line one\nline two & <three> \"quoted\"\ttab"_s;
    a.sampleName = u"QC-3 µg"_s;
    a.userText2 = u"Bench 2"_s;
    a.spectra.push_back({u"+ p ESI Full ms [100.00-1000.00]"_s, 0.5, {100.5, 250.125, 999.875}, {1520.25, 0, 3.5}});
    a.spectra.push_back(Generated(u"+ c ESI SIM ms [445.00-455.00]"_s, 1.25, 5));
    a.spectra.push_back({QString(), 2.0, {}, {}});
    a.spectra.push_back(Generated(u"+ c ESI d Full ms2 445.12@cid35.00 [120.00-460.00]"_s, 3.75, 40));
    return a;
}

// The description of the Error that the operation throws; empty when it succeeds.
QString FailureOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const Error &error) {
        return error.description();
    }
    return {};
}

QByteArray MinimalMzml(const QByteArray &samples, const QByteArray &runAttributes, const QByteArray &spectrumParams,
                       const QByteArray &scanParams)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<mzML xmlns=\"http://psi.hupo.org/ms/mzml\" "
           "version=\"1.1.0\">\n"
         + samples + "<run id=\"r\" " + runAttributes
         + ">\n<spectrumList count=\"1\">\n<spectrum index=\"0\" id=\"s1\" defaultArrayLength=\"0\">\n" + spectrumParams
         + "<scanList count=\"2\"><scan>" + scanParams
         + "</scan><scan><cvParam accession=\"MS:1000512\" value=\"second scan\"/></scan></scanList>\n"
           "</spectrum>\n</spectrumList>\n</run>\n</mzML>\n";
}

// The document as indexed mzML: its one spectrum in an index at the end.
QByteArray Indexed(QByteArray document)
{
    document.replace("<mzML ", "<indexedmzML>\n<mzML ");
    const QByteArray spectrum = QByteArray::number(document.indexOf("<spectrum "));
    const QByteArray indexList = QByteArray::number(document.size());
    return document + "<indexList count=\"1\"><index name=\"spectrum\"><offset idRef=\"s1\">" + spectrum
         + "</offset></index></indexList>\n<indexListOffset>" + indexList + "</indexListOffset>\n</indexedmzML>\n";
}

// The decompressed copies that readers keep in the temporary folder.
QStringList TemporaryCopies()
{
    return QDir(QDir::tempPath()).entryList(QDir::Files | QDir::Hidden);
}

// The process's open file descriptors: a copy opened without a name shows
// only here.
qsizetype OpenDescriptors()
{
    return QDir(u"/proc/self/fd"_s)
        .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
        .size();
}

// The threads of the process but those exiting. A joined thread may stay
// listed a moment longer: the kernel wakes the joining thread before it
// removes the one that ends, which is marked as exiting (PF_EXITING) by then.
QStringList LiveThreads()
{
    constexpr qulonglong Exiting = 0x4;
    QStringList live;
    for (const QString &task : QDir(u"/proc/self/task"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(u"/proc/self/task/%1/stat"_s.arg(task));
        const QByteArray stat = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        // The flags: the 7th field after the name, which stands in parentheses and may hold blanks.
        const qsizetype name = stat.lastIndexOf(')');
        if (name >= 0 && !(stat.sliced(name + 1).simplified().split(' ').value(6).toULongLong() & Exiting))
            live << task;
    }
    return live;
}

// The n-th (0-based) binary text of the document replaced by text.
Mutation ReplaceBinary(int n, QByteArray text)
{
    return [n, text](QByteArray &document) {
        qsizetype at = -1;
        for (int i = 0; i <= n; ++i)
            at = document.indexOf("<binary>", at + 1);
        const qsizetype start = at + 8;
        document.replace(start, document.indexOf("</binary>", start) - start, text);
    };
}

// Cuts count characters from the end of the n-th binary text.
Mutation CutBinary(int n, qsizetype count)
{
    return [n, count](QByteArray &document) {
        qsizetype at = -1;
        for (int i = 0; i <= n; ++i)
            at = document.indexOf("<binary>", at + 1);
        document.remove(document.indexOf("</binary>", at) - count, count);
    };
}

Mutation Replace(QByteArray before, QByteArray after)
{
    return [before, after](QByteArray &document) {
        const qsizetype at = document.indexOf(before);
        Q_ASSERT(at >= 0);
        document.replace(at, before.size(), after);
    };
}

Mutation Truncate(double fraction)
{
    return [fraction](QByteArray &document) { document.truncate(qsizetype(document.size() * fraction)); };
}

Mutation Whole(QByteArray content)
{
    return [content](QByteArray &document) { document = content; };
}

// The mutation, then the index at the end rewritten to where the spectra now stand.
Mutation Reindexed(Mutation mutation)
{
    return [mutation](QByteArray &d) {
        mutation(d);
        const QByteArray ref = "<offset idRef=\"";
        for (qsizetype at = d.indexOf(ref); at >= 0; at = d.indexOf(ref, at + 1)) {
            const QByteArray id = d.mid(at + ref.size(), d.indexOf('"', at + ref.size()) - at - ref.size());
            const qsizetype value = d.indexOf('>', at) + 1;
            const qsizetype spectrum = d.lastIndexOf("<spectrum ", d.indexOf(QByteArray(" id=\"" + id + '"')));
            d.replace(value, d.indexOf('<', value) - value, QByteArray::number(spectrum));
        }
        const qsizetype value = d.indexOf("<indexListOffset>") + 17;
        d.replace(value, d.indexOf('<', value) - value, QByteArray::number(d.indexOf("<indexList ")));
    };
}

// The document gzip-compressed, then damaged.
Mutation Gzip(Mutation damage = [](QByteArray &) {})
{
    return [damage](QByteArray &document) {
        document = Gzipped(document);
        damage(document);
    };
}

// The document in ISO-8859-1, as it declares, then changed.
Mutation Latin1(Mutation change)
{
    return [change](QByteArray &document) {
        document = QString::fromUtf8(document).toLatin1().replace("encoding=\"utf-8\"", "encoding=\"ISO-8859-1\"");
        change(document);
    };
}

Mutation Utf16(QStringConverter::Encoding encoding, QStringConverter::Flags flags)
{
    return [=](QByteArray &document) { document = QStringEncoder(encoding, flags)(QString::fromUtf8(document)); };
}

QByteArray ZlibBomb()
{
    // 32 MB of zeros: a few dozen kilobytes compressed.
    return qCompress(QByteArray(32 << 20, '\0')).mid(4).toBase64();
}

} // namespace

QString TestMzmlReader::write(const QString &name, const QByteArray &content)
{
    const QString path = m_dir.filePath(name);
    if (!WriteBytes(path, content))
        qFatal("cannot write the test file");
    return path;
}

void TestMzmlReader::initTestCase()
{
    InstallMzmlReader();
    // A folder of its own, so that every copy left behind shows.
    const QString temporary = m_dir.filePath(u"temporary"_s);
    QVERIFY(QDir().mkpath(temporary));
    qputenv("TMPDIR", QFile::encodeName(temporary));
}

void TestMzmlReader::base64MatchesQt()
{
    QRandomGenerator random(7);
    for (int round = 0; round < 500; ++round) {
        QByteArray data(random.bounded(0, 300), Qt::Uninitialized);
        for (char &c : data)
            c = char(random.bounded(256));
        const bool padded = random.bounded(2) == 0;
        QString text =
            QString::fromLatin1(data.toBase64(padded ? QByteArray::Base64Encoding : QByteArray::OmitTrailingEquals));
        for (int breaks = random.bounded(4); breaks > 0; --breaks)
            text.insert(random.bounded(text.size() + 1), QStringView(u" \n\r\t").mid(random.bounded(4), 1));
        std::vector<unsigned char> decoded;
        QVERIFY2(DecodeBase64(text.toLatin1(), decoded), qPrintable(text));
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(decoded.data()), qsizetype(decoded.size())), data);
        // The same text in three pieces, cut anywhere.
        const QByteArray latin1 = text.toLatin1();
        qsizetype cuts[] = {random.bounded(latin1.size() + 1), random.bounded(latin1.size() + 1)};
        std::sort(std::begin(cuts), std::end(cuts));
        Base64Stream stream;
        std::vector<unsigned char> streamed;
        QVERIFY(stream.add(latin1.first(cuts[0]), streamed));
        QVERIFY(stream.add(latin1.sliced(cuts[0], cuts[1] - cuts[0]), streamed));
        QVERIFY(stream.add(latin1.sliced(cuts[1]), streamed) && stream.finish(streamed));
        QCOMPARE(streamed, decoded);
    }
}

void TestMzmlReader::base64Rejects_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("qtRejects"); // Qt lets a dangling character pass
    QTest::newRow("foreign character") << u"QUJD*EVG"_s << true;
    QTest::newRow("URL alphabet") << u"QUJD-_VG"_s << true;
    QTest::newRow("non-ASCII") << u"QUJDµEVG"_s << true;
    QTest::newRow("single character left") << u"QUJDR"_s << false;
    QTest::newRow("data after padding") << u"QQ==QUJD"_s << true;
    QTest::newRow("too much padding") << u"QQ==="_s << true;
    QTest::newRow("padding in a full group") << u"QUJD="_s << true;
    QTest::newRow("padding alone") << u"===="_s << true;
}

void TestMzmlReader::base64Rejects()
{
    QFETCH(QString, text);
    QFETCH(bool, qtRejects);
    std::vector<unsigned char> decoded;
    QVERIFY(!DecodeBase64(text.toUtf8(), decoded));
    // Refused too when it comes a character at a time.
    Base64Stream stream;
    bool accepted = true;
    for (const char c : text.toUtf8())
        accepted = accepted && stream.add(QByteArrayView(&c, 1), decoded);
    QVERIFY(!(accepted && stream.finish(decoded)));
    QCOMPARE(!QByteArray::fromBase64Encoding(text.toUtf8(), QByteArray::AbortOnBase64DecodingErrors), qtRejects);
}

void TestMzmlReader::readsEveryEncoding_data()
{
    QTest::addColumn<MzmlLayout>("layout");
    QTest::addColumn<Tolerance>("masses");
    QTest::addColumn<Tolerance>("intensities");
    const ArrayEncoding zlib64{Precision::Float64, true, Numpress::None};
    const ArrayEncoding zlib32{Precision::Float32, true, Numpress::None};
    const ArrayEncoding plain64{Precision::Float64, false, Numpress::None};
    const ArrayEncoding plain32{Precision::Float32, false, Numpress::None};
    const Tolerance exact{};
    const Tolerance float32{0, 6e-8};
    const Tolerance linear{1e-6, 0};
    QTest::newRow("indexed, zlib, 64 and 32 bits") << MzmlLayout{true, zlib64, zlib32} << exact << float32;
    QTest::newRow("plain, uncompressed, 64 bits") << MzmlLayout{false, plain64, plain64} << exact << exact;
    QTest::newRow("indexed, uncompressed, 32 bits") << MzmlLayout{true, plain32, plain32} << float32 << float32;
    QTest::newRow("plain, zlib, 32 and 64 bits") << MzmlLayout{false, zlib32, zlib64} << float32 << exact;
    QTest::newRow("numpress linear and pic")
        << MzmlLayout{true, {Precision::Float64, false, Numpress::Linear}, {Precision::Float64, false, Numpress::Pic}}
        << linear << Tolerance{0.5, 0};
    QTest::newRow("numpress with zlib") << MzmlLayout{false,
                                                      {Precision::Float64, true, Numpress::Linear},
                                                      {Precision::Float32, true, Numpress::Slof}}
                                        << linear << Tolerance{0.01, 2e-4};
    QTest::newRow("numpress slof alone") << MzmlLayout{true, zlib64, {Precision::Float64, false, Numpress::Slof}}
                                         << exact << Tolerance{0.01, 2e-4};
    QTest::newRow("pic with zlib") << MzmlLayout{true, zlib64, {Precision::Float64, true, Numpress::Pic}} << exact
                                   << Tolerance{0.5, 0};
    QTest::newRow("start times in seconds") << MzmlLayout{true, zlib64, zlib64, TimeUnit::Seconds} << exact << exact;
    QTest::newRow("start times in milliseconds")
        << MzmlLayout{false, zlib64, zlib64, TimeUnit::Milliseconds} << exact << exact;
    QTest::newRow("parameters through groups")
        << MzmlLayout{true, zlib64, plain32, TimeUnit::Minutes, true} << exact << float32;
    // Every tag right after the one before: a spectrum ends "</binaryDataArrayList></spectrum>".
    QTest::newRow("indexed, no line breaks")
        << MzmlLayout{.masses = zlib64, .intensities = zlib32, .lineBreaks = false} << exact << float32;
    QTest::newRow("plain, numpress through groups, no line breaks")
        << MzmlLayout{.indexed = false,
                      .masses = {Precision::Float64, true, Numpress::Linear},
                      .intensities = {Precision::Float64, false, Numpress::Pic},
                      .throughGroups = true,
                      .lineBreaks = false}
        << linear << Tolerance{0.5, 0};
}

void TestMzmlReader::readsEveryEncoding()
{
    QFETCH(MzmlLayout, layout);
    QFETCH(Tolerance, masses);
    QFETCH(Tolerance, intensities);
    const QString path = m_dir.filePath(u"encoded.raw"_s);
    WriteMzml(path, TestAcquisition(), layout);
    const QString difference = DifferenceOfFile(path, TestAcquisition(), masses, intensities);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

void TestMzmlReader::mapsSampleAndSpectrum_data()
{
    QTest::addColumn<QByteArray>("samples");
    QTest::addColumn<QByteArray>("runAttributes");
    QTest::addColumn<QByteArray>("spectrumParams");
    QTest::addColumn<QByteArray>("scanParams");
    QTest::addColumn<QString>("sampleName");
    QTest::addColumn<QString>("comment");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<double>("startTime");
    QTest::addColumn<QString>("dataPath");

    const QByteArray two = "<sampleList count=\"2\">"
                           "<sample id=\"a\" name=\"first\"><userParam name=\"Comment\" value=\"of a\"/></sample>"
                           "<sample id=\"b\" name=\"second\"><userParam name=\"comment\" value=\"lower case\"/>"
                           "<userParam name=\"Comment\" value=\" of b \"/></sample></sampleList>\n";
    const QByteArray filter = "<cvParam accession=\"MS:1000512\" value=\"+ p ESI Full ms [100.00-1000.00]\"/>";
    const auto timeParam = [](const char *value, const char *unit) -> QByteArray {
        return QByteArray("<cvParam accession=\"MS:1000016\" value=\"") + value + "\" unitAccession=\"" + unit + "\"/>";
    };
    const QByteArray time = timeParam("7.5", "UO:0000031");
    QTest::newRow("sampleRef names the second") << two << QByteArray("sampleRef=\"b\"") << QByteArray() << QByteArray()
                                                << u"second"_s << u" of b "_s << QString() << 0.0 << QString();
    QTest::newRow("no sampleRef: the first")
        << two << QByteArray() << QByteArray() << time << u"first"_s << u"of a"_s << QString() << 7.5 << QString();
    QTest::newRow("sampleRef to nothing: the first")
        << two << QByteArray("sampleRef=\"z\"") << QByteArray() << QByteArray() << u"first"_s << u"of a"_s << QString()
        << 0.0 << QString();
    QTest::newRow("no samples") << QByteArray() << QByteArray() << QByteArray() << QByteArray() << QString()
                                << QString() << QString() << 0.0 << QString();
    QTest::newRow("filter of the spectrum") << QByteArray() << QByteArray() << filter << QByteArray() << QString()
                                            << QString() << u"+ p ESI Full ms [100.00-1000.00]"_s << 0.0 << QString();
    QTest::newRow("filter of the scan first")
        << QByteArray() << QByteArray() << QByteArray("<cvParam accession=\"MS:1000512\" value=\"of the spectrum\"/>")
        << QByteArray(filter).append(time) << QString() << QString() << u"+ p ESI Full ms [100.00-1000.00]"_s << 7.5
        << QString();
    QTest::newRow("start time only of the first scan") << QByteArray() << QByteArray() << time << QByteArray()
                                                       << QString() << QString() << QString() << 0.0 << QString();
    QTest::newRow("start time with a plus sign")
        << QByteArray() << QByteArray() << QByteArray() << timeParam(" +7.5", "UO:0000031") << QString() << QString()
        << QString() << 7.5 << QString();
    QTest::newRow("start time with the minus sign U+2212") << QByteArray() << QByteArray() << QByteArray()
                                                           << timeParam("\xe2\x88\x92"
                                                                        "7.5e\xe2\x88\x92"
                                                                        "1",
                                                                        "UO:0000031")
                                                           << QString() << QString() << QString() << -0.75 << QString();
    // What reads as it stands and what reads only as the document means it agree.
    QTest::newRow("start time between tab and line break")
        << QByteArray() << QByteArray() << QByteArray() << timeParam("\t7.5\n", "UO:0000031") << QString() << QString()
        << QString() << 7.5 << QString();
    QTest::newRow("start time through a reference")
        << QByteArray() << QByteArray() << QByteArray() << timeParam("&#55;.5", "UO:0000031") << QString() << QString()
        << QString() << 7.5 << QString();
    QTest::newRow("unit through a reference")
        << QByteArray() << QByteArray() << QByteArray() << timeParam(" 90 ", "UO:000001&#48;") << QString() << QString()
        << QString() << 1.5 << QString();
    QTest::newRow("milliseconds with blanks")
        << QByteArray() << QByteArray() << QByteArray() << timeParam("  +45000", "UO:0000028") << QString() << QString()
        << QString() << 0.75 << QString();
    QTest::newRow("sample texts through a group")
        << QByteArray("<referenceableParamGroupList count=\"1\"><referenceableParamGroup id=\"g\">"
                      "<userParam name=\"Comment\" value=\"grouped\"/></referenceableParamGroup>"
                      "</referenceableParamGroupList><sampleList count=\"1\"><sample id=\"a\" name=\"n\">"
                      "<referenceableParamGroupRef ref=\"g\"/></sample></sampleList>")
        << QByteArray() << QByteArray() << QByteArray() << u"n"_s << u"grouped"_s << QString() << 0.0 << QString();
    QTest::newRow("a group's text in the place of the reference")
        << QByteArray("<referenceableParamGroupList count=\"1\"><referenceableParamGroup id=\"g\">"
                      "<userParam name=\"Comment\" value=\"grouped\"/></referenceableParamGroup>"
                      "</referenceableParamGroupList><sampleList count=\"1\"><sample id=\"a\" name=\"n\">"
                      "<referenceableParamGroupRef ref=\"g\"/><userParam name=\"Comment\" value=\"own\"/>"
                      "<referenceableParamGroupRef ref=\"g\"/></sample></sampleList>")
        << QByteArray() << QByteArray() << QByteArray() << u"n"_s << u"grouped"_s << QString() << 0.0 << QString();
    // Without a filter string, the start of one for the same kind of scan.
    const QByteArray ms1 = "<cvParam accession=\"MS:1000579\"/>";
    const QByteArray level1 = "<cvParam accession=\"MS:1000511\" value=\"1\"/>";
    const QByteArray sim = "<cvParam accession=\"MS:1000582\"/>" + level1;
    QTest::newRow("no filter string: MS1 by its term") << QByteArray() << QByteArray() << ms1 << QByteArray()
                                                       << QString() << QString() << u"+ Full ms "_s << 0.0 << QString();
    QTest::newRow("no filter string: MS1 by its level")
        << QByteArray() << QByteArray() << level1 << QByteArray() << QString() << QString() << u"+ Full ms "_s << 0.0
        << QString();
    QTest::newRow("no filter string: MS1 by its level, written otherwise")
        << QByteArray() << QByteArray() << QByteArray("<cvParam accession=\"MS:1000511\" value=\" +01\"/>")
        << QByteArray() << QString() << QString() << u"+ Full ms "_s << 0.0 << QString();
    QTest::newRow("no filter string: the first level counts")
        << QByteArray() << QByteArray() << QByteArray("<cvParam accession=\"MS:1000511\" value=\"2\"/>") + level1
        << QByteArray() << QString() << QString() << QString() << 0.0 << QString();
    QTest::newRow("no filter string: SIM") << QByteArray() << QByteArray() << sim << QByteArray() << QString()
                                           << QString() << u"+ SIM ms "_s << 0.0 << QString();
    QTest::newRow("no filter string: MSn")
        << QByteArray() << QByteArray()
        << QByteArray("<cvParam accession=\"MS:1000580\"/><cvParam accession=\"MS:1000511\" value=\"2\"/>")
        << QByteArray() << QString() << QString() << QString() << 0.0 << QString();
    QTest::newRow("an empty filter string stands")
        << QByteArray() << QByteArray() << ms1 << QByteArray("<cvParam accession=\"MS:1000512\" value=\"\"/>")
        << QString() << QString() << QString() << 0.0 << QString();
    QTest::newRow("spectrum type through a group")
        << QByteArray("<referenceableParamGroupList count=\"1\"><referenceableParamGroup id=\"g\">" + sim
                      + "</referenceableParamGroup></referenceableParamGroupList>")
        << QByteArray() << QByteArray("<referenceableParamGroupRef ref=\"g\"/>") << QByteArray() << QString()
        << QString() << u"+ SIM ms "_s << 0.0 << QString();
    // Heads beyond plain markup, which only an XML reader reads right.
    QTest::newRow("filter with references and a line break")
        << QByteArray() << QByteArray() << QByteArray()
        << QByteArray("<cvParam accession=\"MS:1000512\" value=\"a &amp; b&#9;c\n2\"/>") << QString() << QString()
        << u"a & b\tc 2"_s << 0.0 << QString();
    QTest::newRow("prefixed, commented, not ASCII")
        << QByteArray() << QByteArray()
        << QByteArray("<!-- a > b --><ms:cvParam accession='MS:1000512' value=\"\xc3\xa9 ms\"/>") << QByteArray()
        << QString() << QString() << u"\u00e9 ms"_s << 0.0 << QString();
    // Without a "Data Path" of the sample, the folder of the first source
    // file, in every form that exporters write it.
    const auto sourceFiles = [](const QByteArray &files) -> QByteArray {
        return "<fileDescription><sourceFileList count=\"2\">" + files + "</sourceFileList></fileDescription>\n";
    };
    const auto sourceFolderRow = [&](const char *location, const QString &dataPath) {
        QTest::addRow("source folder %s", location)
            << sourceFiles("<sourceFile id=\"a\" name=\"run7.RAW\" location=\"" + QByteArray(location)
                           + "\"/><sourceFile id=\"b\" name=\"other.raw\" location=\"file:///D:/x\"/>")
            << QByteArray() << QByteArray() << QByteArray() << QString() << QString() << QString() << 0.0 << dataPath;
    };
    sourceFolderRow("file://C:\\Acquisitions\\data\\exp105", u"C:\\Acquisitions\\data\\exp105"_s);
    sourceFolderRow("file://\\\\labserver\\share\\exp106", u"\\\\labserver\\share\\exp106"_s);
    sourceFolderRow("file:///C:/Development/examples/BSA", u"C:\\Development\\examples\\BSA"_s);
    sourceFolderRow("file://C:/lab/My%20Data/exp7", u"C:\\lab\\My Data\\exp7"_s);
    sourceFolderRow("D:/Data/20080402_az.d/", u"D:\\Data\\20080402_az.d\\"_s);
    sourceFolderRow("file:///data/runs/exp105", u"\\data\\runs\\exp105"_s);
    sourceFolderRow("file://C:\\My Data\\exp 9", u"C:\\My Data\\exp 9"_s);
    sourceFolderRow("file://C:\\lab\\100%25", u"C:\\lab\\100%25"_s);
    sourceFolderRow("file://lab/runs%20of%20May/", u"\\\\lab\\runs of May\\"_s);
    sourceFolderRow("FILE:////lab/share", u"\\\\lab\\share"_s);
    sourceFolderRow("file://localhost/C:/lab", u"C:\\lab"_s);
    sourceFolderRow("file://localhost/srv/lab", u"\\srv\\lab"_s);
    sourceFolderRow("file:C:/lab", u"C:\\lab"_s);
    sourceFolderRow("file:runs/exp7", u"runs\\exp7"_s);
    sourceFolderRow("file:///", QString());
    sourceFolderRow("http://lab/runs/exp7", u"http://lab/runs/exp7"_s);
    sourceFolderRow("", QString());
    const QByteArray run7 = sourceFiles("<sourceFile id=\"a\" name=\"run7.RAW\" location=\"file:///C:/lab/data\"/>");
    QTest::newRow("data path of the sample first")
        << run7
               + "<sampleList count=\"1\"><sample id=\"a\" name=\"n\">"
                 "<userParam name=\"Data Path\" value=\"D:\\results\\run7\"/></sample></sampleList>"
        << QByteArray() << QByteArray() << QByteArray() << u"n"_s << QString() << QString() << 0.0
        << u"D:\\results\\run7"_s;
}

void TestMzmlReader::mapsSampleAndSpectrum()
{
    QFETCH(QByteArray, samples);
    QFETCH(QByteArray, runAttributes);
    QFETCH(QByteArray, spectrumParams);
    QFETCH(QByteArray, scanParams);
    QFETCH(QString, sampleName);
    QFETCH(QString, comment);
    QFETCH(QString, filter);
    QFETCH(double, startTime);
    QFETCH(QString, dataPath);
    // The spectrum index comes from a pass over the file, then from the index at its end.
    const QByteArray document = MinimalMzml(samples, runAttributes, spectrumParams, scanParams);
    for (const QByteArray &content : {document, Indexed(document)}) {
        const FakeAcquisition a = ReadAcquisition(write(u"mapped.raw"_s, content));
        QCOMPARE(a.sampleName, sampleName);
        QCOMPARE(a.comment, comment);
        QCOMPARE(a.userText1, QString());
        QCOMPARE(a.dataPath, dataPath);
        QCOMPARE(a.spectra.size(), size_t(1));
        QCOMPARE(a.spectra[0].filter, filter);
        QCOMPARE(a.spectra[0].startTime, startTime);
        QCOMPARE(a.spectra[0].masses.size(), size_t(0));
    }
}

void TestMzmlReader::creationDate_data()
{
    QTest::addColumn<QByteArray>("runAttributes");
    QTest::addColumn<double>("dateValue");
    QTest::addColumn<QString>("failure");
    const double local = DateValueOfDateTime(QDate(2004, 3, 15), QTime(10, 23, 17));
    // The test runs in Central European time.
    QTest::newRow("no zone: local time") << QByteArray("startTimeStamp=\"2004-03-15T10:23:17\"") << local << QString();
    QTest::newRow("UTC") << QByteArray("startTimeStamp=\"2004-03-15T09:23:17Z\"") << local << QString();
    QTest::newRow("offset") << QByteArray("startTimeStamp=\"2004-03-15T11:23:17+02:00\"") << local << QString();
    QTest::newRow("summer time") << QByteArray("startTimeStamp=\"2004-07-15T08:00:00Z\"")
                                 << DateValueOfDateTime(QDate(2004, 7, 15), QTime(10, 0)) << QString();
    QTest::newRow("fraction of a second")
        << QByteArray("startTimeStamp=\" 2004-03-15T10:23:17.250 \"")
        << DateValueOfDateTime(QDate(2004, 3, 15), QTime(10, 23, 17, 250)) << QString();
    // Without a zone the stamp is the wall clock, even where it skips or repeats.
    QTest::newRow("no zone: skipped spring hour") << QByteArray("startTimeStamp=\"2004-03-28T02:30:00\"")
                                                  << DateValueOfDateTime(QDate(2004, 3, 28), QTime(2, 30)) << QString();
    QTest::newRow("no zone: repeated autumn hour")
        << QByteArray("startTimeStamp=\"2004-10-31T02:30:00\"")
        << DateValueOfDateTime(QDate(2004, 10, 31), QTime(2, 30)) << QString();
    QTest::newRow("absent") << QByteArray() << 0.0 << QString();
    QTest::newRow("not a date") << QByteArray("startTimeStamp=\"yesterday\"") << 0.0
                                << u"startTimeStamp \"yesterday\" is not a date and time"_s;
}

void TestMzmlReader::creationDate()
{
    QFETCH(QByteArray, runAttributes);
    QFETCH(double, dateValue);
    QFETCH(QString, failure);
    const QString path = write(u"dated.raw"_s, MinimalMzml({}, runAttributes, {}, {}));
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(path);
    double actual = 0;
    const QString description = FailureOf([&] { actual = document->FileHeader()->CreationDate(); });
    QVERIFY2(description.contains(failure), qPrintable(description));
    QCOMPARE(description.isEmpty(), failure.isEmpty());
    QVERIFY2(qAbs(actual - dateValue) < 1e-9, qPrintable(QString::number(actual, 'g', 17)));
}

void TestMzmlReader::badInput_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<Mutation>("mutation");
    // Open, CreationDate, Count, Filter, StartTime, Points, Points from 1; Count while cut to N (the file cut
    // once the first bytes are read), Points after cut to N (cut after Count)
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("spectrum");
    QTest::addColumn<QString>("failure"); // empty: reads like the unchanged acquisition

    const Mutation none = [](QByteArray &) {};
    const QByteArray billionLaughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE mzML [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">"
        "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;\">]>\n"
        "<mzML><sampleList count=\"1\"><sample id=\"s\" name=\"&d;&d;&d;&d;\"/></sampleList></mzML>";
    QByteArray binary(4096, Qt::Uninitialized);
    for (qsizetype i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 151 + 7) % 256);

    QTest::newRow("unchanged, indexed") << true << none << u"Points"_s << 4 << QString();
    QTest::newRow("unchanged, plain") << false << none << u"Points"_s << 4 << QString();
    QTest::newRow("binary file") << true << Whole(binary) << u"Open"_s << 0 << u"not an mzML acquisition"_s;
    QTest::newRow("empty file") << true << Whole({}) << u"Open"_s << 0 << u"not an mzML acquisition"_s;
    QTest::newRow("plain text") << true << Whole("run 7, 15.03.2004\r\n") << u"Open"_s << 0
                                << u"not an mzML acquisition"_s;
    QTest::newRow("other XML") << true << Whole("<?xml version=\"1.0\"?><html><body/></html>") << u"Open"_s << 0
                               << u"not an mzML acquisition (its root element is <html>)"_s;
    QTest::newRow("entity expansion") << true << Whole(billionLaughs) << u"Open"_s << 0
                                      << u"not an mzML acquisition (it declares a document type at byte 22)"_s;
    QTest::newRow("truncated in the head") << true << Truncate(0.05) << u"Open"_s << 0 << u"truncated"_s;
    QTest::newRow("truncated in the spectra, indexed") << true << Truncate(0.8) << u"Count"_s << 0 << u"truncated"_s;
    QTest::newRow("truncated in the spectra, plain") << false << Truncate(0.8) << u"Filter"_s << 1 << u"truncated"_s;
    QTest::newRow("undefined parameter group")
        << true << Replace("<scan>", "<scan><referenceableParamGroupRef ref=\"x\"/>") << u"Count"_s << 0
        << u"parameter group \"x\""_s;
    QTest::newRow("invalid base64") << true << ReplaceBinary(0, "eJw*") << u"Points"_s << 1
                                    << u"spectrum 1: the m/z array is not valid base64"_s;
    QTest::newRow("damaged zlib") << true << ReplaceBinary(1, "AAAAAAAA") << u"Points"_s << 1
                                  << u"spectrum 1: the intensity array holds a damaged zlib stream"_s;
    QTest::newRow("zlib cut short") << true << ReplaceBinary(0, "eJxjYAAChUgHEMU=") << u"Points"_s << 1
                                    << u"the m/z array holds a damaged zlib stream"_s;
    QTest::newRow("zlib bomb") << true << ReplaceBinary(1, ZlibBomb()) << u"Points"_s << 1
                               << u"spectrum 1: the intensity array inflates beyond its declared length"_s;
    QTest::newRow("damaged numpress") << true << Mutation([](QByteArray &d) {
        Replace("MS:1000574\" name=\"zlib compression", "MS:1002312\" name=\"numpress")(d);
        ReplaceBinary(0, "AAAAAA==")(d);
    }) << u"Points"_s << 1 << u"spectrum 1: the m/z array holds a damaged numpress stream"_s;
    QTest::newRow("length disagrees") << true << Replace("defaultArrayLength=\"3\"", "defaultArrayLength=\"4\"")
                                      << u"Points"_s << 1
                                      << u"the m/z array holds 3 values where the spectrum declares 4"_s;
    QTest::newRow("absurd declared length")
        << true << Replace("defaultArrayLength=\"3\"", "defaultArrayLength=\"9223372036854775807\"") << u"Points"_s << 1
        << u"spectrum 1: the m/z array is damaged: its 23 bytes of zlib data cannot hold the 9223372036854775807 "
           u"values declared."_s;
    // What a zlib stream can give is known before it is inflated: deflate
    // makes at most 1,032 bytes of one.
    const auto intensitiesDeclare = [](QByteArray length, QByteArray bomb) {
        return Mutation([=](QByteArray &d) {
            const qsizetype second = d.indexOf("<binaryDataArray ", d.indexOf("<binaryDataArray ") + 1);
            d.insert(second + 17, "arrayLength=\"" + length + "\" ");
            ReplaceBinary(1, bomb)(d);
        });
    };
    QTest::newRow("zlib bomb declaring more than it can hold")
        << true << intensitiesDeclare("1000000000000000", ZlibBomb()) << u"Points"_s << 1
        << u"bytes of zlib data cannot hold the 1000000000000000 values declared."_s;
    QTest::newRow("zlib stream at deflate's largest ratio")
        << true << intensitiesDeclare(QByteArray::number(8 << 20), ZlibBomb()) << u"Points"_s << 1
        << u"spectrum 1: its m/z array holds 3 values and its intensity array 8388608."_s;
    QTest::newRow("numpress with zlib declaring more than it can hold") << true << Mutation([](QByteArray &d) {
        Replace("MS:1000574\" name=\"zlib compression", "MS:1002746\" name=\"numpress and zlib")(d);
        Replace("defaultArrayLength=\"3\"", "defaultArrayLength=\"100000000\"")(d);
    }) << u"Points"_s << 1 << u"the m/z array is damaged: its 23 bytes of zlib data cannot hold the 100000000 values"_s;
    QTest::newRow("arrays of different lengths") << false << Mutation([](QByteArray &d) {
        const qsizetype second = d.indexOf("<binaryDataArray ", d.indexOf("<binaryDataArray ") + 1);
        d.insert(second + 17, "arrayLength=\"2\" ");
        ReplaceBinary(1, qCompress(QByteArray(16, '\0')).mid(4).toBase64())(d);
        Replace("MS:1000521", "MS:1000523")(d);
    }) << u"Points"_s << 1 << u"its m/z array holds 3 values and its intensity array 2"_s;
    QTest::newRow("negative length") << true << Replace("defaultArrayLength=\"3\"", "defaultArrayLength=\"-3\"")
                                     << u"Points"_s << 1 << u"defaultArrayLength \"-3\" is not a length"_s;
    QTest::newRow("integer data type") << true << Replace("MS:1000523\" name=\"64-bit float", "MS:1000522\" name=\"x")
                                       << u"Points"_s << 1 << u"MS:1000522 (64-bit integer)"_s;
    QTest::newRow("no data type") << true
                                  << Replace("<cvParam cvRef=\"MS\" accession=\"MS:1000523\" name=\"64-bit float\" "
                                             "value=\"\"/>",
                                             "")
                                  << u"Points"_s << 1 << u"names no binary data type (MS:1000521 or MS:1000523)"_s;
    QTest::newRow("unknown compression") << true
                                         << Replace("MS:1000574\" name=\"zlib compression",
                                                    "MS:1003089\" name=\"truncation and zlib compression")
                                         << u"Points"_s << 1 << u"compression MS:1003089"_s;
    QTest::newRow("no compression")
        << true << Replace("<cvParam cvRef=\"MS\" accession=\"MS:1000574\" name=\"zlib compression\" value=\"\"/>", "")
        << u"Points"_s << 1 << u"the m/z array names no compression"_s;
    // Spectra of one filter text are decoded ahead: a fault waits for its own spectrum.
    const auto damagedAhead = [](QByteArray filter, int binaryIndex, QByteArray text) {
        return Mutation([=](QByteArray &d) {
            Replace(filter, "+ p ESI Full ms [100.00-1000.00]")(d); // the filter of spectrum 1
            ReplaceBinary(binaryIndex, text)(d);
        });
    };
    QTest::newRow("invalid base64 decoded ahead")
        << true << damagedAhead("+ c ESI SIM ms [445.00-455.00]", 2, "eJw*") << u"Points from 1"_s << 2
        << u"spectrum 2: the m/z array is not valid base64"_s;
    QTest::newRow("damaged zlib decoded ahead of other spectra")
        << false << damagedAhead("+ c ESI d Full ms2 445.12@cid35.00 [120.00-460.00]", 7, "AAAAAAAA")
        << u"Points from 1"_s << 4 << u"spectrum 4: the intensity array holds a damaged zlib stream"_s;
    QTest::newRow("no m/z array") << true << Replace("MS:1000514", "MS:1000786") << u"Points"_s << 1
                                  << u"spectrum 1: it has no m/z array"_s;
    // What the pass over the document notes of the arrays must not hide a
    // fault that their markup shows.
    QTest::newRow("a second list of arrays repeats the m/z array") << true << Mutation([](QByteArray &d) {
        const qsizetype first = d.indexOf("<binaryDataArray ");
        const QByteArray masses = d.sliced(first, d.indexOf("</binaryDataArray>", first) + 18 - first);
        Replace("</binaryDataArrayList>",
                "</binaryDataArrayList><binaryDataArrayList count=\"1\">" + masses + "</binaryDataArrayList>")(d);
    }) << u"Points"_s << 1 << u"spectrum 1: it has two m/z arrays"_s;
    QTest::newRow("a third array whose length is not one") << true << Mutation([](QByteArray &d) {
        Replace("</binaryDataArrayList>", "<binaryDataArray arrayLength=\"x\"><cvParam accession=\"MS:1000516\"/>"
                                          "</binaryDataArray></binaryDataArrayList>")(d);
    }) << u"Points"_s << 1 << u"spectrum 1: its arrayLength \"x\" is not a length"_s;
    QTest::newRow("an array refers to no group")
        << true << Replace("<binary>", "<referenceableParamGroupRef ref=\"nowhere\"/><binary>") << u"Points"_s << 1
        << u"spectrum 1: it refers to the parameter group \"nowhere\", which the document does not define"_s;
    QTest::newRow("start time in hours") << true << Replace("UO:0000031", "UO:0000032") << u"StartTime"_s << 1
                                         << u"spectrum 1: its scan start time is in the unit UO:0000032"_s;
    // The index marks a fault; its text is read again where it stands.
    QTest::newRow("start time in hours, compressed")
        << true << Mutation([](QByteArray &d) { d = Gzipped(d.replace("UO:0000031", "UO:0000032")); }) << u"StartTime"_s
        << 2 << u"spectrum 2: its scan start time is in the unit UO:0000032"_s;
    QTest::newRow("start time in hours through a group") << false << Mutation([](QByteArray &d) {
        Replace("<sampleList", "<referenceableParamGroupList count=\"1\"><referenceableParamGroup id=\"t\">"
                               "<cvParam accession=\"MS:1000016\" value=\"2\" unitAccession=\"UO:0000032\"/>"
                               "</referenceableParamGroup></referenceableParamGroupList>\n<sampleList")(d);
        d.replace("<scan>\n", "<scan>\n<referenceableParamGroupRef ref=\"t\"/>");
    }) << u"StartTime"_s << 3 << u"spectrum 3: its scan start time is in the unit UO:0000032"_s;
    QTest::newRow("start time not a number") << true << Replace("value=\"0.5\"", "value=\"half\"") << u"StartTime"_s
                                             << 1 << u"scan start time \"half\" is not a number"_s;
    QTest::newRow("start time with two signs") << true << Replace("value=\"0.5\"", "value=\"+-0.5\"") << u"StartTime"_s
                                               << 1 << u"scan start time \"+-0.5\" is not a number"_s;
    // A value from the file is quoted in a message up to about 100 characters.
    const QByteArray long99 = QByteArray(99, 'h');
    QTest::newRow("start time of any length quoted short")
        << true << Replace("value=\"0.5\"", "value=\"" + long99 + "\xf0\x9f\x98\x80" + QByteArray(3 << 20, 'h') + '"')
        << u"StartTime"_s << 1
        << u"spectrum 1: its scan start time \""_s + QString::fromLatin1(long99) + u"...\" is not a number."_s;
    QTest::newRow("declared length of any length quoted short")
        << true << Replace("defaultArrayLength=\"3\"", "defaultArrayLength=\"" + QByteArray(5000, '-') + '"')
        << u"Points"_s << 1
        << u"spectrum 1: its defaultArrayLength \""_s + QString(100, u'-') + u"...\" is not a length."_s;
    QTest::newRow("undefined group of a long name quoted short")
        << true << Replace("<scan>", "<scan><referenceableParamGroupRef ref=\"" + QByteArray(5000, 'x') + "\"/>")
        << u"Count"_s << 0 << u"parameter group \""_s + QString(100, u'x') + u"...\", which"_s;
    QTest::newRow("no spectrum 5") << true << none << u"Points"_s << 5 << u"there is no spectrum 5"_s;
    QTest::newRow("no spectrum 0") << false << none << u"Filter"_s << 0 << u"there is no spectrum 0"_s;
    // A stale or lying index: the scan takes over and every spectrum reads as written.
    QTest::newRow("index shifted") << true << Replace("<spectrumList", "<!-- moved -->\n<spectrumList") << u"Points"_s
                                   << 4 << QString();
    QTest::newRow("index with offsets swapped") << true << Mutation([](QByteArray &d) {
        const qsizetype first = d.indexOf("<offset idRef=\"scan=1\">");
        const qsizetype second = d.indexOf("<offset idRef=\"scan=2\">");
        const QByteArray a = d.mid(first + 23, d.indexOf('<', first + 1) - first - 23);
        const QByteArray b = d.mid(second + 23, d.indexOf('<', second + 1) - second - 23);
        d.replace(second + 23, b.size(), a);
        d.replace(first + 23, a.size(), b);
    }) << u"Points"_s << 4 << QString();
    QTest::newRow("index offset beyond the end")
        << true << Replace("<indexListOffset>", "<indexListOffset>9") << u"Points"_s << 4 << QString();
    QTest::newRow("index count differs") << true << Replace("<spectrumList count=\"4\"", "<spectrumList count=\"3\"")
                                         << u"Points"_s << 4 << QString();
    QTest::newRow("spectra in comments and CDATA")
        << false
        << Replace("</spectrumList>",
                   "<!-- <spectrum index=\"9\"> --><![CDATA[<spectrum>]]><?pi <spectrum>?>\n</spectrumList>")
        << u"Points"_s << 4 << QString();
    // The spectrum list holds spectra and nothing else; an index that leaves one out is not used.
    const Mutation misspelt = Replace("<spectrum index=\"2\"", "<spectrun index=\"2\"");
    QTest::newRow("misspelt spectrum, plain")
        << false << misspelt << u"Count"_s << 0 << u"the spectrum list holds an element <spectrun> at byte "_s;
    QTest::newRow("misspelt spectrum, indexed")
        << true << misspelt << u"Count"_s << 0 << u"the spectrum list holds an element <spectrun> at byte "_s;
    QTest::newRow("percent sign in a name") << false << Replace("<spectrum index=\"2\"", "<spectr%1 index=\"2\"")
                                            << u"Count"_s << 0 << u"the tag <spectr> at byte "_s;
    QTest::newRow("stray end tag in the list") << false << Replace("</spectrum>\n", "</spectrum>\n</spectrum>\n")
                                               << u"Count"_s << 0 << u"</spectrum> at byte "_s;
    QTest::newRow("count and index leave out the last") << true << Mutation([](QByteArray &d) {
        Replace("<spectrumList count=\"4\"", "<spectrumList count=\"3\"")(d);
        const qsizetype last = d.indexOf("<offset idRef=\"scan=4\">");
        d.remove(last, d.indexOf('\n', last) + 1 - last);
    }) << u"Points"_s << 4 << QString();
    QTest::newRow("count and index of none") << true << Mutation([](QByteArray &d) {
        Replace("<spectrumList count=\"4\"", "<spectrumList count=\"0\"")(d);
        const qsizetype first = d.indexOf("<offset ");
        d.remove(first, d.indexOf("</index>") - first);
    }) << u"Points"_s << 4 << QString();
    // The file's index is not what finds the spectra: one pass over the document does.
    QTest::newRow("index points into a comment") << true << Reindexed([](QByteArray &d) {
        const qsizetype second = d.indexOf("<spectrum index=\"1\"");
        const qsizetype third = d.indexOf("<spectrum index=\"2\"");
        d.insert(second, "<!-- " + d.mid(second, third - second) + " -->");
    }) << u"Points"_s << 4 << QString();
    // One set of markup rules: what is not well-formed fails, named by its byte.
    const auto aroundSecond = [](QByteArray before, QByteArray after) {
        return Mutation([=](QByteArray &d) {
            const qsizetype start = d.indexOf("<spectrum index=\"1\"");
            d.insert(d.indexOf("</spectrum>", start) + 11, after);
            d.insert(start, before);
        });
    };
    QTest::newRow("comment with \"--\" around a spectrum")
        << false << aroundSecond("<!-- start\n", "<!-- end -->") << u"Count"_s << 0
        << u"the document is damaged: \"--\" inside a comment at byte "_s;
    QTest::newRow("ignored section around a spectrum") << true << aroundSecond("<![IGNORE[", "]]>") << u"Count"_s << 0
                                                       << u"a marked section other than CDATA at byte "_s;
    // A spectrum's arrays are read again on their own, as content.
    QTest::newRow("content after a spectrum's arrays")
        << false
        << Replace("</binaryDataArrayList>\n</spectrum>",
                   "</binaryDataArrayList><![CDATA[ ]]>&#32;<!-- c --><?pi x?>\n</spectrum>")
        << u"Points"_s << 1 << QString();
    QTest::newRow("cut after the spectrum list")
        << true << Mutation([](QByteArray &d) { d.truncate(d.indexOf("</spectrumList>") + 15); }) << u"Points"_s << 1
        << u"the document is truncated: it ends at byte "_s;
    // A file cut while it is read ends where it ends now, not where the reader stood.
    const Mutation longComment = Replace("</spectrum>\n", "</spectrum>\n<!--" + QByteArray(2 << 20, 'x') + "-->\n");
    QTest::newRow("cut to nothing while read")
        << false << longComment << u"Count while cut to 0"_s << 0 << u"the document is truncated: it ends at byte 0."_s;
    QTest::newRow("cut in the head while read") << true << longComment << u"Count while cut to 2000"_s << 0
                                                << u"the document is truncated: it ends at byte 2000."_s;
    QTest::newRow("cut after the spectra were found")
        << false << none << u"Points after cut to 2000"_s << 1 << u"the document is truncated: it ends at byte 2000."_s;
    QTest::newRow("end tags out of order") << false << Replace("</run>\n</mzML>", "</mzML>\n</run>") << u"Count"_s << 0
                                           << u"the end tag </mzML> at byte "_s;
    // The name closed is the one opened, byte for byte: of the same length, or of another prefix, it is not.
    for (const QByteArray endTag : {"</scam>", "</x:scan>"})
        QTest::addRow("%s closing <scan>", endTag.constData())
            << false << Replace("</scan>", endTag) << u"Count"_s << 0
            << u"the document is damaged: the end tag %1 at byte N does not close <scan>."_s.arg(
                   QString::fromLatin1(endTag));
    QTest::newRow("content after the root element") << true << Mutation([](QByteArray &d) { d += "<mzML/>\n"; })
                                                    << u"Count"_s << 0 << u"content after the root element at byte "_s;
    QTest::newRow("NUL bytes between spectra") << false << Replace("</spectrum>\n", QByteArray("</spectrum>\n\0\0", 14))
                                               << u"Count"_s << 0 << u"the control character 0x00 at byte "_s;
    QTest::newRow("repeated attribute") << false
                                        << Replace("<spectrum index=\"1\"", "<spectrum index=\"1\" index=\"1\"")
                                        << u"Count"_s << 0 << u"repeats the attribute index"_s;
    // Up to 16 attributes a repeat is found pair by pair, beyond by sorting: apart from its twin too.
    const auto attributes = [](int fillers, QByteArray last) {
        QByteArray tag = "<spectrum index=\"1\"";
        for (int i = 0; i < fillers; ++i)
            tag += " a" + QByteArray::number(i) + "=\"\"";
        return Replace("<spectrum index=\"1\"", tag + last);
    };
    for (const int count : {16, 17})
        QTest::addRow("%d attributes, a repeat apart", count)
            << false << attributes(count - 4, " index=\"1\"") << u"Count"_s << 0
            << u"the document is damaged: the tag <spectrum> at byte N is malformed: it repeats the attribute index."_s;
    QTest::newRow("17 attributes, none repeated") << false << attributes(14, {}) << u"Points"_s << 4 << QString();
    QTest::newRow("\"<\" in an attribute value") << true << Replace("value=\"0.5\"", "value=\"0<5\"") << u"Count"_s << 0
                                                 << u"holds a \"<\" in an attribute value"_s;
    // A tag cut by the read window of 1 MiB, with a byte that asks for a
    // closer look at each place of the 16 bytes before the cut and just after.
    const auto acrossWindow = [](int shift, QByteArray stop) {
        return Mutation([=](QByteArray &d) {
            const QByteArray value = "n=\"" + QByteArray(40, 'v');
            const qsizetype padding = (1 << 20) + shift - (d.indexOf("<sample ") + 8 + value.size());
            d.insert(d.indexOf("<sample ") + 8, value + stop + "\" ");
            d.insert(d.indexOf("<sampleList"), "<!--" + QByteArray(padding - 8, 'x') + "-->\n");
        });
    };
    for (const auto &[stop, failure] :
         {std::pair{"<", u"the tag <sample> at byte N holds a \"<\" in an attribute value"_s},
          {"\xff", u"bytes that are not a character in UTF-8 at byte "_s},
          {"\xc3\xa9", QString()}})
        for (int shift = -17; shift <= 1; ++shift)
            QTest::addRow("%s %d bytes from the read window's end", QByteArray(stop).toPercentEncoding().constData(),
                          shift)
                << true << acrossWindow(shift, stop) << u"Open"_s << 0 << failure;
    QTest::newRow("undefined reference in the head")
        << true << Replace("<sample ", "<sample n=\"&nbsp;\" ") << u"Open"_s << 0
        << u"the reference \"&nbsp;\" stands for no character at byte "_s;
    // A character reference may have any number of digits; its value is bounded.
    QTest::newRow("references with leading zeros") << false << Mutation([](QByteArray &d) {
        Replace("QC-3", "&#000000081;C-3")(d);
        Replace("<binary>eJ", "<binary>&#x0000065;&#" + QByteArray(100, '0') + "74;")(d);
    }) << u"Points"_s << 1 << QString();
    QTest::newRow("reference that wraps to a character")
        << true << Replace("QC-3", "&#x100000051;C-3") << u"Open"_s << 0
        << u"the reference \"&#x100000051;\" stands for no character at byte "_s;
    QTest::newRow("reference beyond the limit")
        << false << Replace("<binary>eJ", "<binary>&#" + QByteArray(TextLimit, '0') + "101;J") << u"Count"_s << 0
        << u"the character reference at byte "_s;
    // A reference stands for a character that XML allows, in a value or in content.
    for (const QByteArray reference : {"&#1;", "&#xD800;", "&#x110000;"}) {
        const QString refused =
            u"the document is damaged: the reference \"%1\" stands for no character at byte N."_s.arg(
                QString::fromLatin1(reference));
        QTest::addRow("reference %s in a value", reference.constData())
            << true << Replace("QC-3", reference + "C-3") << u"Open"_s << 0 << refused;
        QTest::addRow("reference %s in content", reference.constData())
            << false << Replace("<binary>eJ", "<binary>" + reference + "eJ") << u"Count"_s << 0 << refused;
    }
    // Any version 1.x reads as XML 1.0 does. A damaged declaration in an
    // export is a damaged export; in other XML, no export at all.
    for (const auto &[version, read] :
         {std::pair{"1.1", true}, {"1.23", true}, {"1.", false}, {"1.x", false}, {"2.0", false}})
        QTest::addRow("XML version %s", version)
            << read << Replace("version=\"1.0\" encoding", "version=\"" + QByteArray(version) + "\" encoding")
            << u"Open"_s << 0
            << (read ? QString() : u"the document is damaged: a malformed XML declaration at byte 0."_s);
    QTest::newRow("declaration after the start")
        << true << Mutation([](QByteArray &d) { d.prepend("\n"); }) << u"Open"_s << 0
        << u"the document is damaged: an XML declaration that does not begin the document at byte 1."_s;
    QTest::newRow("declaration after the start, not mzML")
        << true << Whole("\n<?xml version=\"1.0\"?><html/>") << u"Open"_s << 0
        << u"It is not an mzML export, which is what this program reads: make one"_s;
    // Names by XML's rules beyond ASCII, in either encoding that holds the
    // character: those at the edges of its ranges, first in a name and after.
    const auto nameRows = [](std::initializer_list<char32_t> characters, bool first, bool after) {
        for (const char32_t character : characters)
            for (const bool latin1 : {false, true}) {
                const QString text = QString::fromUcs4(&character, 1);
                const QByteArray c = latin1 ? text.toLatin1() : text.toUtf8();
                const QByteArray tags[] = {'<' + c + "a/>", "<a " + c + "b=\"1\"/>", "<a" + c + "/>",
                                           "<a b" + c + "=\"1\"/>"};
                for (int i = 0; i < 4 && (!latin1 || character <= 0xFF); ++i) {
                    const Mutation insert = Replace("<scan>", "<scan>" + tags[i]);
                    QTest::addRow("U+%04X %s a%s name, %s", uint(character), i < 2 ? "first in" : "after the first in",
                                  i % 2 ? "n attribute" : "n element", latin1 ? "ISO-8859-1" : "UTF-8")
                        << false << (latin1 ? Latin1(insert) : insert) << u"Count"_s << 0
                        << ((i < 2 ? first : after) ? QString() : u"the document is damaged: "_s);
                }
            }
    };
    nameRows({0xC0, 0xFF, 0x37F, 0x200C, 0x10000}, true, true);
    nameRows({0xB7, 0x300, 0x203F}, false, true);
    nameRows({0xA0, 0xD7, 0xF7, 0x37E, 0x2000, 0x3000, 0xFDD0, 0xF0000}, false, false);
    // After a prefix, a name begins as any name does: "ms:1000512" is no name.
    for (const auto &[start, read] : {std::pair{"1", false},
                                      {"-", false},
                                      {".", false},
                                      {"\xcc\x80", false},
                                      {"\xc2\xb7", false},
                                      {"_", true},
                                      {"\xc3\x80", true}})
        for (const QByteArray &tag :
             {QByteArray("<p:" + QByteArray(start) + "a/>"), QByteArray("<a p:" + QByteArray(start) + "b=\"1\"/>")})
            QTest::addRow("local part beginning \"%s\" in %s", start, tag.constData())
                << false << Replace("<scan>", "<scan>" + tag) << u"Count"_s << 0
                << (read ? QString() : u"the document is damaged: "_s);
    QTest::newRow("U+00D7 an instruction's target, ISO-8859-1")
        << false << Latin1(Replace("<scan>", "<scan><?\xd7 x?>")) << u"Count"_s << 0
        << u"a malformed processing instruction at byte "_s;
    QTest::newRow("bytes beyond the US-ASCII declared")
        << true << Replace("encoding=\"utf-8\"", "encoding=\"US-ASCII\"") << u"Open"_s << 0
        << u"the byte 0xc2, which is not US-ASCII as the document declares, at byte "_s;
    QTest::newRow("bytes beyond the ASCII declared, in a spectrum") << false << Mutation([](QByteArray &d) {
        Replace("encoding=\"utf-8\"", "encoding=\"ascii\"")(d);
        Replace("\xc2\xb5", "&#181;")(d);
        Replace("+ c ESI SIM", "+ c \xc3\xa9 SIM")(d);
    }) << u"Count"_s << 0 << u"the byte 0xc3, which is not US-ASCII as the document declares, at byte "_s;
    QTest::newRow("bytes that are not UTF-8")
        << false << Replace("+ c ESI SIM", "+ c \xff SIM") << u"Count"_s << 0 << u"not a character in UTF-8 at byte "_s;
    // The spectra are those of mzML/run/spectrumList and nothing else.
    QTest::newRow("spectrum list outside the run")
        << true
        << Replace("<run ", "<dataProcessingList count=\"1\"><dataProcessing id=\"x\"><spectrumList count=\"1\">"
                            "<spectrum index=\"0\" id=\"x\" defaultArrayLength=\"0\"/></spectrumList></dataProcessing>"
                            "</dataProcessingList>\n<run ")
        << u"Points"_s << 4 << QString();
    // Nor in mzML itself, nor a second list in the run: the run's first list is read.
    const QByteArray extraList =
        "<spectrumList count=\"1\"><spectrum index=\"0\" id=\"x\" defaultArrayLength=\"0\"/></spectrumList>\n";
    QTest::newRow("spectrum list in mzML, before the run")
        << false << Replace("<run ", extraList + "<run ") << u"Points"_s << 4 << QString();
    QTest::newRow("second spectrum list in the run")
        << true << Replace("</spectrumList>\n", "</spectrumList>\n" + extraList) << u"Points"_s << 4 << QString();
    // Nothing that an XML reader would hold whole may grow without bound.
    QTest::newRow("parameter group refers to a group")
        << false
        << Replace("<sampleList", "<referenceableParamGroupList count=\"2\"><referenceableParamGroup id=\"inner\">"
                                  "<cvParam accession=\"MS:1000511\" value=\"1\"/></referenceableParamGroup>"
                                  "<referenceableParamGroup id=\"outer\"><referenceableParamGroupRef ref=\"inner\"/>"
                                  "</referenceableParamGroup></referenceableParamGroupList>\n<sampleList")
        << u"Open"_s << 0 << u"the parameter group \"outer\" refers to another group, which mzML does not allow"_s;
    const QByteArray tooLong(TextLimit, 'x');
    QTest::newRow("attribute within the limit")
        << true
        << Reindexed(
               Replace("<spectrum index=\"1\"", "<spectrum n=\"" + tooLong.first(TextLimit - 99) + "\" index=\"1\""))
        << u"Points"_s << 4 << QString();
    QTest::newRow("attribute beyond the limit")
        << false << Replace("<spectrum index=\"1\"", "<spectrum n=\"" + tooLong + "\" index=\"1\"") << u"Count"_s << 0
        << u"the tag <spectrum> at byte "_s;
    QTest::newRow("attribute beyond the limit in the head")
        << true << Replace("<sample ", "<sample n=\"" + tooLong + "\" ") << u"Open"_s << 0
        << u"the tag <sample> at byte "_s;
    QTest::newRow("comment beyond the limit, plain")
        << false << Replace("</spectrum>\n", "</spectrum>\n<!--" + tooLong + "-->") << u"Count"_s << 0
        << u"the comment at byte "_s;
    QTest::newRow("comment beyond the limit, indexed")
        << true << Reindexed(Replace("</spectrum>\n", "</spectrum>\n<!--" + tooLong + "-->")) << u"Points"_s << 1
        << u"the comment at byte "_s;
    QTest::newRow("element name beyond the limit")
        << false << Replace("<scan>", "<scan><" + QByteArray(5000, 'a') + "/>") << u"Count"_s << 0
        << u"is longer than 4 KiB, more than this reader takes"_s;
    QTest::newRow("elements nested beyond the limit")
        << false
        << Replace("<scan>",
                   "<scan>" + QByteArray("<a>").repeated(DepthLimit) + QByteArray("</a>").repeated(DepthLimit))
        << u"Count"_s << 0 << u"elements nest more than 256 deep at byte "_s;
    // Compressed content is read through a copy; a damaged stream is a damaged file.
    QTest::newRow("gzip") << true << Gzip() << u"Points"_s << 4 << QString();
    QTest::newRow("gzip, two streams in a row") << false << Mutation([](QByteArray &d) {
        d = Gzipped(d.first(d.size() / 2)) + Gzipped(d.sliced(d.size() / 2));
    }) << u"Points"_s << 4 << QString();
    QTest::newRow("gzip, damaged") << true << Gzip([](QByteArray &d) { d[d.size() / 2] = char(~d[d.size() / 2]); })
                                   << u"Open"_s << 0 << u"the document is damaged: its gzip stream is invalid"_s;
    QTest::newRow("gzip, cut short") << true << Gzip(Truncate(0.9)) << u"Count"_s << 0 << u"truncated"_s;
    const QString invalid = u"the document is damaged: its gzip stream is invalid (%1)"_s;
    QTest::newRow("gzip, its checksum wrong") << true << Gzip([](QByteArray &d) { d[d.size() - 8] ^= 1; }) << u"Open"_s
                                              << 0 << invalid.arg(u"incorrect data check"_s);
    QTest::newRow("gzip, not deflate") << true << Gzip([](QByteArray &d) { d[2] = 7; }) << u"Open"_s << 0
                                       << invalid.arg(u"unknown compression method"_s);
    QTest::newRow("gzip, other bytes after it") << true << Gzip([](QByteArray &d) { d += "not gzip"; }) << u"Count"_s
                                                << 0 << invalid.arg(u"incorrect header check"_s);
    // The pass stops at the fault while the stream inflates megabytes ahead.
    QTest::newRow("gzip, a fault long before its end") << false << Mutation([](QByteArray &d) {
        Replace("<scan>", "<scan><referenceableParamGroupRef ref=\"nowhere\"/>")(d);
        Replace("</run>", "<!--" + QByteArray(8 << 20, 'x') + "--></run>")(d);
        d = Gzipped(d);
    }) << u"Count"_s << 0 << u"spectrum 1: it refers to the parameter group \"nowhere\""_s;
    QTest::newRow("gzip, zero padding after it")
        << false << Gzip([](QByteArray &d) { d += QByteArray(1000, '\0'); }) << u"Points"_s << 4 << QString();
    QTest::newRow("gzip beyond what is copied") << true << Whole(Gzipped(QByteArray(1 << 20, ' ')).repeated(65))
                                                << u"Open"_s << 0 << u"its gzip stream inflates beyond 64 MiB"_s;
    QTest::newRow("UTF-16 with a byte-order mark")
        << true << Utf16(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom) << u"Open"_s << 0
        << u"the document is encoded in UTF-16, which this reader does not read"_s;
    QTest::newRow("UTF-16 without one") << true << Utf16(QStringConverter::Utf16BE, QStringConverter::Flag::Default)
                                        << u"Open"_s << 0 << u"encoded in UTF-16"_s;
}

void TestMzmlReader::badInput()
{
    QFETCH(bool, indexed);
    QFETCH(Mutation, mutation);
    QFETCH(QString, operation);
    QFETCH(int, spectrum);
    QFETCH(QString, failure);

    const QString original = m_dir.filePath(u"original.raw"_s);
    WriteMzml(
        original, TestAcquisition(),
        MzmlLayout{indexed, {Precision::Float64, true, Numpress::None}, {Precision::Float32, true, Numpress::None}});
    QByteArray content = ContentOf(original);
    mutation(content);
    // A "%1" in the path stays as it is in every message.
    const QString path = write(u"mutated%1.raw"_s, content);
    if (!IsGzip(content)) {
        const QString disagreement = DisagreementWithReference(path);
        QVERIFY2(disagreement.isEmpty(), qPrintable(disagreement));
    }

    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    std::optional<qsizetype> copiesWhileOpen;
    const QString description = FailureOf([&] {
        document->Open(path);
        if (operation == u"CreationDate")
            document->FileHeader()->CreationDate();
        const std::unique_ptr<DetectorChannel> detector = document->Detector(0, 1);
        const std::unique_ptr<SpectrumCollection> spectra = detector->Spectra(0);
        const QRegularExpressionMatch cut = QRegularExpression(u"(while|after) cut to (\\d+)"_s).match(operation);
        const auto cutFile = [&] { QFile::resize(path, cut.captured(2).toLongLong()); };
        if (operation == u"Count")
            spectra->Count();
        else if (cut.captured(1) == u"while") {
            const ScopedReplacement<void(const ConversionProgress &)> cutting(ReportProgress,
                                                                              [&](const auto &) { cutFile(); });
            spectra->Count();
        } else if (cut.captured(1) == u"after") {
            spectra->Count();
            cutFile();
            spectra->Item(spectrum)->Points();
        } else if (operation == u"Filter")
            detector->Filters()->ScanNumber(spectrum)->Text();
        else if (operation == u"StartTime")
            spectra->StartTime(spectrum);
        else if (operation == u"Points")
            spectra->Item(spectrum)->Points();
        else if (operation == u"Points from 1")
            for (int n = 1; n <= spectrum; ++n) {
                spectra->Item(n)->Points();
                QThread::msleep(20); // time for the spectra after n to be decoded ahead
            }
        copiesWhileOpen = TemporaryCopies().size();
    });
    CloseAfterFailure(*document);
    QCOMPARE(TemporaryCopies(), QStringList());
    // A decompressed copy has no name while it is read: a killed process
    // leaves none behind.
    if (copiesWhileOpen)
        QCOMPARE(*copiesWhileOpen, 0);
    // "at byte N" in a failure: the whole message, its byte checked below.
    const bool anyByte = failure.contains(u" at byte N"_s);
    QVERIFY2((anyByte ? QString(description).replace(QRegularExpression(u"(?<= at byte )\\d+"_s), u"N"_s) : description)
                 .contains(failure),
             qPrintable(description));
    // An element or a reference named with its byte: the byte where it begins.
    const QRegularExpressionMatch named =
        QRegularExpression(
            u"(?|(<[^<> ]+)> at byte (\\d+)|\"(&[#\\w;]+)[^\"]*\" stands for no character at byte (\\d+))"_s)
            .match(description);
    QVERIFY2(named.hasMatch() || !anyByte, qPrintable(description));
    if (named.hasMatch())
        QVERIFY2(content.mid(named.captured(2).toLongLong()).startsWith(named.captured(1).toUtf8()),
                 qPrintable(description));
    if (failure.isEmpty()) {
        QVERIFY2(description.isEmpty(), qPrintable(description));
        const QString difference = DifferenceOfFile(path, TestAcquisition(), {}, {0, 6e-8});
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    } else {
        QVERIFY2(description.startsWith(u'"' + path + u'"'), qPrintable(description));
    }
}

void TestMzmlReader::groupsAreReadOnce_data()
{
    QTest::addColumn<Mutation>("mutation");
    // Each group ends in 2,000 parameters that mean nothing to the reader;
    // the arrays of every spectrum refer to a group already.
    const QByteArray filler =
        QByteArray("<cvParam cvRef=\"MS\" accession=\"MS:1000795\" name=\"no combination\"/>").repeated(2000);
    const auto grown = [filler](Mutation references) {
        return Mutation([=](QByteArray &d) {
            d.replace("</referenceableParamGroup>", QByteArray(filler + "</referenceableParamGroup>"));
            references(d);
        });
    };
    QTest::newRow("both arrays of every spectrum") << grown([](QByteArray &) {});
    QTest::newRow("every sample") << grown(Replace(
        "<sample id=\"sample1\"",
        QByteArray("<sample id=\"other\"><referenceableParamGroupRef ref=\"sampleTexts\"/></sample>\n").repeated(200)
            + "<sample id=\"sample1\""));
    QTest::newRow("every spectrum and its scan") << grown([](QByteArray &d) {
        const QByteArray ref = "<referenceableParamGroupRef ref=\"masses\"/>\n";
        d.replace("<scanList ", QByteArray(ref + "<scanList "));
        d.replace("<scan>\n", QByteArray("<scan>\n" + ref));
    });
}

// A group's parameters are taken in once, where it is defined, however
// often it is referred to: the work stays in proportion to the file.
void TestMzmlReader::groupsAreReadOnce()
{
    QFETCH(Mutation, mutation);
    FakeAcquisition a = TestAcquisition();
    for (int n = 0; n < 100; ++n)
        a.spectra.push_back(Generated(u"+ p ESI Full ms"_s, n, 3));
    const QString path = m_dir.filePath(u"grouped.raw"_s);
    const ArrayEncoding zlib64{Precision::Float64, true, Numpress::None};
    WriteMzml(path, a, MzmlLayout{true, zlib64, zlib64, TimeUnit::Minutes, true});
    QByteArray content = ContentOf(path);
    mutation(content);
    write(u"grouped.raw"_s, content);
    qint64 params = 0;
    for (const QByteArray tag : {"<cvParam ", "<userParam ", "<referenceableParamGroupRef "})
        params += content.count(tag);

    const qint64 before = ParametersVisited();
    const QString difference = DifferenceOfFile(path, a);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    // Opening takes in the head, the index the spectra, decoding the arrays:
    // each parameter once.
    QCOMPARE_LE(ParametersVisited() - before, params);
}

void TestMzmlReader::damageNeverCrashes_data()
{
    QTest::addColumn<bool>("indexed");
    QTest::addColumn<Numpress>("numpress");
    QTest::addColumn<bool>("gzip"); // damaged after compressing
    QTest::newRow("indexed, zlib") << true << Numpress::None << false;
    QTest::newRow("plain, zlib") << false << Numpress::None << false;
    QTest::newRow("indexed, numpress") << true << Numpress::Linear << false;
    QTest::newRow("plain, numpress") << false << Numpress::Slof << false;
    QTest::newRow("gzip export") << true << Numpress::None << true;
}

void TestMzmlReader::damageNeverCrashes()
{
    // Random damage anywhere: every outcome is a result or an Error.
    QFETCH(bool, indexed);
    QFETCH(Numpress, numpress);
    QFETCH(bool, gzip);
    const QString original = m_dir.filePath(u"undamaged.raw"_s);
    WriteMzml(original, TestAcquisition(),
              MzmlLayout{indexed, {Precision::Float64, true, numpress}, {Precision::Float32, true, Numpress::None}});
    const QByteArray content = gzip ? Gzipped(ContentOf(original)) : ContentOf(original);
    QRandomGenerator random(11);
    int failures = 0;
    for (int round = 0; round < 150; ++round) {
        QByteArray damaged = content;
        for (int damage = random.bounded(1, 4); damage > 0; --damage) {
            const qsizetype at = random.bounded(damaged.size());
            switch (random.bounded(4)) {
            case 0: damaged[at] = char(random.bounded(256)); break;
            case 1: damaged.remove(at, random.bounded(1, 64)); break;
            case 2: damaged.insert(at, damaged.mid(random.bounded(damaged.size()), random.bounded(1, 64))); break;
            default: damaged.truncate(at); break;
            }
        }
        const QString path = write(u"damaged.raw"_s, damaged);
        try {
            ReadAcquisition(path);
        } catch (const Error &error) {
            QVERIFY(!error.description().isEmpty());
            ++failures;
        }
    }
    QVERIFY(failures > 0);
}

void TestMzmlReader::randomArraysNeverCrash_data()
{
    QTest::addColumn<Numpress>("numpress");
    QTest::addColumn<bool>("zlib");
    QTest::newRow("linear") << Numpress::Linear << false;
    QTest::newRow("pic") << Numpress::Pic << false;
    QTest::newRow("slof") << Numpress::Slof << false;
    QTest::newRow("linear, zlib") << Numpress::Linear << true;
    QTest::newRow("32-bit, zlib") << Numpress::None << true;
}

void TestMzmlReader::randomArraysNeverCrash()
{
    // Random bytes as array data: the decoders stay inside their buffers
    // and either give the declared length or say what is wrong.
    QFETCH(Numpress, numpress);
    QFETCH(bool, zlib);
    QRandomGenerator random(3);
    for (int round = 0; round < 400; ++round) {
        QByteArray bytes(random.bounded(0, 40), Qt::Uninitialized);
        for (char &c : bytes)
            c = char(random.bounded(256));
        if (zlib)
            bytes = qCompress(bytes).mid(4);
        const qint64 declared = random.bounded(0, 80);
        try {
            const std::vector<double> values =
                DecodeBinaryArray(bytes.toBase64(), {Precision::Float32, zlib, numpress}, declared, u"m/z array"_s);
            QCOMPARE(qint64(values.size()), declared);
        } catch (const MzmlFault &fault) {
            QVERIFY(fault.what.startsWith(u"the m/z array "_s));
        }
    }
}

void TestMzmlReader::decodesLargeSpectraAhead()
{
    // Large spectra go to the worker thread; a pass over one filter text
    // gets each its own points or its own fault, then a second pass the rest.
    FakeAcquisition a = ExampleAcquisition();
    for (int n = 0; n < 10; ++n)
        a.spectra.push_back(Generated(n % 2 == 0 ? u"+ p ESI Full ms"_s : u"+ c ESI SIM ms"_s, n, 4000 + n));
    const ArrayEncoding plain{Precision::Float64, false, Numpress::None};
    const QString path = m_dir.filePath(u"large.raw"_s);
    // Without line breaks, the worker's read of a spectrum ends right at its last tag.
    WriteMzml(path, a, MzmlLayout{.indexed = false, .masses = plain, .intensities = plain, .lineBreaks = false});
    QByteArray content = ContentOf(path);
    ReplaceBinary(8, "AAA*")(content); // the m/z array of spectrum 5
    write(u"large.raw"_s, content);
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(path);
    const std::unique_ptr<SpectrumCollection> spectra = document->Detector(0, 1)->Spectra(0);
    for (const int first : {1, 2}) {
        for (int n = first; n <= 10; n += 2) {
            const QString failure = FailureOf([&] {
                const SpectrumPoints points = spectra->Item(n)->Points();
                QCOMPARE(points.masses, a.spectra[size_t(n - 1)].masses);
                QCOMPARE(points.intensities, a.spectra[size_t(n - 1)].intensities);
            });
            QCOMPARE(failure.contains(u"spectrum 5: the m/z array is not valid base64"_s), n == 5);
            QVERIFY2(n == 5 || failure.isEmpty(), qPrintable(failure));
        }
    }
}

void TestMzmlReader::largeSpectrumInRuns_data()
{
    QTest::addColumn<MzmlLayout>("layout");
    QTest::addColumn<Mutation>("damage");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<bool>("inPieces"); // or whole, as one run
    const ArrayEncoding zlib64{Precision::Float64, true, Numpress::None};
    const ArrayEncoding zlib32{Precision::Float32, true, Numpress::None};
    const ArrayEncoding plain64{Precision::Float64, false, Numpress::None};
    const ArrayEncoding plain32{Precision::Float32, false, Numpress::None};
    const Mutation none = [](QByteArray &) {};
    const MzmlLayout zlib{.masses = zlib64, .intensities = zlib32};
    QTest::newRow("zlib, 64 and 32 bits") << zlib << none << false << true;
    QTest::newRow("uncompressed, 32 and 64 bits, no line breaks")
        << MzmlLayout{.indexed = false, .masses = plain32, .intensities = plain64, .lineBreaks = false} << none << false
        << true;
    // Arrays found again where the index put them, or read through their markup.
    QTest::newRow("end tags with a blank")
        << zlib << Mutation([](QByteArray &d) { d.replace("</binary>", "</binary >"); }) << false << true;
    QTest::newRow("a comment in the m/z text")
        << zlib << Replace("<binary>eJ", "<binary><!-- c -->eJ") << false << false;
    QTest::newRow("70,000 blanks in the m/z text")
        << zlib << Replace("<binary>eJ", "<binary>" + QByteArray(70000, ' ') + "eJ") << false << true;
    QTest::newRow("the m/z text beyond 4 KiB of markup")
        << zlib << Replace("<binary>eJ", "<!--" + QByteArray(4100, ' ') + "--><binary>eJ") << false << false;
    QTest::newRow("the intensity array first")
        << MzmlLayout{.masses = zlib64, .intensities = zlib32} << Mutation([](QByteArray &d) {
               const qsizetype list = d.indexOf("<binaryDataArrayList");
               const qsizetype first = d.indexOf("<binaryDataArray ", list);
               const qsizetype second = d.indexOf("<binaryDataArray ", first + 1);
               const qsizetype end = d.indexOf("</binaryDataArrayList>", second);
               const QByteArray masses = d.mid(first, second - first);
               const QByteArray intensities = d.mid(second, end - second);
               d.replace(first, end - first, QByteArray(intensities + masses));
           })
        << false << false;
    QTest::newRow("through groups") << MzmlLayout{.masses = zlib64, .intensities = plain32, .throughGroups = true}
                                    << none << false << true;
    // Each fault in the words that decoding the spectrum whole gives, none of it handed out.
    QTest::newRow("m/z array not base64") << zlib << ReplaceBinary(0, "AAA*") << true << true;
    QTest::newRow("intensity array not base64 at its end") << zlib << CutBinary(1, 1) << true << true;
    QTest::newRow("zlib stream cut short") << zlib << CutBinary(1, 400) << true << true;
    QTest::newRow("zlib stream damaged") << zlib << Replace("<binary>eJ", "<binary>eK") << true << true;
    QTest::newRow("fewer values than declared")
        << MzmlLayout{.masses = plain64, .intensities = plain64} << CutBinary(0, 12) << true << true;
    QTest::newRow("part of a value") << MzmlLayout{.masses = plain64, .intensities = plain32} << CutBinary(1, 4) << true
                                     << true;
    QTest::newRow("more declared than inflated")
        << zlib << Replace("defaultArrayLength=\"270000\"", "defaultArrayLength=\"270001\"") << true << true;
    QTest::newRow("fewer declared than inflated")
        << zlib << Replace("defaultArrayLength=\"270000\"", "defaultArrayLength=\"269999\"") << true << true;
    QTest::newRow("both arrays at fault: the first in the document counts")
        << zlib << Mutation([](QByteArray &document) {
               ReplaceBinary(1, "AAA*")(document);
               CutBinary(0, 400)(document);
           })
        << true << true;
}

void TestMzmlReader::largeSpectrumInRuns()
{
    // A spectrum too large to hold whole goes out in runs, after a check of
    // both arrays: exactly its points, or exactly the fault of reading it whole.
    QFETCH(MzmlLayout, layout);
    QFETCH(Mutation, damage);
    QFETCH(bool, fails);
    QFETCH(bool, inPieces);
    FakeAcquisition a = ExampleAcquisition();
    a.spectra.push_back(Generated(u"+ p ESI Full ms"_s, 1.5, 270000));
    QVERIFY(270000 > LargeSpectrumPoints);
    const QString path = m_dir.filePath(u"large.raw"_s);
    WriteMzml(path, a, layout);
    QByteArray content = ContentOf(path);
    damage(content);
    write(u"large.raw"_s, content);
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(path);
    const std::unique_ptr<SpectrumCollection> spectra = document->Detector(0, 1)->Spectra(0);
    SpectrumPoints whole;
    const QString wholeFailure = FailureOf([&] { whole = spectra->Item(1)->Points(); });
    QCOMPARE(!wholeFailure.isEmpty(), fails);
    SpectrumPoints joined;
    int runs = 0;
    bool runsFit = true;
    const QString runsFailure = FailureOf([&] {
        spectra->Item(1)->PointsInRuns([&](SpectrumPoints &run) {
            ++runs;
            runsFit = runsFit && (run.masses.size() <= PiecePoints || !inPieces)
                   && run.intensities.size() == run.masses.size();
            joined.masses.insert(joined.masses.end(), run.masses.begin(), run.masses.end());
            joined.intensities.insert(joined.intensities.end(), run.intensities.begin(), run.intensities.end());
        });
    });
    QCOMPARE(runsFailure, wholeFailure);
    QVERIFY(runsFit);
    QCOMPARE(runs, fails ? 0 : inPieces ? int((270000 + PiecePoints - 1) / PiecePoints) : 1);
    QVERIFY(joined.masses == whole.masses);
    QVERIFY(joined.intensities == whole.intensities);
}

void TestMzmlReader::arraysInPiecesAsWhole_data()
{
    QTest::addColumn<ArrayEncoding>("encoding");
    QTest::newRow("64-bit, zlib") << ArrayEncoding{Precision::Float64, true, Numpress::None};
    QTest::newRow("32-bit, zlib") << ArrayEncoding{Precision::Float32, true, Numpress::None};
    QTest::newRow("64-bit") << ArrayEncoding{Precision::Float64, false, Numpress::None};
    QTest::newRow("32-bit") << ArrayEncoding{Precision::Float32, false, Numpress::None};
}

void TestMzmlReader::arraysInPiecesAsWhole()
{
    // Arrays sound and damaged in every way: checked and read from the file
    // a piece at a time, each gives what decoding it whole gives.
    QFETCH(ArrayEncoding, encoding);
    QRandomGenerator random(11);
    const QString path = m_dir.filePath(u"array.txt"_s);
    QFile file(path);
    std::mutex mutex;
    for (int round = 0; round < 600; ++round) {
        const int count = random.bounded(0, 60);
        QByteArray bytes;
        for (int i = 0; i < count; ++i) {
            const double value = random.generateDouble() * 2000;
            if (encoding.precision == Precision::Float32) {
                const float narrow = float(value);
                bytes.append(reinterpret_cast<const char *>(&narrow), sizeof narrow);
            } else {
                bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
            }
        }
        const int damage = random.bounded(8);
        if (damage == 1)
            bytes.chop(random.bounded(qMin<qsizetype>(bytes.size(), 5) + 1));
        if (encoding.zlib && !bytes.isEmpty())
            bytes = qCompress(bytes).mid(4);
        if (damage == 2 && !bytes.isEmpty())
            bytes[random.bounded(bytes.size())] ^= char(1 << random.bounded(8));
        if (damage == 3)
            bytes.chop(random.bounded(qMin<qsizetype>(bytes.size(), 6) + 1));
        if (damage == 4)
            bytes.append(QByteArray(random.bounded(1, 9), char(random.bounded(256))));
        QByteArray text = bytes.toBase64();
        if (damage == 5 && !text.isEmpty())
            text[random.bounded(text.size())] = "*=A\n"[random.bounded(4)];
        // 7: more than zlib data of that size can hold, refused before inflating.
        const qint64 declared = damage == 6 ? random.bounded(0, 70) : damage == 7 ? 1000000000 : count;
        const QByteArray before(random.bounded(0, 20), ' ');
        QVERIFY(WriteBytes(path, before + text + "</binary>"));

        QString wholeFailure;
        std::vector<double> whole;
        try {
            whole = DecodeBinaryArray(text, encoding, declared, u"m/z array"_s);
        } catch (const MzmlFault &fault) {
            wholeFailure = fault.what;
        }
        QVERIFY(file.open(QIODevice::ReadOnly));
        const ArrayInFile array{before.size(), text.size(), encoding, u"m/z array"_s};
        QString piecesFailure;
        std::vector<double> pieces;
        try {
            CheckArrayInFile(file, mutex, array, declared);
            ArrayValueReader reader(file, mutex, array);
            std::vector<double> run;
            for (qint64 done = 0; done < declared;) {
                const qint64 take = qMin<qint64>(declared - done, random.bounded(1, 9));
                reader.read(run, size_t(take));
                pieces.insert(pieces.end(), run.begin(), run.end());
                done += take;
            }
        } catch (const MzmlFault &fault) {
            piecesFailure = fault.what;
        }
        file.close();
        QCOMPARE(piecesFailure, wholeFailure);
        QVERIFY(pieces == whole);
    }
}

void TestMzmlReader::agreesWithReferenceParser_data()
{
    QTest::addColumn<QString>("path");
    const QDir corpus(QStringLiteral(QUORVANE_SOURCE_DIR "/tests/corpus"));
    for (const QString &name : corpus.entryList({u"*.mzML"_s}, QDir::Files))
        QTest::newRow(qPrintable(name)) << corpus.filePath(name);
    QTest::newRow("demo") << QStringLiteral(QUORVANE_SOURCE_DIR "/examples/demo.raw");
}

void TestMzmlReader::agreesWithReferenceParser()
{
    // The document, then damaged in many small ways where markup is easy to get wrong.
    QFETCH(QString, path);
    const QByteArray original = ContentOf(path);
    static const QByteArray snippets[] = {"<",    ">",     "--",      "&",         "&amp;", "&#0;", "&#65;",    "<!--",
                                          "-->",  "]]>",   "\"",      "'",         "</a>",  "<a>",  "<a/>",     "\xff",
                                          "\xc3", "<?x?>", "<?xml?>", "<![CDATA[", "\t",    "=",    " x=\"1\"", "\r\n"};
    // Seeded by the file's name alone, so that a failing round fails again on any machine and any run.
    QRandomGenerator random(quint32(qHash(QFileInfo(path).fileName(), 0)));
    for (int round = 0; round <= 200; ++round) {
        QByteArray document = original;
        const qsizetype at = random.bounded(document.size());
        switch (round == 0 ? -1 : random.bounded(3)) {
        case 0: document.insert(at, snippets[random.bounded(int(std::size(snippets)))]); break;
        case 1: document.remove(at, random.bounded(1, 40)); break;
        case 2: document.replace(at, 1, QByteArray(1, char(random.bounded(256)))); break;
        default: break;
        }
        const QString disagreement = DisagreementWithReference(write(u"agree.raw"_s, document));
        QVERIFY2(disagreement.isEmpty(), qPrintable(u"round %1: %2"_s.arg(round).arg(disagreement)));
        // Read in two halves, cut at a spectrum's start tag or at any byte,
        // it reads as it does in one pass.
        const qsizetype spectrum = document.indexOf("<spectrum", random.bounded(document.size()));
        const qsizetype cut = spectrum >= 0 && round % 3 ? spectrum : random.bounded(document.size());
        const QString halves = DisagreementOfHalves(document, cut);
        QVERIFY2(halves.isEmpty(), qPrintable(u"round %1: %2"_s.arg(round).arg(halves)));
    }
    // Where the cut stands between two spectra of the run's list, they join.
    int joins = 0;
    for (qsizetype at = original.indexOf("<spectrum "); at >= 0; at = original.indexOf("<spectrum ", at + 1)) {
        bool joined = false;
        const QString halves = DisagreementOfHalves(original, at, &joined);
        QVERIFY2(halves.isEmpty(), qPrintable(halves));
        joins += joined;
    }
    QVERIFY2(joins > 0 || !original.contains("<spectrum "), "no cut joined: the comparisons would prove nothing");
}

void TestMzmlReader::largeFileReadInHalves_data()
{
    QTest::addColumn<Mutation>("mutation");
    QTest::addColumn<QString>("failure"); // of Count
    QTest::addColumn<int>("noise");       // bytes of random text after each filter text
    // After the start tag of the n-th spectrum (1-based).
    const auto inSpectrum = [](int n, QByteArray text) {
        return Mutation([=](QByteArray &d) {
            qsizetype at = -1;
            for (int i = 0; i < n; ++i)
                at = d.indexOf("<spectrum ", at + 1);
            d.insert(d.indexOf('>', at) + 1, text);
        });
    };
    const QByteArray nowhere = "<referenceableParamGroupRef ref=\"nowhere\"/>";
    const Mutation asWritten = [](QByteArray &) {};
    QTest::newRow("as written") << asWritten << QString() << 0;
    QTest::newRow("a spectrum at fault in the first half")
        << inSpectrum(100, nowhere)
        << u"spectrum 100: it refers to the parameter group \"nowhere\", which the document does not define"_s << 0;
    QTest::newRow("a spectrum at fault in the second half")
        << inSpectrum(7000, nowhere)
        << u"spectrum 7000: it refers to the parameter group \"nowhere\", which the document does not define"_s << 0;
    QTest::newRow("markup broken in the second half")
        << inSpectrum(7000, "</scam>") << u"the end tag </scam> at byte {at} does not close <spectrum>"_s << 0;
    // 8,000 filter texts that do not deflate, more than the index keeps even
    // of each half: those it does not keep are read again.
    QTest::newRow("filter texts beyond what the index keeps") << asWritten << QString() << 6144;
}

// A file large enough to be read in two halves reads as one pass reads it,
// through the seam: its spectra, or a fault that names the spectrum counted
// from the file's start and the byte counted from there.
void TestMzmlReader::largeFileReadInHalves()
{
    QFETCH(Mutation, mutation);
    QFETCH(QString, failure);
    QFETCH(int, noise);
    // A filter text each, and in each half one longer than a block of the
    // texts' table.
    FakeAcquisition a = ExampleAcquisition();
    QRandomGenerator random(17);
    const auto noiseText = [&] {
        QString text(noise, Qt::Uninitialized);
        for (QChar &c : text)
            c = QChar(u'(' + random.bounded(u'z' - u'(')); // no character that XML escapes
        return text;
    };
    for (int n = 0; n < 8000; ++n)
        a.spectra.push_back(
            Generated(u"+ p ESI %1 ms [%2] "_s.arg(n % 4 == 3 ? u"SIM" : u"Full").arg(n) + noiseText(), n, 100));
    a.spectra[5].filter += QString(2 << 20, u'x');
    a.spectra[6000].filter += QString(2 << 20, u'y');
    const QString path = m_dir.filePath(u"halves.raw"_s);
    const ArrayEncoding plain{Precision::Float64, false, Numpress::None};
    WriteMzml(path, a, MzmlLayout{.indexed = false, .masses = plain, .intensities = plain});
    QByteArray content = ContentOf(path);
    QVERIFY(content.size() > (16 << 20));
    mutation(content);
    write(u"halves.raw"_s, content);
    failure.replace(u"{at}"_s, QString::number(content.indexOf("</scam>")));
    if (failure.isEmpty()) {
        const QString difference = DifferenceOfFile(path, a, {}, {});
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        return;
    }
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(path);
    const QString description = FailureOf([&] { document->Detector(0, 1)->Spectra(0)->Count(); });
    QVERIFY2(description.endsWith(failure + u'.'), qPrintable(description));
}

// Every field of an entry reads back as it was put, whether the entries were
// kept in one list or in two joined at their middle: offsets across several
// 4 GiB lines (a block ends at one, or when full), places at their farthest,
// every pair of encodings, start times at fault, -0 or huge, lengths at fault
// or at their most.
void TestMzmlReader::entriesKeepEveryField()
{
    const auto encoding = [](qint64 bits) {
        return ArrayEncoding{bits & 1 ? Precision::Float64 : Precision::Float32, (bits & 2) != 0,
                             Numpress(bits >> 2 & 3)};
    };
    std::vector<SpectrumEntry> entries(20000);
    for (qint64 n = 0; n < qint64(entries.size()); ++n) {
        SpectrumEntry &entry = entries[size_t(n)];
        entry.offset = n * 700000 + n % 3;
        entry.startTime = n % 5 == 0 ? 0 : n % 5 == 1 ? -0.0 : n * 0.25 - 1e300 * (n % 5 == 2);
        entry.setStartTimeFault(n % 5 == 0);
        entry.filter = qint32(n % 7);
        entry.setDeclaredLength(n % 4 == 0 ? -1 : n % 4 == 1 ? MostDeclaredLength : n);
        entry.setArrays(entry.offset + 300 + n % 11, entry.offset + 900 + n % 1000);
        if (n % 3 != 0)
            entry.setPlaces(ArrayPlaces{quint16(n % 2 == 0 ? MostArrayPlace : n % MostArrayPlace),
                                        quint16(MostArrayPlace - n % MostArrayPlace), encoding(n), encoding(n >> 4)});
    }
    for (const size_t cut : {entries.size(), entries.size() / 2}) {
        SpectrumEntries first;
        SpectrumEntries second;
        for (size_t i = 0; i < entries.size(); ++i)
            (i < cut ? first : second).push_back(entries[i]);
        first.append(std::move(second));
        QCOMPARE(first.size(), entries.size());
        for (size_t i = 0; i < entries.size(); ++i)
            QCOMPARE(Described(first[i]), Described(entries[i]));
    }
}

void TestMzmlReader::filterTableKeepsEveryText_data()
{
    QTest::addColumn<QByteArrayList>("texts"); // the first comes again among them
    QTest::addColumn<qint32>("least");         // numbers at the end
    QTest::addColumn<qint32>("most");
    const QByteArray ms = "FTMS + p ESI Full ms [350.00-1800.00]";
    QByteArrayList distinct;
    for (int n = 0; n < 60000; ++n)
        distinct << (n % 5 == 0 ? ms : "ITMS + c ESI d Full ms2 " + QByteArray::number(n * 0.37, 'f', 2) + "@cid35.00");
    QTest::newRow("distinct texts beyond those looked up") << distinct << 1 + 48000 << 1 + 48000;
    // Short: the count of texts looked up, not their bytes, ends the lookup;
    // then each again, packed again.
    QByteArrayList many;
    for (int n = 0; n < 80000; ++n)
        many << QByteArray::number(n % 40000);
    QTest::newRow("more texts than are looked up") << many << 32768 + 2 * 7232 << 32768 + 2 * 7232;
    // Lengths written in one, two and three bytes, one longer than all texts
    // looked up (the six before it), texts packed alone.
    QByteArrayList lengths;
    for (const int size : {0, 127, 128, 16383, 16384, 5000, 1 << 20, 3 << 20, 1, 0, 4096, 127})
        lengths << QByteArray(size, char('a' + lengths.size()));
    QTest::newRow("lengths of every kind") << lengths + lengths << 6 + 2 * 5 << 6 + 2 * 5;
    // 24 MiB that do not deflate: kept only within the allowances, 17 MiB.
    QByteArrayList noise;
    QRandomGenerator random(9);
    for (int n = 0; n < 6000; ++n) {
        QByteArray text(4096, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32 *>(text.data()), text.size() / 4);
        noise << (n % 10 == 0 ? ms : text);
    }
    QTest::newRow("texts made to fill memory") << noise << 1 << ((17 << 20) + (8 << 10)) / 4096;
}

// Every text kept reads back as it was added, at once and later in any
// order; the first keeps its number; two tables of the halves, the later's
// texts added to the first's in order, number them as one table does.
void TestMzmlReader::filterTableKeepsEveryText()
{
    QFETCH(QByteArrayList, texts);
    QFETCH(qint32, least);
    QFETCH(qint32, most);
    FilterTable whole;
    std::vector<qint32> ids;
    for (const QByteArray &text : texts) {
        ids.push_back(whole.id(text));
        if (ids.back() != FilterTable::Unkept)
            QCOMPARE(whole.bytes(ids.back()), text);
    }
    QVERIFY2(whole.size() >= least && whole.size() <= most, qPrintable(QString::number(whole.size())));
    QRandomGenerator random(5);
    for (int round = 0; round < 20000; ++round) {
        const auto i = qsizetype(random.bounded(texts.size()));
        QCOMPARE(ids[size_t(i)] == FilterTable::Unkept ? texts[i] : whole.bytes(ids[size_t(i)]), texts[i]);
        QCOMPARE(texts[i] == texts.front(), ids[size_t(i)] == 0);
    }
    for (const qsizetype cut : {texts.size() / 2, qsizetype(random.bounded(texts.size()))}) {
        FilterTable first;
        FilterTable later;
        std::vector<qint32> joined;
        for (qsizetype i = 0; i < texts.size(); ++i)
            joined.push_back((i < cut ? first : later).id(texts[i]));
        for (size_t i = size_t(cut); i < joined.size(); ++i)
            joined[i] = first.idOf(later, joined[i]);
        QVERIFY2(joined == ids, qPrintable(u"cut at text %1"_s.arg(cut)));
    }
}

void TestMzmlReader::tokenizerIgnoresHowBytesArrive_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<QStringList>("tokens"); // empty: any, as long as every way of reading gives the same
    QTest::addColumn<QString>("fault");      // what the tokenizer's fault says; empty: it reads to the end
    // Markup that a search for the next ">" would cut short.
    const QByteArray tricky = "<z><!-- a - b > --><![CDATA[ ]] > ]]><?pi ? > ?><a b='>' c=\"/\"/><x:y/><x:y></x:y>&#x"
                            + QByteArray(100, '0') + "41;</z>";
    QTest::newRow("tricky markup") << tricky
                                   << QStringList({u"0 0-3 0 z"_s, u"1 48-64 1 a b=> c=/"_s, u"1 64-70 1 y"_s,
                                                   u"0 70-75 1 y"_s, u"2 75-81 1 y"_s, u"2 187-191 0 z"_s})
                                   << QString();
    QByteArray demo = ContentOf(QStringLiteral(QUORVANE_SOURCE_DIR "/examples/demo.raw"));
    demo.insert(demo.indexOf("<run "), tricky);
    QTest::newRow("demo with tricky markup") << demo << QStringList() << QString();
    // Tags are scanned 16 bytes at a time, and a tag at hand whole is read
    // in one pass: each byte that asks for a closer look, at each place of
    // a block, in a value and in a name, read whole or a piece at a time.
    const std::pair<QByteArray, QString> inValue[] = {
        {"<", u"holds a \"<\" in an attribute value"_s}, {"\x01", u"the control character 0x01"_s},
        {"\xff", u"not a character in UTF-8"_s},         {"\"x\"", u"no blank before byte"_s},
        {"&bad;", u"stands for no character"_s},         {"\xc3\xa9>'\t&amp;", QString()}};
    const std::pair<QByteArray, QString> inName[] = {{"<", u"is not closed"_s},
                                                     {"\x01", u"the control character 0x01"_s},
                                                     {"\xff", u"not a character in UTF-8"_s},
                                                     {":", u"its name is not a qualified name"_s},
                                                     {"\xc3\xa9:x", QString()}};
    for (int before = 0; before <= 17; ++before) {
        const QByteArray filler(before, 'v');
        for (const auto &[stop, fault] : inValue)
            QTest::addRow("%s after %d bytes of a value", stop.toPercentEncoding().constData(), before)
                << "<z><a b=\"" + filler + stop + "\" c='1'/></z>" << QStringList() << fault;
        for (const auto &[stop, fault] : inName)
            QTest::addRow("%s after %d bytes of a name", stop.toPercentEncoding().constData(), before)
                << "<z><a" + filler + stop + " b='1'></a" + filler + stop + "></z>" << QStringList() << fault;
    }
}

// The tokens of a document, or its fault, whatever pieces its bytes come in.
void TestMzmlReader::tokenizerIgnoresHowBytesArrive()
{
    QFETCH(QByteArray, document);
    QFETCH(QStringList, tokens);
    QFETCH(QString, fault);
    const QStringList whole = TokensInPieces(document, int(document.size()), 0);
    if (!tokens.isEmpty())
        QCOMPARE(whole, tokens);
    QVERIFY2(fault.isEmpty() ? !whole.last().contains(u"damaged"_s) : whole.last().contains(fault),
             qPrintable(whole.last()));
    const QString disagreement = DisagreementOfPieces(document);
    QVERIFY2(disagreement.isEmpty(), qPrintable(disagreement));
}

void TestMzmlReader::copyFolder_data()
{
    QTest::addColumn<QString>("temporaryFolder"); // TMPDIR below the test's folder
    QTest::addColumn<QString>("copyFolder");      // empty: the test's folder
    QTest::newRow("TMPDIR a folder") << QString() << QString();
    QTest::newRow("TMPDIR missing") << u"/nonexistent"_s << u"/tmp"_s;
}

// A TMPDIR that names no folder must not put the copy in the root folder.
void TestMzmlReader::copyFolder()
{
    QFETCH(QString, temporaryFolder);
    QFETCH(QString, copyFolder);
    const QString folder = QDir(m_dir.path()).canonicalPath();
    const QByteArray before = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(folder + temporaryFolder));
    const QString found = CopyFolder();
    qputenv("TMPDIR", before);
    QCOMPARE(found, copyFolder.isEmpty() ? folder : copyFolder);
}

void TestMzmlReader::refusesWhatIsNotAFile_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("failure");
    const QString fifo = m_dir.filePath(u"fifo.raw"_s);
    if (mkfifo(QFile::encodeName(fifo).constData(), 0600) != 0)
        qFatal("cannot make the FIFO");
    const QString notAFile = u"this is a device, a pipe or a socket, not an acquisition"_s;
    QTest::newRow("FIFO without a writer")
        << fifo << notAFile + u", and there is no mzML export beside it (\"fifo.mzML\" or \"fifo.mzML.gz\")."_s;
    QTest::newRow("device") << u"/dev/null"_s << notAFile + u'.';
    QTest::newRow("name too long") << m_dir.filePath(QString(300, u'n') + u".dat"_s)
                                   << u"the name is longer than the system allows."_s;
    QTest::newRow("folder") << m_dir.path() << u"this is a folder, not an acquisition."_s;
}

void TestMzmlReader::refusesWhatIsNotAFile()
{
    QFETCH(QString, path);
    QFETCH(QString, failure);
    std::future<QString> opened =
        std::async(std::launch::async, [&] { return FailureOf([&] { CreateRawFileDocument()->Open(path); }); });
    if (opened.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        // A writer lets the waiting open return, so that the test can end.
        ::close(::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK));
        QFAIL("Open waits for a writer");
    }
    QCOMPARE(opened.get(), u"\"%1\": %2"_s.arg(path, failure));
}

void TestMzmlReader::opensTheExportBeside_data()
{
    // Files are "name:kind": mzml (its sample named after the file), gz (the
    // same, compressed), html (XML, not mzML), mzxml, folder, or dangling (a
    // link to gone.mzML, which does not exist).
    QTest::addColumn<QString>("opened");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("read");    // the file whose sample shows; empty when Open fails
    QTest::addColumn<QString>("failure"); // %1: the folder
    QTest::addColumn<int>("number");
    const QString noExport = u", and there is no mzML export beside it (\"run.mzML\" or \"run.mzML.gz\")."_s;
    const QString notMzml = u"\"%1/run.raw\": not an mzML acquisition (its root element is <html>)"_s;
    const QString makeOne = u" It is not an mzML export, which is what this program reads: make one (for example "_s
                            u"\"msconvert run.raw --mzML\" on the acquisition computer) and place the export beside "_s
                            u"it as \"run.mzML\"."_s;
    QTest::newRow("RAW path holding mzML")
        << u"run.raw"_s << QStringList{u"run.raw:mzml"_s, u"run.mzML:mzml"_s} << u"run.raw"_s << QString() << 0;
    QTest::newRow("export beside a RAW file")
        << u"run.raw"_s << QStringList{u"run.raw:html"_s, u"run.mzML:mzml"_s} << u"run.mzML"_s << QString() << 0;
    QTest::newRow("export beside a missing RAW file")
        << u"run.raw"_s << QStringList{u"run.mzML:mzml"_s} << u"run.mzML"_s << QString() << 0;
    QTest::newRow("compressed export, names in capitals")
        << u"run.RAW"_s << QStringList{u"run.RAW:html"_s, u"run.MZML.GZ:gz"_s} << u"run.MZML.GZ"_s << QString() << 0;
    QTest::newRow("plain export first") << u"run.raw"_s << QStringList{u"run.MZML.gz:gz"_s, u"run.mzml:mzml"_s}
                                        << u"run.mzml"_s << QString() << 0;
    QTest::newRow("both exports, plain read")
        << u"run.raw"_s << QStringList{u"run.raw:html"_s, u"run.mzML:mzml"_s, u"run.mzML.gz:gz"_s} << u"run.mzML"_s
        << QString() << 0;
    QTest::newRow("exact spelling first")
        << u"run.raw"_s << QStringList{u"run.raw:html"_s, u"run.MZML:html"_s, u"run.mzML:mzml"_s} << u"run.mzML"_s
        << QString() << 0;
    QTest::newRow("no export, missing") << u"run.raw"_s << QStringList{u"Run.mzML:mzml"_s} << QString()
                                        << u"\"%1/run.raw\": the file does not exist"_s + noExport << 53;
    QTest::newRow("export a folder") << u"run.raw"_s << QStringList{u"run.mzML.gz:folder"_s} << QString()
                                     << u"\"%1/run.mzML.gz\": this is a folder, not an acquisition."_s << 52;
    QTest::newRow("export a dangling link")
        << u"run.raw"_s << QStringList{u"run.mzML:dangling"_s} << QString()
        << u"\"%1/run.mzML\": this is a symbolic link to \"%1/gone.mzML\", which does not exist."_s << 53;
    QTest::newRow("no export, not mzML") << u"run.raw"_s << QStringList{u"run.raw:html"_s} << QString()
                                         << notMzml + noExport + makeOne << 321;
    QTest::newRow("no export, mzXML")
        << u"run.raw"_s << QStringList{u"run.raw:mzxml"_s} << QString()
        << u"\"%1/run.raw\": not an mzML acquisition (its root element is <mzXML>)"_s + noExport
               + u" It is an mzXML file, which this program does not read: convert it to mzML (for example "_s
                 u"\"msconvert run.raw --mzML\") and place the export beside it as \"run.mzML\"."_s
        << 321;
    QTest::newRow("folder acquisition")
        << u"run.d"_s << QStringList{u"run.d:folder"_s} << QString()
        << u"\"%1/run.d\": this is a folder, not an acquisition. A folder acquisition is read through its mzML "_s
           u"export: make one (for example \"msconvert run.d --mzML\" on the acquisition computer) and convert the "_s
           u"export."_s
        << 52;
    QTest::newRow("export not mzML") << u"run.raw"_s << QStringList{u"run.mzML:html"_s} << QString()
                                     << u"\"%1/run.mzML\": not an mzML acquisition (its root element is <html>)."_s
                                     << 321;
    QTest::newRow("not a RAW path") << u"run.dat"_s << QStringList{u"run.dat:html"_s, u"run.mzML:mzml"_s} << QString()
                                    << u"\"%1/run.dat\": not an mzML acquisition (its root element is <html>). It is "_s
                                       u"not an mzML export, which is what this program reads: make one (for "_s
                                       u"example \"msconvert run.dat --mzML\" on the acquisition computer) and "_s
                                       u"convert the export."_s
                                    << 321;
}

void TestMzmlReader::opensTheExportBeside()
{
    QFETCH(QString, opened);
    QFETCH(QStringList, files);
    QFETCH(QString, read);
    QFETCH(QString, failure);
    QFETCH(int, number);
    const QString folder = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    for (const QString &file : files) {
        const QString name = file.section(u':', 0, 0);
        const QString kind = file.section(u':', 1);
        const QByteArray mzml = MinimalMzml(
            "<sampleList count=\"1\"><sample id=\"a\" name=\"" + name.toUtf8() + "\"/></sampleList>", {}, {}, {});
        if (kind == u"folder")
            QVERIFY(QDir(folder).mkdir(name));
        else if (kind == u"dangling")
            QVERIFY(QFile::link(folder + u"/gone.mzML"_s, folder + u'/' + name));
        else
            write(QString::fromLatin1(QTest::currentDataTag()) + u'/' + name,
                  kind == u"html"    ? QByteArray("<?xml version=\"1.0\"?><html/>")
                  : kind == u"mzxml" ? QByteArray("<?xml version=\"1.0\"?><mzXML/>")
                  : kind == u"gz"    ? Gzipped(mzml)
                                     : mzml);
    }
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    try {
        document->Open(folder + u'/' + opened);
        QCOMPARE(document->SampleInfo()->SampleName(), read);
        // The writers learn which files may be read, to leave every one whole.
        const QStringList readFor = FilesReadFor(folder + u'/' + opened);
        QVERIFY(readFor.contains(folder + u'/' + read));
        for (const QString &file : files) {
            const QString name = file.section(u':', 0, 0);
            if (name.endsWith(u".mzML"_s, Qt::CaseInsensitive) || name.endsWith(u".mzML.gz"_s, Qt::CaseInsensitive))
                QVERIFY2(readFor.contains(folder + u'/' + name), qPrintable(name));
        }
    } catch (const Error &error) {
        QCOMPARE(error.description(), failure.arg(folder));
        QCOMPARE(int(error.number()), number);
    }
}

void TestMzmlReader::readsLatin1Documents()
{
    // The declared encoding holds for spectra read from the middle of the file.
    QByteArray document = MinimalMzml("<sampleList count=\"1\"><sample id=\"a\" name=\"caf\xe9\"/></sampleList>", {},
                                      "<cvParam accession=\"MS:1000512\" value=\"+ c ESI SIM ms [\xb5]\"/>", {});
    document.replace("encoding=\"utf-8\"", "encoding=\"ISO-8859-1\"");
    const FakeAcquisition a = ReadAcquisition(write(u"latin1.raw"_s, document));
    QCOMPARE(a.sampleName, u"café"_s);
    QCOMPARE(a.spectra.at(0).filter, u"+ c ESI SIM ms [µ]"_s);
}

void TestMzmlReader::openReadsOnlyTheHead()
{
    // Everything after the head is garbage: the sample header still reads.
    const QString path = m_dir.filePath(u"head.raw"_s);
    WriteMzml(path, TestAcquisition());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray content = file.readAll();
    const qsizetype list = content.indexOf("<scanList");
    file.seek(list);
    file.write(QByteArray(content.size() - list, '\x01'));
    file.close();

    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(path);
    QCOMPARE(document->SampleInfo()->UserText(1), u"analyst"_s);
    QCOMPARE(document->FileHeader()->CreationDate(), TestAcquisition().creationDate);
    const QString description = FailureOf([&] { document->Detector(0, 1)->Spectra(0)->Count(); });
    QVERIFY2(description.contains(u"the control character 0x01 at byte"_s), qPrintable(description));
}

void TestMzmlReader::objectsFailAfterClose()
{
    const QString path = m_dir.filePath(u"closed.raw"_s);
    WriteMzml(path, TestAcquisition());
    QVERIFY(WriteBytes(path, Gzipped(ContentOf(path))));
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    QVERIFY(FailureOf([&] { document->SampleInfo(); }).contains(u"No acquisition is open"_s));
    const qsizetype descriptors = OpenDescriptors();
    document->Open(path);
    const std::unique_ptr<SpectrumCollection> spectra = document->Detector(0, 1)->Spectra(0);
    QCOMPARE(spectra->Count(), 4);
    document->Close();
    // The file and its decompressed copy go with the document, whatever is still held.
    QCOMPARE(OpenDescriptors(), descriptors);
    QVERIFY(FailureOf([&] { spectra->Item(1)->Points(); }).contains(u"No acquisition is open"_s));
    QCOMPARE(FailureOf([&] { CreateRawFileDocument()->Open(m_dir.filePath(u"missing.txt"_s)); }),
             u"\"%1\": the file does not exist."_s.arg(m_dir.filePath(u"missing.txt"_s)));

    // Reading the demo decodes its spectra ahead on a thread of the
    // document's: closing or destroying it in the middle ends that thread.
    const QStringList before = LiveThreads();
    for (const bool close : {true, false}) {
        std::unique_ptr<RawFileDocument> demo = CreateRawFileDocument();
        demo->Open(QStringLiteral(QUORVANE_SOURCE_DIR "/examples/demo.raw"));
        const std::unique_ptr<SpectrumCollection> demoSpectra = demo->Detector(0, 1)->Spectra(0);
        QCOMPARE(demoSpectra->Item(1)->Points().masses.size(), DemoAcquisition().spectra.at(0).masses.size());
        if (close)
            demo->Close();
        else
            demo.reset();
        QCOMPARE(LiveThreads(), before);
        QVERIFY(FailureOf([&] { demoSpectra->Item(5)->Points(); }).contains(u"No acquisition is open"_s));
    }
}

void TestMzmlReader::demoReadsAsBuilt()
{
    const QString difference =
        DifferenceOfFile(QStringLiteral(QUORVANE_SOURCE_DIR "/examples/demo.raw"), DemoAcquisition());
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
}

QTEST_GUILESS_MAIN(TestMzmlReader)
#include "tst_mzmlreader.moc"
