#include "tests/mzml/MzmlWriter.h"

#include "convert/DateValue.h"

#include <QtEndian>

#include <libmsnumpress/MSNumpress.hpp>
#include <zlib.h>

#include <stdexcept>

namespace numpress = ms::numpress::MSNumpress;

namespace {

// The text escaped for an XML attribute value, line breaks and tabs kept.
QByteArray XmlEscaped(const QString &text)
{
    QByteArray out;
    for (const char c : text.toUtf8()) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
}

QByteArray Number(double value)
{
    return QByteArray::number(value, 'g', 17);
}

QByteArray CvParamElement(const char *accession, const char *name, const QByteArray &value = {})
{
    return QByteArray("<cvParam cvRef=\"MS\" accession=\"") + accession + "\" name=\"" + name + "\" value=\"" + value
         + "\"/>\n";
}

QByteArray UserParamElement(const char *name, const QString &value)
{
    return QByteArray("<userParam name=\"") + name + "\" value=\"" + XmlEscaped(value) + "\"/>\n";
}

QByteArray SampleTexts(const FakeAcquisition &a)
{
    return UserParamElement("Comment", a.comment) + UserParamElement("Instrument Method", a.instrumentMethod)
         + UserParamElement("Position", a.position) + UserParamElement("Data Path", a.dataPath)
         + UserParamElement("User Text 1", a.userText1) + UserParamElement("User Text 2", a.userText2);
}

QByteArray EncodingParams(const ArrayEncoding &encoding)
{
    static const char *const compressions[2][4][2] = {
        {{"MS:1000576", "no compression"},
         {"MS:1002312", "MS-Numpress linear prediction compression"},
         {"MS:1002313", "MS-Numpress positive integer compression"},
         {"MS:1002314", "MS-Numpress short logged float compression"}},
        {{"MS:1000574", "zlib compression"},
         {"MS:1002746", "MS-Numpress linear prediction compression followed by zlib compression"},
         {"MS:1002747", "MS-Numpress positive integer compression followed by zlib compression"},
         {"MS:1002748", "MS-Numpress short logged float compression followed by zlib compression"}}};
    const auto &compression = compressions[encoding.zlib ? 1 : 0][int(encoding.numpress)];
    const QByteArray precision = encoding.precision == Precision::Float32
                                   ? CvParamElement("MS:1000521", "32-bit float")
                                   : CvParamElement("MS:1000523", "64-bit float");
    return precision + CvParamElement(compression[0], compression[1]);
}

QByteArray LittleEndian(const std::vector<double> &values, Precision precision)
{
    QByteArray bytes;
    if (precision == Precision::Float32) {
        bytes.resize(qsizetype(values.size() * 4));
        for (size_t i = 0; i < values.size(); ++i)
            qToLittleEndian<float>(float(values[i]), bytes.data() + i * 4);
    } else {
        bytes.resize(qsizetype(values.size() * 8));
        for (size_t i = 0; i < values.size(); ++i)
            qToLittleEndian<double>(values[i], bytes.data() + i * 8);
    }
    return bytes;
}

QByteArray Numpressed(const std::vector<double> &values, Numpress kind)
{
    std::vector<unsigned char> bytes(values.size() * 5 + 16);
    size_t size = 0;
    switch (kind) {
    case Numpress::Linear:
        size = numpress::encodeLinear(values.data(), values.size(), bytes.data(),
                                      numpress::optimalLinearFixedPoint(values.data(), values.size()));
        break;
    case Numpress::Pic: size = numpress::encodePic(values.data(), values.size(), bytes.data()); break;
    case Numpress::Slof:
        size = numpress::encodeSlof(values.data(), values.size(), bytes.data(),
                                    numpress::optimalSlofFixedPoint(values.data(), values.size()));
        break;
    case Numpress::None: break;
    }
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(size));
}

QByteArray Deflated(const QByteArray &bytes)
{
    uLongf size = compressBound(uLong(bytes.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(bytes.constData()),
                  uLong(bytes.size()), Z_DEFAULT_COMPRESSION)
        != Z_OK)
        throw std::runtime_error("zlib compression failed");
    out.resize(qsizetype(size));
    return out;
}

QByteArray TimeParam(double minutes, TimeUnit unit)
{
    static const struct
    {
        double factor;
        const char *accession;
        const char *name;
    } units[] = {{1, "UO:0000031", "minute"}, {60, "UO:0000010", "second"}, {60000, "UO:0000028", "millisecond"}};
    const auto &u = units[int(unit)];
    return "<cvParam cvRef=\"MS\" accession=\"MS:1000016\" name=\"scan start time\" value=\""
         + Number(minutes * u.factor) + "\" unitCvRef=\"UO\" unitAccession=\"" + u.accession + "\" unitName=\"" + u.name
         + "\"/>\n";
}

} // namespace

