#pragma once

#include <QByteArray>
#include <QString>

#include <cmath>
#include <exception>
#include <new>

// The numbers a failure carries. The low ones keep the values that users of
// the earlier desktop tool know from its error reports.
enum class ErrorNumber : int {
    InvalidArgument = 5,
    Overflow = 6,
    OutOfMemory = 7,
    DivisionByZero = 11,
    TypeMismatch = 13,
    InternalError = 51,
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

// A failure as the user is told of it: "Error 53: " and the description.
inline QString ErrorMessage(const Error &error)
{
    using namespace Qt::Literals::StringLiterals;
    return u"Error %1: %2"_s.arg(QString::number(int(error.number())), error.description());
}

// The failure that the enclosing catch block handles, as an Error: whatever
// went wrong, the user can be told why. Call only inside a catch block.
inline Error CaughtFailure()
{
    using namespace Qt::Literals::StringLiterals;
    try {
        throw;
    } catch (const Error &error) {
        return error;
    } catch (const std::bad_alloc &) {
        return Error(ErrorNumber::OutOfMemory, u"Out of memory."_s);
    } catch (const std::exception &failure) {
        return Error(ErrorNumber::InternalError, u"Internal error: %1."_s.arg(QString::fromLocal8Bit(failure.what())));
    } catch (...) {
        return Error(ErrorNumber::InternalError, u"Internal error."_s);
    }
}

// A failure of the file at path as the user is told of it: "path": what.
// For spectrum n > 0: "path", spectrum n: what.
inline Error FileError(ErrorNumber number, const QString &path, const QString &what, qint64 spectrum = 0)
{
    using namespace Qt::Literals::StringLiterals;
    const QString where =
        spectrum > 0 ? u"\"%1\", spectrum %2"_s.arg(path, QString::number(spectrum)) : u"\"%1\""_s.arg(path);
    return Error(number, u"%1: %2."_s.arg(where, what));
}

// Fails with an overflow in the named calculation.
[[noreturn]] inline void FailOverflow(const char *what)
{
    using namespace Qt::Literals::StringLiterals;
    throw Error(ErrorNumber::Overflow, u"Overflow in %1."_s.arg(QLatin1StringView(what)));
}

// Fails with an overflow in the named calculation for spectrum n of the
// acquisition at path, named as every fault of a spectrum is.
[[noreturn]] inline void FailOverflow(const char *what, const QString &path, qint64 spectrum)
{
    using namespace Qt::Literals::StringLiterals;
    throw FileError(ErrorNumber::Overflow, path, u"Overflow in %1"_s.arg(QLatin1StringView(what)), spectrum);
}

// A number the program goes on with must be one: C++ arithmetic continues
// silently with infinities where the calculation should have failed.
inline double CheckedFinite(double value, const char *what)
{
    if (!std::isfinite(value)) [[unlikely]]
        FailOverflow(what);
    return value;
}
