#include "export/export_dialog.h"

#include "export/bevel_top_line.h"
#include "export/caption_width.h"
#include "export/message_table.h"
#include "framework/exceptions.h"
#include "framework/file_dialog.h"
#include "framework/files.h"
#include "framework/ui_services.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionComboBox>

#include <initializer_list>
#include <memory>

namespace {

// The texts of the character-set list, index = TCharacterSet.
const char* const CharacterSetNames[] = {"ANSI (Windows)", "ASCII (MS_DOS)"};

// The separators of rgSeparator's first four items; the fifth is "Other symbol:".
const char SeparatorChars[] = {'\t', ';', ',', ' '};
constexpr int OtherSymbolItem = 4;

// Font sizes in pixels, tried from the largest; 11 pixels is the 8-point size the
// layout was drawn for, 8 the smallest that stays readable.
constexpr int LargestFontPixels = 11;
constexpr int SmallestFontPixels = 8;

QString Text(const std::string& S)
{
    return QString::fromStdString(S);
}

} // namespace

// ---------------------------------------------------------------------------
// TKVERadioGroup

TKVERadioGroup::TKVERadioGroup(QWidget* Parent) : QGroupBox(Parent), FGroup(new QButtonGroup(this))
{
    FGroup->setExclusive(true);
}

void TKVERadioGroup::AddItem(const QString& Caption, int Tag)
{
    auto* button = new QRadioButton(Caption, this);
    const int index = Count();
    FGroup->addButton(button, index);
    FButtons.push_back(button);
    FTags.push_back(Tag);
    connect(button, &QRadioButton::clicked, this, [this] {
        if (OnClick)
            OnClick();
    });
    button->show();
    ArrangeButtons();
}

int TKVERadioGroup::ItemIndex() const
{
    return FGroup->checkedId();
}

void TKVERadioGroup::SetItemIndex(int Index)
{
    if (Index < 0 || Index >= Count())
        return;
    Button(Index)->setChecked(true);
    // The group is one stop for Tab, on its checked button, as Qt arranges it once a
    // button has had the focus; arrow keys move within the group.
    for (int i = 0; i < Count(); ++i)
        Button(i)->setFocusPolicy(i == Index ? Qt::StrongFocus : Qt::ClickFocus);
}

int TKVERadioGroup::RowHeight() const
{
    if (FButtons.empty())
        return 0;
    return contentsRect().height() / Count();
}

void TKVERadioGroup::resizeEvent(QResizeEvent* Event)
{
    QGroupBox::resizeEvent(Event);
    ArrangeButtons();
}

void TKVERadioGroup::changeEvent(QEvent* Event)
{
    QGroupBox::changeEvent(Event);
    if (Event->type() == QEvent::FontChange || Event->type() == QEvent::StyleChange)
        ArrangeButtons();
}

void TKVERadioGroup::ArrangeButtons()
{
    if (FButtons.empty())
        return;
    // One column below the title; each button is centred in its share of the height
    // and, when the share is lower than a button, overlaps its neighbours a little
    // (a button paints no background).
    const QRect area = contentsRect();
    const int row = RowHeight();
    const int left = 8;
    const int width = this->width() - 2 * left;
    for (int i = 0; i < Count(); ++i) {
        QRadioButton* button = Button(i);
        const int height = std::max(row, button->sizeHint().height());
        button->setGeometry(left, area.top() + i * row + (row - height) / 2, width, height);
    }
}

// ---------------------------------------------------------------------------
// TUpperCaseEdit

