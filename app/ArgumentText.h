#pragma once

#include <QString>

#include <optional>

// Everything on the command line after the program's own name, as one text,
// or none when there is no argument: a path with blanks stays whole, quoted
// or not. On Windows it is the raw command line as typed, and an empty text
// is none. Elsewhere the shell has already split it, and the arguments are
// joined again with single blanks; any argument counts, an empty one too,
// since the shell has removed the quotes that Windows would pass on.
// Needs no Qt application.
std::optional<QString> ArgumentText(int argc, char *argv[]);

// Whether every argument is valid UTF-8, the encoding of file names here. A
// name that is not cannot be carried in a text and still name its file.
// Always true on Windows, whose command line is text already.
bool ArgumentsAreUtf8(int argc, char *argv[]);

// The text that follows the program's name in a raw Windows command line,
// without the blanks between them. The name ends at the first blank or tab
// outside double quotes, as the C runtime reads it.
QString ArgumentTextOfCommandLine(const QString &commandLine);
