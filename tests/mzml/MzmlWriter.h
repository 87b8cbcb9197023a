#pragma once

// Writes acquisitions as mzML for the tests, the demo and the benchmarks:
// anything the in-memory component can hold, in each encoding the reader
// decodes, plain or indexed.

#include "mzml/BinaryArrayDecoding.h"
#include "tests/fake/FakeComponent.h"

#include <QCryptographicHash>
#include <QFile>
#include <QString>

enum class TimeUnit { Minutes, Seconds, Milliseconds };

struct MzmlLayout
{
    bool indexed = true;
    ArrayEncoding masses{Precision::Float64, true, Numpress::None};
    ArrayEncoding intensities{Precision::Float32, true, Numpress::None};
    TimeUnit timeUnit = TimeUnit::Minutes;
    // Sample texts and array encodings through referenceableParamGroupRef.
    bool throughGroups = false;
    // A line break after each tag as exporters write them; without, none at
    // all: every tag, the index included, right after the one before.
    bool lineBreaks = true;
};

// Streams one acquisition: the head at construction, then one spectrum per
// add, so that large files never sit in memory. Throws std::runtime_error
// when the file cannot be written.
class MzmlWriter
{
public:
    // The spectra of acquisition are not written; spectrumCount announces
    // how many add will bring.
    MzmlWriter(const QString &path, const FakeAcquisition &acquisition, qint64 spectrumCount,
               const MzmlLayout &layout = {});
    void add(const FakeSpectrum &spectrum);
    void finish();

private:
    void write(const QByteArray &markup);
    void writeArray(const std::vector<double> &values, const ArrayEncoding &encoding, const char *group,
                    const char *arrayType);

    QFile m_file;
    MzmlLayout m_layout;
    QCryptographicHash m_checksum{QCryptographicHash::Sha1};
    qint64 m_written = 0;
    std::vector<std::pair<QByteArray, qint64>> m_offsets; // id, offset
};

// The whole acquisition, spectra included.
void WriteMzml(const QString &path, const FakeAcquisition &acquisition, const MzmlLayout &layout = {});

// The bytes as one gzip stream, as gzip writes them.
QByteArray Gzipped(const QByteArray &bytes);
