#pragma once
// The progress window shown during an export: an animation, a status line, a progress
// bar and a Cancel button. It is modeless and stays on top; Cancel, Escape and closing
// the window only raise the Canceled flag (closing hides the window, it is not
// destroyed). The run that drives it lives in the export component.

#include "framework/ui_services.h"

#include <QDialog>
#include <QTimer>
#include <string>

class QCloseEvent;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;

// A small moving picture: sheets of paper flying from one folder to another.
class TKVEAnimate : public QWidget {
    Q_OBJECT
public:
    static constexpr int FrameCount = 34;

    explicit TKVEAnimate(QWidget* AParent = nullptr);

    void Start();
    void Stop();
    bool Active() const { return FTimer.isActive(); }
    int Frame() const { return FFrame; }

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QTimer FTimer;
    int FFrame = 0;
};

class TfrmKVEProcess : public QDialog, public TProgressView {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 442;
    static constexpr int ClientHeight = 87;

    explicit TfrmKVEProcess(QWidget* AParent = nullptr);
    ~TfrmKVEProcess() override;

    // Set by the Cancel button, Escape and closing the window; false when created.
    bool Canceled = false;

    QFrame* Bevel;
    QLabel* lblStatus;
    QProgressBar* ProgressBar;
    QPushButton* btnCancel;
    TKVEAnimate* Animate;

    void SetCaption(const std::string& Value) override;
    std::string Caption() const;
    void SetStatus(const std::string& Value) override;
    std::string StatusText() const override;
    void SetCancelCaption(const std::string& Value) override;
    std::string CancelCaption() const;

    // The bar shows only when AMin or AMax is not 0. A maximum below the minimum is
    // raised to it.
    void SetRange(int AMin, int AMax) override;
    int Minimum() const { return FMin; }
    int Maximum() const override { return FMax; }
    // Positions outside the range are held at its ends.
    void SetPosition(int Value) override;
    int Position() const { return FPosition; }

    void StartAnimation() override { Animate->Start(); }
    void StopAnimation() override { Animate->Stop(); }

    void Show() override { show(); }
    void Repaint() override { repaint(); }
    bool IsCanceled() const override { return Canceled; }
    void SetCanceled(bool Value) override { Canceled = Value; }
    QObject* Window() override { return this; }

public slots:
    // Escape: presses the Cancel button; the window stays as it is.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* Event) override;
    void showEvent(QShowEvent* Event) override;

private:
    void btnCancelClick();
    void CenterOnScreen();

    int FMin = 0;
    int FMax = 0;
    int FPosition = 0;
    bool FPlaced = false;
};
