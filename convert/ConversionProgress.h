#pragma once

#include "convert/Seam.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

// Where a conversion stands, for a person who waits for it.
struct ConversionProgress
{
    enum class Step { Reading, Writing, Done };

    Step step = Step::Done;
    qint64 done = 0;     // of total: bytes of the acquisition read, or spectra passed in all sections
    qint64 total = 0;    // the acquisition's bytes, or the count once for each section written
    qint32 spectrum = 0; // Writing: the spectrum just passed, of count
    qint32 count = 0;
    QStringView section; // Writing both sections: "ms" or "SIM"; empty otherwise

    // From 0 to 100.
    int Percent() const;
    // "reading the acquisition", "spectrum 120 of 4000", "spectrum 120 of
    // 4000, SIM section"; nothing to show once Done.
    QString Text() const;
};

// Told as a conversion goes on: by the reader while it reads the acquisition,
// by ConvertRawFile after each spectrum it passes, and once with Step::Done
// when the .asc file is complete. It is called often, on the converting
// thread: a display of it keeps its own pace (ProgressPace). Does nothing
// unless the window or batch mode puts a display in its place.
extern Seam<void(const ConversionProgress &progress)> ReportProgress;

// Paces a display of progress on a steady clock: it is due a tenth of a
// second after it was last due, and shown only once the work has lasted a
// second, so that a short conversion shows nothing.
class ProgressPace
{
public:
    ProgressPace();

    // True at most once a tenth of a second.
    bool Due();
    // The work has lasted a second, as the clock stood when last due.
    bool Visible() const { return m_elapsed >= VisibleAfterMilliseconds; }
    qint64 ElapsedSeconds() const { return m_elapsed / 1000; }

private:
    static constexpr qint64 IntervalMilliseconds = 100;
    static constexpr qint64 VisibleAfterMilliseconds = 1000;

    qint64 m_start;
    qint64 m_elapsed = 0;
    qint64 m_next = 0; // elapsed milliseconds when next due
};
