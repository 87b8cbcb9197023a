#include "frmMain.h"

#include "ui_frmMain.h"

frmMain::frmMain(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::frmMain>())
{
    ui->setupUi(this);
}

frmMain::~frmMain() = default;
