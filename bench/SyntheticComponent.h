#pragma once

// A raw-file access component that makes up its acquisition as it is read:
// every spectrum is one of a few point patterns generated once, so an
// acquisition of any size costs the memory of those patterns only.

#include "convert/RawFileAccess.h"

#include <memory>
#include <vector>

struct SyntheticAcquisition
{
    qint32 spectra = 10000;
    int points = 2000;
    int simEvery = 4; // every 4th spectrum is a SIM spectrum, the others ms
};

// Installs itself as the program's component until destroyed; any path
// opens the same acquisition.
class SyntheticComponent
{
public:
    explicit SyntheticComponent(const SyntheticAcquisition &acquisition);
    ~SyntheticComponent();
    SyntheticComponent(const SyntheticComponent &) = delete;
    SyntheticComponent &operator=(const SyntheticComponent &) = delete;

    // Points with an intensity above 0, over the whole acquisition.
    qint64 writtenPoints() const;

    struct Patterns;

private:
    std::shared_ptr<const Patterns> m_patterns;
};
