#pragma once

// What the controlled-vocabulary and user parameters that mzML attaches to
// its elements mean to the reader: the few terms it asks for. Parameters
// reached through a referenceableParamGroupRef count like the element's own,
// in the place of the reference. A group's meaning is derived once, where
// the group is defined, and each reference adds that meaning: a group of
// any size that every spectrum refers to costs a reference no more than one
// parameter. The first parameter of each kind counts, so a group referred
// to twice counts once.

#include "mzml/BinaryArrayDecoding.h"
#include "mzml/XmlTokenizer.h"

#include <QHash>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// A scan start time (MS:1000016) as a spectrum gives it.
struct StartTimeTerm
{
    std::optional<double> minutes; // when its value and unit read as a start time
    QString value;                 // otherwise its texts, which its fault quotes
    QString unitAccession;
};

// What a spectrum or its first scan says that the conversion asks for; the
// first parameter of each kind counts. No text is made for a parameter
// that is not one of these, nor for one that reads as it stands.
struct SpectrumTerms
{
    std::optional<QByteArray> filter;       // MS:1000512, filter string, in UTF-8
    std::optional<StartTimeTerm> startTime; // MS:1000016, scan start time
    std::optional<bool> msLevelOne;         // MS:1000511, ms level: whether it is 1
    bool sim = false;                       // MS:1000582, SIM spectrum
    bool ms1 = false;                       // MS:1000579, MS1 spectrum

    // Adds the cvParam on whose tag the tokenizer stands.
    void addCvParam(const XmlTokenizer &tokenizer);
    void addUserParam(const XmlTokenizer &) {}
    // Adds the terms of a group: the first of each kind still counts.
    void add(const SpectrumTerms &group);
};

// The userParams of a sample that the conversion reads.
enum class SampleText { Comment, InstrumentMethod, Position, DataPath, UserText1, UserText2 };

// What a sample's userParams hold of the texts the conversion reads: the
// value of the first userParam named exactly so, as stored.
class SampleTexts
{
public:
    void addCvParam(const XmlTokenizer &) {}
    // Adds the userParam on whose tag the tokenizer stands.
    void addUserParam(const XmlTokenizer &tokenizer);
    // Adds the texts of a group: the first of each name still counts.
    void add(const SampleTexts &group);
    std::optional<QString> operator[](SampleText text) const;

private:
    // Only those named: most elements and groups name none.
    std::vector<std::pair<SampleText, QString>> m_texts;
};

// What a referenceableParamGroup means to each kind of element that refers to it.
struct ParamGroup
{
    SpectrumTerms spectrum;
    ArrayTerms array;
    SampleTexts sample;

    // Adds the cvParam or userParam on whose tag the tokenizer stands to
    // every meaning.
    void addParam(const XmlTokenizer &tokenizer);
};

// The referenceableParamGroups of a document, by id.
using ParamGroups = QHash<QString, ParamGroup>;

// The group that the referenceableParamGroupRef on whose tag the tokenizer
// stands refers to. Throws MzmlFault when the document lacks it.
const ParamGroup &ReferencedGroup(const XmlTokenizer &tokenizer, const ParamGroups &groups);

// The number of a PSI-MS accession, "MS:" and seven digits, which the
// reader tells terms by: a number compares at once. -1 for any other text.
int AccessionNumber(QByteArrayView accession);

// The attribute's value as the document means it (see XmlTokenizer::value),
// in UTF-8: its raw bytes, without a detour through text, when nothing in
// them reads otherwise. Empty when the tag has none.
QByteArray AttributeText(const XmlTokenizer &tokenizer, QByteArrayView name);
// The same without a copy: the raw bytes where they read as written, else
// the value resolved into resolved. Valid while both are.
QByteArrayView AttributeBytes(const XmlTokenizer &tokenizer, QByteArrayView name, QByteArray &resolved);

// How many parameters and group references the reader has taken in, in this
// process, on this thread and on threads that have ended: tests hold it to
// what a file holds, which bounds the work.
qint64 ParametersVisited();
// Counts one more parameter or reference taken in.
void VisitParameter();

// When the element whose tag the tokenizer just returned is a cvParam,
// userParam or referenceableParamGroupRef, adds what it means to terms (for
// a reference, meaning of the group) and returns true; otherwise returns false.
template <typename Terms>
bool ReadParam(const XmlTokenizer &tokenizer, const ParamGroups &groups, Terms &terms, const Terms ParamGroup::*meaning)
{
    const QByteArrayView name = tokenizer.current().name;
    if (name == "cvParam")
        terms.addCvParam(tokenizer);
    else if (name == "userParam")
        terms.addUserParam(tokenizer);
    else if (name == "referenceableParamGroupRef")
        terms.add(ReferencedGroup(tokenizer, groups).*meaning);
    else
        return false;
    VisitParameter();
    return true;
}

// Calls child with each child element of the open element at depth, from
// wherever among its children the tokenizer stands, up to its end tag.
// Whatever of a child's content child leaves unread is passed over.
template <typename Child>
void ReadChildrenAt(XmlTokenizer &tokenizer, int depth, Child &&child)
{
    for (;;) {
        const XmlToken &token = tokenizer.next();
        if (token.kind == XmlToken::Kind::EndTag && token.depth == depth)
            return;
        if (token.opensElement()) {
            child(token);
            tokenizer.skipTo(depth + 1);
        }
    }
}

// The same for the element whose tag the tokenizer just returned.
template <typename Child>
void ReadChildren(XmlTokenizer &tokenizer, Child &&child)
{
    if (tokenizer.current().kind == XmlToken::Kind::StartTag)
        ReadChildrenAt(tokenizer, tokenizer.current().depth, child);
}
