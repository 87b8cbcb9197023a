#pragma once

#include "mzml/MzmlParams.h"

#include <QByteArray>

// The filter text of a spectrum: its filter string (MS:1000512), of its first
// scan or else of the spectrum, as it stands. Without one, the start that a
// data system's filter string has for the same kind of scan, so that the
// spectrum lands in the same sections: "+ SIM ms " for a SIM spectrum
// (MS:1000582), "+ Full ms " for any other MS1 spectrum (MS:1000579, or ms
// level 1), and the empty text for the rest.
// In UTF-8.
QByteArray FilterText(const SpectrumTerms &spectrum, const SpectrumTerms &firstScan);
