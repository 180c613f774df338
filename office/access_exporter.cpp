#include "access_exporter.h"

#include "cellfile/value_text.h"
#include "engine/db_data_engine.h"
#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/format_settings.h"
#include "framework/string_list.h"
#include "spec/text_utils.h"

#include <QString>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>
#include <cstdio>
#include <memory>

TMSAccessVersion DefaultAccessVersion = avAuto;

namespace {

constexpr int SystemObjectMask = static_cast<int>(0x80000002u);

// A database the engine reaches by connection name rather than as a file: it counts as
// existing, so that it is opened (with its password) before anything is created.
bool IsDatabaseUri(const std::string& Name)
{
    return Name.rfind("postgresql://", 0) == 0 || Name.rfind("postgres://", 0) == 0;
}

bool DatabaseExists(const std::string& Name)
{
    return IsDatabaseUri(Name) || FileExists(Name) || DirectoryExists(Name);
}

// Table names compare without regard to letter case, non-ASCII letters included.
bool SameText(const std::string& A, const std::string& B)
{
    return QString::fromUtf8(A.data(), static_cast<qsizetype>(A.size()))
               .compare(QString::fromUtf8(B.data(), static_cast<qsizetype>(B.size())), Qt::CaseInsensitive)
        == 0;
}

bool Present(const AutomationValue& Value) { return !Value.IsEmpty() && !Value.IsNull(); }

bool IsMemoField(const TField* Field)
{
    return Field->DataType() == ftMemo || Field->DataType() == ftFmtMemo || Field->DataType() == ftOraClob;
}

// Fields whose empty value is a value of its own (an empty text, no bytes) rather than
// no value.
bool IsTextField(const TField* Field)
{
    switch (Field->DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob:
    case ftVariant:
        return true;
    default:
        return IsBinaryFieldType(Field->IsBlob() ? Field->BlobType() : Field->DataType());
    }
}

} // namespace

TKVExportToAccess::TKVExportToAccess(QObject* AOwner)
    : TKVExportBaseComponent(AOwner)
{
    MSAccessVersion = DefaultAccessVersion;
    SetTableType(teAccess);
    UseCurrentInstance = false;
}

TKVExportToAccess::~TKVExportToAccess() = default;

void TKVExportToAccess::Assign(const TPersistent* Source)
{
    TKVExportBaseComponent::Assign(Source);
    if (auto* source = dynamic_cast<const TKVExportToAccess*>(Source)) {
        MSAccessVersion = source->MSAccessVersion;
        UseCurrentInstance = source->UseCurrentInstance;
        UserName = source->UserName;
        Password = source->Password;
        ReadAhead = source->ReadAhead;
    }
}

void TKVExportToAccess::InternalBeforeProcess()
{
    const std::string name = FileName();
    TKVExportBaseComponent::InternalBeforeProcess();
    // A database file here has no extension of its own (SQLite's are a custom, not a
    // rule): the name is used as given, and ".MDB" is never added to it.
    if (FileName() != name)
        SetFileName(name);
}

int TKVExportToAccess::DAOFieldType(TFieldType Type)
{
    switch (Type) {
    case ftBoolean: return dbBoolean;
    case ftSmallint:
    case ftWord: return dbInteger;
    case ftInteger:
    case ftAutoInc: return dbLong;
    case ftCurrency: return dbCurrency;
    case ftFloat:
    case ftBCD: return dbDouble;
    case ftDate:
    case ftTime:
    case ftDateTime: return dbDate;
    case ftTypedBinary: return dbBinary;
    case ftBytes:
    case ftVarBytes:
    case ftBlob:
    case ftGraphic:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftOraBlob: return dbLongBinary;
    case ftMemo:
    case ftFmtMemo:
    case ftOraClob: return dbMemo;
    case ftGuid: return dbGUID;
    case ftLargeint: return dbBigInt;
    default: return dbText;
    }
}

