#include "tests/fake/FakeComponent.h"

#include <new>

using namespace Qt::Literals::StringLiterals;

struct FakeComponent::State
{
    QHash<QString, FakeAcquisition> files;
    QHash<QString, QString> readFrom; // a RAW path and the other file it is read from
    QStringList calls;
    QString failingOperation;
    int failingCall = 0;
    ErrorNumber failingNumber = ErrorNumber::InvalidFileFormat;
    int openDocuments = 0;
    int liveObjects = 0;

    void call(const QString &operation)
    {
        calls.append(operation);
        if (operation != failingOperation || calls.count(operation) != failingCall)
            return;
        if (failingNumber == ErrorNumber::OutOfMemory)
            throw std::bad_alloc(); // as a reader does when memory runs out
        throw Error(failingNumber, FakeComponent::FailureDescription(operation, failingCall));
    }
};

namespace {

using State = FakeComponent::State;

// Base of every fake object: counts itself while alive.
class Tracked
{
public:
    explicit Tracked(std::shared_ptr<State> state) : m_state(std::move(state)) { ++m_state->liveObjects; }
    ~Tracked() { --m_state->liveObjects; }
    Tracked(const Tracked &) = delete;
    Tracked &operator=(const Tracked &) = delete;

protected:
    State &state() const { return *m_state; }
    const std::shared_ptr<State> &sharedState() const { return m_state; }

private:
    std::shared_ptr<State> m_state;
};

class FakeFileHeader : public FileHeaderInfo, Tracked
{
public:
    FakeFileHeader(std::shared_ptr<State> s, const FakeAcquisition &a) : Tracked(std::move(s)), m_a(a) {}
    double CreationDate() override
    {
        state().call(u"CreationDate"_s);
        return m_a.creationDate;
    }

private:
    const FakeAcquisition &m_a;
};

class FakeSampleInfo : public SampleInfoRecord, Tracked
{
public:
    FakeSampleInfo(std::shared_ptr<State> s, const FakeAcquisition &a) : Tracked(std::move(s)), m_a(a) {}
    QString Comment() override { return get(u"Comment"_s, m_a.comment); }
    QString InstrumentMethod() override { return get(u"InstrumentMethod"_s, m_a.instrumentMethod); }
    QString DataPath() override { return get(u"DataPath"_s, m_a.dataPath); }
    QString Position() override { return get(u"Position"_s, m_a.position); }
    QString SampleName() override { return get(u"SampleName"_s, m_a.sampleName); }
    QString UserText(int index) override { return get(u"UserText"_s, index == 1 ? m_a.userText1 : m_a.userText2); }

private:
    QString get(const QString &operation, const QString &value)
    {
        state().call(operation);
        return value;
    }
    const FakeAcquisition &m_a;
};

class FakeScanFilter : public ScanFilter, Tracked
{
public:
    FakeScanFilter(std::shared_ptr<State> s, QString text) : Tracked(std::move(s)), m_text(std::move(text)) {}
    QString Text() override
    {
        state().call(u"Text"_s);
        return m_text;
    }

private:
    QString m_text;
};

const FakeSpectrum &SpectrumOf(const FakeAcquisition &a, qint32 n)
{
    if (n < 1 || size_t(n) > a.spectra.size())
        throw Error(ErrorNumber::InvalidArgument, u"Fake component: no spectrum %1."_s.arg(n));
    return a.spectra[size_t(n) - 1];
}

class FakeFilters : public FilterCollection, Tracked
{
public:
    FakeFilters(std::shared_ptr<State> s, const FakeAcquisition &a) : Tracked(std::move(s)), m_a(a) {}
    std::unique_ptr<ScanFilter> ScanNumber(qint32 n) override
    {
        state().call(u"ScanNumber"_s);
        return std::make_unique<FakeScanFilter>(sharedState(), SpectrumOf(m_a, n).filter);
    }

private:
    const FakeAcquisition &m_a;
};

class FakeSpectrumData : public SpectrumData, Tracked
{
public:
    FakeSpectrumData(std::shared_ptr<State> s, const FakeSpectrum &sp) : Tracked(std::move(s)), m_spectrum(sp) {}
    SpectrumPoints Points() override
    {
        state().call(u"Points"_s);
        return {m_spectrum.masses, m_spectrum.intensities};
    }
    void PointsInRuns(const std::function<void(SpectrumPoints &)> &run) override
    {
        if (m_spectrum.runPoints == 0)
            return SpectrumData::PointsInRuns(run);
        const SpectrumPoints points = Points();
        for (size_t from = 0; from < points.masses.size(); from += m_spectrum.runPoints) {
            const size_t to = std::min(points.masses.size(), from + m_spectrum.runPoints);
            SpectrumPoints piece{
                {points.masses.begin() + qsizetype(from), points.masses.begin() + qsizetype(to)},
                {points.intensities.begin() + qsizetype(from), points.intensities.begin() + qsizetype(to)}};
            run(piece);
        }
    }

private:
    const FakeSpectrum &m_spectrum;
};

class FakeSpectra : public SpectrumCollection, Tracked
{
public:
    FakeSpectra(std::shared_ptr<State> s, const FakeAcquisition &a) : Tracked(std::move(s)), m_a(a) {}
    std::unique_ptr<SpectrumData> Item(qint32 n) override
    {
        state().call(u"Item"_s);
        return std::make_unique<FakeSpectrumData>(sharedState(), SpectrumOf(m_a, n));
    }
    qint32 Count() override
    {
        state().call(u"Count"_s);
        return m_a.count.value_or(qint32(m_a.spectra.size()));
    }
    double StartTime(qint32 n) override
    {
        state().call(u"StartTime"_s);
        return SpectrumOf(m_a, n).startTime;
    }

private:
    const FakeAcquisition &m_a;
};

class FakeDetector : public DetectorChannel, Tracked
{
public:
    FakeDetector(std::shared_ptr<State> s, const FakeAcquisition &a) : Tracked(std::move(s)), m_a(a) {}
    std::unique_ptr<FilterCollection> Filters() override
    {
        state().call(u"Filters"_s);
        return std::make_unique<FakeFilters>(sharedState(), m_a);
    }
    std::unique_ptr<SpectrumCollection> Spectra(int) override
    {
        state().call(u"Spectra"_s);
        return std::make_unique<FakeSpectra>(sharedState(), m_a);
    }

private:
    const FakeAcquisition &m_a;
};

class FakeDocument : public RawFileDocument, Tracked
{
public:
    using Tracked::Tracked;
    ~FakeDocument() override
    {
        if (m_open)
            --state().openDocuments;
    }
    void Close() override
    {
        state().call(u"Close"_s);
        if (m_open)
            --state().openDocuments;
        m_open = false;
    }
    void Open(const QString &path) override
    {
        state().call(u"Open"_s);
        const auto found = state().files.constFind(path);
        if (found == state().files.cend())
            throw Error(ErrorNumber::FileNotFound, u"Fake component: no file %1."_s.arg(path));
        m_acquisition = &found.value();
        m_open = true;
        ++state().openDocuments;
    }
    std::unique_ptr<FileHeaderInfo> FileHeader() override
    {
        state().call(u"FileHeader"_s);
        return std::make_unique<FakeFileHeader>(sharedState(), acquisition());
    }
    std::unique_ptr<SampleInfoRecord> SampleInfo() override
    {
        state().call(u"SampleInfo"_s);
        return std::make_unique<FakeSampleInfo>(sharedState(), acquisition());
    }
    std::unique_ptr<DetectorChannel> Detector(int, int) override
    {
        state().call(u"Detector"_s);
        return std::make_unique<FakeDetector>(sharedState(), acquisition());
    }

private:
    const FakeAcquisition &acquisition() const
    {
        if (!m_acquisition)
            throw Error(ErrorNumber::InvalidArgument, u"Fake component: document not open."_s);
        return *m_acquisition;
    }
    const FakeAcquisition *m_acquisition = nullptr;
    bool m_open = false;
};

} // namespace

