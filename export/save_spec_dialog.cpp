#include "export/save_spec_dialog.h"

#include "export/bevel_top_line.h"
#include "export/caption_width.h"
#include "framework/file_dialog.h"

#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>

TfrmKVESaveSpec::TfrmKVESaveSpec(QWidget* Parent) : QDialog(Parent)
{
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(351, 159);

    bvlButtons = new TBevelTopLine(this);
    bvlButtons->setObjectName("bvlButtons");
    bvlButtons->setGeometry(0, 118, 351, 41);

    btnOk = new QPushButton("OK", this);
    btnOk->setObjectName("btnOk");
    btnOk->setGeometry(192, 128, 75, 25);
    // Enter anywhere but on Cancel confirms what was typed.
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    btnCancel = new QPushButton("Cancel", this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(272, 128, 75, 25);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    lblSpecName = new QLabel("SpecName", this);
    lblSpecName->setObjectName("lblSpecName");
    lblSpecName->setGeometry(8, 16, 153, 13);

    edSpecName = new QLineEdit(this);
    edSpecName->setObjectName("edSpecName");
    edSpecName->setGeometry(16, 32, 329, 21);

    lblFileName = new QLabel("FileName", this);
    lblFileName->setObjectName("lblFileName");
    lblFileName->setGeometry(8, 64, 153, 13);

    edFileName = new QLineEdit(this);
    edFileName->setObjectName("edFileName");
    edFileName->setGeometry(16, 80, 305, 21);

    btnFileName = new QPushButton("...", this);
    btnFileName->setObjectName("btnFileName");
    btnFileName->setGeometry(323, 80, 21, 21);
    connect(btnFileName, &QPushButton::clicked, this, &TfrmKVESaveSpec::btnFileNameClick);

    lblSpecName->setBuddy(edSpecName);
    lblFileName->setBuddy(edFileName);
    setTabOrder(btnOk, btnCancel);
    setTabOrder(btnCancel, edSpecName);
    setTabOrder(edSpecName, edFileName);
    setTabOrder(edFileName, btnFileName);
    btnOk->setFocus();
}

void TfrmKVESaveSpec::btnFileNameClick()
{
    std::string name = FileNameFromQString(edFileName->text());
    if (KVEOpenSaveFileDialog(this, "kve", FileFilter, "", "", name, false))
        edFileName->setText(FileNameToQString(name));
}

void TfrmKVESaveSpec::GrowToFitTexts()
{
    // The layout's places; labels widen to the right and the buttons to the left as
    // far as their texts need, and the window widens when the room is not enough.
    auto width = [](QWidget* Control, const QString& Text) { return CaptionWidth(QFontMetrics(Control->font()), Text); };
    const int label = std::max({153, width(lblSpecName, lblSpecName->text()), width(lblFileName, lblFileName->text())});
    const int button = std::max({75, width(btnOk, btnOk->text()) + 8, width(btnCancel, btnCancel->text()) + 8});
    const int w = std::max({351, 8 + label + 8, 2 * button + 9 + 8});
    setFixedSize(w, 159);
    bvlButtons->setGeometry(0, 118, w, 41);
    btnOk->setGeometry(w - 9 - 2 * button, 128, button, 25);
    btnCancel->setGeometry(w - 4 - button, 128, button, 25);
    lblSpecName->setGeometry(8, 16, label, 13);
    edSpecName->setGeometry(16, 32, w - 22, 21);
    lblFileName->setGeometry(8, 64, label, 13);
    edFileName->setGeometry(16, 80, w - 46, 21);
    btnFileName->setGeometry(w - 28, 80, 21, 21);
}

void TfrmKVESaveSpec::showEvent(QShowEvent* Event)
{
    GrowToFitTexts();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
    QDialog::showEvent(Event);
}
