#include "export_component.h"

#include "engine/db_data_engine.h"
#include "engine/foreign_grid_engine.h"
#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "framework/ui_services.h"

#include <exception>

// ---------------------------------------------------------------------------
// TKVEStatistic

void TKVEStatistic::Assign(const TPersistent* Source)
{
    if (auto* source = dynamic_cast<const TKVEStatistic*>(Source)) {
        TotalCount = source->TotalCount;
        TotalErrors = source->TotalErrors;
        UpdateStep = source->UpdateStep;
        Result = source->Result;
        Warnings = source->Warnings;
        return;
    }
    TPersistent::Assign(Source);
}

// ---------------------------------------------------------------------------
// TKVECustomBaseComponent

TKVECustomBaseComponent::TKVECustomBaseComponent(QObject* AOwner)
    : TComponent(AOwner)
    , FHeader(std::make_unique<TStringList>())
    , FFooter(std::make_unique<TStringList>())
    , FSendTo(std::make_unique<TKVESendTo>())
    , FExportStyle(std::make_unique<TKVExportStyle>())
    , FStatistic(std::make_unique<TKVEStatistic>())
    , FDataFormats(std::make_unique<TKVEDataFormats>())
{
    FDataFormats->LoadRegionalSettings();
    FDataFormats->BooleanTrue = strTrue;
    FDataFormats->BooleanFalse = strFalse;
}

TKVECustomBaseComponent::~TKVECustomBaseComponent()
{
    FStatistic.reset();
    FDataFormats.reset();
    FExportStyle.reset();
    FHeader.reset();
    FFooter.reset();
    FSendTo.reset();
}

void TKVECustomBaseComponent::SetTableType(TTableTypeExport Value)
{
    FTableType = Value;
}

std::string TKVECustomBaseComponent::GetLanguageString(int Id)
{
    std::string text = LanguageStringById(Id);
    if (OnGetLanguageString)
        OnGetLanguageString(this, Id, text);
    return text;
}

std::string TKVECustomBaseComponent::GetFieldStr(TField* Field)
{
    if (!Field)
        return {};
    std::string text;
    if (Options.Contains(soFieldMask)) {
        if (Field->DataType() == ftBoolean)
            text = Field->AsBoolean() ? DataFormats().BooleanTrue : DataFormats().BooleanFalse;
        else
            text = Field->DisplayText();
    } else {
        bool handled = false;
        if (OnGetFieldText)
            OnGetFieldText(this, Field, text, handled);
        if (!handled)
            text = Field->AsString();
    }
    if (BlankIfZero) {
        switch (Field->DataType()) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftFloat:
        case ftCurrency:
        case ftBCD:
        case ftAutoInc:
        case ftLargeint:
            if (Field->AsFloat() == 0)
                text.clear();
            break;
        case ftDate:
        case ftTime:
        case ftDateTime:
            if (Field->AsDateTime() == 0)
                text.clear();
            break;
        default:
            if (Field->IsNull())
                text.clear();
            break;
        }
    }
    return text;
}

TCellType TKVECustomBaseComponent::GetFieldType(TField* Field, bool ABlankIfZero)
{
    if (!Field)
        return ctString;
    Variant holder; // a value the dataset holds is looked at where it is
    return GetValueType(Field->DataType(), Field->CurrentValue(holder), ABlankIfZero);
}

void TKVECustomBaseComponent::AssignStyle(int Row, TColor& Color) const
{
    AssignStyleColor(*FExportStyle, Row, Color);
}

std::string TKVECustomBaseComponent::Translate(const std::string& Value, bool Encode) const
{
    return ::Translate(Value, Encode);
}

int TKVECustomBaseComponent::SendMail(const std::string& FileName, const std::string& Text)
{
    return SendMailWith(*FSendTo, FileName, Text, Options.Contains(soShowMessage));
}

