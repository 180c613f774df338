#include "excel_exporter.h"

#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/picture.h"
#include "spec/text_utils.h"

#include <algorithm>

TMSExcelVersion DefaultExcelVersion = evExcelAuto;
bool DefaultExportAsRealHeaderFooter = false;

std::string ExcelColumnName(int n)
{
    std::string name;
    while (n > 0) {
        const int r = (n - 1) % 26;
        name.insert(name.begin(), static_cast<char>('A' + r));
        n = (n - 1) / 26;
    }
    return name;
}

int ExcelFileFormat(TMSExcelVersion Version)
{
    switch (Version) {
    case evExcelAuto: return 0;
    case evExcel2: return 16;
    case evExcel2FarEast: return 27;
    case evExcel3: return 29;
    case evExcel4: return 33;
    case evExcel5:
    case evExcel7: return 39;
    case evExcel9597: return 43;
    }
    return 0;
}

int ExcelAlignment(TAlignment Alignment)
{
    switch (Alignment) {
    case taRightJustify: return -4152;
    case taCenter: return -4108;
    default: return -4131;
    }
}

TKVExportToExcel::TKVExportToExcel(QObject* AOwner)
    : TKVExportBaseComponent(AOwner)
    , ExcelVersion(DefaultExcelVersion)
    , FPageSetup(std::make_unique<TKVEPageSetup>())
{
    SetTableType(teExcel);
}

TKVExportToExcel::~TKVExportToExcel() = default;

void TKVExportToExcel::Assign(const TPersistent* Source)
{
    TKVExportBaseComponent::Assign(Source);
    if (auto* source = dynamic_cast<const TKVExportToExcel*>(Source)) {
        ExcelVersion = source->ExcelVersion;
        TemplateFile = source->TemplateFile;
        AutoFitColumns = source->AutoFitColumns;
        UseCurrentInstance = source->UseCurrentInstance;
        FPageSetup->Assign(source->FPageSetup.get());
        FreezeFixed = source->FreezeFixed;
        Password = source->Password;
    }
}

std::string TKVExportToExcel::GetFormat(TFieldType FieldType)
{
    switch (FieldType) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
        return "0";
    case ftDate:
    case ftTime:
    case ftDateTime:
        return std::string();
    default:
        return "@";
    }
}

AutomationValue TKVExportToExcel::Sheet() const
{
    return FExcelApp.Call("ActiveSheet");
}

void TKVExportToExcel::OpenWorkbook()
{
    AutomationValue workbooks = FExcelApp.Call("WorkBooks");
    if (Options.Contains(soMergeData) && FileExists(FileName())) {
        FWorkbook = workbooks.Call("Open", {AutomationValue(FileName())});
    } else if (TemplateFile.empty()) {
        FWorkbook = workbooks.Call("Add");
    } else {
        AutomationValue templateFile(TemplateFile);
        FWorkbook = workbooks.Call("Add", {Named("Template", ByRef(templateFile))});
    }
}

int TKVExportToExcel::FindOrAddSheet()
{
    const int count = FWorkbook.Call("Sheets").Call("Count").ToInteger();
    for (int i = 1; i <= count; ++i) {
        if (FWorkbook.Call("Sheets").Get("Item", {i}).Call("Name").ToString() == GeneratorVer) {
            FWorkbook.Call("Sheets").Get("Item", {i}).Call("Activate");
            return Sheet().Call("UsedRange").Call("Rows").Call("Count").ToInteger();
        }
    }
    FWorkbook.Call("Sheets").Call("Add").Put("Name", GeneratorVer);
    return 0;
}

void TKVExportToExcel::WritePageSetup()
{
    const TKVEPageSetup& page = *FPageSetup;
    if (!page.UseDefault) {
        AutomationValue setup = Sheet().Call("PageSetup");
        setup.Put("LeftMargin", page.LeftMargin);
        setup.Put("RightMargin", page.RightMargin);
        setup.Put("TopMargin", page.TopMargin);
        setup.Put("BottomMargin", page.BottomMargin);
    }
    if (page.Orientation == emPortrait)
        Sheet().Call("PageSetup").Put("Orientation", 1);
    else if (page.Orientation == emLandscape)
        Sheet().Call("PageSetup").Put("Orientation", 2);
}

void TKVExportToExcel::ColumnLines(const AutomationValue& Range)
{
    if (!Options.Contains(soColLines))
        return;
    for (int index : {7, 10})
        Range.Call("Borders").Get("Item", {index}).Put("LineStyle", 1);
}

void TKVExportToExcel::RowLines(const AutomationValue& Range)
{
    if (!Options.Contains(soRowLines))
        return;
    for (int index : {8, 9})
        Range.Call("Borders").Get("Item", {index}).Put("LineStyle", 1);
}

