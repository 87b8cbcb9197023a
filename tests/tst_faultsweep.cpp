#include "convert/AscConversion.h"
#include "convert/OpcDescriptor.h"
#include "convert/SampleHeader.h"
#include "convert/modAPI.h"
#include "tests/fake/FakeComponent.h"
#include "tests/fake/FaultSweep.h"
#include "tests/fake/ScopedReplacement.h"
#include "tests/fake/TestFiles.h"

#include <QTemporaryDir>
#include <QTest>

#include <optional>

using namespace Qt::Literals::StringLiterals;

// Every component call of each procedure made to fail in turn, each outcome
// held against the failure rules: readers pass the failure on unchanged,
// writers return false with exactly the lines before the failure in the file.
class TestFaultSweep : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void readSampleHeader();
    void writeOpcFile();
    void convertRawFile();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<ScopedReplacement<void(const QString &, const QString &)>> m_messages;
    int m_messagesShown = 0;
};

static FakeAcquisition Representative()
{
    FakeAcquisition a = ExampleAcquisition();
    // One spectrum of each section, for the writers that read spectra.
    a.spectra = {{u"positive full ms scan"_s, 0.5, {100.5, 200.25}, {10, 0}},
                 {u"positive SIM scan"_s, 0.75, {305.125}, {42}}};
    return a;
}

// The first count lines of a CR LF text.
static QByteArray FirstLines(const QByteArray &text, int count)
{
    qsizetype end = 0;
    for (int line = 0; line < count; ++line)
        end = text.indexOf("\r\n", end) + 2;
    return text.first(end);
}

void TestFaultSweep::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_messagesShown = 0;
    m_messages = std::make_unique<ScopedReplacement<void(const QString &, const QString &)>>(
        modAPI::ShowInformation, [this](const QString &, const QString &) { ++m_messagesShown; });
}

void TestFaultSweep::cleanup()
{
    m_messages.reset();
    m_dir.reset();
}

void TestFaultSweep::readSampleHeader()
{
    const QString rawPath = m_dir->filePath(u"s01.raw"_s);
    const auto prepare = [&](FakeComponent &component) { component.add(rawPath, Representative()); };
    const auto run = [&]() -> std::optional<Error> {
        try {
            ReadSampleHeader(rawPath);
            return std::nullopt;
        } catch (const Error &error) {
            return error;
        }
    };
    const auto check = [&](const FaultCase &fault, FakeComponent &component, std::optional<Error> failure) {
        QCOMPARE(failure.has_value(), !fault.none());
        if (failure) {
            QCOMPARE(failure->number(), InjectedErrorNumber);
            QCOMPARE(failure->description(), FakeComponent::FailureDescription(fault.operation, fault.call));
            QCOMPARE(component.calls().size(), fault.position + 1);
        }
        QCOMPARE(component.liveObjects(), 0);
    };
    QCOMPARE(SweepFaults(prepare, run, check).size(), 13);
    QCOMPARE(m_messagesShown, 0);
}

// The line whose value a read is for, in read order.
static const QList<std::pair<QString, int>> LineOfRead{
    {u"DataPath"_s, 2},  {u"Position"_s, 3},   {u"InstrumentMethod"_s, 4}, {u"InstrumentMethod"_s, 4},
    {u"UserText"_s, 7},  {u"SampleName"_s, 8}, {u"SampleName"_s, 9},       {u"SampleName"_s, 17},
    {u"DataPath"_s, 20}, {u"DataPath"_s, 21},  {u"DataPath"_s, 22}};

// How many lines stay in the descriptor after the fault: none for a fault
// before the file is created (an old file stays as it was), all 22 for one
// after the last line.
static std::optional<int> LinesBefore(const FaultCase &fault)
{
    int seen = 0;
    for (const auto &[operation, line] : LineOfRead)
        if (operation == fault.operation && ++seen == fault.call)
            return line - 1;
    if (fault.operation == u"Close"_s)
        return 22;
    return std::nullopt;
}

