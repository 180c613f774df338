#include "cell_file_exporter.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "spec/text_utils.h"

#include <algorithm>

TKVExportToCellFile::TKVExportToCellFile(QObject* AOwner)
    : TKVExportBaseComponent(AOwner)
{
}

TKVExportToCellFile::~TKVExportToCellFile()
{
    CloseOwnStream();
}

void TKVExportToCellFile::CloseOwnStream()
{
    if (FStream && FOwnFile) {
        TStream* stream = FStream;
        FStream = nullptr;
        delete stream;
    }
}

void TKVExportToCellFile::Prepare()
{
    FOwnFile = true;
    try {
        SaveToStream(nullptr);
    } catch (...) {
        FOwnFile = false;
        throw;
    }
    FOwnFile = false;
}

void TKVExportToCellFile::SaveToStream(TStream* Stream)
{
    const bool callerStream = Stream != nullptr;
    try {
        if (callerStream)
            InternalBeforeProcess();
        TKVECustomDataEngine* engine = SourceEngine();
        if (!engine)
            throw Exception("There is no data engine to export from");
        int fileNumber = 0;
        FStream = Stream;
        FCellFont = std::make_unique<TFont>();
        FExportFailed = false;
        FDataStarted = false;
        FOemReplaced = 0;
        try {
            // Position and controls come back however the walk ends.
            TKVEEngineWalk walk(engine);
            engine->First();
            FRecordCount = engine->RecordCount();
            if (FRecordCount < 0) {
                // Not known before the walk: a reversed table needs it to have its
                // columns, the others only need to know whether there are rows.
                FRecordCount = Layout == elReversedColumnar ? engine->CountRecords() : (engine->Eof() ? 0 : -1);
            }
            if (FRecordCount != 0 || ExportIfEmpty) {
                FTitleRows = 0;
                if (AddTitle && TitleIsSupported())
                    FTitleRows = Options.Contains(soBlankRowAfterCaptions) ? 2 : 1;
                Statistic().TotalCount =
                    Header().Count() + FTitleRows + std::max(FRecordCount, 0) + Footer().Count();
                CreateFileStream(FileName(), 0);
                FTabRow = FCurrentRow;
                int accepted = 0;
                FRecordNumber = 0;
                FindColumnFields();
                const std::string exporting = GetLanguageString(8);
                while (!ProgressCanceled() && !engine->Eof()) {
                    if (AnimatedStatus)
                        UpdateProgressDlg(exporting, accepted);
                    bool accept = true;
                    if (OnBeforeRecord)
                        OnBeforeRecord(this, accept);
                    if (accept) {
                        if (OnProgress) {
                            bool abort = false;
                            OnProgress(this, accepted, engine->RecordCount(), abort);
                            if (abort)
                                SetProgressCanceled(true);
                        }
                        if (RowsPerFile > 0 && accepted > 0 && accepted % RowsPerFile == 0) {
                            ++fileNumber;
                            if (!callerStream)
                                CreateFileStream(FileName(), fileNumber);
                        }
                        ++accepted;
                        FRecordNumber = accepted;
                        if (Layout != elTabularForm)
                            WriteRowStart(false);
                        int col = 0;
                        for (int i = 0; i < Columns().Count(); ++i) {
                            TKVEColumn* column = Columns()[i];
                            if (!column->Visible)
                                continue;
                            BuildDataCell(column, ColumnField(i, column), accepted, col);
                            WriteCellByLayout(column, col);
                            ++col;
                        }
                        if (Layout != elTabularForm) {
                            WriteRowEnd(false);
                        } else if (Options.Contains(soBlankRowAfterCaptions)
                                   && (TableType() == teText || TableType() == teClipboard)) {
                            WriteRowStart(false);
                            WriteRowEnd(false);
                            ++FTabRow;
                        }
                    }
                    engine->Next();
                    ++FCurrentRow;
                    ++FTabRow;
                    bool abort = false;
                    if (OnAfterRecord)
                        OnAfterRecord(this, abort);
                    if (abort)
                        SetProgressCanceled(true);
                }
                if (FRecordCount < 0)
                    Statistic().TotalCount = Header().Count() + FTitleRows + accepted + Footer().Count();
            }
            // Also for an empty source that writes no file: the engine gets its
            // position and controls back.
            walk.Finish();
            ForgetColumnFields();
            // The last cell's text is not held while the target is saved.
            std::string().swap(FCellText);
        } catch (...) {
            ForgetColumnFields();
            FExportFailed = true;
            try {
                CloseFileStream();
            } catch (...) {
                // The first failure is the one worth reporting.
            }
            CloseOwnStream();
            if (!FOwnFile)
                FStream = nullptr;
            FCellFont.reset();
            FExportFailed = false;
            // A failure inside the table never reached WriteDataEnd; the next export
            // must start outside the data section.
            FDataStarted = false;
            throw;
        }
        CloseFileStream();
        if (!FOwnFile)
            FStream = nullptr;
        FCellFont.reset();
        if (FOemReplaced > 0)
            Statistic().Warnings.push_back(std::to_string(FOemReplaced)
                                           + " characters have no form in the DOS code page and became \"?\"");
    } catch (...) {
        if (callerStream) {
            // The caller's export failed: undo what the preparation changed in the
            // process (formats, cursor, controls, filled columns) before passing the
            // failure on. Nothing is delivered for a failed export.
            Statistic().Result = erFailed;
            try {
                InternalAfterProcess();
            } catch (...) {
                // The write's failure is the one worth passing on.
            }
        }
        throw;
    }
    if (callerStream)
        InternalAfterProcess();
}

