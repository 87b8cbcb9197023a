#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

// The numbers a failure carries. The low ones keep the values that users of
// the earlier desktop tool know from its error reports.
enum class ErrorNumber : int {
    InvalidArgument = 5,
    Overflow = 6,
    DivisionByZero = 11,
    TypeMismatch = 13,
    BadFileName = 52,
    FileNotFound = 53,
    DeviceIO = 57,
    DiskFull = 61,
    PermissionDenied = 70,
    PathNotFound = 76,
    InvalidFileFormat = 321,
    CannotCreateObject = 429,
};

// Every failure in the program: a number and a description for the user.
class Error : public std::exception
{
public:
    Error(ErrorNumber number, const QString &description)
        : m_number(number), m_description(description), m_what(description.toUtf8())
    {
    }

    ErrorNumber number() const noexcept { return m_number; }
    const QString &description() const noexcept { return m_description; }
    const char *what() const noexcept override { return m_what.constData(); }

private:
    ErrorNumber m_number;
    QString m_description;
    QByteArray m_what;
};