int TKVExportToExcel::FormatColumns()
{
    TKVECustomDataEngine* engine = SourceEngine();
    int k = 0;
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        if (!column->Visible)
            continue;
        const int c = k + 1;
        AutomationValue width(std::min(column->Width, 50));
        if (Options.Contains(soColorsFonts)) {
            const int color = static_cast<int>(ColorToRGB(column->Color));
            if (color != Sheet().Get("Columns", {c}).Call("Interior").Call("Color").ToInteger())
                Sheet().Get("Columns", {c}).Call("Interior").Put("Color", color);
            const TFont& font = column->Font();
            AutomationValue columnFont = Sheet().Get("Columns", {c}).Call("Font");
            columnFont.Put("Name", font.Name);
            columnFont.Put("Size", font.Size);
            columnFont.Put("Color", static_cast<int>(ColorToRGB(font.Color)));
            if (font.HasStyle(fsBold))
                columnFont.Put("Bold", true);
            if (font.HasStyle(fsItalic))
                columnFont.Put("Italic", true);
            if (font.HasStyle(fsUnderline))
                columnFont.Put("Underline", true);
        }
        if (!Options.Contains(soFieldMask))
            Sheet().Get("Columns", {c}).Put("NumberFormat", GetFormat(engine->DataTypeByColumn(column)));
        AutomationValue alignment(ExcelAlignment(column->Alignment));
        Sheet().Get("Columns", {c}).PutRef("ColumnWidth", width);
        Sheet().Get("Columns", {c}).PutRef("HorizontalAlignment", alignment);
        if (Options.Contains(soColLines))
            ColumnLines(Sheet().Get("Columns", {c}));
        ++k;
    }
    return k;
}

void TKVExportToExcel::WriteTextLines(const TStringList& Lines, int FirstRow, TFont& Font)
{
    for (int i = 0; i < Lines.Count(); ++i) {
        std::string text = Lines[i];
        if (OnGetCellParams) {
            TAlignment alignment = taLeftJustify;
            TColor color = clWhite;
            TCellType cellType = ctString;
            OnGetCellParams(this, nullptr, text, &Font, alignment, color, cellType);
        }
        if (CharacterSet == csASCII_MSDOS)
            text = UECode(true, text);
        AutomationValue value(text);
        Sheet().Get("Cells", {FirstRow + i, 1}).PutRef("Value", value);
    }
}

void TKVExportToExcel::PutFont(const AutomationValue& Cell, const TFont& Font, bool ResolveColor)
{
    // Only what differs from the cell's current font is sent.
    if (Cell.Call("Font").Call("Name").ToString() != Font.Name)
        Cell.Call("Font").Put("Name", Font.Name);
    if (Cell.Call("Font").Call("Size").ToInteger() != Font.Size)
        Cell.Call("Font").Put("Size", Font.Size);
    const int color = static_cast<int>(ResolveColor ? ColorToRGB(Font.Color) : Font.Color);
    if (Cell.Call("Font").Call("Color").ToInteger() != color)
        Cell.Call("Font").Put("Color", color);
    if (Font.HasStyle(fsBold))
        Cell.Call("Font").Put("Bold", true);
    if (Font.HasStyle(fsItalic))
        Cell.Call("Font").Put("Italic", true);
    if (Font.HasStyle(fsUnderline))
        Cell.Call("Font").Put("Underline", true);
}

void TKVExportToExcel::WriteCaptions(int Row)
{
    int k = 0;
    TFont font;
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        if (!column->Visible)
            continue;
        const int c = k + 1;
        const TKVEColumnTitle& title = column->Title();
        std::string text = Options.Contains(soUseFieldNameAsCaption) ? column->FieldName : title.Caption;
        TColor color = title.Color;
        font.Assign(&title.Font());
        TAlignment alignment = title.Alignment;
        TCellType cellType = ctString;
        if (OnGetCellParams)
            OnGetCellParams(this, nullptr, text, &font, alignment, color, cellType);
        AutomationValue cell = Sheet().Get("Cells", {Row, c});
        if (Options.Contains(soColorsFonts)) {
            const int rgb = static_cast<int>(ColorToRGB(color));
            if (color != title.Color
                || rgb != Sheet().Get("Columns", {c}).Call("Interior").Call("Color").ToInteger())
                cell.Call("Interior").Put("Color", rgb);
            if (alignment != title.Alignment)
                cell.Put("HorizontalAlignment", ExcelAlignment(alignment));
            PutFont(cell, font, false);
        }
        if (CharacterSet == csASCII_MSDOS)
            text = UECode(true, text);
        Sheet().Get("Cells", {Row, c}).Put("Value", text);
        ++k;
    }
    if (Options.Contains(soRowLines))
        RowLines(Sheet().Get("Rows", {Row}));
}