void TKVExportToCellFile::BuildDataCell(TKVEColumn* Column, TField* Field, int Accepted, int Col)
{
    TKVECustomDataEngine* engine = SourceEngine();
    FCellColor = Column->Color;
    FCellFont->Assign(Column->Font());
    FCellAlignment = Column->Alignment;
    FCellField = nullptr;
    if (Column->ColumnKind == ckField && Field && engine->IsDataRow(Accepted - 1))
        FCellField = Field;
    if (FCellField) {
        FCellText = GetFieldStr(FCellField);
        FCellType = GetFieldType(FCellField, BlankIfZero);
    } else if (Column->ColumnKind == ckConstant) {
        FCellText.assign(Column->FieldName);
        FCellType = Column->DataType;
    } else {
        const Variant value = engine->GetFieldValue(Column);
        if (value.VarType() == varString)
            FCellText.assign(value.StringRef());
        else
            FCellText = value.AsString();
        // The type is judged on the text as a string variant. Only the blank test
        // looks at the value, and a text is blank exactly when it is "0"; standing
        // in for the text spares a copy of every cell.
        static const Variant zeroText("0");
        static const Variant otherText("x");
        FCellType = GetValueType(engine->DataTypeByColumn(Column), FCellText == "0" ? zeroText : otherText,
                                 BlankIfZero);
    }
    AssignStyle(Header().Count() + FTitleRows + Accepted, FCellColor);
    if (OnGetCellParams)
        OnGetCellParams(this, FCellField, FCellText, FCellFont.get(), FCellAlignment, FCellColor, FCellType);
    // Bytes go into a file of text as base64, which gives them back exactly.
    if (FCellField && IsBinaryFieldType(FCellField->DataType()) && FCellType != ctGraphic && !KeepsBinary()
        && HoldsBinary(FCellField)) {
        FCellText = Base64Text(FCellText);
        CountChange("binary values have no form in this file and were written as base64 text", Col);
    }
    ApplyCharacterSet();
}

bool TKVExportToCellFile::KeepsBinary()
{
    return false;
}

