#include "convert/TextFileWriter.h"

#include "convert/Errors.h"
#include "convert/PathFunctions.h"
#include "convert/RawFileAccess.h"

#include <QDir>
#include <QFileInfo>
#include <QStringEncoder>

#include <cstring>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

ErrorNumber OpenErrorNumber(const QString &path)
{
    if (!QFileInfo(path).absoluteDir().exists())
        return ErrorNumber::PathNotFound;
    return ErrorNumber::PermissionDenied;
}

// A line written from a text stays one line: a line break inside a value
// would forge lines for the file's readers. Each break becomes one blank.
QString OneLine(QString text)
{
    text.replace(u"\r\n"_s, u" "_s);
    text.replace(u'\r', u' ');
    return text.replace(u'\n', u' ');
}

} // namespace

TextFileWriter::TextFileWriter(const QString &path)
    : m_file(std::make_unique<QFile>(path)), m_buffer(std::make_unique_for_overwrite<char[]>(BufferSize))
{
    if (path.isEmpty())
        throw Error(ErrorNumber::BadFileName, u"Bad file name: the output file has no name."_s);
    if (!m_file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw Error(OpenErrorNumber(path),
                    u"Cannot create %1: %2"_s.arg(QDir::toNativeSeparators(path), m_file->errorString()));
}

TextFileWriter::~TextFileWriter()
{
    // Reached without Close only after a failure: what was written before it
    // stays in the file, so the buffer still goes out, as far as it can.
    if (m_file && m_file->isOpen() && m_used > 0)
        m_file->write(m_buffer.get(), m_used);
}

TextFileWriter::TextFileWriter(TextFileWriter &&) noexcept = default;

void TextFileWriter::Write(std::string_view bytes)
{
    // A piece larger than the buffer goes through it in parts.
    while (qsizetype(bytes.size()) > BufferSize) {
        Write(bytes.substr(0, size_t(BufferSize)));
        bytes.remove_prefix(size_t(BufferSize));
    }
    char *at = Reserve(qsizetype(bytes.size()));
    std::memcpy(at, bytes.data(), bytes.size());
    Commit(at + bytes.size());
}

void TextFileWriter::WriteLine(std::string_view bytes)
{
    Write(bytes);
    EndLine();
}

void TextFileWriter::WriteLine(const QString &text)
{
    const QByteArray bytes = EncodeText(OneLine(text));
    WriteLine(std::string_view(bytes.constData(), size_t(bytes.size())));
}

void TextFileWriter::MakeRoom(qsizetype size)
{
    Flush();
    if (size > BufferSize)
        Fail(u"a single piece of text is larger than the write buffer"_s);
}

void TextFileWriter::Flush()
{
    // A nearly full disk takes part of a write without a word: the rest goes
    // at once until it is all in or the system says why it is not. What a
    // failed write leaves out is lost; writing it again later would repeat
    // the part that did reach the file.
    const qsizetype used = std::exchange(m_used, 0);
    for (qsizetype written = 0; written < used;) {
        const qint64 taken = m_file->write(m_buffer.get() + written, used - written);
        if (taken <= 0)
            Fail(m_file->errorString());
        written += taken;
    }
}

void TextFileWriter::Close()
{
    Flush();
    m_file->close();
    if (m_file->error() != QFileDevice::NoError)
        Fail(m_file->errorString());
}

void TextFileWriter::Fail(const QString &what) const
{
    throw Error(ErrorNumber::DeviceIO,
                u"Cannot write %1: %2"_s.arg(QDir::toNativeSeparators(m_file->fileName()), what));
}

TextFileWriter CreateOutputBeside(const QString &rawPath, const QString &extension)
{
    const QString path = SiblingPath(rawPath, extension);
    const QString shown = QDir::toNativeSeparators(path);
    if (IsSameFile(path, rawPath))
        throw Error(ErrorNumber::PermissionDenied,
                    u"Permission denied: the output file %1 is the acquisition itself."_s.arg(shown));
    // The component may read another file in the acquisition's place (an
    // export beside it): creating the output must not empty that one either.
    for (const QString &input : FilesReadFor(rawPath)) {
        if (IsSameFile(path, input))
            throw Error(ErrorNumber::PermissionDenied,
                        u"Permission denied: the output file %1 is %2, which the acquisition may be read from."_s.arg(
                            shown, QDir::toNativeSeparators(input)));
    }
    // Opening a pipe waits for a reader that may never come, and a device
    // or a socket takes the text without keeping it: only a file will do.
    // A link to a file is followed.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        throw Error(ErrorNumber::BadFileName,
                    u"Bad file name: the output file %1 is %2, not a file."_s.arg(
                        shown, info.isDir() ? u"a folder"_s : u"a pipe, a socket or a device"_s));
    return TextFileWriter(path);
}

QByteArray EncodeText(const QString &text)
{
    QStringEncoder encoder(QStringEncoder::System);
    return encoder.encode(text);
}
