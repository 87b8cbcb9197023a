#pragma once

#include "convert/ConversionProgress.h"

#include <QDialog>

class QLabel;
class QProgressBar;

// A conversion's progress for the person at the window, for as long as this
// lives: the window keeps painting, and once the conversion has lasted a
// second this modal dialog shows how far it has come. It has no button and
// takes no input, so nothing can start another action before the conversion
// ends; clicks on the window meanwhile are dropped.
class ConversionProgressDialog : public QDialog
{
    Q_OBJECT

public:
    ConversionProgressDialog(QWidget *window, const QString &rawPath);
    ~ConversionProgressDialog() override;

    // Only the end of the conversion closes it: not Escape, not the title bar.
    void reject() override {}

private:
    void Show(const ConversionProgress &progress);

    ProgressPace m_pace;
    QLabel *m_label;
    QProgressBar *m_bar;
};