FakeAcquisition ExampleAcquisition()
{
    FakeAcquisition a;
    a.creationDate = 38061.43283564815;
    a.comment = u" QC run, blank "_s;
    a.instrumentMethod = u"C:\\methods\\lipids.meth"_s;
    a.dataPath = u"D:\\results\\run7"_s;
    a.position = u"12"_s;
    a.sampleName = u"QC-3"_s;
    a.userText1 = u"analyst"_s;
    a.userText2 = u"Orbit 2"_s;
    return a;
}

QStringList ReadSampleHeaderCalls()
{
    return {u"CreateRawFileDocument"_s,
            u"Open"_s,
            u"SampleInfo"_s,
            u"Position"_s,
            u"SampleName"_s,
            u"Comment"_s,
            u"InstrumentMethod"_s,
            u"UserText"_s,
            u"UserText"_s,
            u"FileHeader"_s,
            u"CreationDate"_s,
            u"DataPath"_s,
            u"Close"_s};
}

QByteArray ExampleOpcFile()
{
    return "TuneDate = \r\n"
           "Batch = run7.b\r\n"
           "AlsBottle = 12\r\n"
           "Method = lipids.M\r\n"
           "DilFactor = \r\n"
           "Amount = \r\n"
           "Operator = analyst\r\n"
           "LabSmpID = QC-3\r\n"
           "ClientSmpID = QC-3\r\n"
           "QCType = \r\n"
           "SpikeFile = \r\n"
           "SubList = \r\n"
           "SampleType = \r\n"
           "CalLevel = \r\n"
           "SpikeRecMode = \r\n"
           "SpikeSample = \r\n"
           "SampleInfo = QC-3\r\n"
           "Ws = \r\n"
           "Vt = \r\n"
           "Data Path = D:\\results\\run7\r\n"
           "Batchname = run7.b\r\n"
           "batchnme = run7\r\n";
}