void TKVExportToExcel::InsertPicture(TField* Field, const std::string& Text, AutomationValue& Row, int Col)
{
    TPicture picture;
    if (Field)
        picture.LoadFromGraphicField(Field->AsString());
    else
        picture.LoadBitmapFromBytes(Text);
    // The spreadsheet reads the picture from a file: one that has no name in any folder,
    // so that nothing of it is left in the temporary folder, even by a killed process.
    Sheet().Get("Rows", {ByRef(Row)}).Put("RowHeight", picture.Height());
    const TAnonymousFile file(picture.Bytes());
    Sheet().Get("Cells", {ByRef(Row), Col}).Call("Select");
    AutomationValue fileName(file.Name());
    Sheet().Call("Pictures").Call("Insert", {ByRef(fileName)});
}

namespace {

// The length of a text in the UTF-16 units a spreadsheet cell counts: every byte that
// does not continue a UTF-8 sequence is one, the start of a four-byte sequence two.
std::size_t CellTextLength(const std::string& Text)
{
    std::size_t units = 0;
    for (const char ch : Text) {
        const auto b = static_cast<unsigned char>(ch);
        units += (b & 0xC0) != 0x80;
        units += b >= 0xF0 && b <= 0xF4;
    }
    return units;
}

} // namespace

void TKVExportToExcel::CheckCellText(const std::string& Text, int Row, int Col)
{
    // A cell holds at most 32,767 characters. A longer text is refused here, before it is
    // copied into the row and handed to the spreadsheet.
    constexpr std::size_t maxLength = 32767;
    if (Text.size() <= maxLength)
        return;
    const std::size_t length = CellTextLength(Text);
    if (length > maxLength)
        throw Exception("A cell holds at most 32,767 characters; the text for " + ExcelColumnName(Col)
                        + std::to_string(Row) + " has " + std::to_string(length));
}

void TKVExportToExcel::WriteRecord(AutomationValue& Row, AutomationValue& RowBuffer, int VisibleCount, TFont& Font)
{
    TKVECustomDataEngine* engine = SourceEngine();
    const int written = Statistic().TotalCount;
    int k = 0;
    for (int j = 0; j < Columns().Count(); ++j) {
        TKVEColumn* column = Columns()[j];
        if (!column->Visible)
            continue;
        const int c = k + 1;
        TColor color = column->Color;
        Font.Assign(column->Font());
        TAlignment alignment = column->Alignment;
        TField* field = nullptr;
        if (column->ColumnKind == ckField && engine->IsDataRow(written - 1))
            field = ColumnField(j, column);
        std::string text;
        if (field)
            text = GetFieldStr(field);
        else if (column->ColumnKind == ckConstant)
            text = column->FieldName;
        else
            text = engine->GetFieldValue(column).AsString();
        AssignStyle(written, color);
        engine->ApplyCellColors(written - GetTitleRowCount() + 1, j, alignment, Font, color);
        TCellType cellType = ctString;
        if (OnGetCellParams)
            OnGetCellParams(this, field, text, &Font, alignment, color, cellType);
        const bool picture = (field && field->IsBlob() && !field->IsNull() && field->BlobType() == ftGraphic)
            || (!field && !text.empty()
                && (cellType == ctGraphic || engine->DataTypeByColumn(column) == ftGraphic));
        if (!picture)
            CheckCellText(text, Row.ToInteger(), c);
        if (Options.Contains(soColorsFonts)) {
            AutomationValue cell = Sheet().Get("Cells", {ByRef(Row), c});
            if (color != column->Color)
                cell.Call("Interior").Put("Color", static_cast<int>(ColorToRGB(color)));
            if (alignment != column->Alignment)
                cell.Put("HorizontalAlignment", ExcelAlignment(alignment));
            PutFont(cell, Font, true);
        }
        if (CharacterSet == csASCII_MSDOS && !picture)
            text = UECode(true, text);
        if (cellType != ctString)
            std::replace(text.begin(), text.end(), ',', '.');
        auto& entry = RowBuffer[0][static_cast<std::size_t>(k)];
        if (picture) {
            InsertPicture(field, text, Row, c);
            // The row assignment must not write over the picture's cell with an
            // earlier record's value.
            entry = AutomationValue();
        } else {
            SetRowEntry(entry, field, text);
        }
        ++k;
    }
    if (VisibleCount == 0)
        return;
    const std::string row = std::to_string(Row.ToInteger());
    AutomationValue range = Sheet().Get("Range", {"A" + row, FLastColumnName + row});
    range.PutRef("Value", RowBuffer);
    RowLines(range);
}

void TKVExportToExcel::SetRowEntry(AutomationValue& Entry, TField*, const std::string& Text)
{
    Entry.SetText(Text);
}

void TKVExportToExcel::Release()
{
    ForgetColumnFields();
    FWorkbook = AutomationValue();
    if (FCreatedInstance && !FExcelApp.IsEmpty() && !FExcelApp.IsNull())
        FExcelApp.Call("Quit");
    FExcelApp = AutomationValue();
}