TUpperCaseEdit::TUpperCaseEdit(QWidget* Parent) : QLineEdit(Parent)
{
    if (!FileNamesIgnoreCase)
        return;
    connect(this, &QLineEdit::textChanged, this, [this](const QString& Text) {
        FPrevious = FCurrent;
        FCurrent = Text;
    });
    // textEdited comes from typing, pasting, dropping and undo, never from setText.
    // Only what the edit put in is changed: the text around it keeps its case.
    connect(this, &QLineEdit::textEdited, this, [this](const QString& Edited) {
        const QString& before = FCurrent == Edited ? FPrevious : FCurrent;
        // The edit ends at the cursor; that decides where a letter typed beside an
        // equal one went.
        const qsizetype cursorAt = cursorPosition();
        qsizetype suffix = 0;
        while (suffix < before.size() && suffix < Edited.size() - cursorAt
               && before[before.size() - 1 - suffix] == Edited[Edited.size() - 1 - suffix])
            ++suffix;
        qsizetype prefix = 0;
        while (prefix < before.size() - suffix && prefix < Edited.size() - suffix && before[prefix] == Edited[prefix])
            ++prefix;
        const QString inserted = Edited.mid(prefix, Edited.size() - prefix - suffix);
        const QString upper = inserted.toUpper();
        if (upper == inserted)
            return;
        qsizetype cursor = cursorAt;
        if (cursor >= prefix + inserted.size())
            cursor += upper.size() - inserted.size();
        setText(Edited.left(prefix) + upper + Edited.right(suffix));
        setCursorPosition(static_cast<int>(cursor));
    });
}

// ---------------------------------------------------------------------------
// TfrmExportDlg

TfrmExportDlg::TfrmExportDlg(QWidget* Parent) : QDialog(Parent)
{
    setObjectName("frmExportDlg");
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(419, 305);
    move(227, 130);

    rgTableType = new TKVERadioGroup(this);
    rgTableType->setObjectName("rgTableType");
    rgTableType->setGeometry(5, 3, 220, 230);
    rgTableType->OnClick = [this] { rgTableTypeClick(); };

    rgSeparator = new TKVERadioGroup(this);
    rgSeparator->setObjectName("rgSeparator");
    rgSeparator->setGeometry(231, 3, 180, 110);
    rgSeparator->setEnabled(false);
    rgSeparator->OnClick = [this] { rgSeparatorClick(); };

    edSymbol = new QLineEdit(this);
    edSymbol->setObjectName("edSymbol");
    edSymbol->setGeometry(360, 87, 33, 21);
    // The separator is one 8-bit character; what cannot be one is not accepted.
    edSymbol->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[\\x{1}-\\x{ff}]*")), edSymbol));

    cbAddTitle = new QCheckBox(this);
    cbAddTitle->setObjectName("cbAddTitle");
    cbAddTitle->setGeometry(233, 118, 180, 17);

    lblCharacterSet = new QLabel(this);
    lblCharacterSet->setObjectName("lblCharacterSet");
    lblCharacterSet->setGeometry(251, 198, 99, 13);

    cbCharacterSet = new QComboBox(this);
    cbCharacterSet->setObjectName("cbCharacterSet");
    cbCharacterSet->setGeometry(251, 212, 136, 21);
    for (const char* name : CharacterSetNames)
        cbCharacterSet->addItem(QString::fromLatin1(name));
    lblCharacterSet->setBuddy(cbCharacterSet);

    bvlBtn = new TBevelTopLine(this);
    bvlBtn->setObjectName("bvlBtn");
    bvlBtn->setGeometry(0, 265, 419, 40);

    btnOk = new QPushButton(this);
    btnOk->setObjectName("btnOk");
    btnOk->setGeometry(280, 275, 65, 25);
    btnOk->setDefault(true);
    btnOk->setEnabled(false);
    connect(btnOk, &QPushButton::clicked, this, &TfrmExportDlg::btnOkClick);

    btnCancel = new QPushButton(this);
    btnCancel->setObjectName("btnCancel");
    btnCancel->setGeometry(350, 275, 65, 25);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    lblFileName = new QLabel(this);
    lblFileName->setObjectName("lblFileName");
    lblFileName->setGeometry(5, 243, 85, 13);
    lblFileName->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    edFileName = new TUpperCaseEdit(this);
    edFileName->setObjectName("edFileName");
    edFileName->setGeometry(91, 240, 274, 21);
    connect(edFileName, &QLineEdit::textChanged, this, &TfrmExportDlg::edFileNameChange);
    lblFileName->setBuddy(edFileName);

    btnOpenDlg = new QPushButton(this);
    btnOpenDlg->setObjectName("btnOpenDlg");
    btnOpenDlg->setGeometry(366, 240, 21, 21);
    btnOpenDlg->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    btnOpenDlg->setIconSize(QSize(14, 14));
    connect(btnOpenDlg, &QPushButton::clicked, this, &TfrmExportDlg::btnOpenDlgClick);

    cbFixed = new QCheckBox(this);
    cbFixed->setObjectName("cbFixed");
    cbFixed->setGeometry(233, 134, 180, 17);

    cbSelectedRecord = new QCheckBox(this);
    cbSelectedRecord->setObjectName("cbSelectedRecord");
    cbSelectedRecord->setGeometry(233, 150, 180, 17);

    cbBlankIfZero = new QCheckBox(this);
    cbBlankIfZero->setObjectName("cbBlankIfZero");
    cbBlankIfZero->setGeometry(233, 166, 180, 17);

    ChooseFont();
}

