#pragma once

#include "tests/fake/FakeComponent.h"

// The demo acquisition: three dozen spectra whose filter texts mark them as
// ms, SIM, both or neither, with every sample text filled.
FakeAcquisition DemoAcquisition();

// Writes the demo acquisition as mzML to path, with 64-bit intensities so
// that it reads back exactly as built. Throws std::runtime_error.
void WriteDemoMzml(const QString &path);
