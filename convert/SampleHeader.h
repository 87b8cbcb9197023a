#pragma once

#include <QString>

// The short description of one acquisition, shown in the window and written
// at the top of the .asc file.
struct SampleHeader
{
    QString CreationDateTime; // local date text, see DateToText
    QString TimeOfInjection;  // seconds since 1970-01-01 UTC, as number text
    QString NameOfOperator;
    QString NameOfInstrument;
    QString NameOfSample;
    QString NameOfMethod;
    QString Description;
    QString VialNumber;
    QString DataPath;

    friend bool operator==(const SampleHeader &, const SampleHeader &) = default;
};

// Reads the header of the acquisition at rawPath through the raw-file access
// component. TimeOfInjection stays empty. Failures pass to the caller.
SampleHeader ReadSampleHeader(const QString &rawPath);
