#include "frmMain.h"

using namespace Qt::Literals::StringLiterals;

frmMain::frmMain(QWidget *parent) : QWidget(parent)
{
    setWindowTitle(u"Quorvane to Text V 7b"_s);
}