void TKVExportToCellFile::ApplyCharacterSet()
{
    if (CharacterSet != csASCII_MSDOS)
        return;
    // A picture cell holds the bytes of a picture file, not text.
    const bool picture = FCellType == ctGraphic
        || (FCellField && FCellField->IsBlob() && FCellField->BlobType() == ftGraphic);
    if (!picture) {
        // One byte a character: every "?" more than the text had is a character the
        // code page could not hold.
        const auto marks = [](const std::string& Text) { return std::count(Text.begin(), Text.end(), '?'); };
        const auto before = marks(FCellText);
        FCellText = UECode(true, FCellText);
        FOemReplaced += marks(FCellText) - before;
    }
}

std::string TKVExportToCellFile::TakeCellText(const std::string& Text)
{
    if (&Text != &FCellText)
        return Text;
    std::string text = std::move(FCellText);
    FCellText.clear();
    return text;
}

void TKVExportToCellFile::WriteCellByLayout(TKVEColumn* Column, int Col)
{
    switch (Layout) {
    case elColumnar: {
        SourceEngine()->ApplyCellColors(FCurrentRow - GetTitleRowCount() + 1, Col, FCellAlignment, *FCellFont,
                                        FCellColor);
        WriteData(FCellField, FCellType, FCurrentRow, Col, FCellText, FCellAlignment, FCellFont.get(), FCellColor);
        break;
    }
    case elReversedColumnar:
        WriteData(FCellField, FCellType, Col, FCurrentRow, FCellText, FCellAlignment, FCellFont.get(), FCellColor);
        break;
    case elTabularForm: {
        WriteRowStart(false);
        const TKVEColumnTitle& title = Column->Title();
        TFont titleFont;
        titleFont.Assign(&title.Font());
        if (AddTitle) {
            const std::string& caption =
                Options.Contains(soUseFieldNameAsCaption) ? Column->FieldName : title.Caption;
            WriteData(nullptr, ctString, FTabRow, 0, caption, title.Alignment, &titleFont, title.Color);
            if (Options.Contains(soBlankRowAfterCaptions))
                WriteData(nullptr, ctBlank, FTabRow, 1, std::string(), title.Alignment, &titleFont, title.Color);
        }
        WriteData(FCellField, FCellType, FTabRow, FTitleRows, FCellText, FCellAlignment, FCellFont.get(),
                  FCellColor);
        WriteRowEnd(false);
        ++FTabRow;
        break;
    }
    }
}

std::string TKVExportToCellFile::NumberedFileName(const std::string& FileName, int FileNumber)
{
    if (FileNumber <= 0)
        return FileName;
    std::string digits = std::to_string(FileNumber);
    if (FileNumber < 10)
        digits = "00" + digits;
    else if (FileNumber < 100)
        digits = "0" + digits;
    std::string ext = ExtractFileExt(FileName);
    if (ext.empty())
        return FileName + digits;
    return ChangeFileExt(FileName, digits + ext);
}

int TKVExportToCellFile::FileRowCount(int FileNumber) const
{
    if (FRecordCount < 0) // not known before the walk: at least one row follows
        return FTitleRows + (RowsPerFile > 0 ? RowsPerFile : 1);
    if (RowsPerFile <= 0)
        return FTitleRows + FRecordCount;
    long long before = static_cast<long long>(FileNumber) * RowsPerFile;
    long long share = std::clamp<long long>(FRecordCount - before, 0, RowsPerFile);
    // A later file is opened only for a record about to be written, so it holds at
    // least that one, also when the source's count was low.
    if (FileNumber > 0 && share < 1)
        share = 1;
    return FTitleRows + static_cast<int>(share);
}

