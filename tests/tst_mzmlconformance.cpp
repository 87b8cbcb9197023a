// The reader against the field's reference converter: msconvert rewrites one
// acquisition in each encoding, and every rewrite must read like the original.
// Real acquisitions of other projects, laid out as a laboratory keeps them,
// must convert to the data lines of what msconvert decodes from them.

#include "convert/FixedFormat.h"
#include "examples/DemoAcquisition.h"
#include "mzml/MzmlDocument.h"
#include "tests/fake/TestFiles.h"
#include "tests/mzml/ReadAcquisition.h"

#include <QDir>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <QtEndian>

#include <algorithm>
#include <map>
#include <memory>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(Tolerance)

class TestMzmlConformance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void readsWhatMsconvertWrites_data();
    void readsWhatMsconvertWrites();
    void convertsRealAcquisitions_data();
    void convertsRealAcquisitions();

private:
    QString decodedDataPart(const QString &source, QByteArray &dataPart);

    QTemporaryDir m_dir;
    QString m_msconvert;
    QString m_original;
    std::map<int, std::unique_ptr<QProcess>> m_runs; // by row of RealRows
    std::map<QString, QByteArray> m_decoded;         // data part by source file
};

static const QString OpenMs = u"/usr/share/doc/openms/examples/"_s;
static const QString PymzML = u"/usr/share/doc/python3-pymzml/tests/data/"_s;
static const QString Bsa1 = OpenMs + u"BSA/BSA1.mzML"_s;
static const QString Lcms = OpenMs + u"LCMS-centroided.mzML"_s;
static const QString Ecoli = OpenMs + u"ID/Ecoli_MS2_small.mzML"_s;
static const QString Example = PymzML + u"example.mzML.gz"_s;
static const QString Bsa1Gz = PymzML + u"BSA1.mzML.gz"_s;

// A real acquisition laid out in a folder of its own: the export under
// exportName and, when binaryRaw is set, a few bytes of a binary RAW file
// under that name; the program is given argument and writes ascName. The
// exports are plain or gzip-compressed, with or without filter strings, MS1
// or MSn only.
static const struct
{
    const char *name;
    QString source;
    QString exportName;
    QString binaryRaw;
    QString argument;
    QString ascName;
} RealRows[] = {
    {"BSA1, the export named X.raw", Bsa1, u"run.raw"_s, {}, u"run.raw"_s, u"run.asc"_s},
    {"BSA1, passed directly", Bsa1, u"BSA1.mzML"_s, {}, u"BSA1.mzML"_s, u"BSA1.asc"_s},
    {"LCMS-centroided, beside a binary X.raw", Lcms, u"run.mzML"_s, u"run.raw"_s, u"run.raw"_s, u"run.asc"_s},
    {"Ecoli MSn only, beside a binary X.RAW", Ecoli, u"run.mzml"_s, u"run.RAW"_s, u"run.RAW"_s, u"run.asc"_s},
    {"example.mzML.gz, beside a missing X.raw", Example, u"run.mzML.gz"_s, {}, u"run.raw"_s, u"run.asc"_s},
    {"example.mzML.gz, the export named X.raw", Example, u"run.raw"_s, {}, u"run.raw"_s, u"run.asc"_s},
    {"example.mzML.gz, passed directly", Example, u"example.mzML.gz"_s, {}, u"example.mzML.gz"_s, u"example.asc"_s},
    {"BSA1.mzML.gz, passed directly in upper case", Bsa1Gz, u"BSA1.MZML.GZ"_s, {}, u"BSA1.MZML.GZ"_s, u"BSA1.asc"_s},
};

