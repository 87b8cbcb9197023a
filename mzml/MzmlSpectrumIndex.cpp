#include "mzml/MzmlSpectrumIndex.h"

#include "mzml/FilterText.h"
#include "mzml/MzmlFault.h"
#include "mzml/MzmlSpectrum.h"

#include <QHash>

using namespace Qt::Literals::StringLiterals;

namespace {

class IndexBuilder
{
public:
    void add(XmlTokenizer &tokenizer, const MzmlHead &head)
    {
        SpectrumEntry entry;
        entry.declaredLength = declaredLength(tokenizer);
        readSpectrum(tokenizer, head, entry);
        m_index.entries.push_back(entry);
    }

    SpectrumIndex take() { return std::move(m_index); }

private:
    qint64 declaredLength(const XmlTokenizer &tokenizer)
    {
        try {
            return DeclaredLength(tokenizer, "defaultArrayLength");
        } catch (const MzmlFault &fault) {
            m_index.faults.push_back(fault.what);
            return -qint64(m_index.faults.size());
        }
    }

    // The spectrum's own parameters and its first scan's (of its last scan
    // list) up to its arrays, which are only marked.
    void readSpectrum(XmlTokenizer &tokenizer, const MzmlHead &head, SpectrumEntry &entry)
    {
        SpectrumTerms spectrum;
        SpectrumTerms scan;
        bool arraysBegun = false;
        entry.arraysStart = entry.arraysEnd = tokenizer.current().end;
        ReadChildren(tokenizer, [&](const XmlToken &child) {
            if (arraysBegun)
                return;
            if (child.name == "binaryDataArrayList") {
                arraysBegun = true;
                entry.arraysStart = child.start;
            } else if (child.name == "scanList") {
                scan = readScanList(tokenizer, head);
            } else {
                addParam(tokenizer, head, spectrum);
            }
        });
        if (tokenizer.current().kind == XmlToken::Kind::EndTag) {
            entry.arraysEnd = tokenizer.current().start;
            if (!arraysBegun)
                entry.arraysStart = entry.arraysEnd;
        }
        entry.filter = filterId(FilterText(spectrum, scan));
        try {
            entry.startTime = StartTimeInMinutes(scan.startTime);
        } catch (const MzmlFault &fault) {
            m_index.faults.push_back(fault.what);
            entry.startTimeFault = qint32(m_index.faults.size() - 1);
        }
    }

    SpectrumTerms readScanList(XmlTokenizer &tokenizer, const MzmlHead &head)
    {
        SpectrumTerms terms;
        bool scanSeen = false;
        ReadChildren(tokenizer, [&](const XmlToken &child) {
            if (child.name != "scan" || scanSeen)
                return;
            scanSeen = true;
            ReadChildren(tokenizer, [&](const XmlToken &) { addParam(tokenizer, head, terms); });
        });
        return terms;
    }

    // A fault of the markup names its byte; one of a parameter, the spectrum.
    void addParam(const XmlTokenizer &tokenizer, const MzmlHead &head, SpectrumTerms &terms)
    {
        try {
            ReadParam(tokenizer, head.groups, terms, &ParamGroup::spectrum);
        } catch (MzmlFault &fault) {
            fault.spectrum = qint64(m_index.entries.size()) + 1;
            throw;
        }
    }

    qint32 filterId(const QString &text)
    {
        const auto known = m_filterIds.constFind(text);
        if (known != m_filterIds.constEnd())
            return *known;
        const qint32 id = qint32(m_index.filters.size());
        m_index.filters.push_back(text);
        m_filterIds.insert(text, id);
        return id;
    }

    SpectrumIndex m_index;
    QHash<QString, qint32> m_filterIds;
};

} // namespace

SpectrumIndex BuildSpectrumIndex(ByteSource &source, const MzmlHead &head)
{
    IndexBuilder builder;
    ReadMzml(source, head, [&](XmlTokenizer &tokenizer, const MzmlHead &known) { builder.add(tokenizer, known); });
    return builder.take();
}
