#include "mzml/AcquisitionFile.h"

#include "convert/ConversionProgress.h"
#include "mzml/DecompressedCopy.h"
#include "mzml/ReadAhead.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/stat.h>
#endif

using namespace Qt::Literals::StringLiterals;

namespace {

// Why a file is not read as an acquisition, so that the export beside it may be.
struct Unreadable
{
    enum class Kind { Other, Folder, NotMzml };

    ErrorNumber number;
    QString why;
    Kind kind = Kind::Other;
};

// Whether the system refuses to look the path up because it, or one of its
// names, is too long: it is then no missing file.
bool NameTooLong(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat status;
    return ::stat(QFile::encodeName(path).constData(), &status) != 0 && errno == ENAMETOOLONG;
#else
    Q_UNUSED(path);
    return false;
#endif
}

// Opens the file at path. Throws Unreadable.
void OpenContent(AcquisitionFile &acquisition, const QString &path)
{
    acquisition.path = path;
    const QFileInfo info(path);
    if (!info.exists()) {
        if (info.isSymLink())
            throw Unreadable{ErrorNumber::FileNotFound,
                             u"this is a symbolic link to \"%1\", which does not exist"_s.arg(info.symLinkTarget())};
        if (NameTooLong(path))
            throw Unreadable{ErrorNumber::BadFileName, u"the name is longer than the system allows"_s};
        throw Unreadable{ErrorNumber::FileNotFound, u"the file does not exist"_s};
    }
    if (info.isDir())
        throw Unreadable{ErrorNumber::BadFileName, u"this is a folder, not an acquisition"_s, Unreadable::Kind::Folder};
    // Opening a pipe waits for a writer, and a device may never end.
    if (!info.isFile())
        throw Unreadable{ErrorNumber::BadFileName, u"this is a device, a pipe or a socket, not an acquisition"_s};
    QFile &file = acquisition.file;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Unreadable{ErrorNumber::PermissionDenied, u"the file cannot be read: %1"_s.arg(file.errorString())};
    acquisition.compressed = IsGzip(file.peek(2));
}

// Reads the head of the acquisition at path; the reason when its content is
// not mzML that this reader reads. Throws an Error for what is wrong after
// the document's mzML element has begun.
std::optional<Unreadable> ReadHead(AcquisitionFile &acquisition, const QString &path)
{
    try {
        OpenContent(acquisition, path);
        acquisition.head = ReadMzml(*acquisition.content());
    } catch (const Unreadable &unreadable) {
        return unreadable;
    } catch (const NotMzmlFault &fault) {
        return Unreadable{ErrorNumber::InvalidFileFormat, fault.what, Unreadable::Kind::NotMzml};
    } catch (const MzmlFault &fault) {
        throw acquisition.error(fault);
    }
    return std::nullopt;
}

// Every export beside the path X.raw: X.mzML and X.mzML.gz, the extension in
// any letter case, plain ones first, each kind in name order.
QStringList ExportsBeside(const QString &rawPath)
{
    const QFileInfo baseInfo(rawPath.chopped(4));
    const QString baseName = baseInfo.fileName();
    QStringList plain;
    QStringList compressed;
    QDirIterator entries(baseInfo.path(), QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot);
    while (entries.hasNext()) {
        entries.next();
        const QString name = entries.fileName();
        if (!name.startsWith(baseName))
            continue;
        const QStringView extension = QStringView(name).sliced(baseName.size());
        if (extension.compare(u".mzML", Qt::CaseInsensitive) == 0)
            plain << entries.filePath();
        else if (extension.compare(u".mzML.gz", Qt::CaseInsensitive) == 0)
            compressed << entries.filePath();
    }
    plain.sort();
    compressed.sort();
    return plain + compressed;
}

// X.mzML, else X.mzML.gz, beside the path X.raw. These spellings are
// looked up first, as they stand: a folder that cannot be listed, or holds
// a great many files, then costs no listing. Only when neither is there,
// the extension in any letter case, the first in name order. A name that is
// there but cannot be read (a folder, a pipe, a dangling link) is the export
// all the same, so that the user learns why it is not read. Empty when there
// is none.
QString ExportBeside(const QString &rawPath)
{
    const QString base = rawPath.chopped(4);
    for (const QString &candidate : {QString(base + u".mzML"_s), QString(base + u".mzML.gz"_s)}) {
        const QFileInfo info(candidate);
        if (info.exists() || info.isSymLink())
            return candidate;
    }
    const QStringList exports = ExportsBeside(rawPath);
    return exports.isEmpty() ? QString() : exports.first();
}

// The bytes of a document, with word of how far they have come: by the
// file's own position, so that a compressed file tells how much of it has
// been inflated.
class ReportingSource : public ByteSource
{
public:
    // fileSize: of the file that source reads.
    ReportingSource(std::unique_ptr<ByteSource> source, qint64 fileSize) : m_source(std::move(source))
    {
        m_progress.step = ConversionProgress::Step::Reading;
        m_progress.total = fileSize;
    }