std::string TKVExportToAccess::CreationLocale()
{
    // The system's ANSI code page, found from its DOS code page (both follow the locale).
    int ansi = 1252;
    switch (OemCodePage()) {
    case 866: ansi = 1251; break;
    case 852: ansi = 1250; break;
    case 737: ansi = 1253; break;
    case 857: ansi = 1254; break;
    case 775: ansi = 1257; break;
    case 862: ansi = 1255; break;
    default: break;
    }
    return ";LANGID=0x0409;CP=" + std::to_string(ansi) + ";COUNTRY=0";
}

std::string TKVExportToAccess::GetFieldStr(TField* Field)
{
    if (!Field || Field->IsNull())
        return TKVExportBaseComponent::GetFieldStr(Field);
    switch (Field->DataType()) {
    case ftDate:
    case ftTime:
    case ftDateTime: {
        // ISO text, which the engine reads whatever the date order: years before 1000
        // keep their digits and milliseconds are kept.
        const double v = Field->AsDateTime();
        if (Field->DataType() != ftTime)
            return IsoText(v, true);
        return IsoTimeText(DateTimeParts(v));
    }
    default:
        break;
    }
    // A blob goes as its raw bytes (the field holds them whole).
    if (Field->IsBlob())
        return Field->AsString();
    const TFieldType type = Field->DataType();
    const bool number = type == ftFloat || type == ftCurrency || type == ftBCD;
    if (type == ftVariant && !Options.Contains(soFieldMask) && !BlankIfZero) {
        // A field typed value by value: each value's exact text, a number's with the run's point.
        std::string text = ExactValueText(Field->Value());
        if (const Variant v = Field->Value(); (v.VarType() == varDouble || v.VarType() == varCurrency)
                                               && FormatSettings().DecimalSeparator != ".")
            if (const std::size_t at = text.find('.'); at != std::string::npos)
                text.replace(at, 1, FormatSettings().DecimalSeparator);
        return text;
    }
    if (!number || Options.Contains(soFieldMask) || BlankIfZero)
        return TKVExportBaseComponent::GetFieldStr(Field);
    // Numbers go with every digit the engine reads back as the same value: a float as
    // the shortest text of its double, an amount with its four exact decimals.
    const Variant value = Field->Value();
    const std::string& point = FormatSettings().DecimalSeparator;
    auto decimalPoint = [&point](std::string Text) {
        const std::size_t at = Text.find('.');
        if (at != std::string::npos && point != ".")
            Text.replace(at, 1, point);
        return Text;
    };
    if (value.VarType() == varCurrency || (Field->DataType() == ftCurrency && value.VarType() == varDouble)) {
        const std::int64_t scaled = value.AsScaledCurrency();
        const unsigned long long magnitude =
            scaled < 0 ? 0ull - static_cast<unsigned long long>(scaled) : static_cast<unsigned long long>(scaled);
        char buf[48];
        std::snprintf(buf, sizeof buf, "%s%llu.%04llu", scaled < 0 ? "-" : "", magnitude / 10000, magnitude % 10000);
        return decimalPoint(buf);
    }
    if (value.VarType() == varDouble && Field->DataType() != ftCurrency) {
        char buf[40];
        const auto r = std::to_chars(buf, buf + sizeof buf, value.AsDouble());
        return decimalPoint(std::string(buf, r.ptr));
    }
    return TKVExportBaseComponent::GetFieldStr(Field);
}

