#include "mzml/FileFragment.h"

#include <cstring>

FileFragment::FileFragment(QFile &file, qint64 offset, QByteArray prefix, MarkupLexer::Sink last)
    : m_file(file), m_next(offset), m_prefix(std::move(prefix)), m_lexer(offset), m_last(std::move(last))
{
    open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 FileFragment::readData(char *data, qint64 maxSize)
{
    if (!m_prefix.isEmpty()) {
        const qint64 size = qMin(maxSize, qint64(m_prefix.size()));
        std::memcpy(data, m_prefix.constData(), size_t(size));
        m_prefix.remove(0, size);
        return size;
    }
    if (m_fault || m_ended || (m_file.pos() != m_next && !m_file.seek(m_next)))
        return -1;
    const qint64 read = m_file.read(data, maxSize);
    if (read <= 0)
        return read;
    qint64 given = read;
    try {
        if (!m_lexer.pass(QByteArrayView(data, read), m_last)) {
            // tokenStart() is now where the last token ends.
            m_ended = true;
            given = m_lexer.tokenStart() - m_next;
        }
    } catch (const MzmlFault &fault) {
        // Qt's reader must not be left by an exception: it gets what comes
        // before the fault, which may be all it needs, then the end of its input.
        m_fault = fault;
        given = qBound<qint64>(0, m_lexer.tokenStart() - m_next, read);
        if (given == 0)
            return -1;
    }
    m_next += given;
    return given;
}

QByteArray XmlDeclaration(const QString &encoding)
{
    return "<?xml version=\"1.0\" encoding=\"" + (encoding.isEmpty() ? QByteArray("UTF-8") : encoding.toLatin1())
         + "\"?>";
}
