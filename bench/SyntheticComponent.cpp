#include "bench/SyntheticComponent.h"

#include <QRandomGenerator>

#include <cmath>

using namespace Qt::Literals::StringLiterals;

struct SyntheticComponent::Patterns
{
    SyntheticAcquisition acquisition;
    std::vector<SpectrumPoints> points;

    const SpectrumPoints &of(qint32 n) const { return points[size_t(n) % points.size()]; }
    bool isSim(qint32 n) const { return n % acquisition.simEvery == 0; }
};

namespace {

using Patterns = SyntheticComponent::Patterns;
constexpr int PatternCount = 61;

// Centroided spectra as an instrument gives them: rising masses with
// irregular gaps, intensities over six decades, about one point in eight at 0.
SpectrumPoints Pattern(QRandomGenerator &random, int points)
{
    SpectrumPoints pattern;
    double mass = 50 + 50 * random.generateDouble();
    for (int j = 0; j < points; ++j) {
        mass += 0.002 + 1.5 * random.generateDouble();
        pattern.masses.push_back(mass);
        pattern.intensities.push_back(random.bounded(8) == 0 ? 0.0 : std::pow(10.0, 1 + 6 * random.generateDouble()));
    }
    return pattern;
}

class Filter : public ScanFilter
{
public:
    explicit Filter(bool sim) : m_sim(sim) {}
    QString Text() override { return m_sim ? u"+ c ESI SIM [445.00-446.00]"_s : u"+ p ESI Full ms [100.00-2000.00]"_s; }

private:
    bool m_sim;
};

class Filters : public FilterCollection
{
public:
    explicit Filters(std::shared_ptr<const Patterns> p) : m_p(std::move(p)) {}
    std::unique_ptr<ScanFilter> ScanNumber(qint32 n) override { return std::make_unique<Filter>(m_p->isSim(n)); }

private:
    std::shared_ptr<const Patterns> m_p;
};

class Spectrum : public SpectrumData
{
public:
    explicit Spectrum(const SpectrumPoints &points) : m_points(points) {}
    SpectrumPoints Points() override { return m_points; }

private:
    const SpectrumPoints &m_points;
};

class Spectra : public SpectrumCollection
{
public:
    explicit Spectra(std::shared_ptr<const Patterns> p) : m_p(std::move(p)) {}
    std::unique_ptr<SpectrumData> Item(qint32 n) override { return std::make_unique<Spectrum>(m_p->of(n)); }
    qint32 Count() override { return m_p->acquisition.spectra; }
    double StartTime(qint32 n) override { return n * 0.0123; }

private:
    std::shared_ptr<const Patterns> m_p;
};

class Detector : public DetectorChannel
{
public:
    explicit Detector(std::shared_ptr<const Patterns> p) : m_p(std::move(p)) {}
    std::unique_ptr<FilterCollection> Filters() override { return std::make_unique<::Filters>(m_p); }
    std::unique_ptr<SpectrumCollection> Spectra(int) override { return std::make_unique<::Spectra>(m_p); }

private:
    std::shared_ptr<const Patterns> m_p;
};

class Header : public FileHeaderInfo
{
public:
    double CreationDate() override { return 45000.5; }
};

class SampleInfo : public SampleInfoRecord
{
public:
    QString Comment() override { return u"synthetic"_s; }
    QString InstrumentMethod() override { return u"C:\\methods\\bench.meth"_s; }
    QString DataPath() override { return u"C:\\data"_s; }
    QString Position() override { return u"1"_s; }
    QString SampleName() override { return u"bench"_s; }
    QString UserText(int index) override { return index == 1 ? u"operator"_s : u"instrument"_s; }
};

class Document : public RawFileDocument
{
public:
    explicit Document(std::shared_ptr<const Patterns> p) : m_p(std::move(p)) {}
    void Close() override {}
    void Open(const QString &) override {}
    std::unique_ptr<FileHeaderInfo> FileHeader() override { return std::make_unique<Header>(); }
    std::unique_ptr<SampleInfoRecord> SampleInfo() override { return std::make_unique<::SampleInfo>(); }
    std::unique_ptr<DetectorChannel> Detector(int, int) override { return std::make_unique<::Detector>(m_p); }

private:
    std::shared_ptr<const Patterns> m_p;
};

} // namespace

SyntheticComponent::SyntheticComponent(const SyntheticAcquisition &acquisition)
{
    auto patterns = std::make_shared<Patterns>();
    patterns->acquisition = acquisition;
    QRandomGenerator random(1234);
    for (int i = 0; i < PatternCount; ++i)
        patterns->points.push_back(Pattern(random, acquisition.points));
    m_patterns = std::move(patterns);
    CreateRawFileDocument.replace(
        [p = m_patterns]() -> std::unique_ptr<RawFileDocument> { return std::make_unique<Document>(p); });
}

SyntheticComponent::~SyntheticComponent()
{
    CreateRawFileDocument.replace({});
}

qint64 SyntheticComponent::writtenPoints() const
{
    qint64 total = 0;
    for (qint32 n = 1; n <= m_patterns->acquisition.spectra; ++n) {
        for (const double intensity : m_patterns->of(n).intensities)
            total += intensity > 0 ? 1 : 0;
    }
    return total;
}
