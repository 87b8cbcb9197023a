#pragma once

#include "convert/ConversionProgress.h"

#include <QWidget>

class QLabel;
class QProgressBar;

// A conversion's progress for the person at the window, for as long as this
// lives: the window keeps painting, and once the conversion has lasted a
// second this modal dialog shows how far it has come. It has no button and
// takes no input, so nothing can start another action before the conversion
// ends; clicks on the window meanwhile are dropped.
class ConversionProgressDialog : public QWidget
{
    Q_OBJECT

public:
    ConversionProgressDialog(QWidget *window, const QString &rawPath);
    ~ConversionProgressDialog() override;

protected:
    // Only the end of the conversion closes it.
    void closeEvent(QCloseEvent *event) override;

private:
    void Show(const ConversionProgress &progress);

    ProgressPace m_pace;
    QLabel *m_label;
    QProgressBar *m_bar;
};
