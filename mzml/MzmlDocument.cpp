#include "mzml/MzmlDocument.h"

#include "convert/DateValue.h"
#include "convert/Errors.h"
#include "mzml/AcquisitionFile.h"
#include "mzml/DecodeAhead.h"
#include "mzml/FileWindow.h"
#include "mzml/LargeSpectrum.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlSpectrum.h"
#include "mzml/MzmlSpectrumIndex.h"

#include <array>
#include <mutex>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

Error NoAcquisitionOpen()
{
    return Error(ErrorNumber::InvalidArgument, u"No acquisition is open."_s);
}

// What every object handed out by one document shares: the open file, its
// head and, once needed, its spectrum index and the decoding ahead of points.
struct MzmlFile : AcquisitionFile
{
    std::optional<SpectrumIndex> spectra;
    // The filter texts asked for lately, by number: a conversion asks for a
    // spectrum's text three times, and neighbours often share one, so a
    // text becomes a QString once for many askings.
    std::array<std::pair<qint32, QString>, 64> filterTexts = [] {
        std::array<std::pair<qint32, QString>, 64> none;
        none.fill({-1, QString()});
        return none;
    }();
    std::mutex spectraFileMutex;        // every read of the spectra's file, on any thread, holds it
    std::unique_ptr<DecodeAhead> ahead; // last: it reads the file and the index

    // Stops the decoding ahead before the file (and any copy) goes.
    void close()
    {
        ahead.reset();
        AcquisitionFile::close();
    }

    // Runs work on the open document; a fault becomes an Error naming the
    // file and, when given, spectrum n.
    template <typename Work>
    decltype(auto) reading(Work &&work, qint64 n = 0)
    {
        if (!isOpen())
            throw NoAcquisitionOpen();
        try {
            return work();
        } catch (MzmlFault &fault) {
            if (fault.spectrum == 0)
                fault.spectrum = n;
            throw error(fault);
        }
    }

    const SpectrumIndex &allSpectra()
    {
        return reading([this]() -> const SpectrumIndex & {
            if (!spectra)
                spectra = readSpectra();
            return *spectra;
        });
    }

    QString filterText(const SpectrumEntry &entry, qint32 n)
    {
        if (entry.filter == FilterTable::Unkept)
            return reading(
                [&] {
                    SharedFileSource source(spectraFile(), spectraFileMutex, entry.offset);
                    return QString::fromUtf8(FilterTextAt(source, entry.offset, head));
                },
                n);
        std::pair<qint32, QString> &known = filterTexts[size_t(entry.filter) % filterTexts.size()];
        if (known.first != entry.filter)
            known = {entry.filter, spectra->filterOf(entry)};
        return known.second;
    }

    SpectrumEntry spectrum(qint32 n)
    {
        const SpectrumEntries &entries = allSpectra().entries;
        if (n < 1 || size_t(n) > entries.size())
            throw FileError(ErrorNumber::InvalidArgument, path,
                            u"there is no spectrum %1; the acquisition holds %2"_s.arg(n).arg(entries.size()));
        return entries[size_t(n) - 1];
    }
};

using SharedFile = std::shared_ptr<MzmlFile>;

class MzmlFileHeader : public FileHeaderInfo
{
public:
    explicit MzmlFileHeader(SharedFile file) : m_file(std::move(file)) {}

    double CreationDate() override
    {
        return m_file->reading([this] {
            if (!m_file->head.startTimeStamp)
                return 0.0;
            const QString text = m_file->head.startTimeStamp->trimmed();
            // Without a zone designator the stamp is the local wall clock as
            // it stands, even in the hour that a spring change skips: it is
            // read as if it were UTC, where every date and time exists.
            const QDateTime wallClock = QDateTime::fromString(text + u'Z', Qt::ISODateWithMs);
            if (wallClock.isValid())
                return DateValueOfDateTime(wallClock.date(), wallClock.time());
            const QDateTime stamp = QDateTime::fromString(text, Qt::ISODateWithMs);
            if (!stamp.isValid())
                throw MzmlFault{u"the run's startTimeStamp \"%1\" is not a date and time"_s.arg(ShownValue(text))};
            const QDateTime local = stamp.toLocalTime();
            return DateValueOfDateTime(local.date(), local.time());
        });
    }

private:
    SharedFile m_file;
};

class MzmlSampleInfo : public SampleInfoRecord
{
public:
    explicit MzmlSampleInfo(SharedFile file) : m_file(std::move(file)) {}

    QString Comment() override { return userParam(SampleText::Comment); }
    QString InstrumentMethod() override { return userParam(SampleText::InstrumentMethod); }
    QString DataPath() override
    {
        return m_file->reading([this] {
            const std::optional<QString> recorded = sample() ? sample()->texts[SampleText::DataPath] : std::nullopt;
            return recorded.value_or(m_file->head.sourceFolder);
        });
    }
    QString Position() override { return userParam(SampleText::Position); }
    QString SampleName() override
    {
        return m_file->reading([this] { return sample() ? sample()->name : QString(); });
    }
    QString UserText(int index) override
    {
        if (index != 1 && index != 2)
            throw Error(ErrorNumber::InvalidArgument, u"There is no user text %1."_s.arg(index));
        return userParam(index == 1 ? SampleText::UserText1 : SampleText::UserText2);
    }

private:
    const std::optional<MzmlSample> &sample() const { return m_file->head.sample; }

