#include "mzml/MzmlSpectrum.h"

#include "mzml/BinaryArrayDecoding.h"
#include "mzml/FileFragment.h"
#include "mzml/FilterText.h"
#include "mzml/MzmlFault.h"
#include "mzml/PlainHead.h"
#include "mzml/SpectrumScan.h"

#include <cmath>
#include <cstring>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString MassArray = u"m/z array"_s;
const QString IntensityArray = u"intensity array"_s;

// An XML reader placed on the start tag of a spectrum: read from the file at
// offset on, up to the end of the spectrum's head, or from bytes already
// taken from there.
class SpectrumReader
{
public:
    SpectrumReader(QFile &file, qint64 offset, const QString &encoding)
        : m_fragment(std::make_unique<FileFragment>(file, offset, XmlDeclaration(encoding), HeadGoesOn))
    {
        m_reader.setDevice(m_fragment.get());
        enterSpectrum(offset);
    }

    SpectrumReader(const QByteArray &bytes, qint64 offset, const QString &encoding)
    {
        m_reader.addData(XmlDeclaration(encoding));
        m_reader.addData(bytes);
        enterSpectrum(offset);
    }

    QXmlStreamReader &operator*() { return m_reader; }
    QXmlStreamReader *operator->() { return &m_reader; }

    void checkForErrors() const
    {
        if (m_reader.hasError())
            fail(ReaderFault(m_reader));
    }

private:
    void enterSpectrum(qint64 offset)
    {
        // A fragment has no namespace declarations; names are compared without prefix.
        m_reader.setNamespaceProcessing(false);
        while (!m_reader.atEnd()) {
            const QXmlStreamReader::TokenType token = m_reader.readNext();
            if (token == QXmlStreamReader::StartElement && LocalName(m_reader) == u"spectrum")
                return;
            if (token != QXmlStreamReader::StartDocument && token != QXmlStreamReader::Comment
                && !(token == QXmlStreamReader::Characters && m_reader.isWhitespace()))
                break;
        }
        fail(MzmlFault{u"no spectrum begins at byte %1"_s.arg(offset)});
    }

    [[noreturn]] void fail(const MzmlFault &fault) const
    {
        if (m_fragment)
            m_fragment->fail(fault);
        throw fault;
    }

    std::unique_ptr<FileFragment> m_fragment;
    QXmlStreamReader m_reader;
};

// The bytes of one spectrum with the contents of its binary elements taken
// out: an XML reader is slow on long texts, and base64 needs no XML
// decoding. Each content leaves a marker "#k" in its place. Contents that
// hold markup or references stay where they are.
class SplitSpectrum
{
public:
    explicit SplitSpectrum(const QByteArray &bytes) : m_bytes(bytes)
    {
        const QByteArrayView open = "<binary>";
        const QByteArrayView close = "</binary>";
        qsizetype from = 0;
        for (;;) {
            const qsizetype start = Find(m_bytes, open, from);
            const qsizetype end = start < 0 ? -1 : Find(m_bytes, close, start + open.size());
            if (end < 0)
                break;
            const qsizetype contentStart = start + open.size();
            const QByteArrayView content = QByteArrayView(m_bytes).sliced(contentStart, end - contentStart);
            m_xml += QByteArrayView(m_bytes).sliced(from, contentStart - from);
            if (content.contains('&') || content.contains('<')) {
                m_xml += content;
            } else {
                m_xml += '#' + QByteArray::number(qsizetype(m_contents.size()));
                m_contents.push_back(content);
            }
            from = end;
        }
        m_xml += QByteArrayView(m_bytes).sliced(from);
        m_used.assign(m_contents.size(), false);
    }

    const QByteArray &xml() const { return m_xml; }

