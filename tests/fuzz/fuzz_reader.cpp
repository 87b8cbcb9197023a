// libFuzzer target: arbitrary bytes as an acquisition, read the way a
// conversion reads it. An Error is the expected outcome of bad input;
// anything else (a crash, a sanitizer finding, another exception, a hang)
// is a fault in the reader, and so is a disagreement with the reference
// XML parser on whether the document is well-formed or what its spectra are,
// one between the pass over it in two halves and the pass in one, and one
// between its tokens read whole and read in pieces.

#include "convert/Errors.h"
#include "mzml/MzmlDocument.h"
#include "tests/fake/TestFiles.h"
#include "tests/mzml/HalvesReading.h"
#include "tests/mzml/PiecesReading.h"
#include "tests/mzml/ReadAcquisition.h"
#include "tests/mzml/ReferenceReading.h"

#include <QCoreApplication>
#include <QDir>
#include <QHashFunctions>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

// One file per fuzzing process, rewritten for every input.
const QString &InputPath()
{
    static const QString path =
        QDir::temp().filePath(QStringLiteral("fuzz_reader-%1.raw").arg(QCoreApplication::applicationPid()));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    InstallMzmlReader();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (!WriteBytes(InputPath(), QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size))))
        qFatal("fuzz_reader: cannot write %s", qPrintable(InputPath()));
    try {
        ReadAcquisition(InputPath());
    } catch (const Error &) {
    }
    const QString disagreement = DisagreementWithReference(InputPath());
    if (!disagreement.isEmpty())
        qFatal("fuzz_reader: %s", qPrintable(disagreement));
    // Cut where the reader would, at a spectrum's start tag, but after a
    // point that the input itself picks, so that every cut gets its turn.
    const QByteArray document = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype cut = document.indexOf("<spectrum", qsizetype(qHash(document, 0) % (size + 1)));
    const QString halves = cut < 0 ? QString() : DisagreementOfHalves(document, cut);
    if (!halves.isEmpty())
        qFatal("fuzz_reader: %s", qPrintable(halves));
    // Tags read whole in one pass, and a piece at a time checked by their end first, read alike.
    const QString pieces = DisagreementOfPieces(document);
    if (!pieces.isEmpty())
        qFatal("fuzz_reader: %s", qPrintable(pieces));
    return 0;
}