void TKVExportToAccess::GetEngine()
{
    auto create = [this](const char* progId) { FEngine = CreateAutomationObject(progId); };
    auto attach = [this](const char* progId) { FEngine = GetActiveAutomationObject(progId); };
    // The named version: a failure leaves the engine empty, and the first call on it fails.
    auto one = [&](const char* progId) {
        if (UseCurrentInstance) {
            try {
                attach(progId);
                return;
            } catch (const Exception&) {
            }
        }
        try {
            create(progId);
        } catch (const Exception&) {
        }
    };
    switch (MSAccessVersion) {
    case avAccess97:
        one("DAO.DBEngine.35");
        return;
    case avAccess2000:
        one("DAO.DBEngine.36");
        return;
    case avAuto:
        break;
    }
    if (UseCurrentInstance) {
        try {
            attach("DAO.DBEngine.36");
            return;
        } catch (const Exception&) {
        }
        try {
            attach("DAO.DBEngine.35");
            return;
        } catch (const Exception&) {
        }
    }
    try {
        create("DAO.DBEngine.36");
    } catch (const Exception&) {
        create("DAO.DBEngine.35");
    }
}

void TKVExportToAccess::OpenOrCreateDatabase()
{
    const std::string& name = FileName();
    bool opened = false;
    std::string openFailure;
    FCreatedDatabase = false;
    if (DatabaseExists(name)) {
        try {
            if (Password.empty())
                FDatabase = FEngine.Call("OpenDatabase", {AutomationValue(name)});
            else
                FDatabase = FEngine.Call("OpenDatabase",
                                         {Named("Name", AutomationValue(name)), Named("Connect", ";PWD=" + Password)});
            opened = true;
        } catch (const Exception& e) {
            FDatabase = AutomationValue();
            openFailure = e.Message();
        }
    }
    if (!opened) {
        AutomationValue locale(CreationLocale());
        try {
            FDatabase = FEngine.Call("CreateDatabase", {AutomationValue(name), ByRef(locale), 0});
        } catch (const Exception&) {
            // Creating fails over something that exists: why it could not be opened is
            // the cause worth telling (locked, not a database, a folder, no access).
            if (!openFailure.empty())
                throw Exception(openFailure);
            throw;
        }
        FCreatedDatabase = !IsDatabaseUri(name);
    }
}

std::string TKVExportToAccess::FieldNameOf(TKVEColumn* Column, TFont* Font)
{
    std::string name = Options.Contains(soUseFieldNameAsCaption) ? Column->FieldName : Column->Title().Caption;
    if (OnGetCellParams) {
        Font->Assign(&Column->Title().Font());
        TAlignment alignment = Column->Title().Alignment;
        TColor color = Column->Title().Color;
        TCellType cellType = ctString;
        OnGetCellParams(this, nullptr, name, Font, alignment, color, cellType);
    }
    if (CharacterSet == csASCII_MSDOS)
        name = UECode(true, name);
    return name;
}

void TKVExportToAccess::Prepare()
{
    FUntyped.clear();
    if (TableName.empty())
        throw Exception(FormatMessage(GetLanguageString(0), "TableName"));
    bool inTransaction = false;
    auto font = std::make_unique<TFont>();
    try {
        GetEngine();
        OpenOrCreateDatabase();
        FEngine.Call("BeginTrans");
        inTransaction = true;

        bool merge = false;
        AutomationValue tables = FDatabase.Call("TableDefs");
        const int count = tables.Call("Count").ToInteger();
        // The table of exactly that name, else the first whose name differs only in
        // letter case: where a database holds both (PostgreSQL can), the other one is
        // never touched.
        std::string existing;
        for (int i = 0; i < count; ++i) {
            const std::string name = tables.Get("Item", {i}).Call("Name").ToString();
            if (name == TableName) {
                existing = name;
                break;
            }
            if (existing.empty() && SameText(name, TableName))
                existing = name;
        }
        if (Options.Contains(soMergeData) && !existing.empty()) {
            TableName = existing;
            merge = true;
        }
        if (!merge) {
            if (!existing.empty())
                tables.Call("Delete", {AutomationValue(existing)});
            FCellFont = font.get();
            CreateTable();
        }

        FRecordset = FDatabase.Call("OpenRecordset", {AutomationValue(TableName), 1, 0, 2});
        FCellFont = font.get();
        {
            // Position and controls come back however the walk ends.
            TKVEEngineWalk walk(SourceEngine());
            WriteRows(!merge);
            walk.Finish();
        }
        FRecordset.Call("Close");
        FRecordset = AutomationValue();
        FEngine.Call("CommitTrans");
        inTransaction = false;
        for (const std::string& column : FUntyped)
            Statistic().Warnings.push_back("column " + column + ": its source gave no type before its first value, so "
                                           "it was created as text and its numbers are stored as text");
        FUntyped.clear();
        font.reset();
        FCellFont = nullptr;
        FDatabase.Call("Close");
        FDatabase = AutomationValue();
        FEngine = AutomationValue();
    } catch (...) {
        // Nothing of the failed write stays: the transaction is rolled back before the
        // database is closed. The failure being handled is the one that goes on.
        font.reset();
        FCellFont = nullptr;
        FRecordset = AutomationValue();
        if (inTransaction && Present(FEngine)) {
            try {
                FEngine.Call("Rollback");
            } catch (...) {
            }
        }
        if (Present(FDatabase)) {
            try {
                FDatabase.Call("Close");
            } catch (...) {
            }
        }
        FDatabase = AutomationValue();
        FEngine = AutomationValue();
        // A database file this run created holds nothing of a failed run.
        if (FCreatedDatabase) {
            FCreatedDatabase = false;
            DeleteFile(FileName());
        }
        throw;
    }
    FCreatedDatabase = false;
}