void TestMzmlConformance::initTestCase()
{
    InstallMzmlReader();
    m_msconvert = QStandardPaths::findExecutable(u"msconvert"_s);
    if (m_msconvert.isEmpty())
        QSKIP("msconvert is not installed (Debian package libpwiz-tools)");
    m_original = m_dir.filePath(u"original.mzML"_s);
    WriteDemoMzml(m_original);

    // The real program in batch mode, all rows at once: each run waits five
    // seconds before it converts.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"LC_ALL"_s, u"C"_s);
    QRandomGenerator random(12);
    for (int row = 0; row < int(std::size(RealRows)); ++row) {
        const auto &r = RealRows[row];
        const QDir folder(m_dir.filePath(u"real%1"_s.arg(row)));
        if (!QFile::exists(r.source) || !folder.mkpath(u"."_s))
            continue;
        QVERIFY(QFile::copy(r.source, folder.filePath(r.exportName)));
        if (!r.binaryRaw.isEmpty()) {
            QList<quint32> words(16);
            random.fillRange(words.data(), words.size());
            const QByteArray bytes(reinterpret_cast<const char *>(words.constData()), words.size() * 4);
            QVERIFY(WriteBytes(folder.filePath(r.binaryRaw), bytes));
        }
        auto &run = m_runs[row] = std::make_unique<QProcess>();
        run->setProcessEnvironment(environment);
        run->start(QStringLiteral(QUORVANE_PROGRAM), {folder.filePath(r.argument)});
    }
}

// Rows that were skipped or failed early leave their runs behind.
void TestMzmlConformance::cleanupTestCase()
{
    for (auto &[row, run] : m_runs) {
        run->kill();
        run->waitForFinished();
    }
}

void TestMzmlConformance::readsWhatMsconvertWrites_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("term"); // shows that msconvert wrote the encoding asked for
    QTest::addColumn<Tolerance>("masses");
    QTest::addColumn<Tolerance>("intensities");
    const Tolerance exact{};
    const Tolerance float32{0, 6e-8};
    QTest::newRow("indexed, zlib, 64-bit")
        << QStringList{u"-z"_s, u"--64"_s} << QByteArray("MS:1000574") << exact << exact;
    QTest::newRow("plain, uncompressed, 64-bit")
        << QStringList{u"--noindex"_s, u"--64"_s} << QByteArray("MS:1000576") << exact << exact;
    QTest::newRow("indexed, 32-bit") << QStringList{u"--32"_s} << QByteArray("MS:1000521") << float32 << float32;
    QTest::newRow("plain, zlib, 32-bit") << QStringList{u"--noindex"_s, u"-z"_s, u"--32"_s} << QByteArray("MS:1000521")
                                         << float32 << float32;
    QTest::newRow("numpress linear and pic") << QStringList{u"--numpressLinear"_s, u"--numpressPic"_s}
                                             << QByteArray("MS:1002313") << Tolerance{0, 1e-8} << Tolerance{0.5, 0};
    QTest::newRow("numpress linear and slof with zlib")
        << QStringList{u"-n"_s, u"-z"_s} << QByteArray("MS:1002748") << Tolerance{0, 1e-8} << Tolerance{0.01, 2e-4};
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