    // The base64 text that the binary element's text stands for.
    // Valid until the next call.
    QByteArrayView base64(const QString &text)
    {
        bool ok = false;
        const qsizetype k = text.startsWith(u'#') ? text.mid(1).toLongLong(&ok) : -1;
        if (!ok || k < 0 || size_t(k) >= m_contents.size() || m_used[size_t(k)]) {
            m_text = text.toLatin1(); // not base64 unless the text is: decoding says so
            return m_text;
        }
        m_used[size_t(k)] = true;
        return m_contents[size_t(k)];
    }

private:
    // Where needle begins at or after from; -1 when nowhere. Looks for its
    // first byte with memchr: base64, most of a spectrum, holds no '<'.
    static qsizetype Find(QByteArrayView bytes, QByteArrayView needle, qsizetype from)
    {
        for (qsizetype at = from; at + needle.size() <= bytes.size(); ++at) {
            const void *first =
                std::memchr(bytes.data() + at, needle.front(), size_t(bytes.size() - needle.size() - at + 1));
            if (!first)
                break;
            at = static_cast<const char *>(first) - bytes.data();
            if (bytes.sliced(at, needle.size()) == needle)
                return at;
        }
        return -1;
    }

    QByteArray m_bytes;
    QByteArray m_text;
    QByteArray m_xml;
    std::vector<QByteArrayView> m_contents;
    std::vector<bool> m_used;
};

qint64 DeclaredLength(QStringView text, const QString &what)
{
    bool ok = false;
    const qint64 length = text.toLongLong(&ok);
    if (!ok || length < 0)
        throw MzmlFault{u"its %1 \"%2\" is not a length"_s.arg(what, text)};
    return length;
}

struct DecodedArrays
{
    std::optional<std::vector<double>> masses;
    std::optional<std::vector<double>> intensities;
};

void ReadArray(QXmlStreamReader &reader, const ParamGroups &groups, qint64 defaultLength, SplitSpectrum &split,
               DecodedArrays &arrays)
{
    const QXmlStreamAttributes attributes = reader.attributes();
    const qint64 declared = attributes.hasAttribute(u"arrayLength"_s)
                              ? DeclaredLength(attributes.value(u"arrayLength"_s), u"arrayLength"_s)
                              : defaultLength;
    ParamSet params;
    QString text;
    while (reader.readNextStartElement()) {
        if (ReadParam(reader, groups, params))
            continue;
        if (LocalName(reader) == u"binary") {
            text = reader.readElementText();
            if (reader.hasError())
                throw ReaderFault(reader);
        } else {
            reader.skipCurrentElement();
        }
    }
    const bool isMasses = params.cvParam(u"MS:1000514") != nullptr;
    if (!isMasses && params.cvParam(u"MS:1000515") == nullptr)
        return; // another kind of array: not needed
    const QString &name = isMasses ? MassArray : IntensityArray;
    std::optional<std::vector<double>> &target = isMasses ? arrays.masses : arrays.intensities;
    if (target)
        throw MzmlFault{u"it has two %1s"_s.arg(name)};
    target = DecodeBinaryArray(split.base64(text), EncodingOfArray(params, name), declared, name);
}

// Builds the head of a spectrum from its tags as they come: both readers
// of a head feed it, so that they agree by construction.
class HeadBuilder
{
public:
    explicit HeadBuilder(const ParamGroups &groups) : m_groups(groups) {}

    // Takes the next tag (the spectrum's first); false once the head is
    // complete: the spectrum ends, or its arrays begin. Throws MzmlFault for
    // a reference to a group that the document lacks.
    bool take(MarkupToken::Kind kind, QStringView name, const QXmlStreamAttributes &attributes)
    {
        if (kind == MarkupToken::Kind::EndTag) {
            m_open.pop_back();
            return !m_open.empty();
        }
        Role role = Role::Other;
        if (m_open.empty()) {
            role = Role::Spectrum;
            m_attributes = attributes;
        } else if (m_open.back() == Role::Spectrum) {
            if (AddParam(name, attributes, m_groups, m_spectrumParams))
                role = Role::Other;
            else if (name == u"binaryDataArrayList")
                return false; // the arrays are read with the points
            else if (name == u"scanList")
                role = Role::ScanList;
        } else if (m_open.back() == Role::ScanList && !m_scanSeen && name == u"scan") {
            role = Role::FirstScan;
        } else if (m_open.back() == Role::FirstScan) {
            AddParam(name, attributes, m_groups, m_scanParams);
        }
        if (role == Role::ScanList) {
            m_scanParams = {};
            m_scanSeen = false;
        }
        m_scanSeen = m_scanSeen || role == Role::FirstScan;
        if (kind == MarkupToken::Kind::StartTag)
            m_open.push_back(role);
        return !m_open.empty();
    }

