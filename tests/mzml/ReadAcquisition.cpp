#include "tests/mzml/ReadAcquisition.h"

#include "convert/Errors.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

FakeAcquisition ReadAcquisition(const QString &path)
{
    FakeAcquisition a;
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(path);
    const std::unique_ptr<SampleInfoRecord> sample = document->SampleInfo();
    a.position = sample->Position();
    a.sampleName = sample->SampleName();
    a.comment = sample->Comment();
    a.instrumentMethod = sample->InstrumentMethod();
    a.userText1 = sample->UserText(1);
    a.userText2 = sample->UserText(2);
    a.creationDate = document->FileHeader()->CreationDate();
    a.dataPath = sample->DataPath();
    const std::unique_ptr<DetectorChannel> detector = document->Detector(0, 1);
    const std::unique_ptr<SpectrumCollection> spectra = detector->Spectra(0);
    const qint32 count = spectra->Count();
    for (qint32 n = 1; n <= count; ++n) {
        FakeSpectrum spectrum;
        spectrum.filter = detector->Filters()->ScanNumber(n)->Text();
        spectrum.startTime = spectra->StartTime(n);
        // As the conversion asks for them: a large spectrum in runs.
        spectra->Item(n)->PointsInRuns([&](SpectrumPoints &run) {
            spectrum.masses.insert(spectrum.masses.end(), run.masses.begin(), run.masses.end());
            spectrum.intensities.insert(spectrum.intensities.end(), run.intensities.begin(), run.intensities.end());
        });
        a.spectra.push_back(std::move(spectrum));
    }
    document->Close();
    return a;
}

namespace {

// The same infinity, or NaN on both sides, is the same value read: damaged
// bytes can decode to either.
bool Near(double actual, double expected, Tolerance tolerance)
{
    if (std::isnan(actual) || std::isnan(expected) || std::isinf(expected))
        return std::isnan(actual) ? std::isnan(expected) : actual == expected;
    return std::fabs(actual - expected) <= tolerance.absolute + tolerance.relative * std::fabs(expected);
}

QString ArrayDifference(const std::vector<double> &actual, const std::vector<double> &expected, Tolerance tolerance,
                        const QString &what)
{
    if (actual.size() != expected.size())
        return u"%1: %2 values, expected %3"_s.arg(what).arg(actual.size()).arg(expected.size());
    for (size_t i = 0; i < actual.size(); ++i)
        if (!Near(actual[i], expected[i], tolerance))
            return u"%1[%2]: %3, expected %4"_s.arg(what)
                .arg(i)
                .arg(actual[i], 0, 'g', 17)
                .arg(expected[i], 0, 'g', 17);
    return {};
}

} // namespace

QString DifferenceOf(const FakeAcquisition &actual, const FakeAcquisition &expected, Tolerance masses,
                     Tolerance intensities)
{
    const QStringList texts{actual.comment,    actual.instrumentMethod, actual.dataPath, actual.position,
                            actual.sampleName, actual.userText1,        actual.userText2};
    const QStringList expectedTexts{expected.comment,  expected.instrumentMethod, expected.dataPath,
                                    expected.position, expected.sampleName,       expected.userText1,
                                    expected.userText2};
    if (texts != expectedTexts)
        return u"sample texts: [%1], expected [%2]"_s.arg(texts.join(u'|'), expectedTexts.join(u'|'));
    if (!Near(actual.creationDate, expected.creationDate, {1e-9, 0}))
        return u"creation date %1, expected %2"_s.arg(actual.creationDate, 0, 'g', 17)
            .arg(expected.creationDate, 0, 'g', 17);
    if (actual.spectra.size() != expected.spectra.size())
        return u"%1 spectra, expected %2"_s.arg(actual.spectra.size()).arg(expected.spectra.size());
    for (size_t i = 0; i < actual.spectra.size(); ++i) {
        const FakeSpectrum &a = actual.spectra[i];
        const FakeSpectrum &e = expected.spectra[i];
        const QString where = u"spectrum %1"_s.arg(i + 1);
        if (a.filter != e.filter)
            return u"%1: filter \"%2\", expected \"%3\""_s.arg(where, a.filter, e.filter);
        if (!Near(a.startTime, e.startTime, {1e-12, 1e-12}))
            return u"%1: start time %2, expected %3"_s.arg(where)
                .arg(a.startTime, 0, 'g', 17)
                .arg(e.startTime, 0, 'g', 17);
        QString difference = ArrayDifference(a.masses, e.masses, masses, where + u" masses"_s);
        if (difference.isEmpty())
            difference = ArrayDifference(a.intensities, e.intensities, intensities, where + u" intensities"_s);
        if (!difference.isEmpty())
            return difference;
    }
    return {};
}

QString DifferenceOfFile(const QString &path, const FakeAcquisition &expected, Tolerance masses, Tolerance intensities)
{
    try {
        return DifferenceOf(ReadAcquisition(path), expected, masses, intensities);
    } catch (const Error &error) {
        return u"cannot read: "_s + error.description();
    }
}
