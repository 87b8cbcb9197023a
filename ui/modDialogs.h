#pragma once

// The window's modal dialogs, each behind one replaceable function so that
// tests can answer them without a user.

#include "convert/Errors.h"
#include "convert/Seam.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace modDialogs {

// What the open-file dialog is set up with before it is shown.
struct OpenFileRequest
{
    QString DialogTitle;
    QString InitDir;
    QStringList Filter; // entries "description (*.ext ...)"; the first is chosen
};

// Shows a modal open-file dialog for one existing file and returns its full
// path, or the empty text when the user cancels. Nothing is preselected.
extern Seam<QString(QWidget *parent, const OpenFileRequest &request)> ShowOpen;

// Tells the user of a failure that a window action did not catch: a modal
// message with the error's number and description.
extern Seam<void(QWidget *parent, const Error &error)> ReportFailure;

// The real message box of window mode: modal, information icon, single OK.
void ShowInformationBox(const QString &text, const QString &title);

} // namespace modDialogs