    qint64 read(char *data, qint64 size) override
    {
        const qint64 read = m_source->read(data, size);
        m_progress.done = m_source->position();
        ReportProgress(m_progress);
        return read;
    }
    qint64 end() const override { return m_source->end(); }
    qint64 position() const override { return m_source->position(); }
    bool endsAtCut() const override { return m_source->endsAtCut(); }

private:
    std::unique_ptr<ByteSource> m_source;
    ConversionProgress m_progress;
};

// What the user can do when rawPath is not read and no export stands in for
// it: most often it is the instrument's own RAW file, or a folder
// acquisition, whose mzML export has not been made yet. Empty when there is
// no such advice.
QString Guidance(const QString &rawPath, const Unreadable &notRead)
{
    const QFileInfo info(rawPath);
    const QString name = info.fileName();
    const bool besideIt = rawPath.endsWith(u".raw"_s, Qt::CaseInsensitive);
    const QString placed =
        besideIt ? u"place the export beside it as \"%1.mzML\""_s.arg(name.chopped(4)) : u"convert the export"_s;
    const QString exported = u"(for example \"msconvert %1 --mzML\"%3) and %2."_s;
    const QString there = u" on the acquisition computer"_s;
    switch (notRead.kind) {
    case Unreadable::Kind::NotMzml:
        // The root element's name is all that marks an mzXML file.
        if (notRead.why.contains(u"its root element is <mzXML>"_s))
            return u" It is an mzXML file, which this program does not read: convert it to mzML "_s
                 + exported.arg(name, placed, QString());
        return u" It is not an mzML export, which is what this program reads: make one "_s
             + exported.arg(name, placed, there);
    case Unreadable::Kind::Folder:
        if (!besideIt && !rawPath.endsWith(u".d"_s, Qt::CaseInsensitive))
            return {};
        return u" A folder acquisition is read through its mzML export: make one "_s
             + exported.arg(name, placed, there);
    case Unreadable::Kind::Other: break;
    }
    return {};
}

// The failure of rawPath, which is not read, with what to do about it.
Error NotRead(const QString &rawPath, const Unreadable &notRead, const QString &why)
{
    const Error failure = FileError(notRead.number, rawPath, why);
    return Error(failure.number(), failure.description() + Guidance(rawPath, notRead));
}

} // namespace

QStringList AcquisitionFilesFor(const QString &rawPath)
{
    QStringList files{rawPath};
    if (!rawPath.endsWith(u".raw"_s, Qt::CaseInsensitive))
        return files;
    // Which export is read depends on what is there when the document
    // opens: every one that may be is kept from the writers.
    const QString base = rawPath.chopped(4);
    files << base + u".mzML"_s << base + u".mzML.gz"_s << ExportsBeside(rawPath);
    files.removeDuplicates();
    return files;
}

void AcquisitionFile::close()
{
    file.close();
    copy.reset();
}

std::unique_ptr<ByteSource> AcquisitionFile::content(QFileDevice *copyTo)
{
    if (!file.seek(0))
        throw FileError(ErrorNumber::DeviceIO, path, u"the file cannot be read: %1"_s.arg(file.errorString()));
    if (compressed)
        return std::make_unique<GzipSource>(file, path, copyTo);
    return std::make_unique<FileSource>(file);
}

