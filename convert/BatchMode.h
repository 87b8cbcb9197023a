#pragma once

// True only while the program converts unattended from its command line.
// Start-up sets it once; the conversion reads it to stay silent.
inline bool BatchMode = false;
