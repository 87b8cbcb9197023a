#pragma once

// A spectrum too large to hold whole: its arrays are checked as they stand
// in the file, then decoded a piece at a time, so that memory stays within
// a fixed allowance whatever the spectrum's size.

#include "convert/RawFileAccess.h"
#include "mzml/BinaryArrayDecoding.h"
#include "mzml/MzmlSpectrum.h"

#include <QFile>

#include <functional>
#include <memory>
#include <mutex>

// A spectrum of more points than this is handed out in pieces; one of this
// many, held whole, takes a few megabytes.
constexpr qint64 LargeSpectrumPoints = qint64(1) << 18;
// The points of one piece.
constexpr size_t PiecePoints = size_t(1) << 16;

// Where an array's base64 text stands in a file, and what it holds.
struct ArrayInFile
{
    qint64 start = 0;
    qint64 size = 0;
    ArrayEncoding encoding;
    QString name; // "m/z array", for the faults
};

// Throws the MzmlFault that DecodeBinaryArray would throw for the array,
// reading it a piece at a time; returns when it decodes to exactly
// declaredLength values. Takes arrays without numpress only.
void CheckArrayInFile(QFile &file, std::mutex &mutex, const ArrayInFile &array, qint64 declaredLength);

// The bytes of an array, decoded and inflated as they are read.
class ArrayBytes;

// Decodes the array's values, which CheckArrayInFile has found sound, a run
// at a time.
class ArrayValueReader
{
public:
    ArrayValueReader(QFile &file, std::mutex &mutex, const ArrayInFile &array);
    ~ArrayValueReader();
    ArrayValueReader(const ArrayValueReader &) = delete;
    ArrayValueReader &operator=(const ArrayValueReader &) = delete;

    // The next count values, in place of out's. Throws MzmlFault when the
    // array holds fewer: the file changed since it was checked.
    void read(std::vector<double> &out, size_t count);

private:
    std::unique_ptr<ArrayBytes> m_bytes;
    size_t m_valueBytes;
    std::vector<unsigned char> m_buffer; // a run's bytes, kept for the next run
};

// Whether the spectrum is one to decode in pieces: large, and its arrays
// found where they stand, without numpress.
bool DecodesInPieces(qint64 declaredLength, const std::optional<ArrayPlaces> &places);

// Hands the points of a spectrum that DecodesInPieces to piece, in order, at
// most PiecePoints at a time, after both arrays have been checked: a fault
// of either is thrown before the first piece, in the words that decoding
// the spectrum whole gives. The arrays' bytes are those from arraysStart up
// to arraysEnd in the file. False, with nothing handed out, when the arrays
// are not at their places: the spectrum is then to be decoded whole. Throws
// MzmlFault without a spectrum number.
bool DecodeSpectrumInPieces(QFile &file, std::mutex &mutex, qint64 arraysStart, qint64 arraysEnd, qint64 declaredLength,
                            const ArrayPlaces &places, const std::function<void(SpectrumPoints &)> &piece);
