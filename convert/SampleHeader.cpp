#include "convert/SampleHeader.h"

#include "convert/PathFunctions.h"
#include "convert/RawFileAccess.h"
#include "convert/RegionalSettings.h"

SampleHeader ReadSampleHeader(const QString &rawPath)
{
    // The order of the component calls is part of the contract with it.
    SampleHeader header;
    const std::unique_ptr<RawFileDocument> document = CreateRawFileDocument();
    document->Open(rawPath);
    const std::unique_ptr<SampleInfoRecord> sampleInfo = document->SampleInfo();
    header.VialNumber = sampleInfo->Position();
    header.NameOfSample = sampleInfo->SampleName();
    header.Description = sampleInfo->Comment();
    header.NameOfMethod = FileNameOfPath(sampleInfo->InstrumentMethod());
    header.NameOfOperator = sampleInfo->UserText(1);
    header.NameOfInstrument = sampleInfo->UserText(2);
    const std::unique_ptr<FileHeaderInfo> fileHeader = document->FileHeader();
    header.CreationDateTime = DateToText(fileHeader->CreationDate());
    header.DataPath = sampleInfo->DataPath();
    document->Close();
    return header;
}
