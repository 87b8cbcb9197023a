#include "tests/mzml/ReferenceReading.h"

#include "convert/Errors.h"
#include "convert/RawFileAccess.h"
#include "mzml/MzmlFault.h"
#include "mzml/XmlTokenizer.h"
#include "tests/fake/TestFiles.h"
#include "tests/mzml/ReadAcquisition.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QXmlStreamReader>

#include <libmsnumpress/MSNumpress.hpp>
#define ZLIB_CONST // zlib reads the input through a const pointer
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <functional>
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

// A cvParam: the attributes that the reading asks for.
struct Param
{
    QString accession;
    QString name;
    QString value;
    QString unitAccession;
};

// The cvParams of an element with those of the groups it refers to copied
// in: the plain reading that the reader's meanings, derived once for each
// group, must agree with. Of each kind the first counts.
struct ParamSet
{
    std::vector<Param> params;
    QSet<QString> groups; // the ids of the groups copied in

    const Param *first(QStringView accession) const
    {
        for (const Param &param : params)
            if (param.accession == accession)
                return &param;
        return nullptr;
    }
    void appendGroup(const QString &id, const ParamSet &group)
    {
        if (!groups.contains(id))
            params.insert(params.end(), group.params.begin(), group.params.end());
        groups.insert(id);
    }
};

// The filter text: the filter string of the first scan, else of the
// spectrum; without one, how a data system's filter string begins for a
// SIM spectrum or another MS1 spectrum, and nothing for the rest.
QString FilterText(const ParamSet &spectrum, const ParamSet &scan)
{
    for (const ParamSet *set : {&scan, &spectrum})
        if (const Param *filter = set->first(u"MS:1000512"))
            return filter->value;
    if (spectrum.first(u"MS:1000582"))
        return u"+ SIM ms "_s;
    bool ok = false;
    const Param *level = spectrum.first(u"MS:1000511");
    const bool levelOne = level && level->value.trimmed().toInt(&ok) == 1 && ok;
    return spectrum.first(u"MS:1000579") || levelOne ? u"+ Full ms "_s : QString();
}

// The scan start time in minutes, 0 without one: a finite number as
// QString::toDouble reads it, in minutes, seconds or milliseconds.
double StartTimeInMinutes(const Param *time)
{
    if (!time)
        return 0;
    static const QHash<QString, double> perMinute = {
        {u"UO:0000031"_s, 1}, {u"UO:0000010"_s, 60}, {u"UO:0000028"_s, 60000}};
    bool ok = false;
    const double value = time->value.toDouble(&ok);
    if (!ok || !std::isfinite(value) || !perMinute.contains(time->unitAccession))
        throw MzmlFault{u"start time"_s};
    return value / perMinute[time->unitAccession];
}

enum class Numpress { None, Linear, Pic, Slof };

struct Encoding
{
    int width = 0; // bytes of a float; 0 when no data type is named
    bool zlib = false;
    Numpress numpress = Numpress::None;
};

// How an array's values are stored. The first data type and the first
// numpress method count; zlib counts wherever a term names it. Throws for
// an encoding that is not decoded.
Encoding EncodingOf(const ParamSet &array)
{
    static const QHash<QString, std::pair<bool, Numpress>> compressions = {
        {u"MS:1000576"_s, {false, Numpress::None}},   {u"MS:1000574"_s, {true, Numpress::None}},
        {u"MS:1002312"_s, {false, Numpress::Linear}}, {u"MS:1002313"_s, {false, Numpress::Pic}},
        {u"MS:1002314"_s, {false, Numpress::Slof}},   {u"MS:1002746"_s, {true, Numpress::Linear}},
        {u"MS:1002747"_s, {true, Numpress::Pic}},     {u"MS:1002748"_s, {true, Numpress::Slof}}};
    static const QStringList otherTypes = {u"MS:1000519"_s, u"MS:1000522"_s, u"MS:1001479"_s};
    Encoding encoding;
    bool compressed = false, unknownCompression = false, otherType = false;
    for (const Param &param : array.params) {
        if (param.accession == u"MS:1000521" || param.accession == u"MS:1000523") {
            if (encoding.width == 0)
                encoding.width = param.accession == u"MS:1000521" ? 4 : 8;
        } else if (compressions.contains(param.accession)) {
            const auto [zlib, numpress] = compressions[param.accession];
            compressed = true;
            encoding.zlib = encoding.zlib || zlib;
            if (encoding.numpress == Numpress::None)
                encoding.numpress = numpress;
        } else if (param.name.contains(u"compression"_s, Qt::CaseInsensitive)) {
            unknownCompression = true;
        } else {
            otherType = otherType || otherTypes.contains(param.accession);
        }
    }
    // Numpress makes numbers of its own, whatever data type is named.
    const bool typed = encoding.numpress != Numpress::None || (encoding.width != 0 && !otherType);
    if (unknownCompression || !compressed || !typed)
        throw MzmlFault{u"an encoding not decoded"_s};
    return encoding;
}

// Base64 as the reader takes it: XML white space anywhere, the last
// group's padding optional. Qt's decoder refuses every other character and
// misplaced padding, but lets a lone last character (no whole byte) pass.
QByteArray FromBase64(QByteArray text)
{
    text.removeIf([](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; });
    const QByteArray::FromBase64Result bytes =
        QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    if (!bytes || text.size() % 4 == 1)
        throw MzmlFault{u"not base64"_s};
    return bytes.decoded;
}