int TKVECustomBaseComponent::GetTitleRowCount() const
{
    int rows = 1;
    if (AddTitle)
        rows = Options.Contains(soBlankRowAfterCaptions) ? 3 : 2;
    return rows + FHeader->Count();
}

void TKVECustomBaseComponent::Assign(const TPersistent* Source)
{
    auto* source = dynamic_cast<const TKVECustomBaseComponent*>(Source);
    if (!source) {
        TComponent::Assign(Source);
        return;
    }
    FHeader->Assign(source->FHeader.get());
    FFooter->Assign(source->FFooter.get());
    RowsPerFile = source->RowsPerFile;
    SetTableType(source->FTableType);
    AnimatedStatus = source->AnimatedStatus;
    FDataFormats->Assign(source->FDataFormats.get());
    SelectedRecord = source->SelectedRecord;
    BlankIfZero = source->BlankIfZero;
    Options = source->Options;
    RightToLeft = source->RightToLeft;
    FSendTo->Assign(source->FSendTo.get());
    FStatistic->Assign(source->FStatistic.get());
    OnGetLanguageString = source->OnGetLanguageString;
    OnBeforeRecord = source->OnBeforeRecord;
    OnAfterRecord = source->OnAfterRecord;
    OnBeforeExecute = source->OnBeforeExecute;
    OnAfterExecute = source->OnAfterExecute;
    OnGetFileName = source->OnGetFileName;
    OnProgress = source->OnProgress;
    AddTitle = source->AddTitle;
    CharacterSet = source->CharacterSet;
    OnGetCellParams = source->OnGetCellParams;
    FExportStyle->Assign(source->FExportStyle.get());
    TableName = source->TableName;
    TextQualifier = source->TextQualifier;
    FieldDelimiter = source->FieldDelimiter;
    RecordSeparator = source->RecordSeparator;
    Fixed = source->Fixed;
}

TPropIsDBGrid TKVExportBaseComponent::PropIsDBGridCheck = &PropIsDBGrid;

// ---------------------------------------------------------------------------
// TKVExportBaseComponent

TKVExportBaseComponent::TKVExportBaseComponent(QObject* AOwner)
    : TKVECustomBaseComponent(AOwner)
    , FColumns(std::make_unique<TKVEColumns>(this))
{
}

TKVExportBaseComponent::~TKVExportBaseComponent()
{
    FColumns.reset();
    FProgressDlg.reset();
    FProgressDlg = nullptr;
}

void TKVExportBaseComponent::ResolveDefaultFileName() const
{
    // The default name needs the most derived class's Extension(), which a C++ base
    // constructor cannot reach; it is therefore made on first use, after construction.
    if (!FFileNamePending)
        return;
    FFileNamePending = false;
    auto* self = const_cast<TKVExportBaseComponent*>(this);
    if (FTableType == teClipboard)
        FFileName.clear();
    else
        FFileName = ProgramFolder() + "Tabrix" + self->Extension();
}

const std::string& TKVExportBaseComponent::FileName() const
{
    ResolveDefaultFileName();
    return FFileName;
}

void TKVExportBaseComponent::SetFileName(const std::string& Value)
{
    FFileNamePending = false;
    FFileName = Value;
}

std::string TKVExportBaseComponent::GetDefExt(TTableTypeExport TableType)
{
    switch (TableType) {
    case teParadox: return ".DB";
    case teDBase: return ".DBF";
    case teText: return ".TXT";
    case teHTML: return ".HTM";
    case teXLS:
    case teExcel: return ".XLS";
    case teWord: return ".DOC";
    case teSYLK: return ".SLK";
    case teDIF: return ".DIF";
    case teWKS: return ".WK1";
    case teQuattro: return ".WQ1";
    case teSQL: return ".SQL";
    case teXML: return ".XML";
    case teAccess: return ".MDB";
    case teClipboard: return "";
    case teRTF: return ".RTF";
    case teSPSS: return ".SAV";
    case tePDF: return ".PDF";
    case teLDIF: return ".LDIF";
    }
    return "";
}

