#pragma once

// The controlled-vocabulary and user parameters that mzML attaches to its
// elements. Parameters reached through a referenceableParamGroupRef count
// like the element's own, in the place of the first reference to the group.

#include "mzml/XmlTokenizer.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <optional>
#include <vector>

struct CvParam
{
    QString accession;
    QString name;
    QString value;
    QString unitAccession;
};

struct UserParam
{
    QString name;
    QString value;
};

struct ParamSet
{
    std::vector<CvParam> cvParams;
    std::vector<UserParam> userParams;

    const CvParam *cvParam(QStringView accession) const;
    std::optional<QString> userParamValue(QStringView name) const;
    // Adds the group's parameters unless they are in already: a repeated
    // reference repeats what the first gave, and copies of a large group
    // would multiply the memory that its one definition takes.
    void appendGroup(const QString &id, const ParamSet &group);

private:
    QSet<QString> m_groups; // the ids of the groups added
};

// What a spectrum or its first scan says that the conversion asks for; the
// first parameter of each kind counts, as ParamSet::cvParam finds it. Kept
// apart from ParamSet so that reading a spectrum makes no text it does not need.
struct SpectrumTerms
{
    std::optional<QString> filter;    // MS:1000512, filter string
    std::optional<CvParam> startTime; // MS:1000016, scan start time (value and unit)
    std::optional<QString> msLevel;   // MS:1000511
    bool sim = false;                 // MS:1000582, SIM spectrum
    bool ms1 = false;                 // MS:1000579, MS1 spectrum

    // Adds the cvParam on whose tag the tokenizer stands.
    void addCvParam(const XmlTokenizer &tokenizer);
    // Adds the terms of a group: the first of each kind still counts.
    void add(const SpectrumTerms &group);
    static SpectrumTerms Of(const ParamSet &params);
};

struct ParamGroup
{
    ParamSet params;
    SpectrumTerms terms;
};

// The referenceableParamGroups of a document, by id.
using ParamGroups = QHash<QString, ParamGroup>;

// The group that the referenceableParamGroupRef on whose tag the tokenizer
// stands refers to. Throws MzmlFault when the document lacks it.
const ParamGroup &ReferencedGroup(const XmlTokenizer &tokenizer, const ParamGroups &groups);

// When the element whose tag the tokenizer just returned is a cvParam,
// userParam or referenceableParamGroupRef, adds what it holds to params and
// returns true; otherwise returns false.
bool ReadParam(XmlTokenizer &tokenizer, const ParamGroups &groups, ParamSet &params);

// Reads the children of the element whose tag the tokenizer just returned
// into a ParamSet, passing over whatever is not a parameter.
ParamSet ReadParams(XmlTokenizer &tokenizer, const ParamGroups &groups);

// Calls child with each child element of the element whose tag the
// tokenizer just returned, up to its end tag. Whatever of a child's content
// child leaves unread is passed over.
template <typename Child>
void ReadChildren(XmlTokenizer &tokenizer, Child &&child)
{
    if (tokenizer.current().kind != XmlToken::Kind::StartTag)
        return;
    const int depth = tokenizer.current().depth;
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
