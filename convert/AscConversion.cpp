#include "AscConversion.h"

#include "BatchMode.h"
#include "Errors.h"
#include "FixedFormat.h"
#include "RawFileAccess.h"
#include "RegionalSettings.h"
#include "TextFileWriter.h"
#include "modAPI.h"
#include "modTimeZone.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string_view>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr QStringView MsSearchText = u" ms ";
constexpr QStringView SimSearchText = u" SIM ";

QString InjectionTime(const QString &creationDateTime)
{
    return NumberToText(OleDateToEpochSeconds(TextToDate(creationDateTime)));
}

void WriteHeaderLines(TextFileWriter &output, const SampleHeader &header)
{
    output.WriteLine(u"TimeOfInjection="_s + header.TimeOfInjection);
    output.WriteLine(u"NameOfOperator="_s + header.NameOfOperator);
    output.WriteLine(u"NameOfInstrument="_s + header.NameOfInstrument);
    output.WriteLine(u"NameOfSample="_s + header.NameOfSample);
    output.WriteLine(u"NameOfMethod="_s + header.NameOfMethod);
    output.WriteLine(u"Description="_s + header.Description);
    output.WriteLine(u"VialNumber="_s + header.VialNumber);
    output.WriteLine(std::string_view(" "));
}

[[noreturn]] void FailOverflow(const char *what)
{
    throw Error(ErrorNumber::Overflow, u"Overflow in %1."_s.arg(QLatin1StringView(what)));
}

// A number that the program would write must be one: C++ arithmetic goes on
// silently with infinities where the division or product should have failed.
inline double Checked(double value, const char *what)
{
    if (!std::isfinite(value)) [[unlikely]]
        FailOverflow(what);
    return value;
}

// The lines of the spectrum blocks, formatted straight into the output's
// buffer: this runs once for every point of the acquisition.
class SpectrumBlockWriter
{
public:
    // The decimal separator is encoded once for the whole file.
    SpectrumBlockWriter(TextFileWriter &output, double scaling)
        : SpectrumBlockWriter(output, scaling, EncodeText(DecimalSeparator()))
    {
    }

    void WriteStartTime(double minutes)
    {
        const double seconds = Checked(minutes * 60, "a start time");
        char *at = m_output.Reserve(IntervalLineCapacity);
        at = std::copy(IntervalKey.begin(), IntervalKey.end(), at);
        at = m_threeDecimals.Format(at, seconds);
        m_output.Commit(std::copy(LineEnd.begin(), LineEnd.end(), at));
    }

    // The points whose intensity is above 0, in point order.
    void WritePoints(const SpectrumPoints &points)
    {
        if (points.intensities.size() != points.masses.size())
            throw Error(ErrorNumber::InvalidFileFormat,
                        u"The spectrum holds %1 masses but %2 intensities."_s.arg(points.masses.size())
                            .arg(points.intensities.size()));
        for (size_t j = 0; j < points.masses.size(); ++j) {
            if (points.intensities[j] > 0)
                WritePoint(points.masses[j], points.intensities[j]);
        }
    }

private:
    static constexpr std::string_view IntervalKey = "IntervalOfScan=";
    static constexpr std::string_view LineEnd = TextFileWriter::LineEnd;
    static constexpr qsizetype IntervalLineCapacity =
        qsizetype(IntervalKey.size() + FixedFormatCapacity + LineEnd.size());
    static constexpr qsizetype PointLineCapacity = qsizetype(2 * FixedFormatCapacity + 1 + LineEnd.size());

    SpectrumBlockWriter(TextFileWriter &output, double scaling, const QByteArray &separator)
        : m_output(output), m_scaling(scaling),
          m_threeDecimals(3, std::string_view(separator.constData(), size_t(separator.size()))),
          m_points(std::string_view(separator.constData(), size_t(separator.size())))
    {
    }

    void WritePoint(double mass, double intensity)
    {
        // Every value is checked before anything of the line is written.
        if (m_scaling == 0)
            throw Error(ErrorNumber::DivisionByZero, u"Division by zero: the scaling factor is 0."_s);
        const double scaled = Checked(intensity / m_scaling, "a scaled intensity");
        Checked(mass, "a mass");
        char *at = m_output.Reserve(PointLineCapacity);
        at = m_points.Format(at, mass, scaled);
        m_output.Commit(std::copy(LineEnd.begin(), LineEnd.end(), at));
    }