void TKVExportBaseComponent::SetTableType(TTableTypeExport Value)
{
    ResolveDefaultFileName();
    if (!FFileName.empty())
        FFileName = ChangeFileExt(FFileName, GetDefExt(Value));
    TKVECustomBaseComponent::SetTableType(Value);
}

void TKVExportBaseComponent::SetDBGrid(QObject* Value)
{
    if (Value) {
        bool ww = false, adv = false;
        if (!PropIsDBGridCheck || !PropIsDBGridCheck(Value, ww, adv))
            throw Exception(FormatMessage(GetLanguageString(1), Value->objectName().toStdString()));
        IsWWGrid = ww;
        IsAdvStringGrid = adv;
        if (auto* component = qobject_cast<TComponent*>(Value))
            FreeNotification(component);
    }
    FDBGrid = Value;
}

TDataSet* TKVExportBaseComponent::DataSet() const
{
    return static_cast<TDataSet*>(FDataSet.data());
}

void TKVExportBaseComponent::SetDataSet(TDataSet* Value)
{
    FDataSet = Value;
    if (Value)
        FreeNotification(Value);
}

void TKVExportBaseComponent::SetDataEngine(TKVECustomDataEngine* Value)
{
    FDataEngine = Value;
    if (Value)
        FreeNotification(Value);
}

void TKVExportBaseComponent::Notification(TComponent* AComponent, TOperation Operation)
{
    TKVECustomBaseComponent::Notification(AComponent, Operation);
    if (Operation != opRemove)
        return;
    if (AComponent == FDBGrid.data())
        FDBGrid = nullptr;
    else if (AComponent == FDataSet.data())
        FDataSet = nullptr;
    else if (AComponent == FDataEngine.data())
        FDataEngine = nullptr;
    if (AComponent == FSourceEngine && !FSourceEngineOwned)
        FSourceEngine = nullptr;
}

void TKVExportBaseComponent::FindColumnFields()
{
    FColumnFields.clear();
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        FColumnFields.emplace_back(
            column, column->ColumnKind == ckField && FSourceEngine ? FSourceEngine->FindFieldByColumn(column) : nullptr);
    }
}

TField* TKVExportBaseComponent::ColumnField(int Index, TKVEColumn* Column) const
{
    const auto at = static_cast<std::size_t>(Index);
    if (at < FColumnFields.size() && FColumnFields[at].first == Column)
        return FColumnFields[at].second;
    return FSourceEngine ? FSourceEngine->FindFieldByColumn(Column) : nullptr;
}

TDataSet* TKVExportBaseComponent::GetDS()
{
    if (auto* engine = dynamic_cast<TKVECustomDBDataEngine*>(FSourceEngine))
        return engine->GetDataset();
    if (ColumnSource == csDataSet)
        return DataSet();
    return GetPropAsDataSet(FDBGrid);
}

bool TKVExportBaseComponent::IsSuiteGrid() const
{
    return FDBGrid && !IsWWGrid && !IsAdvStringGrid && DBGridAccess().IsDBGrid && DBGridAccess().IsDBGrid(FDBGrid.data());
}

int TKVExportBaseComponent::GetSelectedCount()
{
    if (OnGetSelectedCount) {
        int count = 0;
        OnGetSelectedCount(this, count);
        return count;
    }
    if (IsSuiteGrid())
        return DBGridAccess().SelectedCount(FDBGrid.data());
    return 0;
}

void* TKVExportBaseComponent::GetNextSelected(int Index)
{
    if (OnGetNextSelected) {
        void* selected = nullptr;
        OnGetNextSelected(this, Index, selected);
        return selected;
    }
    // The grid's bookmark itself (a TBookmark), as its selection list holds it.
    if (IsSuiteGrid())
        return const_cast<TBookmark*>(DBGridAccess().SelectedRow(FDBGrid.data(), Index));
    return nullptr;
}

