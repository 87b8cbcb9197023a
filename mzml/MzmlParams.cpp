#include "mzml/MzmlParams.h"

#include "mzml/MzmlFault.h"

using namespace Qt::Literals::StringLiterals;

const CvParam *ParamSet::cvParam(QStringView accession) const
{
    for (const CvParam &param : cvParams)
        if (param.accession == accession)
            return &param;
    return nullptr;
}

std::optional<QString> ParamSet::userParamValue(QStringView name) const
{
    for (const UserParam &param : userParams)
        if (param.name == name)
            return param.value;
    return std::nullopt;
}

void ParamSet::appendGroup(const QString &id, const ParamSet &group)
{
    if (m_groups.contains(id))
        return;
    m_groups.insert(id);
    cvParams.insert(cvParams.end(), group.cvParams.begin(), group.cvParams.end());
    userParams.insert(userParams.end(), group.userParams.begin(), group.userParams.end());
}

QStringView LocalName(const QXmlStreamReader &reader)
{
    const QStringView name = reader.name();
    const qsizetype colon = name.lastIndexOf(u':');
    return colon < 0 ? name : name.mid(colon + 1);
}

bool AddParam(QStringView name, const QXmlStreamAttributes &attributes, const ParamGroups &groups, ParamSet &params)
{
    if (name == u"cvParam") {
        params.cvParams.push_back({attributes.value(u"accession"_s).toString(), attributes.value(u"name"_s).toString(),
                                   attributes.value(u"value"_s).toString(),
                                   attributes.value(u"unitAccession"_s).toString()});
    } else if (name == u"userParam") {
        params.userParams.push_back({attributes.value(u"name"_s).toString(), attributes.value(u"value"_s).toString()});
    } else if (name == u"referenceableParamGroupRef") {
        const QString ref = attributes.value(u"ref"_s).toString();
        const auto group = groups.constFind(ref);
        if (group == groups.constEnd())
            throw MzmlFault{u"it refers to the parameter group \"%1\", which the document does not define"_s.arg(ref)};
        params.appendGroup(ref, *group);
    } else {
        return false;
    }
    return true;
}

bool ReadParam(QXmlStreamReader &reader, const ParamGroups &groups, ParamSet &params)
{
    if (!AddParam(LocalName(reader), reader.attributes(), groups, params))
        return false;
    reader.skipCurrentElement();
    return true;
}

ParamSet ReadParams(QXmlStreamReader &reader, const ParamGroups &groups)
{
    ParamSet params;
    while (reader.readNextStartElement())
        if (!ReadParam(reader, groups, params))
            reader.skipCurrentElement();
    return params;
}
