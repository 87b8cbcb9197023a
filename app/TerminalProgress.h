#pragma once

#include "convert/ConversionProgress.h"

// A batch conversion's progress for a person at a terminal, for as long as
// this lives: once the conversion has lasted a second, one line on standard
// error, rewritten in place and erased at the end. When standard error is a
// pipe or a file nothing is written: scripts see the error line alone.
class TerminalProgress
{
public:
    TerminalProgress();
    ~TerminalProgress();

    TerminalProgress(const TerminalProgress &) = delete;
    TerminalProgress &operator=(const TerminalProgress &) = delete;

private:
    void Show(const ConversionProgress &progress);
    void Erase();

    const bool m_terminal;
    ProgressPace m_pace;
    bool m_shown = false;
};