void TKVExportBaseComponent::Assign(const TPersistent* Source)
{
    TKVECustomBaseComponent::Assign(Source);
    auto* source = dynamic_cast<const TKVExportBaseComponent*>(Source);
    if (!source)
        return;
    ActionAfterExport = source->ActionAfterExport;
    SetFileName(source->FileName());
    FColumns->Assign(source->FColumns.get());
    SetDBGrid(source->FDBGrid.data());
    SetDataSet(source->DataSet());
    SetDataEngine(source->FDataEngine.data());
    ColumnSource = source->ColumnSource;
    OnGetNextSelected = source->OnGetNextSelected;
    OnGetSelectedCount = source->OnGetSelectedCount;
    OnBeforeLoadSpecification = source->OnBeforeLoadSpecification;
    OnAfterLoadSpecification = source->OnAfterLoadSpecification;
    OnBeforeSaveSpecification = source->OnBeforeSaveSpecification;
    OnAfterSaveSpecification = source->OnAfterSaveSpecification;
    Layout = source->Layout;
    ExportIfEmpty = source->ExportIfEmpty;
}

// ---------------------------------------------------------------------------
// The run

void TKVExportBaseComponent::CreateSourceDataEngine()
{
    switch (ColumnSource) {
    case csDBGrid:
        if (!FDBGrid)
            throw Exception(FormatMessage(GetLanguageString(0), std::string("DBGrid")));
        if (IsWWGrid) {
            auto* engine = new TKVEwwDBGridDataEngine(this);
            FSourceEngine = engine;
            FSourceEngineOwned = true;
            engine->SetDBGrid(FDBGrid.data());
        } else if (IsAdvStringGrid) {
            auto* engine = new TKVEDBAdvStringGridDataEngine(this);
            FSourceEngine = engine;
            FSourceEngineOwned = true;
            engine->SetDBGrid(FDBGrid.data());
        } else {
            if (!DBGridAccess().IsDBGrid || !DBGridAccess().IsDBGrid(FDBGrid.data()))
                throw EInvalidCast();
            FSourceEngine = DBGridAccess().CreateEngine(FDBGrid.data(), this);
            FSourceEngineOwned = true;
        }
        break;
    case csDataSet: {
        if (!FDataSet)
            throw Exception(FormatMessage(GetLanguageString(0), std::string("Dataset")));
        auto* engine = new TKVEDatasetDataEngine(this);
        FSourceEngine = engine;
        FSourceEngineOwned = true;
        engine->SetDataset(DataSet());
        break;
    }
    case csDataEngine:
        if (!FDataEngine)
            throw Exception(FormatMessage(GetLanguageString(0), std::string("DataEngine")));
        FSourceEngine = FDataEngine.data();
        FSourceEngineOwned = false;
        break;
    }
    FSourceEngine->FSelectedRecord = SelectedRecord;
}

void TKVExportBaseComponent::DestroySourceDataEngine()
{
    if (FSourceEngine && FSourceEngineOwned && (ColumnSource == csDBGrid || ColumnSource == csDataSet))
        delete FSourceEngine;
    FSourceEngine = nullptr;
    FSourceEngineOwned = false;
}