void TKVExportToAccess::CreateTable()
{
    AutomationValue table = FDatabase.Call("CreateTableDef", {AutomationValue(TableName), 0, "", ""});
    TKVECustomDataEngine* engine = SourceEngine();
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        if (!column->Visible)
            continue;
        AutomationValue name(FieldNameOf(column, FCellFont));
        TField* field = column->ColumnKind == ckField ? engine->FindFieldByColumn(column) : nullptr;
        AutomationValue newField;
        if (field) {
            // A memo is text of any length; other large objects keep their bytes.
            if (field->IsBlob() && !IsMemoField(field)) {
                newField = table.Call("CreateField", {ByRef(name), dbLongBinary, 0});
                newField.Put("Attributes", 2);
            } else {
                const int type = Options.Contains(soFieldMask) ? dbText : DAOFieldType(field->DataType());
                newField = table.Call("CreateField", {ByRef(name), type, field->Size()});
                if (field->DataType() == ftVariant)
                    FUntyped.push_back(name.ToString());
            }
            newField.Put("Required", field->Required());
        } else if (column->ColumnKind == ckConstant) {
            if (column->DataType == ctMEMO || column->DataType == ctGraphic) {
                AutomationValue fieldName(column->FieldName);
                newField = table.Call("CreateField", {ByRef(fieldName), dbLongBinary, 0});
                newField.Put("Attributes", 2);
            } else {
                newField = table.Call("CreateField",
                                      {ByRef(name), DAOFieldType(CellType2FieldType(column->DataType)), column->Width});
            }
            newField.Put("Required", false);
        } else {
            newField = table.Call("CreateField",
                                  {ByRef(name), DAOFieldType(engine->DataTypeByColumn(column)), column->Width});
            newField.Put("Required", engine->RequiredByColumn(column));
        }
        table.Call("Fields").Call("Append", {ByRef(newField)});
    }
    FDatabase.Call("TableDefs").Call("Append", {table});
}

// What a visible column puts into the record's field, worked out once for the run.
struct TKVExportToAccess::TTargetColumn {
    TKVEColumn* Column = nullptr;
    TField* Field = nullptr;    // the source field of a ckField column, if any
    bool TextField = false;     // an empty text of the field is a value, not null
    bool FieldBytes = false;    // a value of the field goes as a byte array
    bool ColumnBytes = false;   // a value without a field goes as a byte array
    TTypedValue Typed = tvText; // how a value of the field may go without its text
    AutomationValue Target;     // the record's field, taken at the first record
    AutomationValue Value;      // the value put, its text storage kept from record to record
};

