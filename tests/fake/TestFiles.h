#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// The bytes of a file; "<missing>" when it cannot be read, so that a missing
// file compares unequal to every expected content, the empty one included.
inline QByteArray ContentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Creates or empties the file and writes the bytes; false when it cannot.
inline bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}
