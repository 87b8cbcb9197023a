#pragma once

#include "convert/RawFileAccess.h"

#include <memory>

// The program's raw-file access component: reads acquisitions stored as mzML
// (plain or indexed, maybe gzip-compressed), whatever the file is called, or
// the export beside a RAW file (see OpenAcquisitionFile). Open reads only the
// document's head; the spectrum index is built on first need and points are
// decoded one spectrum at a time.
std::unique_ptr<RawFileDocument> CreateMzmlDocument();

// Makes CreateMzmlDocument the program's raw-file access component: start-up
// calls it, and so do tests that read real files.
void InstallMzmlReader();
