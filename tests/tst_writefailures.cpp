#include "convert/AscConversion.h"
#include "convert/Errors.h"
#include "convert/OpcDescriptor.h"
#include "convert/PathFunctions.h"
#include "convert/TextFileWriter.h"
#include "tests/fake/FakeComponent.h"
#include "tests/fake/TestFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <optional>

using namespace Qt::Literals::StringLiterals;
using namespace std::string_view_literals;

// The writers on folders that refuse what they write: one that does not
// exist, a read-only one and a full one. Read-only and full folders are
// small file systems mounted in a mount namespace of this process alone, so
// they hold for root as well and vanish with the process.
class TestWriteFailures : public QObject
{
    Q_OBJECT

public:
    // After Full: outputs that must not be written (linked to the export the
    // acquisition is read from, or the export to them; a pipe; a device).
    enum class Folder { Missing, ReadOnly, Full, OutputIsExport, ExportLinksToOutput, Pipe, Device };
    enum class Writer { TextFile, Descriptor, Conversion };

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void refusedFolder_data();
    void refusedFolder();
    void fullDeviceFailsTheWrite();
    void pieceLargerThanTheBuffer();

private:
    void prepare(Folder folder, QString &rawPath);
    void mountTmpfs(const QString &where, const char *options);

    bool m_privateMounts = false;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_export; // the file the acquisition is read from, when not itself
    QStringList m_mounts;
    QString m_lockedFolder;
};

static const QByteArray AcquisitionBytes = "acquisition bytes, never to be touched";

// Runs work for ten seconds at most: an output that blocks fails the test
// instead of hanging it, and its pipe is then read until the work ends.
template <typename Work>
static std::optional<std::invoke_result_t<Work>> Within(Work work, const QString &pipe)
{
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        return done.get();
    const int reader = ::open(QFile::encodeName(pipe).constData(), O_RDONLY | O_NONBLOCK);
    for (char buffer[4096]; done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready;)
        [[maybe_unused]] const ssize_t read = ::read(reader, buffer, sizeof buffer);
    ::close(reader);
    return std::nullopt;
}

// Mounting needs a namespace of our own and the right to mount a tmpfs in it;
// a container may grant the one and not the other.
static bool CanMountPrivately()
{
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return false;
    QTemporaryDir probe;
    const QByteArray where = QFile::encodeName(probe.path());
    if (!probe.isValid() || mount("tmpfs", where.constData(), "tmpfs", 0, "size=64k") != 0)
        return false;
    return umount2(where.constData(), MNT_DETACH) == 0;
}

void TestWriteFailures::initTestCase()
{
    m_privateMounts = CanMountPrivately();
    if (!m_privateMounts)
        qInfo("No mount namespace of our own: read-only and full folders are imitated where possible.");
}

void TestWriteFailures::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestWriteFailures::cleanup()
{
    for (const QString &where : std::as_const(m_mounts))
        umount2(QFile::encodeName(where).constData(), MNT_DETACH);
    m_mounts.clear();
    if (!m_lockedFolder.isEmpty())
        chmod(QFile::encodeName(m_lockedFolder).constData(), 0700);
    m_lockedFolder.clear();
    m_export.clear();
    m_dir.reset();
}

void TestWriteFailures::mountTmpfs(const QString &where, const char *options)
{
    QVERIFY(QDir().mkpath(where));
    QVERIFY2(mount("tmpfs", QFile::encodeName(where).constData(), "tmpfs", 0, options) == 0, strerror(errno));
    m_mounts.append(where);
}

