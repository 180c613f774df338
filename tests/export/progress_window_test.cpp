#include "export/progress_window.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <gtest/gtest.h>

namespace {

// One application object for the whole program, created before the first test and
// destroyed after the last one (not at exit, where Qt's own statics are gone).
class AppEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        FApp = new QApplication(FArgc, FArgv);
    }
    void TearDown() override
    {
        delete FApp;
        FApp = nullptr;
    }

private:
    int FArgc = 1;
    char FName[24] = "progress_window_test";
    char* FArgv[2] = {FName, nullptr};
    QApplication* FApp = nullptr;
};

[[maybe_unused]] ::testing::Environment* const TheApp = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

// Lets the event loop run for Ms milliseconds.
void Wait(int Ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < Ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// A left click in the middle of W, as the window system delivers it.
void Click(QWidget* W)
{
    const QPointF local = QRectF(W->rect()).center();
    const QPointF global = W->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(W, &press);
    QApplication::sendEvent(W, &release);
}

// A key press and release sent to W; unhandled keys travel up to its window.
void Key(QWidget* W, int K)
{
    QKeyEvent press(QEvent::KeyPress, K, Qt::NoModifier);
    QKeyEvent release(QEvent::KeyRelease, K, Qt::NoModifier);
    QApplication::sendEvent(W, &press);
    QApplication::sendEvent(W, &release);
}

class ProgressWindowTest : public ::testing::Test {};

TEST_F(ProgressWindowTest, LayoutOfTheWindowAndItsControls)
{
    TfrmKVEProcess w;
    EXPECT_EQ(w.size(), QSize(442, 87));
    EXPECT_EQ(w.minimumSize(), QSize(442, 87)); // fixed: it cannot be resized
    EXPECT_EQ(w.maximumSize(), QSize(442, 87));
    EXPECT_FALSE(w.isModal());
    const Qt::WindowFlags flags = w.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowContextHelpButtonHint);
    EXPECT_EQ(w.font().family(), QString("MS Sans Serif"));
    EXPECT_EQ(w.font().pointSize(), 8);

    EXPECT_EQ(w.Bevel->geometry(), QRect(0, 0, 442, 87));
    EXPECT_EQ(w.Bevel->frameShadow(), QFrame::Raised);
    EXPECT_EQ(w.lblStatus->geometry(), QRect(8, 56, 339, 13));
    EXPECT_EQ(w.ProgressBar->geometry(), QRect(10, 70, 337, 10));
    EXPECT_EQ(w.btnCancel->geometry(), QRect(355, 55, 75, 25));
    EXPECT_EQ(w.btnCancel->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(w.btnCancel->text(), QString("&Cancel"));
    EXPECT_EQ(w.Animate->geometry(), QRect(8, 4, 427, 45));
    EXPECT_EQ(w.Animate->parentWidget(), &w);
    EXPECT_FALSE(w.Animate->Active());
    EXPECT_FALSE(w.Canceled);
    // The bevel lies below every other control.
    EXPECT_EQ(w.children().indexOf(w.Bevel), 0);

    w.show();
    const QRect screen = w.screen()->geometry();
    EXPECT_LE(std::abs(w.frameGeometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(w.frameGeometry().center().y() - screen.center().y()), 1);
    EXPECT_EQ(w.size(), QSize(442, 87));
}

TEST_F(ProgressWindowTest, TextsRangeAndPosition)
{
    TfrmKVEProcess w;
    w.SetCaption("Tabrix 4.61");
    w.SetStatus("Exporting... (40/120)");
    w.SetCancelCaption("&Abbrechen");
    EXPECT_EQ(w.windowTitle(), QString("Tabrix 4.61"));
    EXPECT_EQ(w.Caption(), "Tabrix 4.61");
    EXPECT_EQ(w.StatusText(), "Exporting... (40/120)");
    EXPECT_EQ(w.CancelCaption(), "&Abbrechen");
    w.SetStatus("Größe"); // UTF-8 round trip
    EXPECT_EQ(w.StatusText(), "Größe");
    w.show();

    // 0/0: no bar.
    w.SetRange(0, 0);
    w.SetPosition(0);
    EXPECT_FALSE(w.ProgressBar->isVisible());
    EXPECT_EQ(w.Maximum(), 0);

    w.SetRange(0, 120);
    w.SetPosition(40);
    EXPECT_TRUE(w.ProgressBar->isVisible());
    EXPECT_EQ(w.Maximum(), 120);
    EXPECT_EQ(w.ProgressBar->maximum(), 120);
    EXPECT_EQ(w.ProgressBar->value(), 40);
    w.SetPosition(500); // held at the end rather than ignored
    EXPECT_EQ(w.Position(), 120);
    EXPECT_EQ(w.ProgressBar->value(), 120);

    w.SetRange(5, 0); // only the minimum set: the bar shows, the maximum rises to it
    EXPECT_TRUE(w.ProgressBar->isVisible());
    EXPECT_EQ(w.Maximum(), 5);
    w.repaint();
}

TEST_F(ProgressWindowTest, CancelButtonEscapeAndCloseRequestACancel)
{
    {
        TfrmKVEProcess w;
        w.show();
        Click(w.btnCancel);
        EXPECT_TRUE(w.Canceled);
        EXPECT_TRUE(w.isVisible()); // the click does not close the window
    }
    {
        TfrmKVEProcess w;
        w.show();
        w.activateWindow();
        Key(&w, Qt::Key_Escape);
        EXPECT_TRUE(w.Canceled);
        EXPECT_TRUE(w.isVisible()); // Escape does not end the modeless window either
    }
    {
        TfrmKVEProcess w;
        w.btnCancel->setFocus();
        w.show();
        Key(w.btnCancel, Qt::Key_Escape);
        EXPECT_TRUE(w.Canceled);
    }
    {
        QPointer<TfrmKVEProcess> w = new TfrmKVEProcess;
        w->show();
        EXPECT_TRUE(w->close());
        QCoreApplication::processEvents();
        ASSERT_FALSE(w.isNull()); // closing hides, it never destroys
        EXPECT_FALSE(w->isVisible());
        EXPECT_TRUE(w->Canceled);
        // A later update still finds the window usable.
        w->SetStatus("Data export was canceled by user. (3/3)");
        EXPECT_EQ(w->StatusText(), "Data export was canceled by user. (3/3)");
        delete w;
    }
}

TEST_F(ProgressWindowTest, AnimationMovesOnlyWhileStarted)
{
    TfrmKVEProcess w;
    w.show();
    const int before = w.Animate->Frame();
    Wait(200);
    EXPECT_EQ(w.Animate->Frame(), before);

    w.StartAnimation();
    EXPECT_TRUE(w.Animate->Active());
    Wait(400);
    EXPECT_NE(w.Animate->Frame(), before);
    w.StopAnimation();
    EXPECT_FALSE(w.Animate->Active());
    const int stopped = w.Animate->Frame();
    Wait(200);
    EXPECT_EQ(w.Animate->Frame(), stopped);
    EXPECT_LT(stopped, TKVEAnimate::FrameCount);
}

} // namespace
