#include "ui/frmMain.h"

#include "convert/AscConversion.h"
#include "convert/Errors.h"
#include "convert/OpcDescriptor.h"
#include "convert/RegionalSettings.h"
#include "convert/SampleHeader.h"
#include "convert/modAPI.h"
#include "convert/modTimeZone.h"
#include "ui/ConversionProgressDialog.h"
#include "ui/modDialogs.h"
#include "ui_frmMain.h"

#include <QApplication>
#include <QScopeGuard>
#include <QShowEvent>

#include <limits>
#include <optional>

using namespace Qt::Literals::StringLiterals;

frmMain::frmMain(QWidget *parent) : QWidget(parent), ui(std::make_unique<Ui::frmMain>())
{
    ui->setupUi(this);
    // A header text is never cut: a long comment would reach the .asc file
    // shortened in the edited header.
    for (QLineEdit *box : findChildren<QLineEdit *>())
        box->setMaxLength(std::numeric_limits<int>::max());
    Connect(ui->cmdRawfile, &QPushButton::clicked, &frmMain::cmdRawfile_Click);
    Connect(ui->cmdRefresh, &QPushButton::clicked, &frmMain::cmdRefresh_Click);
    // Toggled, not clicked: the box reacts to every user click and also to
    // being unchecked from code, and the flags rely on both.
    Connect(ui->chkEdit, &QCheckBox::toggled, &frmMain::chkEdit_Click);
    Connect(ui->txtScaling, &QLineEdit::textChanged, &frmMain::txtScaling_Change);
    Connect(ui->txtCreationDateTime, &QLineEdit::textChanged, &frmMain::txtCreationDateTime_Change);
    Connect(ui->cmdConvert, &QPushButton::clicked, &frmMain::cmdConvert_Click);
    Connect(ui->cmdReset, &QPushButton::clicked, &frmMain::cmdReset_Click);
    Connect(ui->cmdExit, &QPushButton::clicked, &frmMain::cmdExit_Click);
}

frmMain::~frmMain() = default;

template <typename Sender, typename Signal>
void frmMain::Connect(Sender *sender, Signal signal, Handler handler)
{
    connect(sender, signal, this, [this, handler] { Run(handler); });
}

// A failure that a handler does not catch ends that handler where it
// happened; the user is told once, and the window stays as the handlers left
// it. A handler that another one's change of a control raised must not let
// its failure pass through the toolkit's signal delivery: it holds it, and
// the change passes it on to the handler that made it (SetText, SetChecked),
// up to the one the user started, which reports it.
void frmMain::Run(Handler handler)
{
    ++m_running;
    const auto leave = qScopeGuard([this] { --m_running; });
    try {
        (this->*handler)();
        ThrowHeldFailure();
    } catch (...) {
        // Any failure, not only the program's own: memory that runs out, or
        // a fault in a handler, must not end the window through the toolkit.
        const Error error = CaughtFailure();
        if (m_running > 1) {
            m_heldFailure = error;
            return;
        }
        m_heldFailure.reset();
        modDialogs::ReportFailure(this, error);
    }
}

void frmMain::SetText(QLineEdit *box, const QString &text)
{
    box->setText(text);
    ThrowHeldFailure();
}

void frmMain::SetChecked(QCheckBox *box, bool checked)
{
    box->setChecked(checked);
    ThrowHeldFailure();
}

void frmMain::ThrowHeldFailure()
{
    if (!m_heldFailure)
        return;
    const Error failure = *m_heldFailure;
    m_heldFailure.reset();
    throw failure;
}

// Loading happens on the first show, before the window appears, so that
// the window is never seen in its designed state.
void frmMain::showEvent(QShowEvent *event)
{
    if (!m_loaded && !event->spontaneous()) {
        m_loaded = true;
        Run(&frmMain::Form_Load);
    }
    QWidget::showEvent(event);
}

// The header boxes take their colours from the scheme: follow it when the
// user changes it (the window's own palette changes with the scheme's).
void frmMain::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_loaded) {
        for (QLineEdit *box : HeaderBoxes())
            ApplyBackground(box);
    }
    QWidget::changeEvent(event);
}

QList<QLineEdit *> frmMain::HeaderBoxes() const
{
    return {ui->txtCreationDateTime, ui->txtTimeOfInjection, ui->txtNameOfOperator, ui->txtNameOfInstrument,
            ui->txtNameOfSample,     ui->txtNameOfMethod,    ui->txtDescription,    ui->txtVialNumber};
}

// A box the user may type into has the window background, a locked one the
// button face.
void frmMain::ApplyBackground(QLineEdit *box) const
{
    const QPalette::ColorRole role = box->isReadOnly() ? QPalette::Button : QPalette::Base;
    const QPalette scheme = QApplication::palette(box);
    QPalette palette = box->palette();
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setBrush(group, QPalette::Base, scheme.brush(group, role));
    box->setPalette(palette);
}

void frmMain::UpdateControlStates()
{
    const QString scaling = ui->txtScaling->text();
    if (!IsNumeric(scaling) || !(TextToNumber(scaling) > 0)) {
        ui->cmdConvert->setEnabled(false);
        return;
    }
    const bool fileChosen = !ui->txtRawfile->text().isEmpty();
    for (QWidget *control : std::initializer_list<QWidget *>{ui->cmdConvert, ui->chkEdit, ui->cmdRefresh, ui->cmdReset})
        control->setEnabled(fileChosen);
    for (QLineEdit *box : HeaderBoxes()) {
        const bool derived = box == ui->txtCreationDateTime || box == ui->txtTimeOfInjection;
        box->setReadOnly(derived || !blnEditMode);
        ApplyBackground(box);
    }
}