bool TfrmExportDlg::Prepare(TKVECustomBaseComponent* Component, const std::string& FileName,
                            const std::string& TableName, TTableTypeExport TableType, TCharacterSet CharacterSet,
                            char Separator, bool AddTitle, bool Fixed, bool BlankIfZero, int SelectedRecord,
                            TExportFormatTypes Formats)
{
    auto text = [Component](int Id) {
        return Component ? Component->GetLanguageString(Id) : LanguageStringById(Id);
    };
    setWindowTitle(Text(text(10)));
    FFilePrompt = text(7);
    // The box that asks for a table name is titled with the format it is for.
    FTableNameCaption = text(29 + teAccess);
    FSaveDlgTitle = text(69);
    rgTableType->setTitle(Text(text(28)));

    for (int type = teParadox; type <= teLDIF; ++type)
        if (Formats & (1u << type))
            rgTableType->AddItem(Text(text(29 + type)), type);
    if (rgTableType->Count() == 0)
        return false;
    rgTableType->SetItemIndex(0);
    for (int i = 0; i < rgTableType->Count(); ++i)
        if (rgTableType->Tag(i) == TableType) {
            rgTableType->SetItemIndex(i);
            break;
        }

    lblCharacterSet->setText(Text(text(50)));
    cbSelectedRecord->setText(Text(text(51)));
    cbAddTitle->setText(Text(text(52)));
    cbFixed->setText(Text(text(65)));
    lblFileName->setText(Text(text(68)));
    cbBlankIfZero->setText(Text(text(54)));
    rgSeparator->setTitle(Text(text(59)));
    for (int id = 60; id <= 64; ++id)
        rgSeparator->AddItem(Text(text(id)));
    btnOk->setText(Text(text(11)));
    btnCancel->setText(Text(text(12)));
    cbCharacterSet->setCurrentIndex(0);

    if (!FileName.empty())
        edFileName->setText(FileNameToQString(FileName));
    FTableName = TableName;
    if (CharacterSet < std::size(CharacterSetNames))
        cbCharacterSet->setCurrentIndex(CharacterSet);

    int separatorItem = OtherSymbolItem;
    for (int i = 0; i < OtherSymbolItem; ++i)
        if (Separator == SeparatorChars[i])
            separatorItem = i;
    rgSeparator->SetItemIndex(separatorItem);
    if (separatorItem == OtherSymbolItem && Separator != '\0')
        edSymbol->setText(QString(QChar(static_cast<unsigned char>(Separator))));

    cbAddTitle->setChecked(AddTitle);
    cbFixed->setChecked(Fixed);
    rgTableTypeClick();
    rgSeparatorClick();
    cbSelectedRecord->setChecked(SelectedRecord == 1);
    cbBlankIfZero->setChecked(BlankIfZero);

    ChooseFont();
    ArrangeTabOrder();
    return true;
}

void TfrmExportDlg::ReadBack(std::string& FileName, std::string& TableName, TTableTypeExport& TableType,
                             TCharacterSet& CharacterSet, char& Separator, bool& AddTitle, bool& Fixed,
                             bool& BlankIfZero, int& SelectedRecord) const
{
    FileName = FileNameFromQString(edFileName->text());
    TableName = FTableName;
    TableType = SelectedTableType();
    CharacterSet = static_cast<TCharacterSet>(std::max(cbCharacterSet->currentIndex(), 0));
    Separator = SelectedSeparator();
    AddTitle = cbAddTitle->isChecked();
    Fixed = cbFixed->isChecked();
    BlankIfZero = cbBlankIfZero->isChecked();
    if (cbSelectedRecord->isEnabled())
        SelectedRecord = cbSelectedRecord->isChecked() ? 1 : 0;
}

