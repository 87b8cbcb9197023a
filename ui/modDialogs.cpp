#include "ui/modDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QScopeGuard>

namespace modDialogs {
namespace {

QString ShowOpenFileDialog(QWidget *parent, const OpenFileRequest &request)
{
    QFileDialog dialog(parent, request.DialogTitle, request.InitDir);
    dialog.setNameFilters(request.Filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
#ifndef Q_OS_WIN
    // The toolkit's own dialog matches the filter in any letter case, as the
    // native ones here do not; acquisitions copied from the instrument PC
    // often end in ".RAW".
    dialog.setOption(QFileDialog::DontUseNativeDialog);
#endif
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}

void ShowFailureBox(QWidget *parent, const Error &error)
{
    QMessageBox box(QMessageBox::Critical, parent ? parent->windowTitle() : QString(), ErrorMessage(error),
                    QMessageBox::Ok, parent);
    box.exec();
}

} // namespace

Seam<QString(QWidget *, const OpenFileRequest &)> ShowOpen{ShowOpenFileDialog};

Seam<void(QWidget *, const Error &)> ReportFailure{ShowFailureBox};

void ShowInformationBox(const QString &text, const QString &title)
{
    // The box waits for the user inside a busy action: no hourglass over it.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace modDialogs