TKVExportToAccess::TTypedValue TKVExportToAccess::TypedValueOf(const TField* Field, bool Created) const
{
    // Only where nothing may change a value's text: the handlers, the code page, the
    // field mask and blank-if-zero all work on texts.
    if (!Field || OnGetCellParams || CharacterSet == csASCII_MSDOS || Options.Contains(soFieldMask) || BlankIfZero)
        return tvText;
    // A text is its own text, put from where the source holds it; a number or date goes
    // as itself only into a field this run created for its type.
    switch (Field->DataType()) {
    case ftString:
    case ftFixedChar:
    case ftWideString:
    case ftMemo:
        return OnGetFieldText ? tvText : tvString;
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftAutoInc:
    case ftLargeint:
        return Created && !OnGetFieldText ? tvInteger : tvText;
    case ftFloat: return Created ? tvDouble : tvText;
    case ftDate:
    case ftDateTime: return Created ? tvDateTime : tvText;
    default: return tvText;
    }
}

bool TKVExportToAccess::TypedValue(TTypedValue Typed, const Variant& Source, AutomationValue& Value)
{
    switch (Typed) {
    case tvText:
        return false;
    case tvString:
        if (Source.VarType() != varString)
            return false;
        Value.SetText(Source.StringRef());
        return true;
    case tvInteger:
        // A 32-bit value is the integer the bridge carries; a larger one goes as text.
        if (Source.VarType() != varInteger || Source.AsInteger() < INT32_MIN || Source.AsInteger() > INT32_MAX)
            return false;
        Value = AutomationValue(static_cast<int>(Source.AsInteger()));
        return true;
    case tvDouble:
        // The text path refuses what is not a finite number; so does this one.
        if (Source.VarType() != varDouble || !std::isfinite(Source.AsDouble()))
            return false;
        Value = AutomationValue(Source.AsDouble());
        return true;
    case tvDateTime:
        // Days since 1899-12-30, which the engine stores as the same date and time
        // (milliseconds included) that the ISO text would give.
        if (Source.VarType() != varDate && Source.VarType() != varDouble)
            return false;
        Value = AutomationValue(Source.AsDateTime());
        return true;
    }
    return false;
}

namespace {

// Rows of put values read from the source on a thread of their own, handed over in
// batches: while the engine stores one batch the next is read. A failure while reading
// comes after the rows read before it, and is raised where the row would have been.
class TRowsAhead {
public:
    struct Batch {
        std::vector<AutomationValue> Values; // row by row, a value per target column
        std::vector<int> RecordCounts;       // the source's record count as each row was read
        std::size_t Rows = 0;
        bool End = false;             // no row follows these
        std::exception_ptr Failure;   // why no row follows these
    };
    static constexpr std::size_t BatchRows = 512;

    // Read fills row Row of the batch and moves the source on; false at the source's end.
    TRowsAhead(std::size_t Columns, std::function<bool(Batch&, std::size_t)> Read) : FRead(std::move(Read))
    {
        for (Batch& b : FBatches) {
            b.Values.resize(Columns * BatchRows);
            b.RecordCounts.resize(BatchRows);
            FFree.push_back(&b);
        }
        FThread = std::thread([this] { Run(); });
    }
    ~TRowsAhead() { Stop(); }
    TRowsAhead(const TRowsAhead&) = delete;
    TRowsAhead& operator=(const TRowsAhead&) = delete;

    // The next batch read; Done (the batch before, or null) goes back to be filled again.
    Batch* Next(Batch* Done)
    {
        std::unique_lock<std::mutex> guard(FLock);
        if (Done)
            FFree.push_back(Done);
        FChanged.notify_all();
        FChanged.wait(guard, [this] { return !FReady.empty(); });
        Batch* b = FReady.front();
        FReady.pop_front();
        return b;
    }

