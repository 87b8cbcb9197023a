#pragma once

#include "mzml/MarkupLexer.h"

#include <QFile>
#include <QString>
#include <QXmlStreamAttributes>

#include <optional>
#include <vector>

// False for the token that ends the head of the spectrum where the lexer
// began: the start of its arrays, or its end when it has none. The arrays
// are the bulk of a spectrum, and the index needs only the head.
bool HeadGoesOn(const MarkupToken &token);

struct PlainTag
{
    MarkupToken::Kind kind = MarkupToken::Kind::StartTag;
    QString name;
    QXmlStreamAttributes attributes;
};

// The tags of the head of the spectrum whose start tag stands at offset,
// read without an XML reader: for the index, which reads every head. Only
// plain markup is taken, which Qt's reader reads to the same names and
// attributes without fault: ASCII tags without prefixes, entities, comments
// or text. Nothing for anything else, and for a head that cannot be read:
// Qt's reader then reads it and reports what is wrong.
std::optional<std::vector<PlainTag>> ReadPlainHead(QFile &file, qint64 offset, const QString &encoding);