void TfrmExportDlg::ArrangeTabOrder()
{
    // The group buttons are made after the other controls, so Qt would put them last;
    // the order is the declaration order, the buttons in their group's place.
    std::vector<QWidget*> order;
    for (TKVERadioGroup* group : {rgTableType, rgSeparator})
        for (int i = 0; i < group->Count(); ++i)
            order.push_back(group->Button(i));
    for (QWidget* control : std::initializer_list<QWidget*>{edSymbol, cbAddTitle, cbCharacterSet, btnOk, btnCancel,
                                                            edFileName, btnOpenDlg, cbFixed, cbSelectedRecord,
                                                            cbBlankIfZero})
        order.push_back(control);
    for (std::size_t i = 1; i < order.size(); ++i)
        setTabOrder(order[i - 1], order[i]);
    if (const int selected = rgTableType->ItemIndex(); selected >= 0)
        rgTableType->Button(selected)->setFocus();
}

TTableTypeExport TfrmExportDlg::SelectedTableType() const
{
    const int index = rgTableType->ItemIndex();
    return static_cast<TTableTypeExport>(index < 0 ? 0 : rgTableType->Tag(index));
}

char TfrmExportDlg::SelectedSeparator() const
{
    const int index = rgSeparator->ItemIndex();
    if (index >= 0 && index < OtherSymbolItem)
        return SeparatorChars[index];
    const QString symbol = edSymbol->text();
    return symbol.isEmpty() ? '\0' : static_cast<char>(symbol.at(0).toLatin1());
}

void TfrmExportDlg::rgTableTypeClick()
{
    const TTableTypeExport type = SelectedTableType();
    edFileName->setEnabled(type != teClipboard);
    btnOpenDlg->setEnabled(edFileName->isEnabled());
    rgSeparator->setEnabled(type == teText || type == teClipboard);
    cbAddTitle->setEnabled(type > teDBase);
    cbFixed->setEnabled(rgSeparator->isEnabled() && type == teText);
    rgSeparatorClick();
    SetDefaultExt();
}

void TfrmExportDlg::rgSeparatorClick()
{
    edSymbol->setEnabled(rgSeparator->isEnabled() && rgSeparator->ItemIndex() == OtherSymbolItem);
    cbCharacterSet->setEnabled(SelectedTableType() > teDBase);
}

void TfrmExportDlg::SetDefaultExt()
{
    if (edFileName->text().isEmpty())
        return;
    const std::string name = FileNameFromQString(edFileName->text());
    edFileName->setText(FileNameToQString(ChangeFileExt(name, TKVExportBaseComponent::GetDefExt(SelectedTableType()))));
}

void TfrmExportDlg::edFileNameChange()
{
    btnOk->setEnabled(!edFileName->text().isEmpty());
}

void TfrmExportDlg::btnOpenDlgClick()
{
    const std::string ext = TKVExportBaseComponent::GetDefExt(SelectedTableType());
    const int index = rgTableType->ItemIndex();
    const std::string description = index < 0 ? std::string() : rgTableType->Button(index)->text().toStdString();
    std::string name = FileNameFromQString(edFileName->text());
    if (KVEOpenSaveFileDialog(this, ext.empty() ? ext : ext.substr(1), description + "|*", "", FSaveDlgTitle, name,
                              false))
        edFileName->setText(FileNameToQString(ChangeFileExt(name, ext)));
}

void TfrmExportDlg::btnOkClick()
{
    if (SelectedTableType() == teAccess) {
        std::string tableName = FTableName;
        if (!UIServices().InputQuery(FTableNameCaption, strTableName, tableName))
            return;
        FTableName = tableName;
        accept();
        return;
    }
    const std::string name = FileNameFromQString(edFileName->text());
    if (FileExists(name) && !UIServices().AskYesNo(FormatMessage(FFilePrompt, name), mkWarning))
        return;
    accept();
}

