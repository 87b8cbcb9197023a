#pragma once

// The command line of a benchmark that takes one file and nothing else. No
// Qt application is made for it: batch mode makes none either.

#include <QString>
#include <QTextStream>

#include <optional>

// The FILE of "NAME FILE", or nothing after the usage went to the error output.
inline std::optional<QString> FileArgument(int argc, char *argv[], const char *name)
{
    if (argc != 2) {
        QTextStream(stderr) << "usage: " << name << " FILE\n";
        return std::nullopt;
    }
    return QString::fromLocal8Bit(argv[1]);
}