namespace {

struct Param
{
    QString accession;
    QString value;
    QString unit;
};
using Params = QList<Param>;

const Param *Find(const Params &params, QStringView accession)
{
    const auto found =
        std::find_if(params.begin(), params.end(), [&](const Param &param) { return param.accession == accession; });
    return found == params.end() ? nullptr : &*found;
}

// One spectrum as the conversion is to see it.
struct Spectrum
{
    QString filter;
    double minutes = 0;
    QList<double> masses;
    QList<double> intensities;
};

// The filter string where there is one; else the text that the spectrum's
// type composes: SIM counts in both sections, other MS1 in the ms section.
QString FilterText(const Params &spectrum, const Params &scan)
{
    const Param *filter = Find(scan, u"MS:1000512");
    if (!filter)
        filter = Find(spectrum, u"MS:1000512");
    if (filter)
        return filter->value;
    if (Find(spectrum, u"MS:1000582"))
        return u"+ SIM ms "_s;
    const Param *level = Find(spectrum, u"MS:1000511");
    if (Find(spectrum, u"MS:1000579") || (level && level->value == u"1"))
        return u"+ Full ms "_s;
    return {};
}

// Takes the start time in minutes; why the spectrum cannot be taken, or
// nothing.
QString Finish(Spectrum &spectrum, const Params &scan)
{
    static const QHash<QString, double> UnitsPerMinute{
        {u"UO:0000031"_s, 1}, {u"UO:0000010"_s, 60}, {u"UO:0000028"_s, 60000}};
    if (spectrum.masses.size() != spectrum.intensities.size())
        return u"arrays of different lengths"_s;
    const Param *start = Find(scan, u"MS:1000016");
    if (!start)
        return {};
    if (!UnitsPerMinute.contains(start->unit))
        return u"start time in "_s + start->unit;
    spectrum.minutes = start->value.toDouble() / UnitsPerMinute.value(start->unit);
    return {};
}

// Reads what msconvert wrote with uncompressed 64-bit arrays, taking
// parameters from referenced groups too; the parse is the toolkit's, not the
// program's.
QString ReadDecoded(const QString &path, QList<Spectrum> &spectra)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    QXmlStreamReader xml(&file);
    QHash<QString, Params> groups;
    QString group;
    QStringList open;
    struct
    {
        Spectrum spectrum;
        Params params, scan, array;
        int scans = 0;
    } current;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        const QString name = xml.name().toString();
        if (token == QXmlStreamReader::EndElement) {
            open.removeLast();
            if (name == u"spectrum") {
                current.spectrum.filter = FilterText(current.params, current.scan);
                if (const QString fault = Finish(current.spectrum, current.scan); !fault.isEmpty())
                    return u"spectrum %1: %2"_s.arg(spectra.size() + 1).arg(fault);
                spectra.append(std::exchange(current, {}).spectrum);
            }
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = xml.attributes();
        const auto attribute = [&](const char *key) { return attributes.value(QLatin1String(key)).toString(); };
        const QString parent = open.value(open.size() - 1);
        Params *params = parent == u"referenceableParamGroup"    ? &groups[group]
                       : parent == u"spectrum"                   ? &current.params
                       : parent == u"scan" && current.scans == 1 ? &current.scan
                       : parent == u"binaryDataArray"            ? &current.array
                                                                 : nullptr;
        if (params && name == u"cvParam")
            params->append({attribute("accession"), attribute("value"), attribute("unitAccession")});
        else if (params && name == u"referenceableParamGroupRef")
            params->append(groups.value(attribute("ref")));
        else if (name == u"referenceableParamGroup")
            group = attribute("id");
        else if (name == u"scan")
            ++current.scans;
        else if (name == u"binaryDataArray")
            current.array.clear();
        if (name != u"binary") {
            open.append(name);
            continue;
        }
        if (!Find(current.array, u"MS:1000523") || !Find(current.array, u"MS:1000576"))
            return u"spectrum %1: not an uncompressed 64-bit array"_s.arg(spectra.size() + 1);
        const QByteArray bytes = QByteArray::fromBase64(xml.readElementText().toLatin1());
        QList<double> values(bytes.size() / 8);
        if (!values.isEmpty()) // an empty array has no data pointer to copy from
            qFromLittleEndian<double>(bytes.constData(), values.size(), values.data());
        if (Find(current.array, u"MS:1000514"))
            current.spectrum.masses = values;
        else if (Find(current.array, u"MS:1000515"))
            current.spectrum.intensities = values;
    }
    return xml.hasError() ? xml.errorString() : QString();
}

QByteArray Fixed(double value, int decimals)
{
    char text[FixedFormatCapacity];
    return QByteArray(text, FormatFixed(text, value, decimals, ".") - text);
}

// The .asc lines after the header for these spectra, scaling factor 1.
QByteArray DataPart(const QList<Spectrum> &spectra)
{
    const auto holds = [&](QStringView kind) {
        return std::any_of(spectra.begin(), spectra.end(), [&](const Spectrum &s) { return s.filter.contains(kind); });
    };
    const bool ms = holds(u" ms ");
    const bool sim = holds(u" SIM ");
    QByteArray part;
    const auto section = [&](QStringView kind) {
        if (ms && sim)
            part += "StartDataSection\r\n";
        for (const Spectrum &s : spectra) {
            if (!s.filter.contains(kind))
                continue;
            part += "IntervalOfScan=" + Fixed(s.minutes * 60, 3) + "\r\n";
            for (qsizetype i = 0; i < s.masses.size(); ++i) {
                if (s.intensities[i] > 0)
                    part += Fixed(s.masses[i], 3) + '\t' + Fixed(s.intensities[i], 1) + "\r\n";
            }
        }
    };
    if (ms)
        section(u" ms ");
    if (ms && sim)
        part += " \r\n";
    if (sim)
        section(u" SIM ");
    return part;
}

