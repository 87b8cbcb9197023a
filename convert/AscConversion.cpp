#include "convert/AscConversion.h"

#include "convert/BatchMode.h"
#include "convert/ConversionProgress.h"
#include "convert/Errors.h"
#include "convert/FixedFormat.h"
#include "convert/PathFunctions.h"
#include "convert/RawFileAccess.h"
#include "convert/RegionalSettings.h"
#include "convert/TextFileWriter.h"
#include "convert/modAPI.h"
#include "convert/modTimeZone.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Why the last conversion failed; none after a success.
std::optional<Error> LastFailure;
// What the user should know of the last conversion beyond its success.
std::optional<QString> LastNotice;

constexpr QStringView MsSearchText = u" ms ";
constexpr QStringView SimSearchText = u" SIM ";

QString InjectionTime(const QString &creationDateTime)
{
    return NumberToText(OleDateToEpochSeconds(TextToDate(creationDateTime)));
}

// A start time of -0 is no time before the injection: it is written without
// a sign. A failure names spectrum n of the acquisition at rawPath.
double StartSeconds(double minutes, const QString &rawPath, qint32 n)
{
    const double seconds = minutes * 60;
    if (!std::isfinite(seconds))
        FailOverflow("a start time", rawPath, n);
    return seconds == 0 ? 0.0 : seconds;
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

// A spectrum block as it goes to the file: the start time in seconds and the
// points, every value checked already. A spectrum handed out in runs has a
// block for each run, the start time on the first.
struct SpectrumBlock
{
    std::optional<double> seconds;
    SpectrumPoints points;
    std::vector<char> text; // its lines, when they are formatted already
};

// The text of a block that the calling thread formats itself, grown as needed.
class BlockText
{
public:
    explicit BlockText(std::vector<char> &text) : m_text(text) {}

    char *Reserve(qsizetype size)
    {
        if (m_text.size() - m_used < size_t(size))
            m_text.resize(2 * m_text.size() + size_t(size));
        return m_text.data() + m_used;
    }
    void Commit(char *end) { m_used = size_t(end - m_text.data()); }
    void Finish() { m_text.resize(m_used); }

private:
    std::vector<char> &m_text;
    size_t m_used = 0;
};

inline bool IsWritable(double value)
{
    // False for infinities and NaN; a comparison, so the loop below vectorises.
    return std::fabs(value) <= std::numeric_limits<double>::max();
}

// Makes every check that a point's line needs. On a failure the points are
// cut before the failing one, so that the lines before it can still be
// written, and the failure, naming spectrum n of the acquisition at
// rawPath, is thrown.
void CheckPoints(SpectrumPoints &points, double scaling, const QString &rawPath, qint32 n)
{
    const std::vector<double> &masses = points.masses;
    const std::vector<double> &intensities = points.intensities;
    if (intensities.size() != masses.size()) {
        const Error mismatch =
            FileError(ErrorNumber::InvalidFileFormat, rawPath,
                      u"it holds %1 masses but %2 intensities"_s.arg(masses.size()).arg(intensities.size()), n);
        points = {};
        throw mismatch;
    }
    // One pass without branches for the usual spectrum that has no fault;
    // a scaling of 0 gives infinities here too.
    bool faulty = false;
    for (size_t j = 0; j < masses.size(); ++j)
        faulty |= (intensities[j] > 0) & !(IsWritable(intensities[j] / scaling) & IsWritable(masses[j]));
    if (!faulty) [[likely]]
        return;
    size_t j = 0;
    while (!(intensities[j] > 0) || (IsWritable(intensities[j] / scaling) && IsWritable(masses[j])))
        ++j;
    const double intensity = intensities[j];
    points.masses.resize(j);
    points.intensities.resize(j);
    if (scaling == 0)
        throw Error(ErrorNumber::DivisionByZero, u"Division by zero: the scaling factor is 0."_s);
    FailOverflow(IsWritable(intensity / scaling) ? "a mass" : "a scaled intensity", rawPath, n);
}

// The text of spectrum blocks, formatted straight into the output's buffer:
// this runs once for every point of the acquisition.
class SpectrumBlockFormatter
{
public:
    // The decimal separator is encoded once for the whole file.
    explicit SpectrumBlockFormatter(double scaling) : SpectrumBlockFormatter(scaling, EncodeText(DecimalSeparator())) {}

    // The points whose intensity is above 0, in point order, after the start
    // time; output has Reserve and Commit as TextFileWriter has.
    template <typename Output>
    void Write(Output &output, const SpectrumBlock &block) const
    {
        if (block.seconds) {
            char *at = output.Reserve(IntervalLineCapacity);
            at = std::copy(IntervalKey.begin(), IntervalKey.end(), at);
            at = m_threeDecimals.Format(at, *block.seconds);
            output.Commit(std::copy(LineEnd.begin(), LineEnd.end(), at));
        }
        const std::vector<double> &masses = block.points.masses;
        const std::vector<double> &intensities = block.points.intensities;
        for (size_t j = 0; j < masses.size(); ++j) {
            if (!(intensities[j] > 0))
                continue;
            char *at = output.Reserve(PointLineCapacity);
            at = m_points.Format(at, masses[j], intensities[j] / m_scaling);
            output.Commit(std::copy(LineEnd.begin(), LineEnd.end(), at));
        }
    }

private:
    static constexpr std::string_view IntervalKey = "IntervalOfScan=";
    static constexpr std::string_view LineEnd = TextFileWriter::LineEnd;
    static constexpr qsizetype IntervalLineCapacity =
        qsizetype(IntervalKey.size() + FixedFormatCapacity + LineEnd.size());
    static constexpr qsizetype PointLineCapacity = qsizetype(2 * FixedFormatCapacity + 1 + LineEnd.size());

    SpectrumBlockFormatter(double scaling, const QByteArray &separator)
        : m_scaling(scaling), m_threeDecimals(3, std::string_view(separator.constData(), size_t(separator.size()))),
          m_points(std::string_view(separator.constData(), size_t(separator.size())))
    {
    }

    const double m_scaling;
    const FixedFormatter m_threeDecimals;
    const PointFormatter m_points;
};

// Writes checked spectrum blocks to the output on a thread of its own while
// the calling thread reads the next spectra from the component. The calling
// thread makes every component call and every check that can fail, so the
// blocks queued before a failure are exactly the lines before it. When the
// component is quick and the thread falls behind, the calling thread formats
// blocks too, into the block's own text. The output belongs to the thread
// from the first Push until Drain returns.
class SpectrumBlockThread
{
public:
    SpectrumBlockThread(TextFileWriter &output, double scaling) : m_output(output), m_formatter(scaling) {}

    // The blocks queued so far are written first: after a failure on the
    // calling thread they are the lines before it.
    ~SpectrumBlockThread()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_queued.notify_one();
        m_thread.join();
    }

    SpectrumBlockThread(const SpectrumBlockThread &) = delete;
    SpectrumBlockThread &operator=(const SpectrumBlockThread &) = delete;

    // Throws a failure of the thread's writing.
    void Push(SpectrumBlock &&block)
    {
        std::unique_lock lock(m_mutex);
        if (m_queuedSize >= BehindQueue) {
            // The thread is behind: this one formats the block itself rather
            // than wait, so that both share the work.
            lock.unlock();
            BlockText text(block.text);
            m_formatter.Write(text, block);
            text.Finish();
            lock.lock();
        }
        if (m_queuedSize >= FullQueue)
            m_room.wait(lock, [this] { return m_queuedSize < HalfQueue || m_failure; });
        ThrowFailure();
        m_queuedSize += Size(block);
        m_queue.push_back(std::move(block));
        // Waking a thread costs more than formatting a small spectrum: each
        // side is woken only after the other has done half a queue of work.
        if (m_queuedSize >= HalfQueue)
            m_queued.notify_one();
    }

    // Waits until every block is in the output; the caller may then write to
    // it. Throws a failure of the thread's writing.
    void Drain()
    {
        std::unique_lock lock(m_mutex);
        m_draining = true;
        m_queued.notify_one();
        m_room.wait(lock, [this] { return (m_queue.empty() && !m_writing) || m_failure; });
        m_draining = false;
        ThrowFailure();
    }

private:
    // Lines held at most: a few spectra, about a megabyte of numbers.
    static constexpr size_t FullQueue = 65536;
    static constexpr size_t HalfQueue = FullQueue / 2;
    static constexpr size_t BehindQueue = FullQueue / 4 * 3;

    // A block costs its lines and, in memory, about as much again as a few
    // lines of its own: a queue of the smallest spectra stays small too.
    static size_t Size(const SpectrumBlock &block) { return 8 + block.points.masses.size(); }

    void ThrowFailure() const
    {
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

    void Run()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_queued.wait(lock,
                          [this] { return m_stop || m_queuedSize >= HalfQueue || (m_draining && !m_queue.empty()); });
            if (m_queue.empty())
                return;
            while (!m_queue.empty()) {
                if (!WriteFront(lock)) {
                    // Nothing after a failed write may reach the file.
                    m_queue.clear();
                    m_queuedSize = 0;
                    m_room.notify_one();
                    return;
                }
            }
            if (m_draining)
                m_room.notify_one();
        }
    }

    // Writes the first block outside the lock and releases it there too.
    bool WriteFront(std::unique_lock<std::mutex> &lock)
    {
        SpectrumBlock block = std::move(m_queue.front());
        m_queue.pop_front();
        const size_t size = Size(block);
        if (m_queuedSize >= HalfQueue && m_queuedSize - size < HalfQueue)
            m_room.notify_one();
        m_queuedSize -= size;
        m_writing = true;
        lock.unlock();
        std::exception_ptr failure;
        try {
            if (block.text.empty())
                m_formatter.Write(m_output, block);
            else
                m_output.Write(std::string_view(block.text.data(), block.text.size()));
        } catch (...) {
            failure = std::current_exception();
        }
        block = {};
        lock.lock();
        m_writing = false;
        m_failure = failure;
        return !failure;
    }

    TextFileWriter &m_output;
    const SpectrumBlockFormatter m_formatter;
    std::mutex m_mutex;
    std::condition_variable m_queued; // work for the thread, or the stop
    std::condition_variable m_room;   // room in the queue, an empty queue, or a failure
    std::deque<SpectrumBlock> m_queue;
    size_t m_queuedSize = 0; // lines in m_queue
    bool m_writing = false;
    bool m_draining = false;
    bool m_stop = false;
    std::exception_ptr m_failure;
    std::thread m_thread{[this] { Run(); }}; // last: starts when all else is ready
};