namespace {

// Below this a pass in two halves does not pay for its second thread.
constexpr qint64 HalvesFrom = 16 << 20;

// Where a spectrum's start tag stands after the middle of the file, for the
// second half to begin at; nothing when none is near. Only the halves'
// joining shows whether it is one of the run's list. Read in small pieces:
// one large buffer, freed, would leave the allocator keeping that much more
// for the rest of the run.
std::optional<qint64> CutNearMiddle(QFile &file)
{
    constexpr qint64 Searched = 4 << 20;
    constexpr qint64 Piece = 64 << 10;
    constexpr QByteArrayView Tag = "<spectrum";
    const qint64 middle = file.size() / 2;
    for (qint64 from = middle; from < middle + Searched; from += Piece) {
        // Each piece takes the next one's first bytes too, for a tag across the seam.
        if (!file.seek(from))
            return std::nullopt;
        const QByteArray bytes = file.read(Piece + Tag.size());
        for (qsizetype at = bytes.indexOf(Tag); at >= 0 && at < Piece && at + Tag.size() < bytes.size();
             at = bytes.indexOf(Tag, at + 1))
            if (QByteArrayView(" \t\r\n>/").contains(bytes[at + Tag.size()]))
                return from + at;
        if (bytes.size() < Piece + Tag.size())
            return std::nullopt;
    }
    return std::nullopt;
}

} // namespace

// A large plain file is read in two halves at once; nothing when it is not,
// or when they do not join.
std::optional<SpectrumIndex> AcquisitionFile::readSpectraInHalves()
{
    if (compressed || file.size() < HalvesFrom)
        return std::nullopt;
    QFile second(file.fileName());
    if (!second.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<qint64> cut = CutNearMiddle(second);
    if (!cut || !second.seek(*cut) || !file.seek(0))
        return std::nullopt;
    FileSource whole(file);
    ReportingSource before(std::make_unique<CutSource>(whole, *cut), file.size());
    FileSource after(second);
    return BuildSpectrumIndexInHalves(before, after, *cut, head);
}

SpectrumIndex AcquisitionFile::readSpectra()
{
    if (std::optional<SpectrumIndex> index = readSpectraInHalves())
        return std::move(*index);
    std::unique_ptr<QTemporaryFile> decompressed = compressed ? CreateDecompressedCopy(path) : nullptr;
    const qint64 size = file.size();
    SpectrumIndex index;
    {
        // A gzip stream inflates on a thread of its own while the document
        // is read; the thread is gone, and the copy its own, at the brace.
        std::unique_ptr<ByteSource> bytes = content(decompressed.get());
        if (compressed)
            bytes = std::make_unique<ReadAheadSource>(std::move(bytes));
        ReportingSource source(std::move(bytes), size);
        index = BuildSpectrumIndex(source, head);
    }
    if (decompressed && !decompressed->flush())
        throw FileError(ErrorNumber::DeviceIO, path,
                        u"its decompressed copy cannot be written: %1"_s.arg(decompressed->errorString()));
    copy = std::move(decompressed);
    return index;
}

Error AcquisitionFile::error(const MzmlFault &fault) const
{
    return FileError(ErrorNumber::InvalidFileFormat, path, fault.what, fault.spectrum);
}

void OpenAcquisitionFile(AcquisitionFile &acquisition, const QString &rawPath)
{
    const std::optional<Unreadable> notRead = ReadHead(acquisition, rawPath);
    if (!notRead)
        return;
    acquisition.close();
    if (!rawPath.endsWith(u".raw"_s, Qt::CaseInsensitive))
        throw NotRead(rawPath, *notRead, notRead->why);
    const QString exported = ExportBeside(rawPath);
    if (exported.isEmpty())
        throw NotRead(rawPath, *notRead,
                      u"%1, and there is no mzML export beside it (\"%2.mzML\" or \"%2.mzML.gz\")"_s.arg(
                          notRead->why, QFileInfo(rawPath.chopped(4)).fileName()));
    if (const std::optional<Unreadable> exportNotRead = ReadHead(acquisition, exported)) {
        acquisition.close();
        throw FileError(exportNotRead->number, exported, exportNotRead->why);
    }
}