    TextFileWriter &m_output;
    const double m_scaling;
    const FixedFormatter m_threeDecimals;
    const PointFormatter m_points;
};

// The acquisition and the objects the conversion takes from it. After a
// failure an opened document is closed before everything is released.
class Acquisition
{
public:
    Acquisition() : m_document(CreateRawFileDocument()) {}

    ~Acquisition()
    {
        if (!m_open)
            return;
        try {
            m_document->Close();
        } catch (...) {
            // The conversion has failed already; this failure adds nothing.
        }
    }

    Acquisition(const Acquisition &) = delete;
    Acquisition &operator=(const Acquisition &) = delete;

    void Open(const QString &rawPath)
    {
        m_document->Open(rawPath);
        m_open = true;
        m_detector = m_document->Detector(0, 1);
        m_spectra = m_detector->Spectra(0);
    }

    void Close()
    {
        m_open = false;
        m_document->Close();
    }

    // Nothing is kept between passes: the component is asked again each time.
    qint32 Count() { return m_spectra->Count(); }
    bool HasFilterText(qint32 n, QStringView searchText)
    {
        return m_detector->Filters()->ScanNumber(n)->Text().contains(searchText);
    }

    SpectrumCollection &Spectra() { return *m_spectra; }

private:
    // Declared in the order of taking: released in the reverse order.
    std::unique_ptr<RawFileDocument> m_document;
    std::unique_ptr<DetectorChannel> m_detector;
    std::unique_ptr<SpectrumCollection> m_spectra;
    bool m_open = false;
};

bool HoldsSpectraOfKind(Acquisition &acquisition, QStringView searchText)
{
    const qint32 count = acquisition.Count();
    for (qint64 n = 1; n <= count; ++n) {
        if (acquisition.HasFilterText(qint32(n), searchText))
            return true;
    }
    return false;
}

void WriteSection(Acquisition &acquisition, SpectrumBlockWriter &blocks, QStringView searchText)
{
    const qint32 count = acquisition.Count();
    for (qint64 n = 1; n <= count; ++n) {
        if (!acquisition.HasFilterText(qint32(n), searchText))
            continue;
        blocks.WriteStartTime(acquisition.Spectra().StartTime(qint32(n)));
        blocks.WritePoints(acquisition.Spectra().Item(qint32(n))->Points());
    }
}

void WriteDataPart(TextFileWriter &output, Acquisition &acquisition, double scaling)
{
    const bool ms = HoldsSpectraOfKind(acquisition, MsSearchText);
    const bool sim = HoldsSpectraOfKind(acquisition, SimSearchText);
    const bool both = ms && sim;
    SpectrumBlockWriter blocks(output, scaling);
    if (ms) {
        if (both)
            output.WriteLine(std::string_view("StartDataSection"));
        WriteSection(acquisition, blocks, MsSearchText);
        if (both)
            output.WriteLine(std::string_view(" "));
    }
    if (sim) {
        if (both)
            output.WriteLine(std::string_view("StartDataSection"));
        WriteSection(acquisition, blocks, SimSearchText);
    }
}

void WriteAscFile(const QString &rawPath, const SampleHeader &header, double scaling)
{
    TextFileWriter output = CreateOutputBeside(rawPath, u"asc"_s);
    WriteHeaderLines(output, header);
    Acquisition acquisition;
    acquisition.Open(rawPath);
    WriteDataPart(output, acquisition, scaling);
    acquisition.Close();
    output.Close();
}

} // namespace

bool ConvertRawFile(const QString &rawPath, const QString &modeLetter, SampleHeader &header, double scaling)
{
    try {
        if (modeLetter == u"N")
            header = ReadSampleHeader(rawPath);
        header.TimeOfInjection = InjectionTime(header.CreationDateTime);
        WriteAscFile(rawPath, header, scaling);
        if (!BatchMode)
            modAPI::ShowInformation(u"Quorvane RAW file has been converted to ASCII text format"_s,
                                    u"Successful Conversion"_s);
        return true;
    } catch (...) {
        // The failure is not reported; what was written before it stays.
        return false;
    }
}