// The acquisition and the objects the conversion takes from it. After a
// failure an opened document is closed before everything is released.
class Acquisition
{
public:
    Acquisition() : m_document(CreateRawFileDocument()) {}

    ~Acquisition()
    {
        if (m_open)
            CloseAfterFailure(*m_document);
    }

    Acquisition(const Acquisition &) = delete;
    Acquisition &operator=(const Acquisition &) = delete;

    void Open(const QString &rawPath)
    {
        m_path = rawPath;
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
    qint32 Count()
    {
        m_lastCount = m_spectra->Count();
        return m_lastCount;
    }
    // What Count gave last.
    qint32 LastCount() const { return m_lastCount; }
    bool HasFilterText(qint32 n, QStringView searchText)
    {
        return m_detector->Filters()->ScanNumber(n)->Text().contains(searchText);
    }

    SpectrumCollection &Spectra() { return *m_spectra; }
    // The path it was opened with, which a failure of a spectrum names.
    const QString &Path() const { return m_path; }

private:
    // Declared in the order of taking: released in the reverse order.
    std::unique_ptr<RawFileDocument> m_document;
    std::unique_ptr<DetectorChannel> m_detector;
    std::unique_ptr<SpectrumCollection> m_spectra;
    bool m_open = false;
    qint32 m_lastCount = 0;
    QString m_path;
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

void WriteSpectrum(Acquisition &acquisition, SpectrumBlockThread &blocks, double scaling, qint32 n)
{
    SpectrumBlock block{StartSeconds(acquisition.Spectra().StartTime(n), acquisition.Path(), n), {}, {}};
    bool held = true; // block is still to be pushed
    try {
        acquisition.Spectra().Item(n)->PointsInRuns([&](SpectrumPoints &points) {
            if (!held)
                block = SpectrumBlock{};
            held = true;
            block.points = std::move(points);
            CheckPoints(block.points, scaling, acquisition.Path(), n);
            held = false;
            blocks.Push(std::move(block));
        });
    } catch (...) {
        // The start time is written before the points are fetched, and the
        // points before a failing one are written too.
        if (held)
            blocks.Push(std::move(block));
        throw;
    }
    if (held)
        blocks.Push(std::move(block));
}

// sectionsLeft counts this section too: the progress's total is every
// spectrum still to pass.
void WriteSection(Acquisition &acquisition, SpectrumBlockThread &blocks, double scaling, QStringView searchText,
                  int sectionsLeft, ConversionProgress &progress)
{
    const qint32 count = acquisition.Count();
    progress.count = count;
    progress.total = progress.done + qint64(std::max(count, 0)) * sectionsLeft;
    for (qint64 n = 1; n <= count; ++n) {
        if (acquisition.HasFilterText(qint32(n), searchText))
            WriteSpectrum(acquisition, blocks, scaling, qint32(n));
        progress.spectrum = qint32(n);
        ++progress.done;
        ReportProgress(progress);
    }
}

// Returns whether any spectrum was of a kind to write.
bool WriteDataPart(TextFileWriter &output, Acquisition &acquisition, double scaling)
{
    const bool ms = HoldsSpectraOfKind(acquisition, MsSearchText);
    const bool sim = HoldsSpectraOfKind(acquisition, SimSearchText);
    const bool both = ms && sim;
    SpectrumBlockThread blocks(output, scaling);
    ConversionProgress progress;
    progress.step = ConversionProgress::Step::Writing;
    const auto section = [&](QStringView searchText, int sectionsLeft) {
        if (both) {
            output.WriteLine(std::string_view("StartDataSection"));
            progress.section = searchText.trimmed();
        }
        WriteSection(acquisition, blocks, scaling, searchText, sectionsLeft, progress);
        blocks.Drain();
    };
    if (ms)
        section(MsSearchText, both ? 2 : 1);
    if (both)
        output.WriteLine(std::string_view(" "));
    if (sim)
        section(SimSearchText, 1);
    return ms || sim;
}

// The word for a conversion that wrote the header only: an export holds
// spectra of other kinds (MS2 scans, chromatograms) or none.
QString HeaderOnly(qint32 count, const QString &rawPath)
{
    const QString spectra = count <= 0 ? u"the acquisition holds no spectrum"_s
                          : count == 1 ? u"its one spectrum is no ms or SIM spectrum"_s
                                       : u"no ms or SIM spectrum among the %1 spectra"_s.arg(count);
    return spectra + u": "_s + QFileInfo(SiblingPath(rawPath, u"asc"_s)).fileName()
         + u" holds the sample header only"_s;
}

void WriteAscFile(const QString &rawPath, const SampleHeader &header, double scaling)
{
    TextFileWriter output = CreateOutputBeside(rawPath, u"asc"_s);
    WriteHeaderLines(output, header);
    Acquisition acquisition;
    acquisition.Open(rawPath);
    const bool anyWritten = WriteDataPart(output, acquisition, scaling);
    acquisition.Close();
    output.Close();
    ReportProgress(ConversionProgress{});
    if (!anyWritten)
        LastNotice = HeaderOnly(acquisition.LastCount(), rawPath);
}

} // namespace

bool ConvertRawFile(const QString &rawPath, const QString &modeLetter, SampleHeader &header, double scaling)
{
    LastFailure.reset();
    LastNotice.reset();
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
        // The failure is not reported here, only kept for the caller to
        // ask about; what was written before it stays.
        LastFailure = CaughtFailure();
        return false;
    }
}

std::optional<Error> LastConversionFailure()
{
    return LastFailure;
}

std::optional<QString> LastConversionNotice()
{
    return LastNotice;
}
