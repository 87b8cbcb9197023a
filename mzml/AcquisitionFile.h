#pragma once

#include "convert/Errors.h"
#include "mzml/ByteSource.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlHead.h"
#include "mzml/MzmlSpectrumIndex.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

#include <memory>

// The file that a document reads, and its head.
struct AcquisitionFile
{
    QString path;            // the file read, as the user knows it: the path opened, or the export beside it
    QFile file;              // open for reading: the file at path
    bool compressed = false; // its content is gzip-compressed
    std::unique_ptr<QTemporaryFile> copy; // that content decompressed, once the spectra are read; removed with it
    MzmlHead head;

    bool isOpen() const { return file.isOpen(); }
    // Closes the file and removes the copy.
    void close();
    // The document from its start, decompressed as it is read; the pieces
    // also go to copy when given.
    std::unique_ptr<ByteSource> content(QFileDevice *copy = nullptr);
    // Reads the whole document once: its spectra. Content that is
    // compressed is decompressed into the copy on the way. Throws MzmlFault.
    SpectrumIndex readSpectra();
    std::optional<SpectrumIndex> readSpectraInHalves();
    // The file that holds the spectra's bytes: the file, or the copy.
    QFile &spectraFile() { return copy ? *copy : file; }
    // The fault as an Error that names the file and, when given, the spectrum.
    Error error(const MzmlFault &fault) const;
};

// Opens the acquisition that rawPath names and reads its head. rawPath itself
// is read when its content is mzML, plain or gzip-compressed (told by the
// content, not the name). Otherwise, when rawPath ends in ".raw" in any
// letter case, the export beside it is read, also when rawPath does not
// exist: X.mzML, else X.mzML.gz, for rawPath X.raw, the extension in any
// letter case. Throws an Error that names the file; when neither is read, it
// says why rawPath is not and that no export is beside it.
void OpenAcquisitionFile(AcquisitionFile &acquisition, const QString &rawPath);

// The files that OpenAcquisitionFile may read for rawPath: rawPath, and for
// X.raw every export beside it, X.mzML and X.mzML.gz in any letter case,
// there or not. Opens nothing: which of them is read depends on rawPath's
// content and on the files there, and a writer refuses to overwrite any.
QStringList AcquisitionFilesFor(const QString &rawPath);
