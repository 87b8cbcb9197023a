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
    ErrorNumber number;
    QString why;
};

// Opens the file at path. Throws Unreadable.
void OpenContent(AcquisitionFile &acquisition, const QString &path)
{
    acquisition.path = path;
    const QFileInfo info(path);
    if (!info.exists())
        throw Unreadable{ErrorNumber::FileNotFound, u"the file does not exist"_s};
    if (info.isDir())
        throw Unreadable{ErrorNumber::BadFileName, u"this is a folder, not an acquisition"_s};
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
        return Unreadable{ErrorNumber::InvalidFileFormat, fault.what};
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

} // namespace

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

SpectrumIndex AcquisitionFile::readSpectra()
{
    std::unique_ptr<QTemporaryFile> decompressed = compressed ? CreateDecompressedCopy(path) : nullptr;
    SpectrumIndex index = BuildSpectrumIndex(*content(decompressed.get()));
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
        throw FileError(notRead->number, rawPath, notRead->why);
    const QString exported = ExportBeside(rawPath);
    if (exported.isEmpty())
        throw FileError(notRead->number, rawPath,
                        u"%1, and there is no mzML export beside it (\"%2.mzML\" or \"%2.mzML.gz\")"_s.arg(
                            notRead->why, QFileInfo(rawPath.chopped(4)).fileName()));
    if (const std::optional<Unreadable> exportNotRead = ReadHead(acquisition, exported)) {
        acquisition.close();
        throw FileError(exportNotRead->number, exported, exportNotRead->why);
    }
}
