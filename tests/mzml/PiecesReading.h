#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The tokens of the document as the tokenizer hands them out, one line
// each (kind, offsets, depth, name, attributes with their values), then its
// fault if it has one; its bytes handed over in pieces of a random size up
// to largestPiece, drawn from seed so that a failure repeats.
QStringList TokensInPieces(const QByteArray &document, int largestPiece, quint32 seed);

// Empty when the document reads to the same tokens, or the same fault,
// whole as in pieces of a few bytes: read whole, a tag is read in one pass;
// in pieces, the bytes at hand cut it and it is checked by its end first.
// Otherwise the difference, for a test's message or the fuzzer's finding.
QString DisagreementOfPieces(const QByteArray &document);