QString frmMain::BrowseForRawFile()
{
    modDialogs::OpenFileRequest request;
    request.DialogTitle = u"Please select the Quorvane RAW file you wish to convert"_s;
#ifdef Q_OS_WIN
    request.InitDir = u"c:\\"_s;
#else
    request.InitDir = u"/"_s;
#endif
    request.Filter = {u"Quorvane RAW files (*.raw)"_s, u"mzML exports (*.mzML *.mzML.gz)"_s, u"All files (*)"_s};
    return modDialogs::ShowOpen(this, request);
}

void frmMain::ShowSampleHeader(const SampleHeader &header)
{
    SetText(ui->txtCreationDateTime, header.CreationDateTime);
    SetText(ui->txtNameOfOperator, header.NameOfOperator);
    SetText(ui->txtNameOfInstrument, header.NameOfInstrument);
    SetText(ui->txtNameOfSample, header.NameOfSample);
    SetText(ui->txtNameOfMethod, header.NameOfMethod);
    SetText(ui->txtDescription, header.Description);
    SetText(ui->txtVialNumber, header.VialNumber);
}

// Unticks chkEdit and forgets any edit: Convert goes back to the file's header.
void frmMain::LeaveEditMode()
{
    SetChecked(ui->chkEdit, false);
    blnEditMode = false;
    blnHeaderEdited = false;
    UpdateControlStates();
}

void frmMain::ResetForm()
{
    SetText(ui->txtRawfile, QString());
    for (QLineEdit *box : HeaderBoxes())
        SetText(box, QString());
    SetText(ui->txtScaling, u"1"_s);
    LeaveEditMode();
}

void frmMain::Form_Load()
{
    ResetForm();
}

void frmMain::cmdRawfile_Click()
{
    SetText(ui->txtRawfile, BrowseForRawFile());
    if (!ui->txtRawfile->text().isEmpty())
        ShowSampleHeader(ReadSampleHeader(ui->txtRawfile->text()));
    UpdateControlStates();
}

void frmMain::cmdRefresh_Click()
{
    const SampleHeader header = ReadSampleHeader(ui->txtRawfile->text());
    ShowSampleHeader(header);
    LeaveEditMode();
}

// The box's own value is not read: each click inverts the mode.
void frmMain::chkEdit_Click()
{
    blnEditMode = !blnEditMode;
    blnHeaderEdited = true;
    UpdateControlStates();
}

void frmMain::txtScaling_Change()
{
    UpdateControlStates();
}

void frmMain::txtCreationDateTime_Change()
{
    const QString text = ui->txtCreationDateTime->text();
    if (text.isEmpty()) {
        SetText(ui->txtTimeOfInjection, QString());
        return;
    }
    const double date = TextToDate(text);
    SetText(ui->txtTimeOfInjection, NumberToText(OleDateToEpochSeconds(date)));
}

// A conversion's word for the user, as a sentence of its own.
static QString Sentence(QString words)
{
    words[0] = words[0].toUpper();
    return words + u'.';
}

// Both writers catch their own failures; the window tells the user of each
// (a silent failure would pass for the success it is not) and goes on the
// same way after either. A header-only .asc is a success, but one the user
// should hear of.
void frmMain::cmdConvert_Click()
{
    ui->cmdConvert->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restoreCursor = qScopeGuard([] { QApplication::restoreOverrideCursor(); });

    SampleHeader header;
    QString modeLetter = u"N"_s;
    if (blnHeaderEdited) {
        header.CreationDateTime = ui->txtCreationDateTime->text();
        header.TimeOfInjection = ui->txtTimeOfInjection->text();
        header.NameOfOperator = ui->txtNameOfOperator->text();
        header.NameOfInstrument = ui->txtNameOfInstrument->text();
        header.NameOfSample = ui->txtNameOfSample->text();
        header.NameOfMethod = ui->txtNameOfMethod->text();
        header.Description = ui->txtDescription->text();
        header.VialNumber = ui->txtVialNumber->text();
        modeLetter = u"Y"_s;
    }
    const double scaling = TextToNumber(ui->txtScaling->text());
    bool converted = false;
    {
        const ConversionProgressDialog progress(this, ui->txtRawfile->text());
        converted = ConvertRawFile(ui->txtRawfile->text(), modeLetter, header, scaling);
    }
    std::optional<Error> conversionFailure;
    if (!converted) {
        conversionFailure = LastConversionFailure();
        modDialogs::ReportFailure(this, *conversionFailure);
    } else if (const std::optional<QString> notice = LastConversionNotice()) {
        modAPI::ShowInformation(Sentence(*notice), u"No Spectra Written"_s);
    }
    // A file that cannot be opened fails both writers alike: one box says it.
    if (!WriteOpcFile(ui->txtRawfile->text())) {
        const Error descriptorFailure = *LastDescriptorFailure();
        if (!conversionFailure || ErrorMessage(*conversionFailure) != ErrorMessage(descriptorFailure))
            modDialogs::ReportFailure(this, descriptorFailure);
    }
    ui->cmdConvert->setEnabled(true);
}

void frmMain::cmdReset_Click()
{
    ResetForm();
}

// Ends the program at once: the event loop stops, no further handler runs,
// nothing is asked.
void frmMain::cmdExit_Click()
{
    QCoreApplication::exit(0);
}
