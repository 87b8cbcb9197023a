#include "mzml/MzmlSpectrum.h"

#include "mzml/BinaryArrayDecoding.h"
#include "mzml/MzmlFault.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

using namespace Qt::Literals::StringLiterals;

const QString MassArray = u"m/z array"_s;
const QString IntensityArray = u"intensity array"_s;

namespace {

struct DecodedArrays
{
    std::optional<std::vector<double>> masses;
    std::optional<std::vector<double>> intensities;
};

// The base64 text of a binary element: its text and CDATA sections, with
// references resolved. Points into the document's bytes where it can.
class BinaryText
{
public:
    void add(const XmlToken &text)
    {
        const bool plain = text.cdata || !text.text.contains('&');
        if (m_pieces == 0 && plain) {
            m_view = text.text;
        } else {
            if (m_pieces == 1)
                m_owned = m_view.toByteArray();
            m_owned += plain ? text.text.toByteArray() : XmlTokenizer::ResolvedText(text.text);
            m_view = m_owned;
        }
        ++m_pieces;
    }
    QByteArrayView view() const { return m_view; }

private:
    int m_pieces = 0;
    QByteArrayView m_view;
    QByteArray m_owned;
};

// One binaryDataArray as its markup says it. Its first fault, of its length
// or of a parameter, is held: the pass over the document goes on past it,
// and the decoding throws it.
struct ArrayMarkup
{
    qint64 declared = 0;
    std::optional<MzmlFault> fault;
    ArrayTerms terms;
    int binaries = 0;     // binary elements
    qint64 textStart = 0; // the bytes of a binary's text: markup in them,
    qint64 textEnd = 0;   // a reference or a comment, fails the base64

    const QString &name() const { return terms.masses ? MassArray : IntensityArray; }
    void hold(MzmlFault &&found)
    {
        if (!fault)
            fault = std::move(found);
    }
};

// Reads the binaryDataArray on whose start tag the tokenizer stands; its
// base64 text goes to text when given.
ArrayMarkup ReadArrayMarkup(XmlTokenizer &tokenizer, const ParamGroups &groups, qint64 defaultLength, BinaryText *text)
{
    ArrayMarkup array;
    array.declared = defaultLength;
    if (!tokenizer.attribute("arrayLength").isNull()) {
        try {
            array.declared = DeclaredLength(tokenizer, "arrayLength");
        } catch (MzmlFault &fault) {
            array.hold(std::move(fault));
        }
    }
    ReadChildren(tokenizer, [&](const XmlToken &child) {
        try {
            if (ReadParam(tokenizer, groups, array.terms, &ParamGroup::array))
                return;
        } catch (MzmlFault &fault) {
            array.hold(std::move(fault));
            return;
        }
        if (child.name != "binary" || child.kind != XmlToken::Kind::StartTag)
            return;
        ++array.binaries;
        array.textStart = child.end;
        // A tokenizer over a file passes texts over; one over bytes in memory gives them.
        const XmlToken *token = &tokenizer.next();
        for (; token->kind == XmlToken::Kind::Text; token = &tokenizer.next())
            if (text)
                text->add(*token);
        array.textEnd = token->start;
    });
    return array;
}

void ReadArray(XmlTokenizer &tokenizer, const ParamGroups &groups, qint64 defaultLength, DecodedArrays &arrays)
{
    BinaryText text;
    ArrayMarkup array = ReadArrayMarkup(tokenizer, groups, defaultLength, &text);
    if (array.fault)
        throw std::move(*array.fault);
    if (!array.terms.masses && !array.terms.intensities)
        return; // another kind of array: not needed
    const QString &name = array.name();
    std::optional<std::vector<double>> &target = array.terms.masses ? arrays.masses : arrays.intensities;
    if (target)
        throw MzmlFault{u"it has two %1s"_s.arg(name)};
    target = DecodeBinaryArray(text.view(), EncodingOfArray(array.terms, name), array.declared, name);
}

// Where the array's text stands among the arrays' bytes, and its encoding;
// nothing when it cannot be decoded directly.
struct DirectArray
{
    ArrayText text;
    ArrayEncoding encoding;
};

std::optional<DirectArray> DirectText(const ArrayMarkup &array, qint64 arraysStart, qint64 declaredLength)
{
    const qint64 start = array.textStart - arraysStart;
    const qint64 size = array.textEnd - array.textStart;
    if (array.fault || array.binaries != 1 || array.declared != declaredLength || start < 0
        || start + size > std::numeric_limits<quint32>::max())
        return std::nullopt;
    try {
        return DirectArray{{quint32(start), quint32(size)}, EncodingOfArray(array.terms, array.name())};
    } catch (const MzmlFault &) {
        return std::nullopt;
    }
}

} // namespace