// The file's bytes, through gzip when they are compressed.
QByteArray Uncompressed(const QString &path)
{
    QByteArray bytes = ContentOf(path);
    if (!bytes.startsWith("\x1f\x8b"))
        return bytes;
    QProcess gzip;
    gzip.start(u"gzip"_s, {u"-dc"_s, path});
    return gzip.waitForFinished(60000) ? gzip.readAllStandardOutput() : QByteArray();
}

} // namespace

// msconvert decodes the export to plain 64-bit arrays. It is given the mzML
// element alone: it would trust an index that leaves spectra out (the pymzML
// example's index lists ten of its eleven), where the program reads them all.
QString TestMzmlConformance::decodedDataPart(const QString &source, QByteArray &dataPart)
{
    if (const auto known = m_decoded.find(source); known != m_decoded.end()) {
        dataPart = known->second;
        return {};
    }
    const QByteArray document = Uncompressed(source);
    const qsizetype begin = document.indexOf("<mzML");
    const qsizetype end = document.indexOf("</mzML>");
    const QString plain = m_dir.filePath(u"plain.mzML"_s);
    if (begin < 0 || end < 0
        || !WriteBytes(plain, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n" + document.mid(begin, end + 7 - begin)))
        return u"cannot unwrap "_s + source;
    QProcess msconvert;
    msconvert.setProcessChannelMode(QProcess::MergedChannels);
    msconvert.start(m_msconvert, {plain, u"-o"_s, m_dir.path(), u"--outfile"_s, u"decoded.mzML"_s, u"--mzML"_s,
                                  u"--64"_s, u"--noindex"_s});
    if (!msconvert.waitForFinished(120000) || msconvert.exitCode() != 0)
        return QString::fromLocal8Bit(msconvert.readAll());
    QList<Spectrum> spectra;
    if (const QString fault = ReadDecoded(m_dir.filePath(u"decoded.mzML"_s), spectra); !fault.isEmpty())
        return fault;
    if (spectra.size() != document.count("<spectrum "))
        return u"msconvert decoded %1 spectra of %2"_s.arg(spectra.size()).arg(document.count("<spectrum "));
    dataPart = m_decoded[source] = DataPart(spectra);
    return {};
}

void TestMzmlConformance::convertsRealAcquisitions_data()
{
    QTest::addColumn<int>("row");
    for (int row = 0; row < int(std::size(RealRows)); ++row)
        QTest::newRow(RealRows[row].name) << row;
}

void TestMzmlConformance::convertsRealAcquisitions()
{
    QFETCH(int, row);
    const auto &r = RealRows[row];
    if (!m_runs.contains(row))
        QSKIP(qPrintable(u"%1 is missing (Debian package %2)"_s.arg(
            r.source, r.source.startsWith(OpenMs) ? u"openms-doc"_s : u"python-pymzml-doc"_s)));
    QProcess &run = *m_runs[row];
    QVERIFY(run.waitForFinished(60000));
    QCOMPARE(run.exitCode(), 0);

    QByteArray expected;
    const QString fault = decodedDataPart(r.source, expected);
    QVERIFY2(fault.isEmpty(), qPrintable(fault));
    // Silent, unless there was nothing to write: then one line says so.
    const QByteArray standardError = run.readAllStandardError();
    if (expected.isEmpty())
        QVERIFY2(standardError.contains(": no ms or SIM spectrum among the ")
                     && standardError.endsWith(" holds the sample header only\n"),
                 standardError.constData());
    else
        QCOMPARE(standardError, QByteArray());
    const QByteArray asc = ContentOf(m_dir.filePath(u"real%1/"_s.arg(row) + r.ascName));
    qsizetype header = 0;
    for (int line = 0; line < 8; ++line) {
        const qsizetype end = asc.indexOf("\r\n", header);
        QVERIFY2(end >= 0, "fewer than eight header lines");
        header = end + 2;
    }
    // Line by line, so that a difference names its line.
    QCOMPARE(asc.mid(header).split('\n'), expected.split('\n'));
}

QTEST_GUILESS_MAIN(TestMzmlConformance)
#include "tst_mzmlconformance.moc"
