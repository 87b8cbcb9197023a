#include "mzml/MzmlHead.h"

#include "mzml/FileFragment.h"
#include "mzml/MzmlFault.h"
#include "mzml/SourceFilePath.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// Up to the root element: the encoding, and no document type declaration.
void ReadPrologue(QXmlStreamReader &reader, MzmlHead &head)
{
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartDocument: head.encoding = reader.documentEncoding().toString(); break;
        case QXmlStreamReader::DTD: throw MzmlFault{u"it declares a document type"_s};
        case QXmlStreamReader::StartElement: return;
        default: break;
        }
    }
    throw MzmlFault{reader.hasError() ? u"it is not an XML document: %1"_s.arg(reader.errorString())
                                      : u"it holds no element"_s};
}

// A group holds parameters only: one that referred to others could multiply
// them beyond any measure, level by level.
void ReadParamGroups(QXmlStreamReader &reader, MzmlHead &head)
{
    while (reader.readNextStartElement()) {
        if (LocalName(reader) == u"referenceableParamGroup") {
            const QString id = reader.attributes().value(u"id"_s).toString();
            ParamSet params;
            while (reader.readNextStartElement()) {
                if (LocalName(reader) == u"referenceableParamGroupRef")
                    throw MzmlFault{
                        u"the parameter group \"%1\" refers to another group, which mzML does not allow"_s.arg(id)};
                if (!ReadParam(reader, head.groups, params))
                    reader.skipCurrentElement();
            }
            head.groups.insert(id, params);
        } else {
            reader.skipCurrentElement();
        }
    }
}

std::vector<MzmlSample> ReadSamples(QXmlStreamReader &reader, const ParamGroups &groups)
{
    std::vector<MzmlSample> samples;
    while (reader.readNextStartElement()) {
        if (LocalName(reader) == u"sample") {
            const QXmlStreamAttributes attributes = reader.attributes();
            samples.push_back({attributes.value(u"id"_s).toString(), attributes.value(u"name"_s).toString(),
                               ReadParams(reader, groups)});
        } else {
            reader.skipCurrentElement();
        }
    }
    return samples;
}

// Stands on the spectrumList start: finds whether any child follows, then
// leaves the reader there.
void ReadSpectrumListStart(QXmlStreamReader &reader, MzmlHead &head)
{
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() || reader.isEndElement()) {
            head.hasSpectra = reader.isStartElement();
            return;
        }
    }
}

// Returns true when it stopped at the spectrum list.
bool ReadRun(QXmlStreamReader &reader, MzmlHead &head)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    if (attributes.hasAttribute(u"startTimeStamp"_s))
        head.startTimeStamp = attributes.value(u"startTimeStamp"_s).toString();
    while (reader.readNextStartElement()) {
        if (LocalName(reader) == u"spectrumList") {
            ReadSpectrumListStart(reader, head);
            return true;
        }
        reader.skipCurrentElement();
    }
    return false;
}

// The first sourceFile of the sourceFileList.
void ReadFileDescription(QXmlStreamReader &reader, MzmlHead &head)
{
    bool found = false;
    while (reader.readNextStartElement()) {
        if (LocalName(reader) != u"sourceFileList") {
            reader.skipCurrentElement();
            continue;
        }
        while (reader.readNextStartElement()) {
            if (!found && LocalName(reader) == u"sourceFile") {
                const QXmlStreamAttributes attributes = reader.attributes();
                head.sourceFilePath =
                    SourceFilePath(attributes.value(u"location"_s).toString(), attributes.value(u"name"_s).toString());
                found = true;
            }
            reader.skipCurrentElement();
        }
    }
}

void ReadMzml(QXmlStreamReader &reader, MzmlHead &head)
{
    std::vector<MzmlSample> samples;
    QString sampleRef;
    while (reader.readNextStartElement()) {
        const QStringView name = LocalName(reader);
        if (name == u"fileDescription") {
            ReadFileDescription(reader, head);
        } else if (name == u"referenceableParamGroupList") {
            ReadParamGroups(reader, head);
        } else if (name == u"sampleList") {
            samples = ReadSamples(reader, head.groups);
        } else if (name == u"run") {
            sampleRef = reader.attributes().value(u"sampleRef"_s).toString();
            if (ReadRun(reader, head))
                break;
        } else {
            reader.skipCurrentElement();
        }
    }
    const auto named =
        std::find_if(samples.begin(), samples.end(), [&](const MzmlSample &sample) { return sample.id == sampleRef; });
    if (named != samples.end())
        head.sample = *named;
    else if (!samples.empty())
        head.sample = samples.front();
}

// Up to the start of the mzML element, inside indexedmzML when that is the root.
void EnterMzml(QXmlStreamReader &reader, MzmlHead &head)
{
    ReadPrologue(reader, head);
    if (LocalName(reader) == u"indexedmzML") {
        while (reader.readNextStartElement() && LocalName(reader) != u"mzML")
            reader.skipCurrentElement();
    }
    if (!reader.isStartElement() || LocalName(reader) != u"mzML") {
        if (reader.hasError())
            throw ReaderFault(reader);
        throw MzmlFault{u"its root element is <%1>"_s.arg(reader.name())};
    }
}

} // namespace

MzmlFault ReaderFault(const QXmlStreamReader &reader)
{
    if (reader.error() == QXmlStreamReader::PrematureEndOfDocumentError)
        return TruncatedDocument();
    return MzmlFault{u"the document is damaged: %1"_s.arg(reader.errorString())};
}

MzmlHead ReadMzmlHead(QFile &file)
{
    FileFragment fragment(file, 0, {});
    QXmlStreamReader reader(&fragment);
    MzmlHead head;
    try {
        EnterMzml(reader, head);
    } catch (const MzmlFault &fault) {
        throw NotMzmlFault{{u"not an mzML acquisition (%1)"_s.arg(fragment.firstFault(fault).what)}};
    }
    try {
        ReadMzml(reader, head);
        if (reader.hasError())
            throw ReaderFault(reader);
    } catch (const MzmlFault &fault) {
        fragment.fail(fault);
    }
    return head;
}