std::optional<qint64> ValidLength(const XmlTokenizer &tokenizer, QByteArrayView attribute)
{
    const QByteArrayView raw = tokenizer.attribute(attribute);
    if (raw.isNull())
        return std::nullopt;
    // Plain digits, as every export writes them, need no text.
    if (!raw.isEmpty() && raw.size() <= 18
        && std::all_of(raw.begin(), raw.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        qint64 length = 0;
        for (const char c : raw)
            length = length * 10 + (c - '0');
        return length;
    }
    bool ok = false;
    const qint64 length = tokenizer.value(raw).toLongLong(&ok);
    if (!ok || length < 0)
        return std::nullopt;
    return length;
}

qint64 DeclaredLength(const XmlTokenizer &tokenizer, QByteArrayView attribute)
{
    if (const std::optional<qint64> length = ValidLength(tokenizer, attribute))
        return *length;
    const QByteArrayView raw = tokenizer.attribute(attribute);
    if (raw.isNull())
        throw MzmlFault{u"it has no %1"_s.arg(QString::fromLatin1(attribute))};
    throw MzmlFault{
        u"its %1 \"%2\" is not a length"_s.arg(QString::fromLatin1(attribute), ShownValue(tokenizer.value(raw)))};
}

std::optional<DirectArrays> ReadDirectArrays(XmlTokenizer &tokenizer, const ParamGroups &groups, qint64 arraysStart,
                                             qint64 declaredLength)
{
    std::optional<DirectArray> masses;
    std::optional<DirectArray> intensities;
    bool usual = declaredLength >= 0;
    ReadChildren(tokenizer, [&](const XmlToken &child) {
        if (child.name != "binaryDataArray")
            return;
        const ArrayMarkup array = ReadArrayMarkup(tokenizer, groups, declaredLength, nullptr);
        if (!array.terms.masses && !array.terms.intensities) {
            usual = usual && !array.fault;
            return;
        }
        std::optional<DirectArray> &target = array.terms.masses ? masses : intensities;
        usual = usual && !target;
        target = DirectText(array, arraysStart, declaredLength);
        usual = usual && target;
    });
    if (!usual || !masses || !intensities)
        return std::nullopt;
    return DirectArrays{masses->text, intensities->text, masses->encoding, intensities->encoding};
}

namespace {

// Every fault of a direct decoding is found again, in its own words, by
// reading the markup.
std::optional<SpectrumPoints> DecodeDirectly(QByteArrayView arrays, qint64 declaredLength, const DirectArrays &direct)
{
    try {
        std::vector<double> masses = DecodeBinaryArray(arrays.sliced(direct.masses.start, direct.masses.size),
                                                       direct.massEncoding, declaredLength, MassArray);
        std::vector<double> intensities =
            DecodeBinaryArray(arrays.sliced(direct.intensities.start, direct.intensities.size),
                              direct.intensityEncoding, declaredLength, IntensityArray);
        return SpectrumPoints{std::move(masses), std::move(intensities)};
    } catch (const MzmlFault &) {
        return std::nullopt;
    }
}

// The direct arrays at their places among the arrays' bytes; nothing when
// the bytes are not as the places say.
std::optional<DirectArrays> FoundAt(QByteArrayView arrays, const ArrayPlaces &places)
{
    const qsizetype massesEnd = ArrayTextEnd(arrays, places.massesStart);
    const qsizetype intensitiesStart = massesEnd < 0 ? -1 : massesEnd + places.gap;
    const qsizetype intensitiesEnd = ArrayTextEnd(arrays, intensitiesStart);
    if (intensitiesEnd < 0)
        return std::nullopt;
    return DirectArrays{{places.massesStart, quint32(massesEnd - places.massesStart)},
                        {quint32(intensitiesStart), quint32(intensitiesEnd - intensitiesStart)},
                        places.massEncoding,
                        places.intensityEncoding};
}

} // namespace

std::optional<ArrayPlaces> PlacesOf(const DirectArrays &direct)
{
    const qint64 gap = qint64(direct.intensities.start) - direct.masses.start - direct.masses.size;
    if (direct.masses.start > MostArrayPlace || gap < 0 || gap > MostArrayPlace)
        return std::nullopt;
    return ArrayPlaces{quint16(direct.masses.start), quint16(gap), direct.massEncoding, direct.intensityEncoding};
}

qsizetype ArrayTextEnd(QByteArrayView bytes, qsizetype start)
{
    if (start < 0 || start > bytes.size())
        return -1;
    const qsizetype end = bytes.indexOf('<', start);
    const QByteArrayView tag = bytes.sliced(std::max<qsizetype>(end, 0));
    constexpr QByteArrayView EndTag = "</binary";
    const bool closes = end >= 0 && tag.size() > EndTag.size() && tag.startsWith(EndTag)
                     && (tag[EndTag.size()] == '>' || tag[EndTag.size()] == ' ' || tag[EndTag.size()] == '\t'
                         || tag[EndTag.size()] == '\n' || tag[EndTag.size()] == '\r');
    return closes ? end : -1;
}

SpectrumPoints DecodeSpectrumPoints(QByteArrayView arrays, qint64 offset, qint64 declaredLength, const MzmlHead &head,
                                    const std::optional<ArrayPlaces> &places)
{
    if (const std::optional<DirectArrays> direct = places ? FoundAt(arrays, *places) : std::nullopt)
        if (std::optional<SpectrumPoints> points = DecodeDirectly(arrays, declaredLength, *direct))
            return std::move(*points);
    XmlTokenizer tokenizer(arrays, offset, XmlTokenizer::Scope::Content, head.textEncoding);
    DecodedArrays decoded;
    for (const XmlToken *token = &tokenizer.next(); token->kind != XmlToken::Kind::End; token = &tokenizer.next()) {
        if (token->kind != XmlToken::Kind::StartTag || token->depth != 0 || token->name != "binaryDataArrayList")
            continue;
        ReadChildren(tokenizer, [&](const XmlToken &child) {
            if (child.name == "binaryDataArray")
                ReadArray(tokenizer, head.groups, declaredLength, decoded);
        });
    }
    if (!decoded.masses && !decoded.intensities && declaredLength == 0)
        return {};
    if (!decoded.masses || !decoded.intensities)
        throw MzmlFault{u"it has no %1"_s.arg(decoded.masses ? IntensityArray : MassArray)};
    if (decoded.masses->size() != decoded.intensities->size())
        throw MzmlFault{u"its m/z array holds %1 values and its intensity array %2"_s.arg(decoded.masses->size())
                            .arg(decoded.intensities->size())};
    return {std::move(*decoded.masses), std::move(*decoded.intensities)};
}

namespace {

// The value of a start time in ASCII, blanks trimmed; nothing when it is
// not a finite number. A plus sign before it is taken too.
std::optional<double> AsciiStartTimeValue(QByteArrayView text)
{
    if (text.size() > 1 && text.front() == '+' && text[1] != '-' && text[1] != '+')
        text = text.sliced(1);
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.isEmpty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(number))
        return std::nullopt;
    return number;
}

// The same for any text: what QString::toDouble takes, the minus sign
// U+2212 too, without a detour through it: it takes a long while over a
// long text.
std::optional<double> StartTimeValue(const QString &value)
{
    const QStringView text = QStringView(value).trimmed();
    const QByteArray latin1 =
        text.contains(u'\u2212') ? text.toString().replace(u'\u2212', u'-').toLatin1() : text.toLatin1();
    return AsciiStartTimeValue(latin1);
}

// What a value in the unit is divided by to give minutes; nothing for a
// unit other than minutes, seconds or milliseconds.
std::optional<double> MinutesDivisor(QByteArrayView unit)
{
    if (unit == "UO:0000031")
        return 1.0;
    if (unit == "UO:0000010")
        return 60.0;
    if (unit == "UO:0000028")
        return 60000.0;
    return std::nullopt;
}

} // namespace