MzmlWriter::MzmlWriter(const QString &path, const FakeAcquisition &a, qint64 spectrumCount, const MzmlLayout &layout)
    : m_file(path), m_layout(layout)
{
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot create " + path.toStdString());
    const QByteArray ns = "xmlns=\"http://psi.hupo.org/ms/mzml\" "
                          "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" ";
    write("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");
    if (layout.indexed)
        write("<indexedmzML " + ns
              + "xsi:schemaLocation=\"http://psi.hupo.org/ms/mzml "
                "http://psidev.info/files/ms/mzML/xsd/mzML1.1.2_idx.xsd\">\n");
    write("<mzML " + ns
          + "xsi:schemaLocation=\"http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.0.xsd\" "
            "id=\"acquisition\" version=\"1.1.0\">\n"
            "<cvList count=\"2\">\n"
            "<cv id=\"MS\" fullName=\"Proteomics Standards Initiative Mass Spectrometry Ontology\" "
            "version=\"4.1.0\" URI=\"https://raw.githubusercontent.com/HUPO-PSI/psi-ms-CV/master/psi-ms.obo\"/>\n"
            "<cv id=\"UO\" fullName=\"Unit Ontology\" version=\"09:04:2014\" "
            "URI=\"https://raw.githubusercontent.com/bio-ontology-research-group/unit-ontology/master/unit.obo\"/>\n"
            "</cvList>\n"
            "<fileDescription><fileContent>\n"
          + CvParamElement("MS:1000579", "MS1 spectrum") + "</fileContent></fileDescription>\n");
    QByteArray sampleParams = SampleTexts(a);
    if (layout.throughGroups) {
        write("<referenceableParamGroupList count=\"3\">\n"
              "<referenceableParamGroup id=\"sampleTexts\">\n"
              + sampleParams + "</referenceableParamGroup>\n<referenceableParamGroup id=\"masses\">\n"
              + EncodingParams(layout.masses)
              + "</referenceableParamGroup>\n<referenceableParamGroup id=\"intensities\">\n"
              + EncodingParams(layout.intensities) + "</referenceableParamGroup>\n</referenceableParamGroupList>\n");
        sampleParams = "<referenceableParamGroupRef ref=\"sampleTexts\"/>\n";
    }
    write("<sampleList count=\"1\">\n<sample id=\"sample1\" name=\"" + XmlEscaped(a.sampleName) + "\">\n" + sampleParams
          + "</sample>\n</sampleList>\n"
            "<softwareList count=\"1\">\n<software id=\"fixtures\" version=\"1.0\">\n"
          + CvParamElement("MS:1000799", "custom unreleased software tool", "fixture writer")
          + "</software>\n</softwareList>\n"
            "<instrumentConfigurationList count=\"1\">\n<instrumentConfiguration id=\"IC1\">\n"
          + CvParamElement("MS:1000031", "instrument model")
          + "</instrumentConfiguration>\n</instrumentConfigurationList>\n"
            "<dataProcessingList count=\"1\">\n<dataProcessing id=\"export\">\n"
            "<processingMethod order=\"0\" softwareRef=\"fixtures\">\n"
          + CvParamElement("MS:1000544", "Conversion to mzML")
          + "</processingMethod>\n</dataProcessing>\n</dataProcessingList>\n");
    QByteArray run = "<run id=\"run1\" defaultInstrumentConfigurationRef=\"IC1\" sampleRef=\"sample1\"";
    if (a.creationDate != 0) {
        const QDateTime local = DateTimeOfDateValue(a.creationDate);
        run += " startTimeStamp=\"" + local.date().toString(Qt::ISODate).toLatin1() + 'T'
             + local.time().toString(QStringLiteral("HH:mm:ss")).toLatin1() + '"';
    }
    write(run + ">\n<spectrumList count=\"" + QByteArray::number(spectrumCount)
          + "\" defaultDataProcessingRef=\"export\">\n");
}

