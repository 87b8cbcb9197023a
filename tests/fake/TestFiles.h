#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <filesystem>
#include <system_error>

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

// Gives the file at path a second name, linkPath; false when it cannot.
inline bool HardLink(const QString &path, const QString &linkPath)
{
    std::error_code error;
    std::filesystem::create_hard_link(QFile(path).filesystemFileName(), QFile(linkPath).filesystemFileName(), error);
    return !error;
}
