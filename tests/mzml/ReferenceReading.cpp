#include "tests/mzml/ReferenceReading.h"

#include "convert/Errors.h"
#include "mzml/BinaryArrayDecoding.h"
#include "mzml/FilterText.h"
#include "mzml/MzmlParams.h"
#include "mzml/MzmlSpectrum.h"
#include "mzml/XmlTokenizer.h"
#include "tests/fake/TestFiles.h"
#include "tests/mzml/ReadAcquisition.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QXmlStreamReader>

#include <algorithm>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

// Why the tokenizer refuses the document; nothing when it takes it.
std::optional<QString> TokenizerRefusal(const QByteArray &document)
{
    try {
        XmlTokenizer tokenizer(document, 0, XmlTokenizer::Scope::Document, TextEncoding::Utf8);
        while (tokenizer.next().kind != XmlToken::Kind::End) {
        }
    } catch (const MzmlFault &fault) {
        return fault.what;
    }
    return std::nullopt;
}

QStringView Local(QStringView name)
{
    const qsizetype colon = name.lastIndexOf(u':');
    return colon < 0 ? name : name.sliced(colon + 1);
}

// The cvParams of an element with those of the groups it refers to copied
// in: the plain reading that the reader's meanings, derived once for each
// group, must agree with.
struct ParamSet
{
    std::vector<CvParam> cvParams;
    QSet<QString> groups; // the ids of the groups copied in

    const CvParam *cvParam(QStringView accession) const
    {
        for (const CvParam &param : cvParams)
            if (param.accession == accession)
                return &param;
        return nullptr;
    }
    void appendGroup(const QString &id, const ParamSet &group)
    {
        if (!groups.contains(id))
            cvParams.insert(cvParams.end(), group.cvParams.begin(), group.cvParams.end());
        groups.insert(id);
    }
    template <typename Terms>
    Terms terms() const
    {
        Terms terms;
        for (const CvParam &param : cvParams)
            terms.addCvParam(param);
        return terms;
    }
};

// The acquisition's spectra as Qt's reader reads them, by the rules the
// README gives; throws MzmlFault where the reader must fail.
class Reference
{
public:
    explicit Reference(const QByteArray &document) : m_xml(document) { m_xml.setNamespaceProcessing(false); }

    std::vector<FakeSpectrum> read()
    {
        while (m_xml.readNextStartElement()) {
            const QStringView name = Local(m_xml.name());
            if (name == u"indexedmzML")
                continue; // its children
            if (name != u"mzML")
                throw MzmlFault{u"root <%1>"_s.arg(name)};
            readMzml();
            break;
        }
        while (!m_xml.atEnd())
            m_xml.readNext();
        return m_spectra;
    }

private:
    void readMzml()
    {
        bool runSeen = false;
        while (m_xml.readNextStartElement()) {
            const QStringView name = Local(m_xml.name());
            if (name == u"referenceableParamGroupList") {
                while (m_xml.readNextStartElement()) {
                    const QString id = m_xml.attributes().value(u"id"_s).toString();
                    m_groups.insert(id, params({}, true));
                }
            } else if (name == u"run" && !runSeen) {
                runSeen = true;
                bool listSeen = false;
                while (m_xml.readNextStartElement()) {
                    if (Local(m_xml.name()) == u"spectrumList" && !listSeen) {
                        listSeen = true;
                        while (m_xml.readNextStartElement())
                            spectrum();
                    } else {
                        m_xml.skipCurrentElement();
                    }
                }
            } else {
                m_xml.skipCurrentElement();
            }
        }
    }

