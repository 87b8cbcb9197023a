#pragma once

#include <QByteArray>
#include <QString>

class SpectrumEntry;

// Every field of an entry, on one line.
QString Described(const SpectrumEntry &entry);

// Empty when the pass over the document in two halves, cut at byte cut,
// reads what the pass in one reads: the same spectra, or the same fault;
// or when the halves do not join, which sends the reader to one pass.
// Otherwise the difference, for a test's message or the fuzzer's finding.
// joined, when given, tells whether they joined.
QString DisagreementOfHalves(const QByteArray &document, qint64 cut, bool *joined = nullptr);