void TestFaultSweep::writeOpcFile()
{
    const QString rawPath = m_dir->filePath(u"s01.raw"_s);
    const QString opcPath = m_dir->filePath(u"s01.opc"_s);
    const QByteArray oldDescriptor = "from an earlier run\r\n";
    QByteArray complete;
    qsizetype openAt = 0;

    const auto prepare = [&](FakeComponent &component) {
        component.add(rawPath, Representative());
        QVERIFY(WriteBytes(opcPath, oldDescriptor));
    };
    const auto run = [&] { return WriteOpcFile(rawPath); };
    const auto check = [&](const FaultCase &fault, FakeComponent &component, bool written) {
        QCOMPARE(written, fault.none());
        if (fault.none()) {
            complete = ContentOf(opcPath);
            openAt = component.calls().indexOf(u"Open"_s);
            QCOMPARE(complete.count("\r\n"), 22);
        } else {
            const std::optional<int> lines = LinesBefore(fault);
            QCOMPARE(ContentOf(opcPath), lines ? FirstLines(complete, *lines) : oldDescriptor);
        }
        // Once open, the document is closed again on every path.
        const bool opened = fault.none() || fault.position > openAt;
        QCOMPARE(component.calls().last() == u"Close"_s, opened);
        QCOMPARE(component.openDocuments(), 0);
        QCOMPARE(component.liveObjects(), 0);
        QCOMPARE(m_messagesShown, 0);
    };
    QCOMPARE(SweepFaults(prepare, run, check).size(), 15);
}

// A fault during the spectra leaves a whole-line prefix of the complete file
// that grows with the fault's position; a fault at the k-th StartTime leaves
// k - 1 spectrum blocks begun, one at the k-th Item or Points leaves k.
void TestFaultSweep::convertRawFile()
{
    const QString rawPath = m_dir->filePath(u"s01.raw"_s);
    const QString ascPath = m_dir->filePath(u"s01.asc"_s);
    const QByteArray oldOutput = "from an earlier run\r\n";
    QByteArray complete;
    qsizetype headerReadEnd = 0;
    qsizetype linesSoFar = 0;

    const auto prepare = [&](FakeComponent &component) {
        component.add(rawPath, Representative());
        QVERIFY(WriteBytes(ascPath, oldOutput));
    };
    const auto run = [&] {
        SampleHeader header;
        return ConvertRawFile(rawPath, u"N"_s, header, 1.0);
    };
    const auto check = [&](const FaultCase &fault, FakeComponent &component, bool written) {
        QCOMPARE(written, fault.none());
        // The failure is kept whole for batch mode to tell.
        const std::optional<Error> failure = LastConversionFailure();
        QCOMPARE(failure.has_value(), !fault.none());
        if (failure)
            QCOMPARE(failure->description(), FakeComponent::FailureDescription(fault.operation, fault.call));
        const QByteArray content = ContentOf(ascPath);
        if (fault.none()) {
            complete = content;
            headerReadEnd = component.calls().indexOf(u"Close"_s);
            QCOMPARE(complete.count("IntervalOfScan="), 2);
        } else if (fault.position <= headerReadEnd) {
            QCOMPARE(content, oldOutput); // the header is read before the file is made
        } else {
            QVERIFY(complete.startsWith(content) && content.endsWith("\r\n"));
            QVERIFY(content.count("\r\n") >= qMax<qsizetype>(8, linesSoFar));
            linesSoFar = content.count("\r\n");
            const qsizetype blocks = content.count("IntervalOfScan=");
            if (fault.operation == u"StartTime"_s)
                QCOMPARE(blocks, fault.call - 1);
            if (fault.operation == u"Item"_s || fault.operation == u"Points"_s)
                QCOMPARE(blocks, fault.call);
        }
        QCOMPARE(component.openDocuments(), 0);
        QCOMPARE(component.liveObjects(), 0);
        QCOMPARE(m_messagesShown, fault.none() ? 1 : 0);
        m_messagesShown = 0;
    };
    SweepFaults(prepare, run, check);
}

QTEST_APPLESS_MAIN(TestFaultSweep)
#include "tst_faultsweep.moc"
