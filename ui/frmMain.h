#pragma once

#include "convert/Errors.h"

#include <QWidget>

#include <memory>
#include <optional>

namespace Ui {
class frmMain;
}

class QCheckBox;
class QLineEdit;
struct SampleHeader;

// The program's only window: one RAW file, its sample header, the scaling
// factor and the four command buttons. The layout lives in frmMain.ui; every
// user action is one handler below, run to its end on the one thread.
class frmMain : public QWidget
{
    Q_OBJECT

public:
    explicit frmMain(QWidget *parent = nullptr);
    ~frmMain() override;

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Handlers, one per user action.
    void Form_Load();
    void cmdRawfile_Click();
    void cmdRefresh_Click();
    void chkEdit_Click();
    void txtScaling_Change();
    void txtCreationDateTime_Change();
    void cmdConvert_Click();
    void cmdReset_Click();
    void cmdExit_Click();

    void UpdateControlStates();
    QString BrowseForRawFile();
    void ShowSampleHeader(const SampleHeader &header);
    void LeaveEditMode();
    void ResetForm();

    using Handler = void (frmMain::*)();
    template <typename Sender, typename Signal>
    void Connect(Sender *sender, Signal signal, Handler handler);
    void Run(Handler handler);

    // Changes of a control from code: each passes on a failure of the handler
    // that the change raised, which ends the changing handler too.
    void SetText(QLineEdit *box, const QString &text);
    void SetChecked(QCheckBox *box, bool checked);
    void ThrowHeldFailure();

    // The eight header boxes, from the top of the frame down.
    QList<QLineEdit *> HeaderBoxes() const;
    void ApplyBackground(QLineEdit *box) const;

    std::unique_ptr<Ui::frmMain> ui;
    bool m_loaded = false;
    // Handlers under way: one the user started and those its changes raised.
    int m_running = 0;
    // A raised handler's failure, on its way to the handler that raised it.
    std::optional<Error> m_heldFailure;
    // The six editable header boxes are unlocked; follows each click of chkEdit.
    bool blnEditMode = false;
    // Convert writes the header shown here ("Y") instead of the file's ("N").
    bool blnHeaderEdited = false;
};
