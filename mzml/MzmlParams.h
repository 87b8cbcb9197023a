#pragma once

// The controlled-vocabulary and user parameters that mzML attaches to its
// elements. Parameters reached through a referenceableParamGroupRef count
// like the element's own, in the place of the first reference to the group.

#include <QHash>
#include <QSet>
#include <QString>
#include <QXmlStreamReader>

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

// The referenceableParamGroups of a document, by id.
using ParamGroups = QHash<QString, ParamSet>;

// The element's name without a namespace prefix.
QStringView LocalName(const QXmlStreamReader &reader);

// When name is cvParam, userParam or referenceableParamGroupRef, adds what
// the element's attributes hold to params and returns true; otherwise
// returns false. Throws MzmlFault for a reference to a group that the
// document lacks.
bool AddParam(QStringView name, const QXmlStreamAttributes &attributes, const ParamGroups &groups, ParamSet &params);

// When the reader stands on the start of a cvParam, userParam or
// referenceableParamGroupRef, adds what it holds to params, moves past its end
// and returns true; otherwise returns false and leaves the reader alone.
// Throws MzmlFault for a reference to a group that the document lacks.
bool ReadParam(QXmlStreamReader &reader, const ParamGroups &groups, ParamSet &params);

// Reads the children of the current element into a ParamSet, skipping
// whatever is not a parameter.
ParamSet ReadParams(QXmlStreamReader &reader, const ParamGroups &groups);
