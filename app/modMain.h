#pragma once

#include "convert/BatchMode.h"

#include <QString>

// What the process reports to its caller; window mode ends with Success.
enum ExitStatus : int {
    Success = 0,
    ConversionFailed = 1,
    ArgumentRefused = 2,
};

// The program: makes sure of the transfer folder, then shows the window when
// the command line carries no argument, or converts the named RAW file
// unattended when it does, telling a failure on standard error. Returns the
// process's exit status.
int Main(int argc, char *argv[]);

// Creates the transfer folder when it is missing and its parent exists.
// Never fails loudly: returns whether the folder exists afterwards.
bool EnsureTransferFolder();

// text without any double-quote character.
QString StripQuotes(const QString &text);

// Accepts argument as the RAW file path unless it holds a ";". On success
// sets path and scaling (always 1); on refusal leaves both as they were.
bool ParseCommandLine(const QString &argument, QString &path, double &scaling);
