#pragma once

#include <QByteArray>
#include <QString>

// Empty when the program's reader and a reference XML parser (Qt's stream
// reader, which the program no longer uses) agree on the document at path:
// both refuse it, or both accept it and read the same spectra (count,
// filter texts, start times, points). Otherwise the disagreement, for a
// test's message or the fuzzer's finding. Documents that the reader refuses
// by design and the reference takes (a document type declaration, other
// encodings, markup beyond the reader's limits) agree by definition. The
// reference decodes arrays, start times and filter texts itself (Qt, zlib,
// the MS-Numpress library), so that a fault in the reader's decoding shows.
QString DisagreementWithReference(const QString &path);
