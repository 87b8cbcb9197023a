#include "mzml/MzmlHead.h"

#include "mzml/MzmlFault.h"
#include "mzml/SourceFolder.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Ends a reading that needs only the head.
struct HeadComplete
{
};

// Ends a first half that reached its cut in the run's spectrum list.
struct HalfReadInList
{
};

// Only spectra stand in the run's spectrum list.
void CheckSpectrumListChild(const XmlToken &child)
{
    if (child.name != "spectrum")
        throw MzmlFault{u"the spectrum list holds an element <%1> at byte %2, which is not a spectrum"_s.arg(
            ShownValue(QString::fromUtf8(child.name)), QString::number(child.start))};
}

class MzmlReader
{
public:
    // Without a head, reads one up to the first spectrum; with one, reads
    // the spectra with it.
    MzmlReader(XmlTokenizer &tokenizer, const MzmlHead *head, const SpectrumReader &spectrum)
        : m_tokenizer(tokenizer), m_known(head), m_spectrum(spectrum)
    {
    }

    MzmlHead read()
    {
        try {
            readRoot();
            while (m_known && m_tokenizer.next().kind != XmlToken::Kind::End) {
            }
        } catch (const HeadComplete &) {
        } catch (const MzmlFault &fault) {
            if (m_mzmlRoot)
                throw;
            throw NotMzmlFault{{u"not an mzML acquisition (%1)"_s.arg(fault.what)}};
        }
        chooseSample();
        return std::move(m_head);
    }

private:
    void readRoot()
    {
        const XmlToken *token = &m_tokenizer.next();
        while (!token->opensElement())
            token = &m_tokenizer.next();
        const XmlToken &root = *token;
        m_head.encoding = m_tokenizer.declaredEncoding();
        m_head.textEncoding = m_tokenizer.encoding();
        // A document of mzML's root element is an export, damaged or not.
        m_mzmlRoot = root.name == "indexedmzML" || root.name == "mzML";
        if (root.name == "indexedmzML") {
            bool found = false;
            ReadChildren(m_tokenizer, [&](const XmlToken &child) {
                if (child.name == "mzML" && !found) {
                    found = true;
                    readMzml();
                }
            });
            if (!found)
                throw NotMzmlFault{{u"not an mzML acquisition (its root element <indexedmzML> holds no <mzML>)"_s}};
        } else if (root.name == "mzML") {
            readMzml();
        } else {
            throw MzmlFault{u"its root element is <%1>"_s.arg(ShownValue(QString::fromUtf8(root.name)))};
        }
    }

    void readMzml()
    {
        ReadChildren(m_tokenizer, [&](const XmlToken &child) {
            if (m_known && child.name != "run")
                return;
            if (child.name == "fileDescription")
                readFileDescription();
            else if (child.name == "referenceableParamGroupList")
                readParamGroups();
            else if (child.name == "sampleList")
                readSamples();
            else if (child.name == "run" && !m_runSeen)
                readRun();
        });
    }

    // The first sourceFile of the sourceFileList.
    void readFileDescription()
    {
        ReadChildren(m_tokenizer, [&](const XmlToken &list) {
            if (list.name != "sourceFileList")
                return;
            ReadChildren(m_tokenizer, [&](const XmlToken &file) {
                if (file.name == "sourceFile" && !m_sourceFileSeen) {
                    m_sourceFileSeen = true;
                    m_head.sourceFolder = SourceFolder(m_tokenizer.attributeValue("location"));
                }
            });
        });
    }

    // A group holds parameters only: one that referred to others could
    // multiply them beyond any measure, level by level.
    void readParamGroups()
    {
        ReadChildren(m_tokenizer, [&](const XmlToken &child) {
            if (child.name != "referenceableParamGroup")
                return;
            const QString id = m_tokenizer.attributeValue("id");
            ParamGroup group;
            ReadChildren(m_tokenizer, [&](const XmlToken &param) {
                if (param.name == "referenceableParamGroupRef")
                    throw MzmlFault{
                        u"the parameter group \"%1\" refers to another group, which mzML does not allow"_s.arg(
                            ShownValue(id))};
                group.addParam(m_tokenizer);
            });
            m_head.groups.insert(id, std::move(group));
        });
    }

