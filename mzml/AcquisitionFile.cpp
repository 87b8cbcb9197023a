#include "mzml/AcquisitionFile.h"

#include "mzml/DecompressedCopy.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <optional>

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

// A byte-order mark of UTF-16, or markup in two bytes a character.
bool IsUtf16(QByteArrayView start)
{
    static constexpr QByteArrayView marks[] = {QByteArrayView("\xff\xfe", 2), QByteArrayView("\xfe\xff", 2),
                                               QByteArrayView("<\0", 2), QByteArrayView("\0<", 2)};
    return std::any_of(std::begin(marks), std::end(marks), [&](QByteArrayView mark) { return start.startsWith(mark); });
}

// Opens the file at path, or the decompressed copy of its gzip content.
// Throws Unreadable, and an Error for a gzip stream that cannot be read.
void OpenContent(AcquisitionFile &acquisition, const QString &path)
{
    acquisition.path = path;
    const QFileInfo info(path);
    if (!info.exists())
        throw Unreadable{ErrorNumber::FileNotFound, u"the file does not exist"_s};
    if (info.isDir())
        throw Unreadable{ErrorNumber::BadFileName, u"this is a folder, not an acquisition"_s, Unreadable::Kind::Folder};
    // Opening a pipe waits for a writer, and a device may never end.
    if (!info.isFile())
        throw Unreadable{ErrorNumber::BadFileName, u"this is a device, a pipe or a socket, not an acquisition"_s};
    QFile &file = acquisition.file;
    file.setFileName(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Unreadable{ErrorNumber::PermissionDenied, u"the file cannot be read: %1"_s.arg(file.errorString())};
    if (IsGzip(file.peek(2))) {
        try {
            acquisition.copy = DecompressedCopy(file, path, CopyLimit(file.size()));
        } catch (const MzmlFault &fault) {
            throw acquisition.error(fault);
        }
        file.close();
        file.setFileName(acquisition.copy->fileName());
        if (!file.open(QIODevice::ReadOnly))
            throw FileError(ErrorNumber::DeviceIO, path,
                            u"its decompressed copy cannot be read: %1"_s.arg(file.errorString()));
    }
    // The reader finds markup by its ASCII bytes.
    if (IsUtf16(file.peek(2)))
        throw Unreadable{ErrorNumber::InvalidFileFormat,
                         u"the document is encoded in UTF-16, which this reader does not read (export it in "
                         u"UTF-8)"_s};
}

// Reads the head of the acquisition at path; the reason when its content is
// not mzML that this reader reads. Throws an Error for what is wrong after
// the document's mzML element has begun.
std::optional<Unreadable> ReadHead(AcquisitionFile &acquisition, const QString &path)
{
    try {
        OpenContent(acquisition, path);
        acquisition.head = ReadMzmlHead(acquisition.file);
    } catch (const Unreadable &unreadable) {
        return unreadable;
    } catch (const NotMzmlFault &fault) {
        return Unreadable{ErrorNumber::InvalidFileFormat, fault.what, Unreadable::Kind::NotMzml};
    } catch (const MzmlFault &fault) {
        throw acquisition.error(fault);
    }
    return std::nullopt;
}

// X.mzML, else X.mzML.gz, beside the path X.raw, the extension in any letter
// case; the first in name order among equal ones. Empty when there is none.
QString ExportBeside(const QString &rawPath)
{
    const QString base = rawPath.chopped(4);
    const QFileInfo baseInfo(base);
    const QString baseName = baseInfo.fileName();
    QString compressed;
    for (const QString &name : baseInfo.dir().entryList(QDir::Files | QDir::Hidden, QDir::Name)) {
        if (!name.startsWith(baseName))
            continue;
        const QStringView extension = QStringView(name).sliced(baseName.size());
        if (extension.compare(u".mzML", Qt::CaseInsensitive) == 0)
            return base + extension;
        if (compressed.isEmpty() && extension.compare(u".mzML.gz", Qt::CaseInsensitive) == 0)
            compressed = base + extension;
    }
    return compressed;
}

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

void AcquisitionFile::close()
{
    file.close();
    copy.reset();
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