void TKVExportToExcel::Prepare()
{
    TKVECustomDataEngine* engine = SourceEngine();
    if (!engine)
        throw Exception("There is no data engine to export from");
    if (UseCurrentInstance) {
        try {
            FExcelApp = GetActiveAutomationObject("Excel.Application");
            FCreatedInstance = false;
        } catch (const Exception&) {
            FExcelApp = CreateAutomationObject("Excel.Application");
            FCreatedInstance = true;
        }
    } else {
        FExcelApp = CreateAutomationObject("Excel.Application");
        FCreatedInstance = true;
    }
    TFont font;
    try {
        OpenWorkbook();
        const int startRow = FindOrAddSheet();
        WritePageSetup();
        const int visible = FormatColumns();
        AutomationValue rowBuffer = AutomationValue::ArrayOf(
            {AutomationValue::ArrayOf(std::vector<AutomationValue>(static_cast<std::size_t>(visible)))});

        if (DefaultExportAsRealHeaderFooter) {
            const auto joined = [](const TStringList& lines) {
                std::string text;
                for (int i = 0; i < lines.Count(); ++i)
                    text += lines[i] + "\n";
                return text;
            };
            if (Header().Count() > 0)
                Sheet().Call("PageSetup").Put("LeftHeader", joined(Header()));
            if (Footer().Count() > 0)
                Sheet().Call("PageSetup").Put("LeftFooter", joined(Footer()));
        }
        WriteTextLines(Header(), startRow + 1, font);

        int row = startRow + Header().Count() + 1;
        if (AddTitle) {
            WriteCaptions(row);
            row += Options.Contains(soBlankRowAfterCaptions) ? 2 : 1;
        }
        const int firstDataRow = row;

        // Position and controls come back however the walk ends.
        TKVEEngineWalk walk(engine);
        engine->First();
        Statistic().TotalCount = 0;
        FindColumnFields();
        FLastColumnName = ExcelColumnName(visible);
        AutomationValue rowValue(row);
        const std::string exporting = GetLanguageString(8);
        while (!ProgressCanceled() && !engine->Eof()) {
            if (AnimatedStatus)
                UpdateProgressDlg(exporting, Statistic().TotalCount);
            bool accept = true;
            if (OnBeforeRecord)
                OnBeforeRecord(this, accept);
            if (accept) {
                if (OnProgress) {
                    bool abort = false;
                    OnProgress(this, Statistic().TotalCount, engine->RecordCount(), abort);
                    if (abort)
                        SetProgressCanceled(true);
                }
                ++Statistic().TotalCount;
                WriteRecord(rowValue, rowBuffer, visible, font);
            }
            engine->Next();
            // A rejected record leaves its row empty.
            rowValue = rowValue.ToInteger() + 1;
            bool abort = false;
            if (OnAfterRecord)
                OnAfterRecord(this, abort);
            if (abort)
                SetProgressCanceled(true);
        }
        walk.Finish();
        ForgetColumnFields();

        for (int i = 0; i < Footer().Count(); ++i) {
            std::string text = Footer()[i];
            if (OnGetCellParams) {
                TAlignment alignment = taLeftJustify;
                TColor color = clWhite;
                TCellType cellType = ctString;
                OnGetCellParams(this, nullptr, text, &font, alignment, color, cellType);
            }
            if (CharacterSet == csASCII_MSDOS)
                text = UECode(true, text);
            AutomationValue value(text);
            Sheet().Get("Cells", {ByRef(rowValue), 1}).PutRef("Value", value);
            rowValue = rowValue.ToInteger() + 1;
        }

        for (int c = 1; c <= Columns().Count(); ++c)
            Sheet().Get("Columns", {c}).Put("Hidden", false);
        if (AutoFitColumns)
            Sheet().Call("Columns").Call("AutoFit");
        if (FreezeFixed && AddTitle) {
            // The first data row is selected, so the header and caption rows stay in view.
            Sheet().Get("Rows", {firstDataRow}).Call("Select");
            FExcelApp.Call("ActiveWindow").Put("FreezePanes", true);
        }
        if (!Password.empty())
            Sheet().Call("Protect", {Named("Password", Password)});
        FExcelApp.Put("DisplayAlerts", false);
        if (ExcelVersion == evExcelAuto)
            FWorkbook.Call("SaveAs", {AutomationValue(FileName())});
        else
            FWorkbook.Call("SaveAs", {AutomationValue(FileName()), ExcelFileFormat(ExcelVersion)});
        FWorkbook.Call("Close");
    } catch (...) {
        try {
            Release();
        } catch (...) {
            // The first failure is the one worth reporting.
        }
        throw;
    }
    Release();
}