    QString userParam(SampleText text)
    {
        return m_file->reading([&] { return sample() ? sample()->texts[text].value_or(QString()) : QString(); });
    }

    SharedFile m_file;
};

class MzmlScanFilter : public ScanFilter
{
public:
    explicit MzmlScanFilter(QString text) : m_text(std::move(text)) {}
    QString Text() override { return m_text; }

private:
    QString m_text;
};

class MzmlFilters : public FilterCollection
{
public:
    explicit MzmlFilters(SharedFile file) : m_file(std::move(file)) {}

    std::unique_ptr<ScanFilter> ScanNumber(qint32 n) override
    {
        const SpectrumEntry &entry = m_file->spectrum(n);
        return std::make_unique<MzmlScanFilter>(m_file->filterText(entry, n));
    }

private:
    SharedFile m_file;
};

class MzmlSpectrumData : public SpectrumData
{
public:
    MzmlSpectrumData(SharedFile file, qint32 n) : m_file(std::move(file)), m_n(n) {}

    SpectrumPoints Points() override
    {
        m_file->spectrum(m_n);
        return m_file->reading(
            [this] {
                if (!m_file->ahead)
                    m_file->ahead = std::make_unique<DecodeAhead>(m_file->spectraFile(), m_file->spectraFileMutex,
                                                                  m_file->head, *m_file->spectra);
                return m_file->ahead->Points(m_n);
            },
            m_n);
    }

    void PointsInRuns(const std::function<void(SpectrumPoints &)> &run) override
    {
        const SpectrumEntry &entry = m_file->spectrum(m_n);
        const std::optional<ArrayPlaces> places = entry.places();
        if (DecodesInPieces(entry.declaredLength(), places)
            && m_file->reading(
                [&] {
                    return DecodeSpectrumInPieces(m_file->spectraFile(), m_file->spectraFileMutex, entry.arraysStart(),
                                                  entry.arraysEnd(), entry.declaredLength(), *places, run);
                },
                m_n))
            return;
        SpectrumData::PointsInRuns(run);
    }

private:
    SharedFile m_file;
    qint32 m_n;
};

class MzmlSpectra : public SpectrumCollection
{
public:
    explicit MzmlSpectra(SharedFile file) : m_file(std::move(file)) {}

    std::unique_ptr<SpectrumData> Item(qint32 n) override
    {
        m_file->spectrum(n);
        return std::make_unique<MzmlSpectrumData>(m_file, n);
    }

    qint32 Count() override { return qint32(qMin<size_t>(m_file->allSpectra().entries.size(), INT32_MAX)); }

    double StartTime(qint32 n) override
    {
        const SpectrumEntry &entry = m_file->spectrum(n);
        if (!entry.startTimeFault())
            return entry.startTime;
        return m_file->reading(
            [&]() -> double {
                SharedFileSource source(m_file->spectraFile(), m_file->spectraFileMutex, entry.offset);
                throw StartTimeFault(source, entry.offset, m_file->head);
            },
            n);
    }

private:
    SharedFile m_file;
};

class MzmlDetector : public DetectorChannel
{
public:
    explicit MzmlDetector(SharedFile file) : m_file(std::move(file)) {}
    std::unique_ptr<FilterCollection> Filters() override { return std::make_unique<MzmlFilters>(m_file); }
    std::unique_ptr<SpectrumCollection> Spectra(int) override { return std::make_unique<MzmlSpectra>(m_file); }

private:
    SharedFile m_file;
};

class MzmlDocument : public RawFileDocument
{
public:
    // Objects still held fail from now on instead of reading a closed file,
    // and a decompressed copy goes at once. Neither the file nor a thread
    // outlives the document, even when objects taken from it do.
    ~MzmlDocument() override { Close(); }

    void Close() override
    {
        if (m_file)
            m_file->close();
        m_file.reset();
    }

    void Open(const QString &path) override
    {
        Close();
        auto file = std::make_shared<MzmlFile>();
        OpenAcquisitionFile(*file, path);
        m_file = std::move(file);
    }

    std::unique_ptr<FileHeaderInfo> FileHeader() override { return std::make_unique<MzmlFileHeader>(open()); }
    std::unique_ptr<SampleInfoRecord> SampleInfo() override { return std::make_unique<MzmlSampleInfo>(open()); }
    std::unique_ptr<DetectorChannel> Detector(int, int) override { return std::make_unique<MzmlDetector>(open()); }

private:
    const SharedFile &open() const
    {
        if (!m_file)
            throw NoAcquisitionOpen();
        return m_file;
    }

    SharedFile m_file;
};

} // namespace

std::unique_ptr<RawFileDocument> CreateMzmlDocument()
{
    return std::make_unique<MzmlDocument>();
}

void InstallMzmlReader()
{
    CreateRawFileDocument.install(CreateMzmlDocument);
    FilesReadFor.install(AcquisitionFilesFor);
}
