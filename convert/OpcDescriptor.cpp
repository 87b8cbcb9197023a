#include "convert/OpcDescriptor.h"

#include "convert/Errors.h"
#include "convert/PathFunctions.h"
#include "convert/RawFileAccess.h"
#include "convert/TextFileWriter.h"

#include <array>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

// Why the last descriptor failed; none after a success.
std::optional<Error> LastFailure;

// Each value is read from the component just before its line is written, so
// a failing read leaves exactly the lines before it in the file.
using ValueOf = QString (*)(SampleInfoRecord &);

QString Nothing(SampleInfoRecord &)
{
    return {};
}
QString Position(SampleInfoRecord &info)
{
    return info.Position();
}
QString Operator(SampleInfoRecord &info)
{
    return info.UserText(1);
}
QString SampleName(SampleInfoRecord &info)
{
    return info.SampleName();
}
QString DataPath(SampleInfoRecord &info)
{
    return info.DataPath();
}
// An acquisition without a data path (many exports have none) has no batch:
// its lines stay empty, so that the descriptor keeps all its lines.
std::optional<QString> Batch(SampleInfoRecord &info)
{
    const QString dataPath = info.DataPath();
    if (dataPath.isEmpty())
        return std::nullopt;
    return LastFolderOfPath(dataPath + u'\\');
}
QString BatchName(SampleInfoRecord &info)
{
    return Batch(info).value_or(QString());
}
QString BatchNameB(SampleInfoRecord &info)
{
    const std::optional<QString> batch = Batch(info);
    return batch ? *batch + u".b"_s : QString();
}

// The method file's name with its four-character extension replaced by "M":
// "C:\methods\lipids.meth" gives "lipids.M". A path too short to have such
// an extension (exports carry none at all) gives its file name as it stands,
// so that the descriptor keeps all its lines.
QString MethodName(SampleInfoRecord &info)
{
    const QString method = info.InstrumentMethod();
    // The component is asked again for the length: its readers count on
    // this order of calls, so the second read is not an oversight.
    const qsizetype kept = info.InstrumentMethod().size() - 4;
    if (kept < 0)
        return FileNameOfPath(method);
    return FileNameOfPath(method.left(kept) + u'M');
}

struct DescriptorLine
{
    QStringView key;
    ValueOf value;
};

// The readers of the descriptor expect these keys, blanks and spelling included.
// One row for each line of the file, in its order.
// clang-format off
constexpr std::array<DescriptorLine, 22> DescriptorLines{{
    {u"TuneDate = ", Nothing},
    {u"Batch = ", BatchNameB},
    {u"AlsBottle = ", Position},
    {u"Method = ", MethodName},
    {u"DilFactor = ", Nothing},
    {u"Amount = ", Nothing},
    {u"Operator = ", Operator},
    {u"LabSmpID = ", SampleName},
    {u"ClientSmpID = ", SampleName},
    {u"QCType = ", Nothing},
    {u"SpikeFile = ", Nothing},
    {u"SubList = ", Nothing},
    {u"SampleType = ", Nothing},
    {u"CalLevel = ", Nothing},
    {u"SpikeRecMode = ", Nothing},
    {u"SpikeSample = ", Nothing},
    {u"SampleInfo = ", SampleName},
    {u"Ws = ", Nothing},
    {u"Vt = ", Nothing},
    {u"Data Path = ", DataPath},
    {u"Batchname = ", BatchNameB},
    {u"batchnme = ", BatchName},
}};
// clang-format on

} // namespace

bool WriteOpcFile(const QString &rawPath)
{
    LastFailure.reset();
    std::unique_ptr<RawFileDocument> document;
    bool open = false;
    try {
        document = CreateRawFileDocument();
        document->Open(rawPath);
        open = true;
        const std::unique_ptr<SampleInfoRecord> sampleInfo = document->SampleInfo();
        TextFileWriter descriptor = CreateOutputBeside(rawPath, u"opc"_s);
        for (const DescriptorLine &line : DescriptorLines)
            descriptor.WriteLine(line.key + line.value(*sampleInfo));
        descriptor.Close();
        open = false;
        document->Close();
        return true;
    } catch (...) {
        LastFailure = CaughtFailure();
        // The writer and the sample information are gone by now: the lines
        // written so far are in the file, and the file is closed.
        if (open)
            CloseAfterFailure(*document);
        return false;
    }
}

std::optional<Error> LastDescriptorFailure()
{
    return LastFailure;
}