    SpectrumHead head() const
    {
        SpectrumHead result;
        result.id = m_attributes.value(u"id"_s).toString();
        result.index = m_attributes.value(u"index"_s).toString();
        result.filter = FilterText(m_spectrumParams, m_scanParams);
        if (const CvParam *startTime = m_scanParams.cvParam(u"MS:1000016"))
            result.startTime = *startTime;
        return result;
    }

private:
    // What the open elements are to the head, innermost last.
    enum class Role { Spectrum, ScanList, FirstScan, Other };

    const ParamGroups &m_groups;
    std::vector<Role> m_open;
    QXmlStreamAttributes m_attributes; // the spectrum's
    ParamSet m_spectrumParams;
    ParamSet m_scanParams; // the first scan's of the last scan list
    bool m_scanSeen = false;
};

} // namespace

SpectrumHead ReadSpectrumHead(QFile &file, qint64 offset, const MzmlHead &head)
{
    HeadBuilder builder(head.groups);
    if (const std::optional<std::vector<PlainTag>> tags = ReadPlainHead(file, offset, head.encoding)) {
        for (const PlainTag &tag : *tags) {
            if (!builder.take(tag.kind, tag.name, tag.attributes))
                break;
        }
        return builder.head();
    }
    SpectrumReader reader(file, offset, head.encoding);
    bool more = builder.take(MarkupToken::Kind::StartTag, LocalName(*reader), reader->attributes());
    while (more && !reader->atEnd()) {
        const QXmlStreamReader::TokenType token = reader->readNext();
        if (token == QXmlStreamReader::StartElement)
            more = builder.take(MarkupToken::Kind::StartTag, LocalName(*reader), reader->attributes());
        else if (token == QXmlStreamReader::EndElement)
            more = builder.take(MarkupToken::Kind::EndTag, LocalName(*reader), {});
    }
    reader.checkForErrors();
    return builder.head();
}

SpectrumPoints DecodeSpectrumPoints(const QByteArray &bytes, qint64 offset, const MzmlHead &head)
{
    SplitSpectrum split(bytes);
    SpectrumReader reader(split.xml(), offset, head.encoding);
    const QXmlStreamAttributes attributes = reader->attributes();
    if (!attributes.hasAttribute(u"defaultArrayLength"_s))
        throw MzmlFault{u"it has no defaultArrayLength"_s};
    const qint64 defaultLength = DeclaredLength(attributes.value(u"defaultArrayLength"_s), u"defaultArrayLength"_s);
    DecodedArrays arrays;
    while (reader->readNextStartElement()) {
        if (LocalName(*reader) != u"binaryDataArrayList") {
            reader->skipCurrentElement();
            continue;
        }
        while (reader->readNextStartElement()) {
            if (LocalName(*reader) == u"binaryDataArray")
                ReadArray(*reader, head.groups, defaultLength, split, arrays);
            else
                reader->skipCurrentElement();
        }
    }
    reader.checkForErrors();
    if (!arrays.masses && !arrays.intensities && defaultLength == 0)
        return {};
    if (!arrays.masses || !arrays.intensities)
        throw MzmlFault{u"it has no %1"_s.arg(arrays.masses ? IntensityArray : MassArray)};
    if (arrays.masses->size() != arrays.intensities->size())
        throw MzmlFault{u"its m/z array holds %1 values and its intensity array %2"_s.arg(arrays.masses->size())
                            .arg(arrays.intensities->size())};
    return {std::move(*arrays.masses), std::move(*arrays.intensities)};
}

double StartTimeInMinutes(const std::optional<CvParam> &startTime)
{
    if (!startTime)
        return 0;
    bool ok = false;
    const double value = startTime->value.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw MzmlFault{u"its scan start time \"%1\" is not a number"_s.arg(startTime->value)};
    const QString &unit = startTime->unitAccession;
    if (unit == u"UO:0000031")
        return value;
    if (unit == u"UO:0000010")
        return value / 60.0;
    if (unit == u"UO:0000028")
        return value / 60000.0;
    throw MzmlFault{unit.isEmpty() ? u"its scan start time names no unit"_s
                                   : u"its scan start time is in the unit %1, which is not minutes, seconds or "
                                     u"milliseconds"_s.arg(unit)};
}
