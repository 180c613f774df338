#include "word_exporter.h"

#include "cellfile/document_table.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "spec/text_utils.h"

#include <algorithm>

void TKVEPageSetup::Assign(const TPersistent* Source)
{
    if (auto* source = dynamic_cast<const TKVEPageSetup*>(Source)) {
        Measure = source->Measure;
        UseDefault = source->UseDefault;
        TopMargin = source->TopMargin;
        BottomMargin = source->BottomMargin;
        LeftMargin = source->LeftMargin;
        RightMargin = source->RightMargin;
        TableWidth = source->TableWidth;
        Orientation = source->Orientation;
        return;
    }
    TPersistent::Assign(Source);
}

TKVExportToWord::TKVExportToWord(QObject* AOwner)
    : TKVExportToDocumentTable(AOwner)
    , FPageSetup(std::make_unique<TKVEPageSetup>())
{
    SetTableType(teWord);
}

TKVExportToWord::~TKVExportToWord() = default;

void TKVExportToWord::Assign(const TPersistent* Source)
{
    TKVExportToDocumentTable::Assign(Source);
    if (auto* source = dynamic_cast<const TKVExportToWord*>(Source)) {
        UseCurrentInstance = source->UseCurrentInstance;
        FPageSetup->Assign(source->FPageSetup.get());
        TemplateFile = source->TemplateFile;
        AutoFitColumns = source->AutoFitColumns;
        Password = source->Password;
    }
}

float TKVExportToWord::GetMeasureMargin(TKVEMeasure Measure, float Value)
{
    switch (Measure) {
    case emPoint:
        return Value;
    case emInch:
        return Value * 72.0f;
    case emCentimeters:
        return Value * 28.35f;
    case emPicas: {
        AutomationValue picas(Value);
        return static_cast<float>(FWordApp.Call("PicasToPoints", {ByRef(picas)}).ToReal());
    }
    }
    return Value;
}

int TKVExportToWord::GetColorIndex(TColor Color)
{
    return WordColorIndex(Color);
}

void TKVExportToWord::InternalFileCreate(const std::string& FileName)
{
    if (FWordApp.IsEmpty() || FWordApp.IsNull()) {
        if (UseCurrentInstance) {
            try {
                FWordApp = GetActiveAutomationObject("Word.Application");
                FCreatedInstance = false;
            } catch (const Exception&) {
                FWordApp = CreateAutomationObject("Word.Application");
                FCreatedInstance = true;
            }
        } else {
            FWordApp = CreateAutomationObject("Word.Application");
            FCreatedInstance = true;
        }
        FWordApp.Put("Visible", false);
        FWordApp.Put("ScreenUpdating", false);
        FWordApp.Call("Options").Put("CheckSpellingAsYouType", false);
        FWordApp.Call("Options").Put("CheckGrammarAsYouType", false);
    }
    AutomationValue documents = FWordApp.Call("Documents");
    if (Options.Contains(soMergeData) && FileExists(this->FileName()))
        documents.Call("Open", {AutomationValue(this->FileName())});
    else if (TemplateFile.empty())
        documents.Call("Add");
    else
        documents.Call("Open", {AutomationValue(TemplateFile)});
    FDocument = FWordApp.Call("ActiveDocument");
    const TKVEPageSetup& page = *FPageSetup;
    if (!page.UseDefault) {
        const std::pair<const char*, float> margins[] = {{"TopMargin", page.TopMargin},
                                                         {"BottomMargin", page.BottomMargin},
                                                         {"LeftMargin", page.LeftMargin},
                                                         {"RightMargin", page.RightMargin}};
        for (const auto& [member, value] : margins)
            if (value > 0)
                FDocument.Call("PageSetup").Put(member, GetMeasureMargin(page.Measure, value));
        if (page.Orientation == emPortrait)
            FDocument.Call("PageSetup").Put("Orientation", 0);
        else if (page.Orientation == emLandscape)
            FDocument.Call("PageSetup").Put("Orientation", 1);
    }
    FSaveFileName = FileName;
    FTable = AutomationValue();
    FTableRows = 0;
}

void TKVExportToWord::WriteDataBegin()
{
    TKVExportToDocumentTable::WriteDataBegin();
    const int columns = TableColumns();
    if (columns == 0)
        return;
    const int start = FDocument.Call("Content").Call("End").ToInteger() - 1;
    const int finish = FDocument.Call("Content").Call("End").ToInteger() - 1;
    AutomationValue where = FDocument.Call("Range", {start, finish});
    FTable = FDocument.Call("Range").Call("Tables").Call(
        "Add", {Named("Range", where), Named("NumRows", 1), Named("NumColumns", columns)});
    FTableRows = 1;
    for (int index : {-2, -4, -6})
        FTable.Call("Borders").Call("Item", {index}).Put("LineStyle", Options.Contains(soColLines) ? 1 : 0);
    for (int index : {-1, -3, -5})
        FTable.Call("Borders").Call("Item", {index}).Put("LineStyle", Options.Contains(soRowLines) ? 1 : 0);
    if (FPageSetup->TableWidth != 0)
        FTable.Call("Columns").Put("Width", GetMeasureMargin(FPageSetup->Measure, FPageSetup->TableWidth));

    const std::vector<int> widths = ColumnWidths(columns, FTable.Call("Columns").Call("Width").ToInteger());
    for (std::size_t k = 0; k < widths.size(); ++k)
        if (widths[k] != 0)
            FTable.Call("Columns").Call("Item", {static_cast<int>(k) + 1}).Call("SetWidth", {widths[k], 0});
}

