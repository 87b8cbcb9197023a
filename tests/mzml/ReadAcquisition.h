#pragma once

#include "tests/fake/FakeComponent.h"

#include <QString>

// Everything the program can ask of the acquisition at path, read through
// the raw-file access seam in the order a conversion asks it.
FakeAcquisition ReadAcquisition(const QString &path);

// Empty when actual matches expected: texts and start times exactly (start
// times to a relative 1e-12), masses and intensities within the given
// absolute plus relative tolerance. Otherwise the first difference, for the
// test's failure message.
struct Tolerance
{
    double absolute = 0;
    double relative = 0;
};
QString DifferenceOf(const FakeAcquisition &actual, const FakeAcquisition &expected, Tolerance masses = {},
                     Tolerance intensities = {});

// The difference between the acquisition at path and expected, or why it
// could not be read.
QString DifferenceOfFile(const QString &path, const FakeAcquisition &expected, Tolerance masses = {},
                         Tolerance intensities = {});