// A whole zlib stream inflated; what follows its end is not read. Stops
// once it gives more than limit bytes.
QByteArray Inflate(const QByteArray &stream, qint64 limit)
{
    z_stream z{};
    z.next_in = reinterpret_cast<const Bytef *>(stream.constData());
    z.avail_in = uInt(stream.size());
    if (inflateInit(&z) != Z_OK)
        throw MzmlFault{u"zlib cannot start"_s};
    QByteArray bytes;
    int result = Z_OK;
    while (result == Z_OK && bytes.size() <= limit) {
        constexpr qsizetype Chunk = 1 << 16;
        bytes.resize(bytes.size() + Chunk);
        z.next_out = reinterpret_cast<Bytef *>(bytes.data() + bytes.size() - Chunk);
        z.avail_out = uInt(Chunk);
        result = inflate(&z, Z_NO_FLUSH);
        bytes.chop(z.avail_out);
    }
    inflateEnd(&z);
    if (result != Z_STREAM_END)
        throw MzmlFault{result == Z_OK ? u"inflates beyond its length"_s : u"a damaged zlib stream"_s};
    return bytes;
}

// Little-endian IEEE floats of width bytes each.
std::vector<double> Floats(const QByteArray &bytes, int width)
{
    if (bytes.size() % width != 0)
        throw MzmlFault{u"a value cut short"_s};
    std::vector<double> values;
    for (qsizetype at = 0; at < bytes.size(); at += width) {
        quint64 bits = 0;
        for (int k = width - 1; k >= 0; --k)
            bits = bits << 8 | uchar(bytes[at + k]);
        values.push_back(width == 4 ? double(std::bit_cast<float>(quint32(bits))) : std::bit_cast<double>(bits));
    }
    return values;
}

// MS-Numpress through its library, which throws a C string at damage.
std::vector<double> NumpressValues(Numpress method, QByteArray bytes)
{
    namespace numpress = ms::numpress::MSNumpress;
    if (bytes.isEmpty())
        return {};
    // Slof takes two bytes a value after its eight-byte header: an odd
    // count cuts the last value in half.
    if (method == Numpress::Slof && bytes.size() % 2 != 0)
        throw MzmlFault{u"a slof value cut in half"_s};
    const size_t size = size_t(bytes.size());
    bytes.append(16, '\0'); // the decoders may look a few bytes past a damaged end
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    std::vector<double> values(2 * size + 2); // no method makes more than two values of a byte
    try {
        values.resize(method == Numpress::Linear ? numpress::decodeLinear(data, size, values.data())
                      : method == Numpress::Pic  ? numpress::decodePic(data, size, values.data())
                                                 : numpress::decodeSlof(data, size, values.data()));
    } catch (const char *) {
        throw MzmlFault{u"a damaged numpress stream"_s};
    }
    return values;
}

// A declared length: a whole number, not negative.
qint64 Length(QStringView text)
{
    bool ok = false;
    const qint64 length = text.toLongLong(&ok);
    if (!ok || length < 0)
        throw MzmlFault{u"not a length"_s};
    return length;
}

// The values of an array, exactly declared of them. An empty array holds
// no stream to inflate; no encoding takes more than 8 bytes a value after
// a 16-byte header, so inflating further only spends memory.
std::vector<double> DecodeArray(const QByteArray &text, const Encoding &encoding, qint64 declared)
{
    QByteArray bytes = FromBase64(text);
    if (encoding.zlib && !bytes.isEmpty())
        bytes = Inflate(bytes, 16 + 8 * std::min(declared, qint64(1) << 50));
    std::vector<double> values =
        encoding.numpress != Numpress::None ? NumpressValues(encoding.numpress, bytes) : Floats(bytes, encoding.width);
    if (qint64(values.size()) != declared)
        throw MzmlFault{u"not as many values as declared"_s};
    return values;
}

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
                set.params.push_back({a.value(u"accession"_s).toString(), a.value(u"name"_s).toString(),
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
        struct Array
        {
            Encoding encoding;
            QByteArray text;
            std::optional<qint64> length; // its arrayLength, when it has one
        };
        std::optional<Array> masses, intensities;
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
                    const QXmlStreamAttributes a = m_xml.attributes();
                    std::optional<qint64> length;
                    if (a.hasAttribute(u"arrayLength"_s))
                        length = Length(a.value(u"arrayLength"_s));
                    QByteArray text;
                    const ParamSet array = params([&] {
                        if (Local(m_xml.name()) == u"binary")
                            text = m_xml.readElementText().toLatin1();
                        else
                            m_xml.skipCurrentElement();
                    });
                    const bool isMasses = array.first(u"MS:1000514") != nullptr;
                    if (!isMasses && !array.first(u"MS:1000515"))
                        continue;
                    std::optional<Array> &target = isMasses ? masses : intensities;
                    if (target)
                        throw MzmlFault{u"two arrays"_s};
                    target = Array{EncodingOf(array), text, length};
                }
            } else {
                m_xml.skipCurrentElement();
            }
        });
        FakeSpectrum spectrum;
        spectrum.filter = FilterText(own, scan);
        spectrum.startTime = StartTimeInMinutes(scan.first(u"MS:1000016"));
        const qint64 declared = Length(attributes.value(u"defaultArrayLength"_s));
        if (masses)
            spectrum.masses = DecodeArray(masses->text, masses->encoding, masses->length.value_or(declared));
        if (intensities)
            spectrum.intensities =
                DecodeArray(intensities->text, intensities->encoding, intensities->length.value_or(declared));
        if ((masses || intensities || declared != 0)
            && (!masses || !intensities || spectrum.masses.size() != spectrum.intensities.size()))
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
