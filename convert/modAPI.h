#pragma once

// Everything the program asks of the operating system, each behind one
// replaceable function so that tests (and the window mode) can put their own
// in its place.

#include "convert/Seam.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace modAPI {

enum class TimeZoneId : quint32 { Unknown = 0, Standard = 1, Daylight = 2, Invalid = 0xFFFFFFFF };

// The local zone's rules as the operating system reports them. Biases are in
// minutes: UTC = local time + Bias (+ DaylightBias during daylight time).
struct TimeZoneInformation
{
    TimeZoneId Id = TimeZoneId::Unknown;
    qint32 Bias = 0;
    qint32 StandardBias = 0;
    bool HasDaylightRule = false;
    qint32 DaylightBias = 0;
};

// The zone data in force at a wall-clock date and time (carried as UTC, see
// DateTimeOfDateValue).
extern Seam<TimeZoneInformation(const QDateTime &wallClock)> GetTimeZoneInformation;

// Shows a modal message with an information icon and a single OK button.
// Only the window mode shows messages; it installs the real one.
extern Seam<void(const QString &text, const QString &title)> ShowInformation;

// Writes one line to the process's standard error: batch mode's word to the
// script that started it.
extern Seam<void(const QString &line)> WriteErrorLine;

// Writes text as it stands to the process's standard output: the answer to
// --help and --version.
extern Seam<void(const QString &text)> WriteOutput;

// Writes text as it stands to the process's standard error: batch mode's
// progress line, which rewrites itself.
extern Seam<void(const QString &text)> WriteErrorText;

// Whether standard error is a terminal, where a person may watch it.
extern Seam<bool()> StandardErrorIsTerminal;

// Milliseconds on a clock that only goes forward: how long work has lasted.
extern Seam<qint64()> SteadyMilliseconds;

// Blocks the one thread for the given time.
extern Seam<void(int milliseconds)> Sleep;

// The laboratory's transfer folder, trailing separator included. Start-up
// only makes sure that it exists.
extern Seam<QString()> TransferFolder;

} // namespace modAPI
