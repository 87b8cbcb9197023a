#include "ui/ConversionProgressDialog.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;

ConversionProgressDialog::ConversionProgressDialog(QWidget *window, const QString &rawPath)
    : QDialog(window, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), m_label(new QLabel(this)),
      m_bar(new QProgressBar(this))
{
    setWindowTitle(u"Converting "_s + QFileInfo(rawPath).fileName());
    setWindowModality(Qt::ApplicationModal);
    setMinimumWidth(360);
    m_bar->setRange(0, 100);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_bar);
    ReportProgress.replace([this](const ConversionProgress &progress) { Show(progress); });
    // The window shows at once what the click changed (Convert disabled).
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

ConversionProgressDialog::~ConversionProgressDialog()
{
    ReportProgress.replace({});
}

void ConversionProgressDialog::Show(const ConversionProgress &progress)
{
    if (progress.step == ConversionProgress::Step::Done) {
        hide();
        return;
    }
    if (!m_pace.Due())
        return;
    if (m_pace.Visible()) {
        QString text = progress.Text();
        text[0] = text[0].toUpper();
        m_label->setText(text);
        m_bar->setValue(progress.Percent());
        show();
    }
    // Paints the window and the dialog. Until the dialog is up the user's
    // input waits; once it is, the window it blocks drops that input.
    QCoreApplication::processEvents(isVisible() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
}