    // The parameters among the children of the current element; the rest is passed over.
    ParamSet params(const std::function<void()> &other = {}, bool inGroup = false)
    {
        ParamSet set;
        while (m_xml.readNextStartElement()) {
            const QStringView name = Local(m_xml.name());
            const QXmlStreamAttributes a = m_xml.attributes();
            if (name == u"cvParam") {
                set.cvParams.push_back({a.value(u"accession"_s).toString(), a.value(u"name"_s).toString(),
                                        a.value(u"value"_s).toString(), a.value(u"unitAccession"_s).toString()});
            } else if (name == u"referenceableParamGroupRef") {
                if (inGroup)
                    throw MzmlFault{u"a group in a group"_s};
                const QString ref = a.value(u"ref"_s).toString();
                if (!m_groups.contains(ref))
                    throw MzmlFault{u"undefined group"_s};
                set.appendGroup(ref, m_groups[ref]);
            } else if (other) {
                other();
                continue;
            }
            m_xml.skipCurrentElement();
        }
        return set;
    }

    void spectrum()
    {
        if (Local(m_xml.name()) != u"spectrum")
            throw MzmlFault{u"not a spectrum"_s};
        const QXmlStreamAttributes attributes = m_xml.attributes();
        ParamSet scan;
        bool arraysBegun = false;
        QByteArray masses, intensities;
        std::optional<ArrayEncoding> massEncoding, intensityEncoding;
        qint64 massLength = -1, intensityLength = -1;
        const ParamSet own = params([&] {
            const QStringView name = Local(m_xml.name());
            if (name == u"scanList" && !arraysBegun) {
                bool first = true;
                scan = {};
                while (m_xml.readNextStartElement()) {
                    if (Local(m_xml.name()) == u"scan" && first) {
                        first = false;
                        scan = params();
                    } else {
                        m_xml.skipCurrentElement();
                    }
                }
            } else if (name == u"binaryDataArrayList") {
                arraysBegun = true;
                while (m_xml.readNextStartElement()) {
                    if (Local(m_xml.name()) != u"binaryDataArray") {
                        m_xml.skipCurrentElement();
                        continue;
                    }
                    const QString length = m_xml.attributes().value(u"arrayLength"_s).toString();
                    QByteArray text;
                    const ParamSet array = params([&] {
                        if (Local(m_xml.name()) == u"binary")
                            text = m_xml.readElementText().toLatin1();
                        else
                            m_xml.skipCurrentElement();
                    });
                    const bool isMasses = array.cvParam(u"MS:1000514") != nullptr;
                    if (!isMasses && !array.cvParam(u"MS:1000515"))
                        continue;
                    if ((isMasses ? massEncoding : intensityEncoding))
                        throw MzmlFault{u"two arrays"_s};
                    (isMasses ? massEncoding : intensityEncoding) =
                        EncodingOfArray(array.terms<ArrayTerms>(), u"array"_s);
                    (isMasses ? masses : intensities) = text;
                    (isMasses ? massLength : intensityLength) = length.isEmpty() ? -1 : length.toLongLong();
                }
            } else {
                m_xml.skipCurrentElement();
            }
        });
        FakeSpectrum spectrum;
        spectrum.filter = FilterText(own.terms<SpectrumTerms>(), scan.terms<SpectrumTerms>());
        const CvParam *time = scan.cvParam(u"MS:1000016");
        spectrum.startTime = StartTimeInMinutes(time ? std::optional<CvParam>(*time) : std::nullopt);
        bool ok = false;
        const qint64 declared = attributes.value(u"defaultArrayLength"_s).toLongLong(&ok);
        if (!ok || declared < 0)
            throw MzmlFault{u"no length"_s};
        if (massEncoding)
            spectrum.masses = DecodeBinaryArray(masses, *massEncoding, massLength < 0 ? declared : massLength, u"m"_s);
        if (intensityEncoding)
            spectrum.intensities = DecodeBinaryArray(intensities, *intensityEncoding,
                                                     intensityLength < 0 ? declared : intensityLength, u"i"_s);
        if ((massEncoding || intensityEncoding || declared != 0)
            && (!massEncoding || !intensityEncoding || spectrum.masses.size() != spectrum.intensities.size()))
            throw MzmlFault{u"arrays"_s};
        m_spectra.push_back(std::move(spectrum));
    }

