#pragma once

// An in-memory raw-file access component for tests: acquisitions built in
// code, registered under a path. It records every operation called, can fail
// at a chosen operation and call, and counts what is still open or alive.

#include "convert/Errors.h"
#include "convert/RawFileAccess.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

struct FakeSpectrum
{
    QString filter;
    double startTime = 0; // minutes
    std::vector<double> masses;
    std::vector<double> intensities;
    size_t runPoints = 0; // PointsInRuns hands out runs of this many points; 0: one run
};

struct FakeAcquisition
{
    double creationDate = 0;
    QString comment;
    QString instrumentMethod;
    QString dataPath;
    QString position;
    QString sampleName;
    QString userText1;
    QString userText2;
    std::vector<FakeSpectrum> spectra;
    std::optional<qint32> count; // what Count reports, when not spectra.size()
};

// The acquisition of the documented examples: data path "D:\results\run7",
// position "12", method "C:\methods\lipids.meth", operator "analyst",
// sample "QC-3", created 2004-03-15 10:23:17; no spectra.
FakeAcquisition ExampleAcquisition();

// The .opc file that the example acquisition gives.
QByteArray ExampleOpcFile();

// The calls with which ReadSampleHeader reads a header, in their order.
QStringList ReadSampleHeaderCalls();

class FakeComponent
{
public:
    // Installs itself as the program's component until destroyed.
    FakeComponent();
    ~FakeComponent();
    FakeComponent(const FakeComponent &) = delete;
    FakeComponent &operator=(const FakeComponent &) = delete;

    // Open fails for a path that was not added.
    void add(const QString &path, FakeAcquisition acquisition);
    void remove(const QString &path);

    // FilesReadFor names file too for rawPath, as a reader that reads an
    // export in its place does.
    void readFrom(const QString &rawPath, const QString &file);

    // The call-th call (1-based) of the operation throws an Error, or with
    // OutOfMemory a std::bad_alloc.
    void failAt(const QString &operation, int call, ErrorNumber number = ErrorNumber::InvalidFileFormat);

    // Operation names in call order, e.g. "Open", "SampleInfo", "UserText".
    // The description of the Error that failAt makes the call throw.
    static QString FailureDescription(const QString &operation, int call);

    const QStringList &calls() const;
    int count(const QString &operation) const;
    void clearCalls();

    int openDocuments() const; // opened and not yet closed
    int liveObjects() const;   // handed out and not yet released

    struct State;

private:
    std::shared_ptr<State> m_state;
};
