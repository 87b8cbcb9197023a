#pragma once

#include <QString>

// Everything on the command line after the program's own name, as one text:
// a path with blanks stays whole, quoted or not. On Windows it is the raw
// command line as typed; elsewhere the shell has already split it, and the
// arguments are joined again with single blanks. Needs no Qt application.
QString ArgumentText(int argc, char *argv[]);

// The text that follows the program's name in a raw Windows command line,
// without the blanks between them. The name ends at the first blank or tab
// outside double quotes, as the C runtime reads it.
QString ArgumentTextOfCommandLine(const QString &commandLine);
