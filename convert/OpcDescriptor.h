#pragma once

#include "convert/Errors.h"

#include <QString>

#include <optional>

// Writes the 22-line sample descriptor of the acquisition at rawPath beside it
// (named by SiblingPath with "opc"), with values read from the acquisition's
// sample information. Shows nothing. Returns false after any failure, with
// the lines written before it left in the file.
bool WriteOpcFile(const QString &rawPath);

// The failure that made the last WriteOpcFile call return false, for a
// caller that tells the user why; none after a call that succeeded.
std::optional<Error> LastDescriptorFailure();
