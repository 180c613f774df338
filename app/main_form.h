#pragma once
// The main window of the picture export program: a panel with our web address and an
// "Export" button. The button asks for bitmap files and writes them into a
// word-processor document beside the program, one table row per picture.

#include "app/open_picture_dialog.h"
#include "app/picture_export_job.h"

#include <QWidget>

class QCloseEvent;
class QFrame;
class QMoveEvent;
class QShowEvent;
class QLabel;
class QPushButton;

class TfrmMain : public QWidget, public TPictureExportJob {
    Q_OBJECT
public:
    // Builds the window and its components with their stored settings, then runs
    // FormCreate.
    explicit TfrmMain(QWidget* Parent = nullptr);
    // Runs FormDestroy.
    ~TfrmMain() override;

    static const char* const Caption;

    QFrame* pnlAction = nullptr;
    QLabel* lblURL = nullptr;
    QPushButton* btnExport = nullptr;
    TOpenPictureDialog* OpenPictureDialog1 = nullptr;

    void FormCreate(TPersistent* Sender);
    void FormDestroy(TPersistent* Sender);
    // Asks for the pictures and exports them; a cancelled choice changes nothing.
    void btnExportClick(TPersistent* Sender);

    // The window's outer size, frame included.
    static constexpr int FormWidth = 376;
    static constexpr int FormHeight = 95;

protected:
    // Closing the window during an export cancels it; the window closes (and with it
    // the program) once the export has closed.
    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override;
    void moveEvent(QMoveEvent* Event) override;

private:
    void CreateComponents();
    // Sizes the window so that its outer size, frame included, is FormWidth x
    // FormHeight, once the window system has told the frame.
    void ApplyOuterSize();

    bool FCloseAfterRun = false;
    bool FOuterSizeApplied = false;
};

// The main form of the running program (none outside it).
extern TfrmMain* frmMain;