void MzmlWriter::add(const FakeSpectrum &spectrum)
{
    const QByteArray index = QByteArray::number(qint64(m_offsets.size()));
    const QByteArray id = "scan=" + QByteArray::number(qint64(m_offsets.size()) + 1);
    m_offsets.emplace_back(id, m_written);
    QByteArray scan = TimeParam(spectrum.startTime, m_layout.timeUnit);
    if (!spectrum.filter.isEmpty())
        scan += "<cvParam cvRef=\"MS\" accession=\"MS:1000512\" name=\"filter string\" value=\""
              + XmlEscaped(spectrum.filter) + "\"/>\n";
    // Without a filter string a spectrum is of no kind that the conversion
    // writes, as a detector other than the mass analyser gives.
    const QByteArray level = spectrum.filter.isEmpty() ? QByteArray() : CvParamElement("MS:1000511", "ms level", "1");
    write("<spectrum index=\"" + index + "\" id=\"" + id + "\" defaultArrayLength=\""
          + QByteArray::number(qint64(spectrum.masses.size())) + "\">\n" + level + "<scanList count=\"1\">\n"
          + CvParamElement("MS:1000795", "no combination") + "<scan>\n" + scan
          + "</scan>\n</scanList>\n<binaryDataArrayList count=\"2\">\n");
    writeArray(spectrum.masses, m_layout.masses, "masses",
               "<cvParam cvRef=\"MS\" accession=\"MS:1000514\" "
               "name=\"m/z array\" value=\"\" unitCvRef=\"MS\" unitAccession=\"MS:1000040\" unitName=\"m/z\"/>\n");
    writeArray(spectrum.intensities, m_layout.intensities, "intensities",
               "<cvParam cvRef=\"MS\" accession=\"MS:1000515\" name=\"intensity array\" value=\"\" "
               "unitCvRef=\"MS\" unitAccession=\"MS:1000131\" unitName=\"number of detector counts\"/>\n");
    write("</binaryDataArrayList>\n</spectrum>\n");
}

void MzmlWriter::writeArray(const std::vector<double> &values, const ArrayEncoding &encoding, const char *group,
                            const char *arrayType)
{
    QByteArray bytes;
    if (!values.empty()) {
        bytes = encoding.numpress == Numpress::None ? LittleEndian(values, encoding.precision)
                                                    : Numpressed(values, encoding.numpress);
        if (encoding.zlib)
            bytes = Deflated(bytes);
    }
    const QByteArray text = bytes.toBase64();
    const QByteArray params = m_layout.throughGroups
                                ? "<referenceableParamGroupRef ref=\"" + QByteArray(group) + "\"/>\n"
                                : EncodingParams(encoding);
    write("<binaryDataArray encodedLength=\"" + QByteArray::number(text.size()) + "\">\n" + params + arrayType
          + "<binary>" + text + "</binary>\n</binaryDataArray>\n");
}

void MzmlWriter::finish()
{
    write("</spectrumList>\n</run>\n</mzML>\n");
    if (m_layout.indexed) {
        const qint64 indexOffset = m_written;
        write("<indexList count=\"1\">\n<index name=\"spectrum\">\n");
        for (const auto &[id, offset] : m_offsets)
            write("<offset idRef=\"" + id + "\">" + QByteArray::number(offset) + "</offset>\n");
        write("</index>\n</indexList>\n<indexListOffset>" + QByteArray::number(indexOffset)
              + "</indexListOffset>\n<fileChecksum>");
        write(m_checksum.result().toHex() + "</fileChecksum>\n</indexedmzML>\n");
    }
    if (!m_file.flush())
        throw std::runtime_error("cannot write " + m_file.fileName().toStdString());
    m_file.close();
}

void MzmlWriter::write(const QByteArray &markup)
{
    // Values are escaped: each line break left is one between tags.
    const QByteArray text = m_layout.lineBreaks ? markup : QByteArray(markup).replace('\n', "");
    if (m_file.write(text) != text.size())
        throw std::runtime_error("cannot write " + m_file.fileName().toStdString());
    m_checksum.addData(text);
    m_written += text.size();
}

void WriteMzml(const QString &path, const FakeAcquisition &acquisition, const MzmlLayout &layout)
{
    MzmlWriter writer(path, acquisition, qint64(acquisition.spectra.size()), layout);
    for (const FakeSpectrum &spectrum : acquisition.spectra)
        writer.add(spectrum);
    writer.finish();
}

QByteArray Gzipped(const QByteArray &bytes)
{
    z_stream stream{};
    // 15 + 16: the largest window, with a gzip header and trailer.
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("gzip compression failed");
    QByteArray out(qsizetype(deflateBound(&stream, uLong(bytes.size()))), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(bytes.constData()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        throw std::runtime_error("gzip compression failed");
    return out;
}