void TKVExportBaseComponent::InternalBeforeProcess()
{
    FControlsDisabled = false;
    FCursorChanged = false;
    FColumnsFilledByRun = false;
    // Counts of an earlier run must not reach this run's closing when the
    // preparation fails before they are taken anew.
    SourceRecordCount = 0;
    VisibleColumnCount = 0;
    Statistic().TotalCount = 0;
    Statistic().Warnings.clear();
    // A cancel asked for in an earlier run (without a progress window, the request
    // lives in the component) must not stop this one.
    CancelRequested = false;

    Statistic().Result = erInProgress;
    if (OnBeforeExecute)
        OnBeforeExecute(this);
    CreateSourceDataEngine();
    SourceRecordCount = FSourceEngine->RecordCount();
    if (DataFormats().UseRegionalSettings)
        DataFormats().LoadRegionalSettings();
    FSavedFormats.Install(DataFormats());
    if (Options.Contains(soDisableControls)) {
        FSourceEngine->DisableControls();
        FControlsDisabled = true;
    }
    if (Options.Contains(soWaitCursor)) {
        UIServices().SetCursor(crHourGlass);
        FCursorChanged = true;
    }
    if (AnimatedStatus) {
        if (SourceRecordCount < 0)
            SourceRecordCount = 0;
        CreateProgressDlg(GeneratorVer, GetLanguageString(8), GetLanguageString(12), 0, SourceRecordCount, 0);
    }
    ColumnsPredefined = Columns().Count() > 0;
    if (!ColumnsPredefined) {
        FColumnsFilledByRun = true;
        FSourceEngine->FillColumns(FColumns.get(), RightToLeft);
    }
    VisibleColumnCount = 0;
    for (int i = 0; i < Columns().Count(); ++i)
        if (Columns()[i]->Visible)
            ++VisibleColumnCount;
    if (ExtractFileExt(FileName()).empty())
        SetFileName(FileName() + GetDefExt(FTableType));
}

namespace {

// The text of a thrown object: the message of an Exception or a standard exception,
// empty for anything else.
std::string ThrownText(const std::exception_ptr& Error)
{
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
    }
    return {};
}

} // namespace

void TKVExportBaseComponent::Execute()
{
    // An Exception ends the run as failed and stays here. Anything else (a host's
    // standard exception, an allocation failure) fails the run the same way, and after
    // the closing goes on to the caller.
    std::exception_ptr passOn;
    try {
        try {
            InternalBeforeProcess();
            Prepare();
        } catch (const Exception& e) {
            Statistic().Result = erFailed;
            if (Options.Contains(soShowMessage))
                UIServices().MessageBox(GetLanguageString(3) + ": " + e.Message(), mkInformation);
        } catch (...) {
            passOn = std::current_exception();
            Statistic().Result = erFailed;
            if (Options.Contains(soShowMessage)) {
                const std::string text = ThrownText(passOn);
                UIServices().MessageBox(text.empty() ? GetLanguageString(3) : GetLanguageString(3) + ": " + text,
                                        mkInformation);
            }
        }
    } catch (...) {
        // Reporting the failure failed too (a language-string handler, the box).
        Statistic().Result = erFailed;
        if (!passOn)
            passOn = std::current_exception();
    }
    if (!passOn) {
        InternalAfterProcess();
        return;
    }
    try {
        InternalAfterProcess();
    } catch (...) {
        // The write's failure is the one worth passing on.
    }
    std::rethrow_exception(passOn);
}

void TKVExportBaseComponent::InternalAfterProcess()
{
    if (FColumnsFilledByRun) {
        FColumnsFilledByRun = false;
        Columns().Clear();
    }
    // A handler that throws while the run closes (the closing progress event, a
    // language string, delivery) skips the closing's other reports, but the process
    // state is restored whatever happens; then the handler's exception goes on.
    std::exception_ptr failure;
    std::string message;
    try {
        if (Statistic().Result != erFailed) {
            if (ProgressCanceled()) {
                Statistic().Result = erCanceled;
                message = GetLanguageString(16);
            } else {
                Statistic().Result = erCompleted;
                message = FormatMessage(GetLanguageString(2), FileName());
            }
        }
        if (OnProgress)
            OnProgress(this, SourceRecordCount, SourceRecordCount, ProgressAbort);
        if (AnimatedStatus)
            UpdateProgressDlg(message, SourceRecordCount);
    } catch (...) {
        failure = std::current_exception();
    }
    DestroyProgressDlg();
    if (!failure) {
        try {
            if (Options.Contains(soShowMessage) && !AnimatedStatus && !message.empty())
                UIServices().MessageBox(message, mkInformation);
            if (Statistic().Result != erFailed)
                AfterExport();
        } catch (...) {
            failure = std::current_exception();
        }
    }
    FSavedFormats.Restore();
    if (FCursorChanged) {
        FCursorChanged = false;
        UIServices().SetCursor(crDefault);
    }
    try {
        if (FControlsDisabled) {
            FControlsDisabled = false;
            if (FSourceEngine)
                FSourceEngine->EnableControls();
        }
    } catch (...) {
        if (!failure)
            failure = std::current_exception();
    }
    try {
        DestroySourceDataEngine();
    } catch (...) {
        FSourceEngine = nullptr;
        FSourceEngineOwned = false;
        if (!failure)
            failure = std::current_exception();
    }
    if (failure)
        std::rethrow_exception(failure);
    if (OnAfterExecute)
        OnAfterExecute(this);
}

