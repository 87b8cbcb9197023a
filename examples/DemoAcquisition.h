#pragma once

#include "FakeComponent.h"

// The demo acquisition: three dozen spectra whose filter texts mark them as
// ms, SIM, both or neither, with every sample text filled.
FakeAcquisition DemoAcquisition();
