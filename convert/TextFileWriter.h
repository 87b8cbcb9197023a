#pragma once

#include <QFile>
#include <QString>

#include <memory>
#include <string_view>

// One output text file: 8-bit text in the system code page, lines ended by
// CR LF, written through one large buffer. Every failure throws an Error
// naming the file. The file is closed when the writer goes, on every path.
class TextFileWriter
{
public:
    // Creates the file, emptying an existing one.
    explicit TextFileWriter(const QString &path);
    ~TextFileWriter();
    TextFileWriter(TextFileWriter &&) noexcept;
    TextFileWriter(const TextFileWriter &) = delete;
    TextFileWriter &operator=(const TextFileWriter &) = delete;

    // Bytes of any length.
    void Write(std::string_view bytes);
    void WriteLine(std::string_view bytes);
    // Encodes the text into the system code page first. The text is one
    // line whatever it holds: each line break in it (CR LF, a lone CR or a
    // lone LF) is written as one blank.
    void WriteLine(const QString &text);
    void EndLine() { Write(LineEnd); }

    // Room for at least `size` bytes at the returned position; hand the end
    // of what was put there to Commit. For formatting numbers in place.
    char *Reserve(qsizetype size)
    {
        if (m_used + size > BufferSize)
            MakeRoom(size);
        return m_buffer.get() + m_used;
    }
    void Commit(char *end) { m_used = end - m_buffer.get(); }

    // Writes what is buffered and closes the file.
    void Close();

    static constexpr std::string_view LineEnd = "\r\n";

private:
    // Large enough that writing costs few system calls.
    static constexpr qsizetype BufferSize = 1 << 20;

    void MakeRoom(qsizetype size);
    void Flush();
    [[noreturn]] void Fail(const QString &what) const;

    std::unique_ptr<QFile> m_file;
    std::unique_ptr<char[]> m_buffer;
    qsizetype m_used = 0;
};

// Creates the output file that SiblingPath names for rawPath and extension.
// Refuses, before touching anything, a name that is the acquisition itself
// or a file it is read from (FilesReadFor): creating it would empty the
// input. Refuses too an existing output that is not a file (a folder, pipe,
// socket or device), without opening it.
TextFileWriter CreateOutputBeside(const QString &rawPath, const QString &extension);

// The text in the system's 8-bit code page.
QByteArray EncodeText(const QString &text);
