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

namespace {

// The term of the accession, for SpectrumTerms; Other for the rest.
enum class Term { Filter, StartTime, MsLevel, Sim, Ms1, Other };

Term TermOf(QByteArrayView accession)
{
    static constexpr struct
    {
        QByteArrayView accession;
        Term term;
    } terms[] = {{"MS:1000512", Term::Filter},
                 {"MS:1000016", Term::StartTime},
                 {"MS:1000511", Term::MsLevel},
                 {"MS:1000582", Term::Sim},
                 {"MS:1000579", Term::Ms1}};
    for (const auto &entry : terms)
        if (accession == entry.accession)
            return entry.term;
    return Term::Other;
}

// param makes the parameter, only when it counts.
template <typename MakeParam>
void Add(SpectrumTerms &terms, Term term, MakeParam &&param)
{
    switch (term) {
    case Term::Filter:
        if (!terms.filter)
            terms.filter = param().value;
        break;
    case Term::StartTime:
        if (!terms.startTime)
            terms.startTime = param();
        break;
    case Term::MsLevel:
        if (!terms.msLevel)
            terms.msLevel = param().value;
        break;
    case Term::Sim: terms.sim = true; break;
    case Term::Ms1: terms.ms1 = true; break;
    case Term::Other: break;
    }
}

CvParam CvParamOf(const XmlTokenizer &tokenizer)
{
    return {tokenizer.attributeValue("accession"), tokenizer.attributeValue("name"), tokenizer.attributeValue("value"),
            tokenizer.attributeValue("unitAccession")};
}

} // namespace

void SpectrumTerms::addCvParam(const XmlTokenizer &tokenizer)
{
    const QByteArrayView raw = tokenizer.attribute("accession");
    const Term term = raw.contains('&') ? TermOf(tokenizer.value(raw).toUtf8()) : TermOf(raw);
    if (term != Term::Other)
        Add(*this, term, [&] {
            // The name is not asked for: no text is made for it.
            return CvParam{{}, {}, tokenizer.attributeValue("value"), tokenizer.attributeValue("unitAccession")};
        });
}

void SpectrumTerms::add(const SpectrumTerms &group)
{
    if (!filter)
        filter = group.filter;
    if (!startTime)
        startTime = group.startTime;
    if (!msLevel)
        msLevel = group.msLevel;
    sim = sim || group.sim;
    ms1 = ms1 || group.ms1;
}

SpectrumTerms SpectrumTerms::Of(const ParamSet &params)
{
    SpectrumTerms terms;
    for (const CvParam &param : params.cvParams)
        Add(terms, TermOf(param.accession.toUtf8()), [&] { return param; });
    return terms;
}

const ParamGroup &ReferencedGroup(const XmlTokenizer &tokenizer, const ParamGroups &groups)
{
    const QString ref = tokenizer.attributeValue("ref");
    const auto group = groups.constFind(ref);
    if (group == groups.constEnd())
        throw MzmlFault{
            u"it refers to the parameter group \"%1\", which the document does not define"_s.arg(ShownValue(ref))};
    return *group;
}

bool ReadParam(XmlTokenizer &tokenizer, const ParamGroups &groups, ParamSet &params)
{
    const QByteArrayView name = tokenizer.current().name;
    if (name == "cvParam") {
        params.cvParams.push_back(CvParamOf(tokenizer));
    } else if (name == "userParam") {
        params.userParams.push_back({tokenizer.attributeValue("name"), tokenizer.attributeValue("value")});
    } else if (name == "referenceableParamGroupRef") {
        params.appendGroup(tokenizer.attributeValue("ref"), ReferencedGroup(tokenizer, groups).params);
    } else {
        return false;
    }
    return true;
}

ParamSet ReadParams(XmlTokenizer &tokenizer, const ParamGroups &groups)
{
    ParamSet params;
    ReadChildren(tokenizer, [&](const XmlToken &) { ReadParam(tokenizer, groups, params); });
    return params;
}