// Makes the folder and the acquisition in it; rawPath stays empty when no
// folder can refuse this process.
void TestWriteFailures::prepare(Folder folder, QString &rawPath)
{
    switch (folder) {
    case Folder::Missing: rawPath = m_dir->filePath(u"absent/s01.raw"_s); return;
    case Folder::ReadOnly: {
        const QString where = m_dir->filePath(u"read-only"_s);
        if (m_privateMounts) {
            mountTmpfs(where, "size=64k");
            QVERIFY(WriteBytes(where + u"/s01.raw"_s, AcquisitionBytes));
            QVERIFY2(mount(nullptr, QFile::encodeName(where).constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr)
                         == 0,
                     strerror(errno));
        } else if (geteuid() != 0) {
            QVERIFY(QDir().mkpath(where));
            QVERIFY(WriteBytes(where + u"/s01.raw"_s, AcquisitionBytes));
            QCOMPARE(chmod(QFile::encodeName(where).constData(), 0500), 0);
            m_lockedFolder = where;
        } else {
            return;
        }
        rawPath = where + u"/s01.raw"_s;
        return;
    }
    case Folder::Full: {
        const QString where = m_dir->filePath(u"full"_s);
        rawPath = where + u"/s01.raw"_s;
        if (m_privateMounts) {
            mountTmpfs(where, "size=64k");
            QVERIFY(WriteBytes(rawPath, AcquisitionBytes));
            QFile filler(where + u"/filler"_s);
            QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
            const QByteArray block(4096, 'f');
            while (filler.write(block) > 0) {
            }
            // Room for one page: a write gets part of its text in, and the
            // file keeps that part.
            QVERIFY(filler.resize(filler.size() - block.size()));
        } else {
            // The full device would be refused as an output: it is no file.
            rawPath.clear();
        }
        return;
    }
    default: break;
    }
    const QString where = m_dir->filePath(u"outputs"_s);
    QVERIFY(QDir().mkpath(where));
    rawPath = where + u"/s01.raw"_s;
    QVERIFY(WriteBytes(rawPath, AcquisitionBytes));
    m_export = folder <= Folder::ExportLinksToOutput ? where + u"/s01.mzML"_s : QString();
    for (const QString &output : {QString(where + u"/s01.asc"_s), QString(where + u"/s01.opc"_s)}) {
        if (folder == Folder::OutputIsExport) {
            QVERIFY(WriteBytes(m_export, AcquisitionBytes) && QFile::link(m_export, output));
        } else if (folder == Folder::ExportLinksToOutput) {
            if (output.endsWith(u"asc"_s))
                QVERIFY(WriteBytes(output, AcquisitionBytes) && QFile::link(output, m_export));
        } else if (folder == Folder::Pipe) {
            QCOMPARE(mkfifo(QFile::encodeName(output + u".fifo"_s).constData(), 0600), 0);
            QVERIFY(QFile::link(output + u".fifo"_s, output));
        } else {
            QVERIFY(QFile::link(u"/dev/null"_s, output));
        }
    }
}

void TestWriteFailures::refusedFolder_data()
{
    QTest::addColumn<Folder>("folder");
    QTest::addColumn<Writer>("writer");
    QTest::addColumn<ErrorNumber>("number");
    QTest::addColumn<qint32>("count"); // what the component's Count reports, of 30 spectra

    const auto row = [](const char *name, Folder folder, Writer writer, ErrorNumber number, qint32 count = 30) {
        QTest::newRow(name) << folder << writer << number << count;
    };
    row("missing folder, text file", Folder::Missing, Writer::TextFile, ErrorNumber::PathNotFound);
    row("missing folder, descriptor", Folder::Missing, Writer::Descriptor, ErrorNumber::PathNotFound);
    row("read-only folder, text file", Folder::ReadOnly, Writer::TextFile, ErrorNumber::PermissionDenied);
    row("read-only folder, descriptor", Folder::ReadOnly, Writer::Descriptor, ErrorNumber::PermissionDenied);
    row("full folder, text file", Folder::Full, Writer::TextFile, ErrorNumber::DeviceIO);
    row("full folder, descriptor", Folder::Full, Writer::Descriptor, ErrorNumber::DeviceIO);
    // The conversion only answers false: the number column plays no part.
    row("missing folder, conversion", Folder::Missing, Writer::Conversion, ErrorNumber::PathNotFound);
    row("read-only folder, conversion", Folder::ReadOnly, Writer::Conversion, ErrorNumber::PermissionDenied);
    row("full folder, conversion", Folder::Full, Writer::Conversion, ErrorNumber::DeviceIO);
    // Fewer spectra fail only when the file is closed, not while spectra
    // are still being written.
    row("full folder, conversion, Count 0", Folder::Full, Writer::Conversion, ErrorNumber::DeviceIO, 0);
    row("full folder, conversion, Count below 0", Folder::Full, Writer::Conversion, ErrorNumber::DeviceIO, -3);
    row("full folder, conversion, Count below the number of spectra", Folder::Full, Writer::Conversion,
        ErrorNumber::DeviceIO, 2);
    // Refused before anything is created: the output would empty the export
    // read, a pipe would block for ever, a device would keep nothing.
    row("output a link to the export, text file", Folder::OutputIsExport, Writer::TextFile,
        ErrorNumber::PermissionDenied);
    row("output a link to the export, descriptor", Folder::OutputIsExport, Writer::Descriptor,
        ErrorNumber::PermissionDenied);
    row("export a link to the output, conversion", Folder::ExportLinksToOutput, Writer::Conversion,
        ErrorNumber::PermissionDenied);
    row("output a link to a pipe, conversion", Folder::Pipe, Writer::Conversion, ErrorNumber::BadFileName);
    row("output a device, descriptor", Folder::Device, Writer::Descriptor, ErrorNumber::BadFileName);
}