FakeComponent::FakeComponent() : m_state(std::make_shared<State>())
{
    CreateRawFileDocument.replace([state = m_state]() -> std::unique_ptr<RawFileDocument> {
        state->call(u"CreateRawFileDocument"_s);
        return std::make_unique<FakeDocument>(state);
    });
    FilesReadFor.replace([state = m_state](const QString &rawPath) {
        QStringList files{rawPath};
        if (state->readFrom.contains(rawPath))
            files.append(state->readFrom.value(rawPath));
        return files;
    });
}

FakeComponent::~FakeComponent()
{
    FilesReadFor.replace({});
    CreateRawFileDocument.replace({});
}

void FakeComponent::readFrom(const QString &rawPath, const QString &file)
{
    m_state->readFrom.insert(rawPath, file);
}

void FakeComponent::add(const QString &path, FakeAcquisition acquisition)
{
    m_state->files.insert(path, std::move(acquisition));
}

void FakeComponent::remove(const QString &path)
{
    m_state->files.remove(path);
}

void FakeComponent::failAt(const QString &operation, int call, ErrorNumber number)
{
    m_state->failingOperation = operation;
    m_state->failingCall = call;
    m_state->failingNumber = number;
}

QString FakeComponent::FailureDescription(const QString &operation, int call)
{
    return u"Fake component: %1 failed at call %2."_s.arg(operation).arg(call);
}

const QStringList &FakeComponent::calls() const
{
    return m_state->calls;
}
int FakeComponent::count(const QString &operation) const
{
    return int(m_state->calls.count(operation));
}
void FakeComponent::clearCalls()
{
    m_state->calls.clear();
}
int FakeComponent::openDocuments() const
{
    return m_state->openDocuments;
}
int FakeComponent::liveObjects() const
{
    return m_state->liveObjects;
}
