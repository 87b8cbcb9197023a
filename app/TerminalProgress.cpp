#include "app/TerminalProgress.h"

#include "convert/modAPI.h"

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

// Back to the start of the line, and the line cleared from the cursor on.
constexpr QStringView LineStart = u"\r";
constexpr QStringView ClearToEnd = u"\x1b[K";

} // namespace

TerminalProgress::TerminalProgress() : m_terminal(modAPI::StandardErrorIsTerminal())
{
    if (m_terminal)
        ReportProgress.replace([this](const ConversionProgress &progress) { Show(progress); });
}

TerminalProgress::~TerminalProgress()
{
    if (!m_terminal)
        return;
    ReportProgress.replace({});
    Erase();
}

void TerminalProgress::Show(const ConversionProgress &progress)
{
    if (progress.step == ConversionProgress::Step::Done) {
        Erase();
        return;
    }
    if (!m_pace.Due() || !m_pace.Visible())
        return;
    modAPI::WriteErrorText(LineStart + u"quorvane-to-text: "_s + QString::number(progress.Percent()) + u"%, "_s
                           + progress.Text() + u", "_s + QString::number(m_pace.ElapsedSeconds()) + u" s"_s
                           + ClearToEnd);
    m_shown = true;
}

void TerminalProgress::Erase()
{
    if (std::exchange(m_shown, false))
        modAPI::WriteErrorText(LineStart + ClearToEnd);
}