    // Ends the reading; the source stays where the reading left it.
    void Stop()
    {
        {
            std::lock_guard<std::mutex> guard(FLock);
            FStop = true;
        }
        FChanged.notify_all();
        if (FThread.joinable())
            FThread.join();
    }

private:
    void Run()
    {
        for (;;) {
            Batch* b = nullptr;
            {
                std::unique_lock<std::mutex> guard(FLock);
                FChanged.wait(guard, [this] { return FStop || !FFree.empty(); });
                if (FStop)
                    return;
                b = FFree.front();
                FFree.pop_front();
            }
            b->Rows = 0;
            b->End = false;
            b->Failure = nullptr;
            try {
                while (b->Rows < BatchRows && !b->End) {
                    if (FRead(*b, b->Rows))
                        ++b->Rows;
                    else
                        b->End = true;
                }
            } catch (...) {
                b->Failure = std::current_exception();
                b->End = true;
            }
            const bool end = b->End;
            {
                std::lock_guard<std::mutex> guard(FLock);
                FReady.push_back(b);
            }
            FChanged.notify_all();
            if (end)
                return;
        }
    }

    std::function<bool(Batch&, std::size_t)> FRead;
    Batch FBatches[3];
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<Batch*> FFree, FReady;
    bool FStop = false;
    std::thread FThread;
};

} // namespace

void TKVExportToAccess::SourceValue(TTargetColumn& T, bool DataRow, std::string& Text, AutomationValue& Value)
{
    TKVEColumn* column = T.Column;
    TField* field = DataRow ? T.Field : nullptr;
    if (field && T.Typed != tvText) {
        Variant holder;
        const Variant& source = field->CurrentValue(holder);
        if (!source.IsNull() && TypedValue(T.Typed, source, Value))
            return;
    }
    if (field)
        Text = GetFieldStr(field);
    else if (column->ColumnKind == ckConstant)
        Text = column->FieldName;
    else
        Text = VarToStr(SourceEngine()->GetFieldValue(column));
    if (OnGetCellParams) {
        FCellFont->Assign(&column->Font());
        TAlignment alignment = column->Alignment;
        TColor color = column->Color;
        TCellType cellType = ctString;
        OnGetCellParams(this, field, Text, FCellFont, alignment, color, cellType);
    }
    if (CharacterSet == csASCII_MSDOS)
        Text = UECode(true, Text);
    // A source field is null exactly when it is null: an empty text stays an empty
    // text. Other columns are null when their text is empty.
    const bool null = field ? field->IsNull() || (Text.empty() && !T.TextField) : Text.empty();
    const bool bytes = field ? T.FieldBytes : T.ColumnBytes;
    Value = null ? AutomationValue::Null()
        : bytes  ? AutomationValue::ByteArray(std::move(Text))
                 : AutomationValue(std::move(Text));
    Text.clear();
}

void TKVExportToAccess::PutRecord(std::vector<TTargetColumn>& Targets, AutomationValue* Values, bool First)
{
    FRecordset.Call("AddNew");
    for (std::size_t k = 0; k < Targets.size(); ++k) {
        TTargetColumn& t = Targets[k];
        // The record's fields stay the same objects from record to record.
        if (First) {
            AutomationValue ordinal(static_cast<int>(k));
            t.Target = FRecordset.Get("Fields", {ByRef(ordinal)});
        }
        t.Target.PutRef("Value", Values ? Values[k] : t.Value);
    }
    FRecordset.Call("Update", {1, false});
}