    QXmlStreamReader m_xml;
    QHash<QString, ParamSet> m_groups;
    std::vector<FakeSpectrum> m_spectra;
};

// The spectra as a conversion reads them through the seam.
std::vector<FakeSpectrum> ReadSpectra(const QString &path)
{
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(path);
    const std::unique_ptr<DetectorChannel> detector = document->Detector(0, 1);
    const std::unique_ptr<SpectrumCollection> spectra = detector->Spectra(0);
    std::vector<FakeSpectrum> read;
    for (qint32 n = 1; n <= spectra->Count(); ++n) {
        SpectrumPoints points = spectra->Item(n)->Points();
        read.push_back({detector->Filters()->ScanNumber(n)->Text(), spectra->StartTime(n), std::move(points.masses),
                        std::move(points.intensities)});
    }
    return read;
}

// A name as XML 1.0 (fifth edition) allows it: NameStartChar, then NameChar.
const QRegularExpression &NameExpression()
{
    static const QString start =
        u":A-Z_a-z\\x{C0}-\\x{D6}\\x{D8}-\\x{F6}\\x{F8}-\\x{2FF}\\x{370}-\\x{37D}\\x{37F}-\\x{1FFF}"
        u"\\x{200C}-\\x{200D}\\x{2070}-\\x{218F}\\x{2C00}-\\x{2FEF}\\x{3001}-\\x{D7FF}"
        u"\\x{F900}-\\x{FDCF}\\x{FDF0}-\\x{FFFD}\\x{10000}-\\x{EFFFF}"_s;
    static const QRegularExpression name(u"^[%1][%1\\-.0-9\\x{B7}\\x{300}-\\x{36F}\\x{203F}-\\x{2040}]*$"_s.arg(start));
    return name;
}

// A qualified name as namespaces allow it: a prefix and a local part that
// are names without a colon, or a name without one.
bool IsQualifiedName(const QString &name)
{
    const QStringList parts = name.split(u':');
    return parts.size() == 1
        || (parts.size() == 2 && NameExpression().match(parts[0]).hasMatch()
            && NameExpression().match(parts[1]).hasMatch());
}

// Qt's reader holds element names to the rules of XML before its fifth
// edition, which refuse characters that the fifth allows (U+037F, U+200C,
// U+10000, ...). In a UTF-8 document, an element name beyond ASCII that
// NameExpression allows reaches Qt with each such character written "_hex_":
// its local part stays, and its end tag changes alike.
QByteArray WithAsciiElementNames(const QByteArray &document)
{
    QXmlStreamReader declaration(document);
    declaration.readNext();
    if (!QStringList{{}, u"utf-8"_s, u"utf8"_s}.contains(declaration.documentEncoding().toString().toLower()))
        return document;
    static const QRegularExpression tag(u"</?([^ \\t\\r\\n/>=<!?]*[\\x{80}-\\x{FF}][^ \\t\\r\\n/>=<!?]*)"_s);
    QByteArray result;
    qsizetype copied = 0;
    for (const QRegularExpressionMatch &match : tag.globalMatch(QString::fromLatin1(document))) {
        const QByteArray bytes = document.sliced(match.capturedStart(1), match.capturedLength(1));
        const QString name = QString::fromUtf8(bytes);
        if (name.toUtf8() != bytes || !NameExpression().match(name).hasMatch() || !IsQualifiedName(name))
            continue;
        QString stand;
        for (const char32_t c : name.toUcs4())
            stand += c < 0x80 ? QString(QChar(c)) : u"_%1_"_s.arg(uint(c), 0, 16);
        result += document.sliced(copied, match.capturedStart(1) - copied) + stand.toLatin1();
        copied = match.capturedEnd(1);
    }
    return result + document.sliced(copied);
}

