#include "app/main_form.h"

#include "app/application.h"
#include "framework/ui_services.h"

#include <QCloseEvent>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TfrmMain* frmMain = nullptr;

const char* const TfrmMain::Caption = "Tabrix: save the bmp-file  to MS Word";

namespace {

// The window's icon: a page with a small landscape picture on it.
QIcon MakeFormIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const double s = size / 16.0;
        p.setPen(QPen(QColor(40, 60, 120), s * 0.8));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(2 * s, 1 * s, 12 * s, 14 * s));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(120, 180, 240));
        p.drawRect(QRectF(4 * s, 3 * s, 8 * s, 7 * s));
        p.setBrush(QColor(40, 140, 60));
        QPolygonF hill;
        hill << QPointF(4 * s, 10 * s) << QPointF(7 * s, 6 * s) << QPointF(9 * s, 8.5 * s)
             << QPointF(10.5 * s, 7 * s) << QPointF(12 * s, 10 * s);
        p.drawPolygon(hill);
        p.setBrush(QColor(250, 210, 40));
        p.drawEllipse(QPointF(10 * s, 4.8 * s), 1.1 * s, 1.1 * s);
        p.setBrush(QColor(40, 60, 120));
        for (int line = 0; line < 2; ++line)
            p.drawRect(QRectF(4 * s, (11.5 + 1.6 * line) * s, 8 * s, 0.7 * s));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

TfrmMain::TfrmMain(QWidget* Parent) : QWidget(Parent)
{
    CreateComponents();
    FormCreate(nullptr);
}

TfrmMain::~TfrmMain()
{
    FormDestroy(nullptr);
    if (frmMain == this)
        frmMain = nullptr;
}

void TfrmMain::CreateComponents()
{
    setObjectName("frmMain");
    setWindowTitle(QString::fromUtf8(Caption));
    setWindowIcon(MakeFormIcon());
    // MS Sans Serif, 11 pixels high; the font system substitutes where it is missing.
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    // Until the window system tells the frame, the client area takes the whole size.
    resize(FormWidth, FormHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        // The position of a window is that of its frame.
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(FormWidth / 2, FormHeight / 2));
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pnlAction = new QFrame(this);
    pnlAction->setObjectName("pnlAction");
    pnlAction->setFrameShape(QFrame::StyledPanel);
    pnlAction->setFrameShadow(QFrame::Raised);
    pnlAction->setFixedHeight(41);
    layout->addWidget(pnlAction);
    layout->addStretch(1);

    lblURL = new QLabel(QString::fromStdString(VendorURL), pnlAction);
    lblURL->setObjectName("lblURL");
    lblURL->move(32, 16);
    QFont urlFont = lblURL->font();
    urlFont.setUnderline(true);
    lblURL->setFont(urlFont);
    QPalette urlPalette = lblURL->palette();
    urlPalette.setColor(QPalette::WindowText, Qt::blue);
    lblURL->setPalette(urlPalette);
    // The form paints in button colours; without this the label would take the
    // button-text role and come out black.
    lblURL->setForegroundRole(QPalette::WindowText);
    lblURL->setCursor(Qt::PointingHandCursor);
    lblURL->adjustSize();

    btnExport = new QPushButton(QStringLiteral("Export"), pnlAction);
    btnExport->setObjectName("btnExport");
    btnExport->setGeometry(264, 8, 75, 25);
    btnExport->setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(btnExport);
    connect(btnExport, &QPushButton::clicked, this,
            [this] { GuardedCall([this] { btnExportClick(nullptr); }); });

    OpenPictureDialog1 = new TOpenPictureDialog(this);
    OpenPictureDialog1->setObjectName("OpenPictureDialog1");
    OpenPictureDialog1->DefaultExt = "bmp";
    OpenPictureDialog1->Options =
        ofHideReadOnly | ofAllowMultiSelect | ofPathMustExist | ofFileMustExist | ofEnableSizing;
    OpenPictureDialog1->ParentWindow = this;
}

void TfrmMain::FormCreate(TPersistent* Sender)
{
    TPictureExportJob::FormCreate(Sender);
    OpenPictureDialog1->InitialDir = ProgramFolder();
}

void TfrmMain::FormDestroy(TPersistent* Sender)
{
    TPictureExportJob::FormDestroy(Sender);
}

void TfrmMain::ApplyOuterSize()
{
    if (FOuterSizeApplied)
        return;
    const QSize frame = frameGeometry().size() - geometry().size();
    if (frame.isEmpty())
        return;
    FOuterSizeApplied = true;
    resize(QSize(FormWidth, FormHeight) - frame);
}

void TfrmMain::showEvent(QShowEvent* Event)
{
    QWidget::showEvent(Event);
    ApplyOuterSize();
}

void TfrmMain::moveEvent(QMoveEvent* Event)
{
    QWidget::moveEvent(Event);
    if (isVisible())
        ApplyOuterSize();
}

void TfrmMain::closeEvent(QCloseEvent* Event)
{
    if (Running()) {
        // The export lets window events through; closing the window now would leave
        // a program without a window. The export is asked to stop instead, and the
        // window closes once it has.
        FCloseAfterRun = true;
        KVExportToWord1->SetProgressCanceled(true);
        Event->ignore();
        return;
    }
    QWidget::closeEvent(Event);
}

void TfrmMain::btnExportClick(TPersistent*)
{
    // The run lets window events through (its progress window and Cancel button), so
    // the button is off while it lasts and a click that still arrives does nothing.
    if (Running())
        return;
    if (!OpenPictureDialog1->Execute())
        return;
    std::vector<std::string> files(OpenPictureDialog1->Files().Lines());
    struct ButtonOff {
        QPushButton* Button;
        explicit ButtonOff(QPushButton* B) : Button(B) { Button->setEnabled(false); }
        ~ButtonOff() { Button->setEnabled(true); }
    } off(btnExport);
    struct CloseWhenAsked {
        TfrmMain* Form;
        ~CloseWhenAsked()
        {
            if (Form->FCloseAfterRun) {
                Form->FCloseAfterRun = false;
                Form->close();
            }
        }
    } closeWhenAsked{this};
    ExportPictures(files);
}
