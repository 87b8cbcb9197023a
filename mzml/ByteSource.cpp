#include "mzml/ByteSource.h"

#include "convert/Errors.h"
#include "mzml/MzmlFault.h"

using namespace Qt::Literals::StringLiterals;

qint64 FileSource::read(char *data, qint64 size)
{
    const qint64 read = m_file.read(data, size);
    if (read < 0)
        throw FileError(ErrorNumber::DeviceIO, m_file.fileName(),
                        u"the file cannot be read: %1"_s.arg(m_file.errorString()));
    return read;
}

qint64 CutSource::read(char *data, qint64 size)
{
    const qint64 read = m_source.read(data, qMin(size, m_left));
    m_left -= read;
    return read;
}