void TKVExportToCellFile::CreateFileStream(const std::string& FileName, int FileNumber)
{
    if (FileNumber > 0)
        CloseFileStream();
    if (!FileName.empty()) {
        std::string name = NumberedFileName(FileName, FileNumber);
        if (OnGetFileName)
            OnGetFileName(this, FileNumber, name);
        InternalFileCreate(name);
    }
    WriteFileBegin();
    const int rows = FileRowCount(FileNumber);
    const int visible = VisibleColumnCount;
    int widest = 0;
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        if (column->Visible && column->Width > widest)
            widest = column->Width;
    }
    switch (Layout) {
    case elColumnar: {
        WriteDimensions(rows, visible + 1);
        int k = 0;
        for (int i = 0; i < Columns().Count(); ++i) {
            TKVEColumn* column = Columns()[i];
            if (column->Visible)
                WriteColWidth(k++, column->Width);
        }
        break;
    }
    case elReversedColumnar:
        WriteDimensions(visible, rows + 1);
        for (int k = 0; k <= rows; ++k)
            WriteColWidth(k, widest);
        break;
    case elTabularForm:
        WriteDimensions(rows * visible, FTitleRows + 1);
        for (int k = 0; k <= FTitleRows; ++k)
            WriteColWidth(k, widest);
        break;
    }
    WriteHeader();
    WriteDataBegin();
    if (AddTitle && TitleIsSupported() && Layout != elTabularForm) {
        const int headerCount = Header().Count();
        WriteRowStart(true);
        int k = 0;
        for (int i = 0; i < Columns().Count(); ++i) {
            TKVEColumn* column = Columns()[i];
            if (!column->Visible)
                continue;
            FCellColor = column->Title().Color;
            FCellFont->Assign(&column->Title().Font());
            FCellAlignment = column->Title().Alignment;
            FCellText = Options.Contains(soUseFieldNameAsCaption) ? column->FieldName : column->Title().Caption;
            AssignStyle(headerCount + 1, FCellColor);
            FCellType = ctString;
            if (OnGetCellParams)
                OnGetCellParams(this, nullptr, FCellText, FCellFont.get(), FCellAlignment, FCellColor, FCellType);
            ApplyCharacterSet();
            if (Layout == elReversedColumnar)
                WriteData(nullptr, FCellType, k, headerCount, FCellText, FCellAlignment, FCellFont.get(), FCellColor);
            else
                WriteData(nullptr, FCellType, headerCount, k, FCellText, FCellAlignment, FCellFont.get(), FCellColor);
            ++k;
        }
        WriteRowEnd(true);
        if (Options.Contains(soBlankRowAfterCaptions)) {
            WriteRowStart(true);
            AssignStyle(headerCount + 2, FCellColor);
            const std::string empty;
            for (int c = 0; c < k; ++c) {
                if (Layout == elReversedColumnar)
                    WriteData(nullptr, ctBlank, c, FCurrentRow - 1, empty, taCenter, nullptr, FCellColor);
                else
                    WriteData(nullptr, ctBlank, FCurrentRow - 1, c, empty, taCenter, nullptr, FCellColor);
            }
            WriteRowEnd(true);
        }
    }
}

void TKVExportToCellFile::CloseFileStream()
{
    if (!FStream)
        return;
    WriteFooter();
    if (FOwnFile) {
        TStream* stream = FStream;
        FStream = nullptr;
        std::unique_ptr<TStream> owned(stream);
        if (auto* file = dynamic_cast<TFileStream*>(stream))
            file->Close();
    }
}

bool TKVExportToCellFile::MergeIsSupported()
{
    return false;
}

bool TKVExportToCellFile::TitleIsSupported()
{
    return true;
}

void TKVExportToCellFile::InternalFileCreate(const std::string& FileName)
{
    if (!FOwnFile)
        return;
    if (Options.Contains(soMergeData) && FileExists(FileName) && MergeIsSupported()) {
        auto stream = std::make_unique<TFileStream>(FileName, fmOpenWrite);
        stream->Seek(0, soEnd);
        FStream = stream.release();
    } else {
        FStream = new TFileStream(FileName, fmCreate);
    }
}