std::vector<QWidget*> TfrmExportDlg::ClippedControls() const
{
    std::vector<QWidget*> clipped;
    auto check = [&clipped](QWidget* Control, bool Fits) {
        if (!Fits)
            clipped.push_back(Control);
    };
    for (TKVERadioGroup* group : {rgTableType, rgSeparator}) {
        const QFontMetrics metrics(group->font());
        // The title sits in the frame's top edge, a few pixels in from either side.
        check(group, CaptionWidth(metrics, group->title()) + 16 <= group->width());
        for (int i = 0; i < group->Count(); ++i) {
            QRadioButton* button = group->Button(i);
            const QFontMetrics buttonMetrics(button->font());
            check(button, button->sizeHint().width() <= button->width()
                              && buttonMetrics.height() <= group->RowHeight());
        }
    }
    // The other symbol's box lies over the group; the item it belongs to stops short.
    if (rgSeparator->Count() > OtherSymbolItem) {
        QRadioButton* other = rgSeparator->Button(OtherSymbolItem);
        check(other, rgSeparator->x() + other->x() + other->sizeHint().width() <= edSymbol->x());
    }
    for (QCheckBox* box : {cbAddTitle, cbFixed, cbSelectedRecord, cbBlankIfZero})
        check(box, box->sizeHint().width() <= box->width() && QFontMetrics(box->font()).height() <= box->height());
    for (QLabel* label : {lblCharacterSet, lblFileName}) {
        const QFontMetrics metrics(label->font());
        check(label, CaptionWidth(metrics, label->text()) <= label->width() && metrics.height() <= label->height());
    }
    for (QPushButton* button : {btnOk, btnCancel}) {
        const QFontMetrics metrics(button->font());
        check(button, CaptionWidth(metrics, button->text()) + 8 <= button->width());
    }
    {
        // Every item beside the drop-down arrow.
        QStyleOptionComboBox option;
        option.initFrom(cbCharacterSet);
        const QRect field =
            cbCharacterSet->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                                    cbCharacterSet);
        const QFontMetrics metrics(cbCharacterSet->font());
        bool fits = true;
        for (int i = 0; i < cbCharacterSet->count(); ++i)
            fits = fits && metrics.horizontalAdvance(cbCharacterSet->itemText(i)) <= field.width();
        check(cbCharacterSet, fits);
    }
    return clipped;
}

void TfrmExportDlg::ChooseFont()
{
    // A sans-serif face close to the one the layout was drawn with, in its narrower
    // cut where the system has one.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setStretch(QFont::SemiCondensed);
    ArrangeControls(0, 0, 0, 0, 0, 0);
    for (int pixels = LargestFontPixels; pixels >= SmallestFontPixels; --pixels) {
        font.setPixelSize(pixels);
        setFont(font);
        if (ClippedControls().empty())
            return;
    }
    // Texts longer than the layout has room for (a host's translation): the layout's
    // own size, and the controls and the window grow until every text fits.
    font.setPixelSize(LargestFontPixels);
    setFont(font);
    GrowToFitTexts();
}

void TfrmExportDlg::GrowToFitTexts()
{
    auto grow = [](int Needed, int Has) { return std::max(0, Needed - Has); };
    // The width a group needs for its title and its buttons, and the height its
    // buttons need beyond what it has.
    auto groupWidth = [](TKVERadioGroup* Group) {
        int width = CaptionWidth(QFontMetrics(Group->font()), Group->title()) + 16;
        for (int i = 0; i < Group->Count(); ++i)
            width = std::max(width, Group->Button(i)->sizeHint().width() + 16);
        return width;
    };
    auto groupExtraHeight = [](TKVERadioGroup* Group) {
        int row = 0;
        for (int i = 0; i < Group->Count(); ++i)
            row = std::max(row, QFontMetrics(Group->Button(i)->font()).height());
        return std::max(0, row * Group->Count() - Group->contentsRect().height());
    };

    ArrangeControls(0, 0, 0, 0, 0, 0);
    const int dxLeft = grow(groupWidth(rgTableType), rgTableType->width());
    int right = groupWidth(rgSeparator);
    if (rgSeparator->Count() > OtherSymbolItem) // the item stops short of the symbol box
        right = std::max(right, 8 + rgSeparator->Button(OtherSymbolItem)->sizeHint().width()
                                    + (rgSeparator->geometry().right() - edSymbol->x() + 1));
    for (QCheckBox* box : {cbAddTitle, cbFixed, cbSelectedRecord, cbBlankIfZero})
        right = std::max(right, box->x() - rgSeparator->x() + box->sizeHint().width());
    right = std::max(right, lblCharacterSet->x() - rgSeparator->x()
                                + CaptionWidth(QFontMetrics(lblCharacterSet->font()), lblCharacterSet->text()));
    const int dxRight = grow(right, rgSeparator->width());
    const int dxLabel = grow(CaptionWidth(QFontMetrics(lblFileName->font()), lblFileName->text()), lblFileName->width());
    const int buttons = std::max(CaptionWidth(QFontMetrics(btnOk->font()), btnOk->text()),
                                 CaptionWidth(QFontMetrics(btnCancel->font()), btnCancel->text()))
                        + 8;
    const int dxButtons = grow(buttons, btnOk->width());
    const int dyLeft = groupExtraHeight(rgTableType);
    const int dyRight = groupExtraHeight(rgSeparator);
    ArrangeControls(dxLeft, dxRight, dxLabel, dxButtons, dyLeft, dyRight);
}