StartTimeTerm StartTimeOfParam(const XmlTokenizer &tokenizer)
{
    // The usual value reads from its bytes without a text: any byte that a
    // number does not hold, a reference or a line break among them, leaves
    // it to the text.
    const QByteArrayView value = tokenizer.attribute("value");
    const QByteArrayView unit = tokenizer.attribute("unitAccession");
    const std::optional<double> divisor = MinutesDivisor(unit);
    if (divisor)
        if (const std::optional<double> number = AsciiStartTimeValue(value.trimmed()))
            return {*number / *divisor, {}, {}};
    StartTimeTerm term{std::nullopt, tokenizer.value(value), tokenizer.value(unit)};
    const std::optional<double> number = StartTimeValue(term.value);
    const std::optional<double> divisorOfText = number ? MinutesDivisor(term.unitAccession.toUtf8()) : std::nullopt;
    if (divisorOfText)
        term.minutes = *number / *divisorOfText;
    return term;
}

std::optional<double> ValidStartTime(const std::optional<StartTimeTerm> &startTime)
{
    return startTime ? startTime->minutes : 0.0;
}

double StartTimeInMinutes(const std::optional<StartTimeTerm> &startTime)
{
    if (const std::optional<double> minutes = ValidStartTime(startTime))
        return *minutes;
    if (!StartTimeValue(startTime->value))
        throw MzmlFault{u"its scan start time \"%1\" is not a number"_s.arg(ShownValue(startTime->value))};
    const QString &unit = startTime->unitAccession;
    throw MzmlFault{unit.isEmpty() ? u"its scan start time names no unit"_s
                                   : u"its scan start time is in the unit %1, which is not minutes, seconds or "
                                     u"milliseconds"_s.arg(ShownValue(unit))};
}
