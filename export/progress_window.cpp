#include "progress_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <numbers>

// ---------------------------------------------------------------------------
// TKVEAnimate

TKVEAnimate::TKVEAnimate(QWidget* AParent)
    : QWidget(AParent)
{
    // Transparent: the window's colour shows through between the drawings.
    setAutoFillBackground(false);
    FTimer.setInterval(60);
    connect(&FTimer, &QTimer::timeout, this, [this] {
        FFrame = (FFrame + 1) % FrameCount;
        update();
    });
}

void TKVEAnimate::Start()
{
    FTimer.start();
}

void TKVEAnimate::Stop()
{
    FTimer.stop();
}

namespace {

void DrawFolder(QPainter& P, const QRectF& R, bool Open)
{
    const QColor body(230, 190, 70);
    const QColor edge(150, 110, 20);
    P.setPen(QPen(edge, 1));
    P.setBrush(body.darker(110));
    QPainterPath tab;
    tab.moveTo(R.left(), R.top() + 4);
    tab.lineTo(R.left() + 3, R.top());
    tab.lineTo(R.left() + R.width() * 0.4, R.top());
    tab.lineTo(R.left() + R.width() * 0.4 + 3, R.top() + 4);
    tab.closeSubpath();
    P.drawPath(tab);
    P.drawRect(R.adjusted(0, 4, 0, 0));
    P.setBrush(body);
    if (Open) {
        QPolygonF front;
        front << QPointF(R.left() + 4, R.top() + 10) << QPointF(R.right() + 2, R.top() + 10)
              << QPointF(R.right() - 2, R.bottom()) << QPointF(R.left(), R.bottom());
        P.drawPolygon(front);
    } else {
        P.drawRect(R.adjusted(0, 8, 0, 0));
    }
}

void DrawSheet(QPainter& P, const QPointF& Centre, double Angle)
{
    P.save();
    P.translate(Centre);
    P.rotate(Angle);
    P.setPen(QPen(QColor(90, 90, 90), 1));
    P.setBrush(Qt::white);
    const QRectF sheet(-7, -9, 14, 18);
    P.drawRect(sheet);
    P.setPen(QPen(QColor(120, 120, 200), 1));
    for (int i = 0; i < 4; ++i)
        P.drawLine(QPointF(-4, -5 + 4 * i), QPointF(4, -5 + 4 * i));
    P.restore();
}

} // namespace

void TKVEAnimate::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double h = height();
    const QRectF from(24, h - 30, 40, 26);
    const QRectF to(width() - 64, h - 30, 40, 26);
    DrawFolder(p, from, true);
    DrawFolder(p, to, true);
    // One sheet on its way along an arc; the frame gives the distance covered.
    const double t = static_cast<double>(FFrame) / (FrameCount - 1);
    const double x0 = from.center().x(), x1 = to.center().x();
    const double x = x0 + (x1 - x0) * t;
    const double y = (h - 16) - std::sin(t * std::numbers::pi) * (h - 26);
    DrawSheet(p, QPointF(x, y), -30 + 60 * t);
}

// ---------------------------------------------------------------------------
// TfrmKVEProcess

TfrmKVEProcess::TfrmKVEProcess(QWidget* AParent)
    : QDialog(AParent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint)
{
    setObjectName("frmKVEProcess");
    setModal(false);
    setFixedSize(ClientWidth, ClientHeight);
    QFont f("MS Sans Serif");
    f.setPointSize(8);
    setFont(f);

    // Created first so that every other control lies above it.
    Bevel = new QFrame(this);
    Bevel->setObjectName("Bevel");
    Bevel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Bevel->setGeometry(0, 0, 442, 87);

    Animate = new TKVEAnimate(this);
    Animate->setObjectName("Animate");
    Animate->setGeometry(8, 4, 427, 45);

    lblStatus = new QLabel(this);
    lblStatus->setObjectName("lblStatus");
    lblStatus->setGeometry(8, 56, 339, 13);
    lblStatus->setWordWrap(false);
    lblStatus->setTextFormat(Qt::PlainText);

    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName("ProgressBar");
    ProgressBar->setGeometry(10, 70, 337, 10);
    ProgressBar->setTextVisible(false);
    ProgressBar->setRange(0, 0);
    ProgressBar->setVisible(false);

    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(355, 55, 75, 25);
    btnCancel->setCursor(Qt::ArrowCursor);
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

    Canceled = false;
    CenterOnScreen();
}

TfrmKVEProcess::~TfrmKVEProcess()
{
    Animate->Stop();
}

void TfrmKVEProcess::SetCaption(const std::string& Value)
{
    setWindowTitle(QString::fromStdString(Value));
}

std::string TfrmKVEProcess::Caption() const
{
    return windowTitle().toStdString();
}

void TfrmKVEProcess::SetStatus(const std::string& Value)
{
    lblStatus->setText(QString::fromStdString(Value));
}

std::string TfrmKVEProcess::StatusText() const
{
    return lblStatus->text().toStdString();
}

void TfrmKVEProcess::SetCancelCaption(const std::string& Value)
{
    btnCancel->setText(QString::fromStdString(Value));
}

std::string TfrmKVEProcess::CancelCaption() const
{
    return btnCancel->text().toStdString();
}

void TfrmKVEProcess::SetRange(int AMin, int AMax)
{
    FMin = AMin;
    FMax = std::max(AMin, AMax);
    ProgressBar->setRange(FMin, FMax);
    ProgressBar->setVisible(AMin != 0 || AMax != 0);
    SetPosition(FPosition);
}

void TfrmKVEProcess::SetPosition(int Value)
{
    FPosition = std::clamp(Value, FMin, FMax);
    if (FMin != 0 || FMax != 0)
        ProgressBar->setValue(FPosition);
}

void TfrmKVEProcess::reject()
{
    // The button's "cancel" result means nothing to a modeless window: only the click
    // counts.
    btnCancel->click();
}

void TfrmKVEProcess::btnCancelClick()
{
    Canceled = true;
}

void TfrmKVEProcess::closeEvent(QCloseEvent* Event)
{
    // Closing asks for a cancel and hides the window; the owner destroys it.
    Canceled = true;
    Event->accept();
}

void TfrmKVEProcess::showEvent(QShowEvent* Event)
{
    QDialog::showEvent(Event);
    if (!FPlaced) {
        FPlaced = true;
        CenterOnScreen();
    }
}

void TfrmKVEProcess::CenterOnScreen()
{
    QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    const QRect area = s->geometry();
    // A window's position is that of its outer frame, so the frame is centred.
    const QSize outer = frameGeometry().size();
    move(area.left() + (area.width() - outer.width()) / 2, area.top() + (area.height() - outer.height()) / 2);
}