void TfrmExportDlg::ArrangeControls(int DxLeft, int DxRight, int DxLabel, int DxButtons, int DyLeft, int DyRight)
{
    // The layout's places, moved apart by what each part has grown: the left column
    // by the format group, the right column by its widest text, the file row by its
    // label, the buttons by their texts; the rows below the groups by their heights.
    const int dx = std::max({DxLeft + DxRight, DxLabel, 2 * DxButtons});
    const int dy = std::max(DyLeft, DyRight);
    const int x = DxLeft;       // the right column's shift
    const int w = dx;           // the window's extra width
    const int yr = DyRight;     // the right column's rows below its group
    setFixedSize(419 + w, 305 + dy);
    rgTableType->setGeometry(5, 3, 220 + DxLeft, 230 + dy);
    rgSeparator->setGeometry(231 + x, 3, 180 + DxRight, 110 + DyRight);
    edSymbol->setGeometry(360 + x + DxRight, 87 + DyRight, 33, 21);
    cbAddTitle->setGeometry(233 + x, 118 + yr, 180 + DxRight, 17);
    cbFixed->setGeometry(233 + x, 134 + yr, 180 + DxRight, 17);
    cbSelectedRecord->setGeometry(233 + x, 150 + yr, 180 + DxRight, 17);
    cbBlankIfZero->setGeometry(233 + x, 166 + yr, 180 + DxRight, 17);
    lblCharacterSet->setGeometry(251 + x, 198 + yr, 99 + DxRight, 13);
    cbCharacterSet->setGeometry(251 + x, 212 + yr, 136, 21);
    bvlBtn->setGeometry(0, 265 + dy, 419 + w, 40);
    btnOk->setGeometry(280 + w - 2 * DxButtons, 275 + dy, 65 + DxButtons, 25);
    btnCancel->setGeometry(350 + w - DxButtons, 275 + dy, 65 + DxButtons, 25);
    lblFileName->setGeometry(5, 243 + dy, 85 + DxLabel, 13);
    edFileName->setGeometry(91 + DxLabel, 240 + dy, 274 + w - DxLabel, 21);
    btnOpenDlg->setGeometry(366 + w, 240 + dy, 21, 21);
    rgTableType->ArrangeButtons();
    rgSeparator->ArrangeButtons();
}

bool SetExportParam(TKVECustomBaseComponent* Component, std::string& FileName, std::string& TableName,
                    TTableTypeExport& TableType, TCharacterSet& CharacterSet, char& Separator, bool& AddTitle,
                    bool& Fixed, bool& BlankIfZero, int& SelectedRecord, TExportFormatTypes Formats)
{
    // Nothing to offer, or no windows in this program: nothing can be chosen.
    if ((Formats & AllFormats) == 0 || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    auto dialog = std::make_unique<TfrmExportDlg>();
    if (!dialog->Prepare(Component, FileName, TableName, TableType, CharacterSet, Separator, AddTitle, Fixed,
                         BlankIfZero, SelectedRecord, Formats))
        return false;
    if (dialog->exec() != QDialog::Accepted)
        return false;
    dialog->ReadBack(FileName, TableName, TableType, CharacterSet, Separator, AddTitle, Fixed, BlankIfZero,
                     SelectedRecord);
    return true;
}