void TKVExportToAccess::WriteRows(bool CreatedTable)
{
    TKVECustomDataEngine* engine = SourceEngine();
    engine->First();
    Statistic().TotalCount = 0;
    const std::string exporting = AnimatedStatus ? GetLanguageString(8) : std::string();

    std::vector<TTargetColumn> targets;
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        if (!column->Visible)
            continue;
        TTargetColumn t;
        t.Column = column;
        if (column->ColumnKind == ckField)
            t.Field = engine->FindFieldByColumn(column);
        t.TextField = t.Field && IsTextField(t.Field);
        t.FieldBytes = t.Field && t.Field->IsBlob() && !IsMemoField(t.Field);
        t.ColumnBytes = column->DataType == ctMEMO || column->DataType == ctGraphic;
        t.Typed = TypedValueOf(t.Field, CreatedTable);
        targets.push_back(std::move(t));
    }
    if (ReadAhead && !OnBeforeRecord && !OnAfterRecord && !OnGetCellParams && !OnGetFieldText && !AnimatedStatus
        && dynamic_cast<TKVEDatasetDataEngine*>(engine)) {
        WriteRowsAhead(targets);
        return;
    }

    std::string text;
    bool firstRecord = true;
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
            const bool dataRow = engine->IsDataRow(Statistic().TotalCount - 1);
            for (TTargetColumn& t : targets)
                SourceValue(t, dataRow, text, t.Value);
            PutRecord(targets, nullptr, firstRecord);
            firstRecord = false;
        }
        engine->Next();
        bool abort = false;
        if (OnAfterRecord)
            OnAfterRecord(this, abort);
        if (abort)
            SetProgressCanceled(true);
    }
}

void TKVExportToAccess::WriteRowsAhead(std::vector<TTargetColumn>& Targets)
{
    // No handler sees the source while it is read on the other thread: every row is
    // accepted, and the record count OnProgress gets is the one read with the row.
    TKVECustomDataEngine* engine = SourceEngine();
    const std::size_t columns = Targets.size();
    int index = 0;
    std::string text;
    TRowsAhead ahead(columns, [&](TRowsAhead::Batch& B, std::size_t Row) {
        if (engine->Eof())
            return false;
        B.RecordCounts[Row] = OnProgress ? engine->RecordCount() : 0;
        const bool dataRow = engine->IsDataRow(index);
        for (std::size_t k = 0; k < columns; ++k)
            SourceValue(Targets[k], dataRow, text, B.Values[Row * columns + k]);
        ++index;
        engine->Next();
        return true;
    });
    TRowsAhead::Batch* batch = nullptr;
    std::size_t row = 0;
    bool firstRecord = true;
    while (!ProgressCanceled()) {
        if (!batch || row == batch->Rows) {
            if (batch && batch->End) {
                if (batch->Failure)
                    std::rethrow_exception(batch->Failure);
                break;
            }
            batch = ahead.Next(batch);
            row = 0;
            continue;
        }
        if (OnProgress) {
            bool abort = false;
            OnProgress(this, Statistic().TotalCount, batch->RecordCounts[row], abort);
            if (abort)
                SetProgressCanceled(true);
        }
        ++Statistic().TotalCount;
        PutRecord(Targets, batch->Values.data() + row * columns, firstRecord);
        firstRecord = false;
        ++row;
    }
}

void GetTableNames(TStringList* List, const std::string& DatabaseName)
{
    if (DatabaseName.empty())
        throw Exception(FormatMessage(strPropertyError, "DatabaseName"));
    List->Clear();
    if (!DatabaseExists(DatabaseName))
        return;
    AutomationValue engine;
    try {
        engine = CreateAutomationObject("DAO.DBEngine.36");
    } catch (const Exception&) {
        engine = CreateAutomationObject("DAO.DBEngine.35");
    }
    AutomationValue database;
    try {
        database = engine.Call("OpenDatabase", {AutomationValue(DatabaseName)});
        AutomationValue tables = database.Call("TableDefs");
        const int count = tables.Call("Count").ToInteger();
        for (int i = 0; i < count; ++i) {
            AutomationValue table = tables.Get("Item", {i});
            if ((table.Call("Attributes").ToInteger() & SystemObjectMask) == 0)
                List->Add(table.Call("Name").ToString());
        }
    } catch (const Exception&) {
    }
    try {
        if (Present(database))
            database.Call("Close");
    } catch (const Exception&) {
    }
}