void TKVExportToWord::EnsureTableRows(int Row)
{
    // Rows the pipeline skipped (records an OnBeforeRecord handler rejected, the
    // gap rows of the tabular form, the rows of the reversed layout) are added as
    // empty rows, so every address is inside the table.
    while (FTableRows < Row) {
        FTable.Call("Rows").Call("Add");
        ++FTableRows;
    }
}

void TKVExportToWord::WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                                TAlignment Alignment, TFont* Font, TColor Color)
{
    static const int AlignMap[] = {0, 2, 1}; // left, right, centre
    if (!FDataStarted) {
        CountReplaced(Text, [&] { return "line " + std::to_string(ARow + 1) + " above the table"; });
        FDocument.Call("Range").Call("ParagraphFormat").Put("Alignment", AlignMap[Alignment]);
        AutomationValue text(Text);
        FDocument.Call("Range").Call("InsertAfter", {ByRef(text)});
        FDocument.Call("Range").Call("InsertParagraphAfter");
        return;
    }
    int row = 0;
    int col = 0;
    bool newRow = false;
    TableAddress(ARow, ACol, row, col, newRow);
    if (newRow) {
        FTable.Call("Rows").Call("Add");
        ++FTableRows;
    }
    // Cells beyond the table's last possible column (index 62) are left out; the
    // table itself refuses to be made wider.
    if (col > MaxTableColumns)
        return;
    if (Text.empty())
        return;
    EnsureTableRows(row);

    if (IsDocumentPicture(Field, CellType)) {
        InsertPicture(Field, Text, row, col);
        return;
    }
    CountReplaced(Text,
                  [&] { return "row " + std::to_string(row) + ", column " + std::to_string(col) + " of the table"; });
    AutomationValue rowValue(row);
    AutomationValue range = FTable.Call("Cell", {ByRef(rowValue), col}).Call("Range");
    if (Options.Contains(soColorsFonts) && Font) {
        if (Font->HasStyle(fsBold))
            range.Put("Bold", 1);
        if (Font->HasStyle(fsItalic))
            range.Put("Italic", 1);
        if (Font->HasStyle(fsUnderline))
            range.Put("Underline", 1);
        AutomationValue index(GetColorIndex(Font->Color));
        if (index.ToInteger() != 0)
            range.Call("Font").PutRef("ColorIndex", index);
        if (range.Call("Font").Call("Name").ToString() != Font->Name)
            range.Call("Font").Put("Name", Font->Name);
        index = GetColorIndex(Color);
        if (index.ToInteger() != 0)
            range.PutRef("HighlightColorIndex", index);
    }
    AutomationValue alignment(AlignMap[Alignment]);
    if (!(range.Call("ParagraphFormat").Call("Alignment") == alignment))
        range.Call("ParagraphFormat").PutRef("Alignment", alignment);
    AutomationValue text(TakeCellText(Text));
    range.Call("InsertAfter", {ByRef(text)});
}

void TKVExportToWord::InsertPicture(TField* Field, const std::string& Text, int Row, int Col)
{
    const TCellPictureFile file(Field, Text);
    const std::string name = file.Name();
    AutomationValue rowValue(Row);
    AutomationValue where = FTable.Call("Cell", {ByRef(rowValue), Col}).Call("Range");
    AutomationValue fileName(name);
    FDocument.Call("InlineShapes")
        .Call("AddPicture", {Named("FileName", ByRef(fileName)), Named("LinkToFile", false),
                             Named("SaveWithDocument", true), Named("Range", where)});
}

void TKVExportToWord::DiscardDocument()
{
    // After a failure the document is closed without saving, so an existing file of
    // that name keeps its old content; a word processor this exporter started quits,
    // also when the failure came before there was a document. Nothing here may hide
    // the failure being handled.
    try {
        if (!FDocument.IsEmpty() && !FDocument.IsNull())
            FDocument.Call("Close", {Named("SaveChanges", 0)});
    } catch (...) {
    }
    FTable = AutomationValue();
    FDocument = AutomationValue();
    ForgetReplaced();
    if (!FWordApp.IsEmpty() && !FWordApp.IsNull()) {
        try {
            FWordApp.Put("ScreenUpdating", true);
        } catch (...) {
        }
        if (FCreatedInstance) {
            try {
                FWordApp.Call("Quit");
            } catch (...) {
            }
        }
    }
    FWordApp = AutomationValue();
    FCreatedInstance = false;
}

void TKVExportToWord::CloseFileStream()
{
    // With a caller's stream the inherited close has written the footer already.
    const bool footerWritten = FStream != nullptr;
    TKVExportToDocumentTable::CloseFileStream();
    if (FExportFailed) {
        DiscardDocument();
        return;
    }
    try {
        if (!FTable.IsEmpty() && !FTable.IsNull() && AutoFitColumns)
            FTable.Call("Columns").Call("AutoFit");
        if (!FDocument.IsEmpty() && !FDocument.IsNull()) {
            if (!footerWritten)
                WriteFooter();
            if (!Password.empty())
                FDocument.Call("Protect", {Named("Password", Password)});
            AutomationValue fileName(FSaveFileName);
            FDocument.Call("SaveAs", {ByRef(fileName)});
            TellReplaced(FSaveFileName);
            FDocument.Call("Close");
            FTable = AutomationValue();
            FDocument = AutomationValue();
            FWordApp.Put("ScreenUpdating", true);
            if (FCreatedInstance)
                FWordApp.Call("Quit");
            FWordApp = AutomationValue();
        }
    } catch (...) {
        DiscardDocument();
        throw;
    }
}
