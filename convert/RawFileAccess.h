#pragma once

// The raw-file access component: the only way the program reads an
// acquisition. The program creates documents through CreateRawFileDocument;
// every other object is handed out by a document. Any operation may throw an
// Error. Objects handed out by a document must not outlive it.

#include "convert/Seam.h"

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

class FileHeaderInfo
{
public:
    virtual ~FileHeaderInfo() = default;
    // Days since 1899-12-30 00:00 local time; the fraction is the time of day.
    virtual double CreationDate() = 0;
};

class SampleInfoRecord
{
public:
    virtual ~SampleInfoRecord() = default;
    virtual QString Comment() = 0;
    virtual QString InstrumentMethod() = 0;
    virtual QString DataPath() = 0;
    virtual QString Position() = 0;
    virtual QString SampleName() = 0;
    // index 1: operator, index 2: instrument
    virtual QString UserText(int index) = 0;
};

class ScanFilter
{
public:
    virtual ~ScanFilter() = default;
    virtual QString Text() = 0;
};

class FilterCollection
{
public:
    virtual ~FilterCollection() = default;
    // n is the 1-based spectrum number.
    virtual std::unique_ptr<ScanFilter> ScanNumber(qint32 n) = 0;
};

// Row 0 (masses) and row 1 (intensities) of a spectrum, equally long.
struct SpectrumPoints
{
    std::vector<double> masses;
    std::vector<double> intensities;

    // The index of the last point; -1 for an empty spectrum.
    qsizetype UpperBound() const { return qsizetype(masses.size()) - 1; }
};

class SpectrumData
{
public:
    virtual ~SpectrumData() = default;
    virtual SpectrumPoints Points() = 0;
    // The same points handed to run in runs of consecutive points, in order,
    // so that a spectrum too large to hold whole need not be. A component
    // hands out the first run only once it knows every point sound: after a
    // failure no run of the spectrum has been handed out. By default, the
    // points as one run.
    virtual void PointsInRuns(const std::function<void(SpectrumPoints &)> &run)
    {
        SpectrumPoints points = Points();
        run(points);
    }
};

class SpectrumCollection
{
public:
    virtual ~SpectrumCollection() = default;
    virtual std::unique_ptr<SpectrumData> Item(qint32 n) = 0;
    virtual qint32 Count() = 0;
    // Start time of spectrum n in minutes.
    virtual double StartTime(qint32 n) = 0;
};

class DetectorChannel
{
public:
    virtual ~DetectorChannel() = default;
    virtual std::unique_ptr<FilterCollection> Filters() = 0;
    virtual std::unique_ptr<SpectrumCollection> Spectra(int index) = 0;
};

class RawFileDocument
{
public:
    virtual ~RawFileDocument() = default;
    virtual void Close() = 0;
    virtual void Open(const QString &path) = 0;
    virtual std::unique_ptr<FileHeaderInfo> FileHeader() = 0;
    virtual std::unique_ptr<SampleInfoRecord> SampleInfo() = 0;
    virtual std::unique_ptr<DetectorChannel> Detector(int type, int index) = 0;
};

// Creates an unopened document. Start-up installs the program's reader here
// (InstallMzmlReader); until then it fails. Tests replace it with an
// in-memory component.
extern Seam<std::unique_ptr<RawFileDocument>()> CreateRawFileDocument;

// The files that a document opened with rawPath may read: rawPath, and any
// file the component reads in its place (the mzML reader: the export beside
// a RAW path). Asked without opening anything, so that a writer can refuse
// an output that would overwrite its own input before it creates the
// output. Until a reader is installed: rawPath alone.
extern Seam<QStringList(const QString &rawPath)> FilesReadFor;

// Closes the document after a failure that is already being reported; the
// document's own failure to close adds nothing to it.
inline void CloseAfterFailure(RawFileDocument &document) noexcept
{
    try {
        document.Close();
    } catch (...) {
    }
}