    void readSamples()
    {
        ReadChildren(m_tokenizer, [&](const XmlToken &child) {
            if (child.name != "sample")
                return;
            MzmlSample sample{m_tokenizer.attributeValue("id"), m_tokenizer.attributeValue("name"), {}};
            ReadChildren(m_tokenizer, [&](const XmlToken &) {
                ReadParam(m_tokenizer, m_head.groups, sample.texts, &ParamGroup::sample);
            });
            m_samples.push_back(std::move(sample));
        });
    }

    void readRun()
    {
        m_runSeen = true;
        m_sampleRef = m_tokenizer.attributeValue("sampleRef");
        const QByteArrayView stamp = m_tokenizer.attribute("startTimeStamp");
        if (!stamp.isNull())
            m_head.startTimeStamp = m_tokenizer.value(stamp);
        bool listSeen = false;
        ReadChildren(m_tokenizer, [&](const XmlToken &child) {
            if (child.name == "spectrumList" && !listSeen) {
                listSeen = true;
                readSpectrumList();
            }
        });
    }

    void readSpectrumList()
    {
        m_head.spectrumList = m_tokenizer.openElements();
        try {
            ReadChildren(m_tokenizer, [&](const XmlToken &child) {
                CheckSpectrumListChild(child);
                if (!m_known)
                    throw HeadComplete{};
                m_spectrum(m_tokenizer, *m_known);
            });
        } catch (const HalfRead &) {
            throw HalfReadInList{};
        }
    }

    // The sample that the run names, else the first.
    void chooseSample()
    {
        const auto named = std::find_if(m_samples.begin(), m_samples.end(),
                                        [&](const MzmlSample &sample) { return sample.id == m_sampleRef; });
        if (named != m_samples.end())
            m_head.sample = *named;
        else if (!m_samples.empty())
            m_head.sample = m_samples.front();
    }

    XmlTokenizer &m_tokenizer;
    const MzmlHead *m_known;
    const SpectrumReader &m_spectrum;
    MzmlHead m_head;
    std::vector<MzmlSample> m_samples;
    QString m_sampleRef;
    bool m_mzmlRoot = false;
    bool m_runSeen = false;
    bool m_sourceFileSeen = false;
};

} // namespace

MzmlHead ReadMzml(ByteSource &source)
{
    XmlTokenizer tokenizer(source, 0, XmlTokenizer::Scope::Document);
    return MzmlReader(tokenizer, nullptr, {}).read();
}

void ReadMzml(ByteSource &source, const MzmlHead &head, const SpectrumReader &spectrum)
{
    XmlTokenizer tokenizer(source, 0, XmlTokenizer::Scope::Document);
    MzmlReader(tokenizer, &head, spectrum).read();
}

bool ReadMzmlFirstHalf(ByteSource &source, const MzmlHead &head, const SpectrumReader &spectrum)
{
    XmlTokenizer tokenizer(source, 0, XmlTokenizer::Scope::Document);
    try {
        MzmlReader(tokenizer, &head, spectrum).read();
    } catch (const HalfReadInList &) {
        // Between two spectra, not inside one.
        return tokenizer.openElements() == head.spectrumList;
    } catch (const HalfRead &) {
    } catch (const MzmlFault &) {
    }
    return false;
}

void ReadMzmlSecondHalf(ByteSource &source, qint64 cut, const MzmlHead &head, const SpectrumReader &spectrum)
{
    XmlTokenizer tokenizer(source, cut, head.textEncoding, head.spectrumList);
    ReadChildrenAt(tokenizer, tokenizer.openDepth() - 1, [&](const XmlToken &child) {
        CheckSpectrumListChild(child);
        spectrum(tokenizer, head);
    });
    while (tokenizer.next().kind != XmlToken::Kind::End) {
    }
}
