#include "mzml/MzmlParams.h"

#include "mzml/MzmlFault.h"
#include "mzml/MzmlSpectrum.h"

#include <atomic>

using namespace Qt::Literals::StringLiterals;

namespace {

// Each thread counts on its own, since two threads that read halves of a
// document would otherwise contend for one counter at every parameter, and
// adds its count to the process's when it ends.
std::atomic<qint64> VisitedByEndedThreads{0};
struct ThreadVisits
{
    qint64 count = 0;
    ~ThreadVisits() { VisitedByEndedThreads.fetch_add(count, std::memory_order_relaxed); }
};
thread_local ThreadVisits Visits;

// The term of the accession, for SpectrumTerms; Other for the rest.
enum class Term { Filter, StartTime, MsLevel, Sim, Ms1, Other };

Term TermOf(QByteArrayView accession)
{
    switch (AccessionNumber(accession)) {
    case 1000512: return Term::Filter;
    case 1000016: return Term::StartTime;
    case 1000511: return Term::MsLevel;
    case 1000582: return Term::Sim;
    case 1000579: return Term::Ms1;
    default: return Term::Other;
    }
}

} // namespace

int AccessionNumber(QByteArrayView accession)
{
    if (accession.size() != 10 || !accession.startsWith("MS:"))
        return -1;
    int number = 0;
    for (const char c : accession.sliced(3)) {
        if (c < '0' || c > '9')
            return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

QByteArrayView AttributeBytes(const XmlTokenizer &tokenizer, QByteArrayView name, QByteArray &resolved)
{
    const QByteArrayView raw = tokenizer.attribute(name);
    // References, tabs and line breaks read otherwise than they are written,
    // and so does a byte beyond ASCII in a document that is not in UTF-8.
    for (const char c : raw)
        if (c == '&' || c == '\t' || c == '\n' || c == '\r'
            || (uchar(c) >= 0x80 && tokenizer.encoding() != TextEncoding::Utf8)) {
            resolved = tokenizer.value(raw).toUtf8();
            return resolved;
        }
    return raw;
}

QByteArray AttributeText(const XmlTokenizer &tokenizer, QByteArrayView name)
{
    QByteArray resolved;
    return AttributeBytes(tokenizer, name, resolved).toByteArray();
}

void SpectrumTerms::addCvParam(const XmlTokenizer &tokenizer)
{
    QByteArray resolved;
    switch (TermOf(AttributeBytes(tokenizer, "accession", resolved))) {
    case Term::Filter:
        // Its bytes as they stand serve as its text, without a detour through UTF-16.
        if (!filter)
            filter = AttributeText(tokenizer, "value");
        break;
    case Term::StartTime:
        if (!startTime)
            startTime = StartTimeOfParam(tokenizer);
        break;
    case Term::MsLevel:
        if (!msLevelOne) {
            bool ok = false;
            msLevelOne = tokenizer.attribute("value") == "1"
                      || (tokenizer.attributeValue("value").trimmed().toInt(&ok) == 1 && ok);
        }
        break;
    case Term::Sim: sim = true; break;
    case Term::Ms1: ms1 = true; break;
    case Term::Other: break;
    }
}

void SpectrumTerms::add(const SpectrumTerms &group)
{
    if (!filter)
        filter = group.filter;
    if (!startTime)
        startTime = group.startTime;
    if (!msLevelOne)
        msLevelOne = group.msLevelOne;
    sim = sim || group.sim;
    ms1 = ms1 || group.ms1;
}

void SampleTexts::addUserParam(const XmlTokenizer &tokenizer)
{
    static constexpr QByteArrayView names[] = {"Comment",   "Instrument Method", "Position",
                                               "Data Path", "User Text 1",       "User Text 2"};
    QByteArray resolved;
    const QByteArrayView name = AttributeBytes(tokenizer, "name", resolved);
    for (size_t i = 0; i < std::size(names); ++i)
        if (name == names[i] && !(*this)[SampleText(i)])
            m_texts.emplace_back(SampleText(i), tokenizer.attributeValue("value"));
}

void SampleTexts::add(const SampleTexts &group)
{
    for (const auto &[text, value] : group.m_texts)
        if (!(*this)[text])
            m_texts.emplace_back(text, value);
}

std::optional<QString> SampleTexts::operator[](SampleText text) const
{
    for (const auto &[named, value] : m_texts)
        if (named == text)
            return value;
    return std::nullopt;
}

void ParamGroup::addParam(const XmlTokenizer &tokenizer)
{
    const QByteArrayView name = tokenizer.current().name;
    if (name == "cvParam") {
        spectrum.addCvParam(tokenizer);
        array.addCvParam(tokenizer);
    } else if (name == "userParam") {
        sample.addUserParam(tokenizer);
    } else {
        return;
    }
    VisitParameter();
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

qint64 ParametersVisited()
{
    return VisitedByEndedThreads.load(std::memory_order_relaxed) + Visits.count;
}

void VisitParameter()
{
    ++Visits.count;
}
