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
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

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

// One line of a spectrum block as the numbers it shows, checked already:
// a start time in seconds, or a point's mass and scaled intensity.
struct BlockLine
{
    double first;
    double second;
    bool startTime;
};

// The text of block lines.
class BlockLineFormatter
{
public:
    static constexpr qsizetype LineCapacity =
        qsizetype(2 * FixedFormatCapacity + 1 + TextFileWriter::LineEnd.size());

    explicit BlockLineFormatter(std::string_view separator) : m_threeDecimals(3, separator), m_points(separator) {}

    // Writes the line with its end at out (LineCapacity bytes of room).
    char *Format(char *out, const BlockLine &line) const
    {
        if (line.startTime) [[unlikely]] {
            out = std::copy(IntervalKey.begin(), IntervalKey.end(), out);
            out = m_threeDecimals.Format(out, line.first);
        } else {
            out = m_points.Format(out, line.first, line.second);
        }
        return std::copy(LineEnd.begin(), LineEnd.end(), out);
    }

private:
    static constexpr std::string_view IntervalKey = "IntervalOfScan=";
    static constexpr std::string_view LineEnd = TextFileWriter::LineEnd;

    const FixedFormatter m_threeDecimals;
    const PointFormatter m_points;
};

// Formats one batch of lines at a time on a thread of its own while the
// calling thread goes on reading spectra. Formatting cannot fail, so the
// thread never has anything to report but its text.
class FormattingThread
{
public:
    explicit FormattingThread(const BlockLineFormatter &formatter) : m_formatter(formatter) {}

    // Lets a batch that is under way finish.
    ~FormattingThread()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    FormattingThread(const FormattingThread &) = delete;
    FormattingThread &operator=(const FormattingThread &) = delete;

    // Waits for the batch started last and gives its text, once; it stays
    // until the next Start.
    std::string_view TakeText()
    {
        std::unique_lock lock(m_mutex);
        m_finished.wait(lock, [this] { return !m_busy; });
        return {m_text.data(), std::exchange(m_used, 0)};
    }

    // Takes the lines over, giving back the batch formatted before, and
    // formats them. Only after TakeText.
    void Start(std::vector<BlockLine> &lines)
    {
        m_lines.swap(lines);
        {
            const std::lock_guard lock(m_mutex);
            m_busy = true;
        }
        m_wake.notify_one();
    }

private:
    void Run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_busy || m_stop; });
            if (!m_busy)
                return;
            lock.unlock();
            Format();
            lock.lock();
            m_busy = false;
            m_finished.notify_one();
        }
    }

    void Format()
    {
        m_used = 0;
        for (const BlockLine &line : m_lines) {
            if (m_text.size() - m_used < size_t(BlockLineFormatter::LineCapacity))
                m_text.resize(2 * m_text.size() + size_t(BlockLineFormatter::LineCapacity));
            m_used = size_t(m_formatter.Format(m_text.data() + m_used, line) - m_text.data());
        }
    }

    const BlockLineFormatter &m_formatter;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    // Shared with the thread; the calling thread touches them only while
    // m_busy is false, the thread only while it is true.
    std::vector<BlockLine> m_lines;
    std::vector<char> m_text;
    size_t m_used = 0;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread{[this] { Run(); }}; // last: starts when all else is ready
};

// The lines of the spectrum blocks: this runs once for every point of the
// acquisition. Every check that can fail is made here, on the calling thread,
// before a line is taken; the text is made in batches on a second thread and
// written in order. So the lines before a failure, and only those, reach the
// output.
class SpectrumBlockWriter
{
public:
    // The decimal separator is encoded once for the whole file.
    SpectrumBlockWriter(TextFileWriter &output, double scaling)
        : SpectrumBlockWriter(output, scaling, EncodeText(DecimalSeparator()))
    {
    }

    // After a failure too, the lines taken before it are written out.
    ~SpectrumBlockWriter()
    {
        try {
            Flush();
        } catch (...) {
            // The conversion has failed already; a failed write adds nothing.
        }
    }

    SpectrumBlockWriter(const SpectrumBlockWriter &) = delete;
    SpectrumBlockWriter &operator=(const SpectrumBlockWriter &) = delete;

    void WriteStartTime(double minutes) { Take({Checked(minutes * 60, "a start time"), 0, true}); }

    // The points whose intensity is above 0, in point order.
    void WritePoints(const SpectrumPoints &points)
    {
        if (points.intensities.size() != points.masses.size())
            throw Error(ErrorNumber::InvalidFileFormat,
                        u"The spectrum holds %1 masses but %2 intensities."_s.arg(points.masses.size())
                            .arg(points.intensities.size()));
        for (size_t j = 0; j < points.masses.size(); ++j) {
            if (points.intensities[j] > 0)
                TakePoint(points.masses[j], points.intensities[j]);
        }
    }

    // Writes every line taken so far to the output, before other lines go there.
    void Flush()
    {
        m_output.Write(m_thread.TakeText());
        for (const BlockLine &line : m_taken) {
            char *at = m_output.Reserve(BlockLineFormatter::LineCapacity);
            m_output.Commit(m_formatter.Format(at, line));
        }
        m_taken.clear();
    }

private:
    // Lines handed to the thread at once: few hand-overs, little memory.
    static constexpr size_t BatchLines = 16384;

    SpectrumBlockWriter(TextFileWriter &output, double scaling, const QByteArray &separator)
        : m_output(output), m_scaling(scaling),
          m_formatter(std::string_view(separator.constData(), size_t(separator.size())))
    {
        m_taken.reserve(BatchLines);
    }

    void TakePoint(double mass, double intensity)
    {
        if (m_scaling == 0)
            throw Error(ErrorNumber::DivisionByZero, u"Division by zero: the scaling factor is 0."_s);
        const double scaled = Checked(intensity / m_scaling, "a scaled intensity");
        Take({Checked(mass, "a mass"), scaled, false});
    }

    void Take(const BlockLine &line)
    {
        m_taken.push_back(line);
        if (m_taken.size() == BatchLines) [[unlikely]] {
            // The batch before is written while this one is formatted.
            m_output.Write(m_thread.TakeText());
            m_thread.Start(m_taken);
            m_taken.clear();
        }
    }

    TextFileWriter &m_output;
    const double m_scaling;
    const BlockLineFormatter m_formatter;
    std::vector<BlockLine> m_taken; // not yet handed to the thread
    FormattingThread m_thread{m_formatter};
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
        blocks.Flush();
        if (both)
            output.WriteLine(std::string_view(" "));
    }
    if (sim) {
        if (both)
            output.WriteLine(std::string_view("StartDataSection"));
        WriteSection(acquisition, blocks, SimSearchText);
        blocks.Flush();
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
