#pragma once

#include <QWidget>

// The program's only window.
class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
};