void TKVExportBaseComponent::AfterExport()
{
    DeliverAfterExport(ActionAfterExport, FileName(), SendTo(), Options.Contains(soShowMessage));
}

// ---------------------------------------------------------------------------
// Progress window

bool TKVExportBaseComponent::CreateProgressDlg(const std::string& ACaption, const std::string& AStatus,
                                               const std::string& ACancelCaption, int AMin, int AMax,
                                               int APosition)
{
    CancelRequested = false;
    DestroyProgressDlg();
    std::unique_ptr<TProgressView> dlg;
    try {
        // Without a GUI application object, or without the widgets library, no window
        // can exist.
        if (!UIServices().HasGui() || !WindowMakers().ProgressView)
            throw Exception("no window system");
        dlg = WindowMakers().ProgressView();
        if (!dlg)
            throw Exception("no window system");
        UIServices().ProcessMessages();
        dlg->SetCaption(ACaption);
        dlg->SetStatus(AStatus);
        dlg->SetCancelCaption(ACancelCaption);
        dlg->SetRange(AMin, AMax);
        dlg->SetPosition(APosition);
        dlg->StartAnimation();
        dlg->Show();
        // A cancel asked for while the window was being made carries over.
        dlg->SetCanceled(CancelRequested);
        // Boxes of the run go over its window, which stays on top of everything else.
        FPreviousBoxOwner = SetMessageBoxOwner(dlg->Window());
        FProgressDlg = std::move(dlg);
        UIServices().ProcessMessages();
        return true;
    } catch (...) {
        UIServices().MessageBox(strLoadError, mkError);
        return false;
    }
}

bool TKVExportBaseComponent::UpdateProgressDlg(const std::string& AStatus, int APosition)
{
    int step = Statistic().UpdateStep;
    if (step > 0 && APosition % step != 0)
        return true;
    if (!FProgressDlg)
        return false;
    FProgressDlg->SetStatus(AStatus + " (" + std::to_string(APosition) + "/"
                            + std::to_string(FProgressDlg->Maximum()) + ")");
    FProgressDlg->SetPosition(APosition);
    FProgressDlg->Repaint();
    UIServices().ProcessMessages();
    return true;
}

bool TKVExportBaseComponent::DestroyProgressDlg()
{
    if (!FProgressDlg)
        return false;
    try {
        std::unique_ptr<TProgressView> dlg = std::move(FProgressDlg);
        if (MessageBoxOwner() == dlg->Window())
            SetMessageBoxOwner(FPreviousBoxOwner);
        FPreviousBoxOwner = nullptr;
        dlg->StopAnimation();
        dlg.reset();
        UIServices().ProcessMessages();
        return true;
    } catch (...) {
        return false;
    }
}

bool TKVExportBaseComponent::ProgressCanceled() const
{
    return FProgressDlg ? FProgressDlg->IsCanceled() : CancelRequested;
}

void TKVExportBaseComponent::SetProgressCanceled(bool Value)
{
    if (FProgressDlg)
        FProgressDlg->SetCanceled(Value);
    else
        CancelRequested = Value;
}
