#include "examples/DemoAcquisition.h"

#include "convert/DateValue.h"
#include "tests/mzml/MzmlWriter.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// A small generator of its own, so the demo never changes with the library.
class Lcg
{
public:
    double next()
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return double(m_state >> 11) / double(1ULL << 53);
    }

private:
    quint64 m_state = 20240315;
};

FakeSpectrum Spectrum(const QString &filter, double minutes, double low, double high, int points, Lcg &random)
{
    FakeSpectrum spectrum{filter, minutes, {}, {}};
    for (int i = 0; i < points; ++i) {
        const double mass = low + (high - low) * (i + random.next()) / points;
        const double draw = random.next();
        // A tenth of the points carry no signal: the conversion leaves them out.
        const double intensity = draw < 0.1 ? 0.0 : std::round(std::pow(10.0, 2 + 5 * draw) * 10) / 10;
        spectrum.masses.push_back(std::round(mass * 1e5) / 1e5);
        spectrum.intensities.push_back(intensity);
    }
    return spectrum;
}

} // namespace

FakeAcquisition DemoAcquisition()
{
    FakeAcquisition a;
    a.creationDate = DateValueOfDateTime(QDate(2024, 3, 15), QTime(10, 23, 17));
    a.comment = u"QC mix 3, 10 µg/mL in 50% methanol"_s;
    a.instrumentMethod = u"C:\\methods\\lipid_screen_12min.meth"_s;
    a.dataPath = u"D:\\data\\2024\\03\\demo"_s;
    a.position = u"1:A,3"_s;
    a.sampleName = u"Demo QC mix 3"_s;
    a.userText1 = u"M. Keller"_s;
    a.userText2 = u"HRMS bench 2"_s;
    Lcg random;
    for (int cycle = 0; cycle < 9; ++cycle) {
        const double minutes = 0.25 + cycle * 1.2;
        a.spectra.push_back(Spectrum(u"+ p ESI Full ms [100.00-1000.00]"_s, minutes, 100, 1000, 60, random));
        a.spectra.push_back(Spectrum(u"+ p ESI SIM ms [445.00-455.00]"_s, minutes + 0.3, 445, 455, 20, random));
        a.spectra.push_back(
            Spectrum(u"+ c ESI d Full ms2 445.12@cid35.00 [120.00-460.00]"_s, minutes + 0.6, 120, 460, 30, random));
        a.spectra.push_back(Spectrum(u"+ c ESI SIM [520.00-530.00]"_s, minutes + 0.9, 520, 530, 12, random));
    }
    // Two that a filter text alone leaves out: none at all, and no points.
    a.spectra.push_back(Spectrum(QString(), 11.2, 100, 1000, 5, random));
    a.spectra.push_back(Spectrum(u"+ p ESI Full ms [100.00-1000.00]"_s, 11.5, 100, 1000, 0, random));
    return a;
}

void WriteDemoMzml(const QString &path)
{
    MzmlLayout layout;
    layout.intensities.precision = Precision::Float64;
    WriteMzml(path, DemoAcquisition(), layout);
}
