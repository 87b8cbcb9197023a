#pragma once

#include "convert/Errors.h"
#include "convert/SampleHeader.h"

#include <QString>

#include <optional>

// Writes the .asc text file of the acquisition at rawPath: the header lines,
// then its ms and SIM spectra. modeLetter "N" reads the header from the
// acquisition; any other text writes the header passed in. The injection
// time is always recomputed from header.CreationDateTime. Every intensity is
// divided by scaling. Returns false after any failure, with the lines written
// before it left in the file; shows a success message unless BatchMode.
bool ConvertRawFile(const QString &rawPath, const QString &modeLetter, SampleHeader &header, double scaling);

// The failure that made the last ConvertRawFile call return false, for a
// caller that tells the user why; none after a call that succeeded.
std::optional<Error> LastConversionFailure();

// What the user should know of the last ConvertRawFile call that succeeded
// beyond its success: that no spectrum was an ms or SIM spectrum, so that
// the .asc file holds the sample header only ("no ms or SIM spectrum among
// the 139 spectra: run7.asc holds the sample header only"). None otherwise.
std::optional<QString> LastConversionNotice();
