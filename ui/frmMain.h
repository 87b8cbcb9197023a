#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class frmMain;
}

// The program's only window: one RAW file, its sample header, the scaling
// factor and the four command buttons. The layout lives in frmMain.ui.
class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

private:
    std::unique_ptr<Ui::frmMain> ui;
};