// The writer fails clearly, the descriptor writer returns false with the
// document closed, and the acquisition is as it was.
void TestWriteFailures::refusedFolder()
{
    QFETCH(Folder, folder);
    QFETCH(Writer, writer);
    QFETCH(ErrorNumber, number);
    QFETCH(qint32, count);

    QString rawPath;
    prepare(folder, rawPath);
    if (QTest::currentTestFailed())
        return;
    if (rawPath.isEmpty())
        QSKIP("Running as root without a mount namespace of its own: no folder refuses root.");
    const bool acquisitionExists = QFile::exists(rawPath);
    FakeComponent component;
    if (!m_export.isEmpty())
        component.readFrom(rawPath, m_export);

    if (writer == Writer::TextFile) {
        std::optional<Error> failure;
        try {
            TextFileWriter asc = CreateOutputBeside(rawPath, u"asc"_s);
            for (int line = 0; line < 20000; ++line)
                asc.WriteLine("123.456\t7890.1"sv);
            asc.Close();
        } catch (const Error &error) {
            failure = error;
        }
        QVERIFY(failure);
        QCOMPARE(failure->number(), number);
        const QString ascPath = SiblingPath(rawPath, u"asc"_s);
        QVERIFY2(failure->description().contains(QDir::toNativeSeparators(ascPath)),
                 qPrintable(failure->description()));
        // The reason is the system's, even when part of a write went in.
        if (folder == Folder::Full)
            QVERIFY2(failure->description().endsWith(QString::fromLocal8Bit(strerror(ENOSPC))),
                     qPrintable(failure->description()));
    } else {
        FakeAcquisition acquisition = ExampleAcquisition();
        // Far more text than the full folder has room for, and more than
        // one write buffer: a write fails while spectra are still being read.
        // The sample name alone fills the room left, in either file.
        acquisition.sampleName = QString(5000, u'q');
        acquisition.spectra.assign(
            30, {u"full ms scan"_s, 1, std::vector<double>(20000, 123.456), std::vector<double>(20000, 7890.1)});
        acquisition.count = count;
        const QString roomyRawPath = m_dir->filePath(u"s01.raw"_s);
        component.add(rawPath, acquisition);
        component.add(roomyRawPath, acquisition);
        const auto write = [writer](const QString &path) {
            SampleHeader header;
            return writer == Writer::Descriptor ? WriteOpcFile(path) : ConvertRawFile(path, u"N"_s, header, 1.0);
        };
        const QString extension = writer == Writer::Descriptor ? u"opc"_s : u"asc"_s;
        const std::optional<bool> written = Within([&] { return write(rawPath); }, SiblingPath(rawPath, extension));
        QVERIFY2(written, "the writer waits on its output");
        QVERIFY(!*written);
        QCOMPARE(component.calls().last(), u"Close"_s);
        QCOMPARE(component.openDocuments(), 0);
        QCOMPARE(component.liveObjects(), 0);

        // What the failure leaves is the complete file cut short.
        QVERIFY(write(roomyRawPath));
        const QByteArray complete = ContentOf(SiblingPath(roomyRawPath, extension));
        if (writer == Writer::Conversion)
            QCOMPARE(complete.count("IntervalOfScan="), qBound(0, count, 30));
        const QString outputPath = SiblingPath(rawPath, extension);
        if (folder == Folder::Missing || folder == Folder::ReadOnly) {
            QVERIFY(!QFileInfo::exists(outputPath));
        } else if (folder == Folder::Full && m_privateMounts) { // the full device itself is never read
            const QByteArray partial = ContentOf(outputPath);
            QVERIFY(!partial.isEmpty() && partial.size() < complete.size());
            QVERIFY(complete.startsWith(partial));
        }
    }

    if (!m_export.isEmpty())
        QCOMPARE(ContentOf(m_export), AcquisitionBytes);
    if (acquisitionExists)
        QCOMPARE(ContentOf(rawPath), AcquisitionBytes);
    else
        QVERIFY(!QFileInfo::exists(QFileInfo(rawPath).path()));
}

// The full device, present on every Linux system, takes the opening but no
// byte: a writer that loses its output must say so.
void TestWriteFailures::fullDeviceFailsTheWrite()
{
    if (!QFileInfo::exists(u"/dev/full"_s))
        QSKIP("This system has no /dev/full.");
    TextFileWriter writer(u"/dev/full"_s);
    writer.WriteLine("a line that cannot be written"sv);
    try {
        writer.Close();
        QFAIL("no failure");
    } catch (const Error &error) {
        QCOMPARE(error.number(), ErrorNumber::DeviceIO);
        QVERIFY2(error.description().startsWith(u"Cannot write /dev/full: "_s), qPrintable(error.description()));
    }
}

// A spectrum formatted ahead of the writing thread arrives as one piece of
// any size: it must reach the file whole, not fail for want of buffer room.
void TestWriteFailures::pieceLargerThanTheBuffer()
{
    const QString path = m_dir->filePath(u"large.asc"_s);
    QByteArray piece(9 << 20, '\0');
    for (qsizetype i = 0; i < piece.size(); ++i)
        piece[i] = char('a' + i % 26);
    {
        TextFileWriter writer(path);
        writer.WriteLine("first"sv);
        writer.Write(std::string_view(piece.constData(), size_t(piece.size())));
        writer.EndLine();
        writer.Close();
    }
    QVERIFY(ContentOf(path) == "first\r\n" + piece + "\r\n");
}

QTEST_APPLESS_MAIN(TestWriteFailures)
#include "tst_writefailures.moc"