// XML 1.0 reads a document of any version 1.x as its own; Qt's reader
// refuses every version but 1.0.
QByteArray AsVersion10(QByteArray document)
{
    static const QRegularExpression version(
        u"^(\\x{EF}\\x{BB}\\x{BF})?<\\?xml[ \\t\\r\\n]+version[ \\t\\r\\n]*=[ \\t\\r\\n]*([\"'])(1\\.[0-9]+)\\2"_s);
    const QRegularExpressionMatch match = version.match(QString::fromLatin1(document.first(qMin(document.size(), 64))));
    if (match.hasMatch())
        document.replace(match.capturedStart(3), match.capturedLength(3), "1.0");
    return document;
}

// Refusals by design: the reference parser takes what the reader must not
// (Qt's reader lets control characters pass, which XML does not allow).
bool RefusedByDesign(const QByteArray &document, const QString &refusal)
{
    static const QStringList reasons = {u"document type"_s, u"longer than"_s, u"nest more than"_s, u"encoded in"_s,
                                        u"control character"_s};
    return document.contains("<!DOCTYPE")
        || std::any_of(reasons.begin(), reasons.end(), [&](const QString &reason) { return refusal.contains(reason); });
}

} // namespace

QString DisagreementWithReference(const QString &path)
{
    const QByteArray document = ContentOf(path);
    // The reader: its tokenizer over the whole document, then everything read as a conversion reads it.
    std::optional<QString> refusal = TokenizerRefusal(document);
    std::vector<FakeSpectrum> read;
    if (!refusal) {
        try {
            read = ReadSpectra(path);
        } catch (const Error &error) {
            refusal = error.description();
        }
    }
    if (refusal && RefusedByDesign(document, *refusal))
        return {};
    // The reference: Qt's reader over the whole document, then the spectra by the same rules.
    const QByteArray given = WithAsciiElementNames(AsVersion10(document));
    QXmlStreamReader xml(given);
    xml.setNamespaceProcessing(false);
    QString referenceRefusal;
    QString encoding;
    while (!xml.atEnd() && referenceRefusal.isEmpty()) {
        // Qt's reader takes characters in names that XML does not allow.
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartDocument)
            encoding = xml.documentEncoding().toString();
        QStringList names;
        if (token == QXmlStreamReader::ProcessingInstruction)
            names << xml.processingInstructionTarget().toString();
        if (token == QXmlStreamReader::StartElement) {
            names << xml.qualifiedName().toString();
            for (const QXmlStreamAttribute &attribute : xml.attributes())
                names << attribute.qualifiedName().toString();
        }
        for (const QString &name : names)
            if (!NameExpression().match(name).hasMatch() || !IsQualifiedName(name))
                referenceRefusal = u"the name %1"_s.arg(name);
    }
    if (xml.hasError())
        referenceRefusal = xml.errorString();
    // Qt's reader turns bytes beyond US-ASCII into replacement characters.
    if (referenceRefusal.isEmpty()
        && (encoding.compare(u"US-ASCII", Qt::CaseInsensitive) == 0
            || encoding.compare(u"ASCII", Qt::CaseInsensitive) == 0)
        && std::any_of(document.begin(), document.end(), [](char c) { return uchar(c) >= 0x80; }))
        referenceRefusal = u"a byte beyond the US-ASCII declared"_s;
    std::vector<FakeSpectrum> spectra;
    if (referenceRefusal.isEmpty()) {
        try {
            spectra = Reference(given).read();
        } catch (const MzmlFault &fault) {
            referenceRefusal = fault.what;
        }
    }
    if (refusal && referenceRefusal.isEmpty())
        return u"the reader refuses what the reference takes: %1"_s.arg(*refusal);
    if (!refusal && !referenceRefusal.isEmpty())
        return u"the reader takes what the reference refuses: %1"_s.arg(referenceRefusal);
    if (refusal)
        return {};
    FakeAcquisition actual;
    actual.spectra = std::move(read);
    FakeAcquisition expected;
    expected.spectra = std::move(spectra);
    return DifferenceOf(actual, expected);
}