void TKVExportToCellFile::WriteHeader()
{
    const int headerCount = Header().Count();
    int captionRows = 0;
    if (AddTitle && Layout != elTabularForm)
        captionRows = Options.Contains(soBlankRowAfterCaptions) ? 2 : 1;
    FCurrentRow = headerCount + captionRows;
    for (int i = 0; i < headerCount; ++i) {
        WriteRowStart(true);
        FCellColor = clWhite;
        FCellAlignment = taLeftJustify;
        FCellText = Header()[i];
        AssignStyle(i, FCellColor);
        FCellType = ctString;
        if (OnGetCellParams)
            OnGetCellParams(this, nullptr, FCellText, FCellFont.get(), FCellAlignment, FCellColor, FCellType);
        ApplyCharacterSet();
        WriteData(nullptr, FCellType, i, 1, FCellText, FCellAlignment, FCellFont.get(), FCellColor);
        WriteRowEnd(true);
    }
}

void TKVExportToCellFile::WriteFooter()
{
    WriteDataEnd();
    for (int i = 0; i < Footer().Count(); ++i) {
        WriteRowStart(true);
        FCellColor = clWhite;
        FCellAlignment = taLeftJustify;
        FCellText = Footer()[i];
        FCellType = ctString;
        if (OnGetCellParams)
            OnGetCellParams(this, nullptr, FCellText, FCellFont.get(), FCellAlignment, FCellColor, FCellType);
        ApplyCharacterSet();
        WriteData(nullptr, FCellType, FCurrentRow + i, 1, FCellText, FCellAlignment, FCellFont.get(), FCellColor);
        WriteRowEnd(true);
    }
    WriteFileEnd();
}

void TKVExportToCellFile::WriteString(const std::string& S)
{
    if (FStream)
        FStream->WriteString(S);
}

void TKVExportToCellFile::WriteFileBegin()
{
    FRowsSinceFlush = 0;
}

void TKVExportToCellFile::WriteFileEnd()
{
}

void TKVExportToCellFile::WriteDimensions(int, int)
{
}

void TKVExportToCellFile::WriteColWidth(int, int)
{
}

void TKVExportToCellFile::WriteDataBegin()
{
    FDataStarted = true;
    FChangeNames.clear();
    for (TKVEColumn* column : VisibleColumns())
        FChangeNames.push_back(CaptionOf(column));
}

void TKVExportToCellFile::CountChange(const std::string& What, int ACol)
{
    FChanges.Count(What, FDataStarted ? ACol : -1, FRecordNumber);
}

void TKVExportToCellFile::WriteDataEnd()
{
    FDataStarted = false;
}

void TKVExportToCellFile::WriteRowStart(bool)
{
}

void TKVExportToCellFile::WriteRowEnd(bool)
{
    ++FRowsSinceFlush;
    if (FRowsSinceFlush > 1024) {
        // The written rows head for the disk without the export waiting for them: the
        // file is made durable once, when it is whole.
        if (auto* file = dynamic_cast<TFileStream*>(FStream))
            file->StartWriteBack();
        FRowsSinceFlush = 0;
    }
}

void TKVExportToCellFile::WriteData(TField*, TCellType, int, int, const std::string&, TAlignment, TFont*, TColor)
{
}

std::vector<TKVEColumn*> TKVExportToCellFile::VisibleColumns()
{
    std::vector<TKVEColumn*> visible;
    for (int i = 0; i < Columns().Count(); ++i)
        if (Columns()[i]->Visible)
            visible.push_back(Columns()[i]);
    return visible;
}

std::string TKVExportToCellFile::CaptionOf(TKVEColumn* Column)
{
    return Options.Contains(soUseFieldNameAsCaption) || Column->Title().Caption.empty() ? Column->FieldName
                                                                                        : Column->Title().Caption;
}

bool TKVExportToCellFile::IsPictureCell(TField* Field, TCellType CellType)
{
    return CellType == ctGraphic || (Field && Field->IsBlob() && Field->BlobType() == ftGraphic);
}
