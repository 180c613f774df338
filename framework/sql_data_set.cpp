#include "sql_data_set.h"

#include "exceptions.h"

#include <QDate>
#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlRecord>
#include <QSqlResult>
#include <QTime>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int PageSize = 128;
// Julian day number of 1899-12-30, day 0 of a date-time value.
constexpr qint64 DateTimeEpochJulianDay = 2415019;

std::string Upper(std::string S)
{
    for (char& c : S)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return S;
}

std::string Lower(std::string S)
{
    for (char& c : S)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return S;
}

bool Contains(const std::string& S, const char* Part)
{
    return S.find(Part) != std::string::npos;
}

bool StartsWith(const std::string& S, const char* Prefix)
{
    return S.rfind(Prefix, 0) == 0;
}

// The numbers in the parentheses of a declared type: "NUMERIC(10,2)" gives 10 and 2.
void TypeArguments(const std::string& S, int& A, int& B)
{
    A = B = -1;
    const std::size_t open = S.find('(');
    if (open == std::string::npos)
        return;
    std::sscanf(S.c_str() + open + 1, "%d , %d", &A, &B);
}

QString Q(const std::string& S)
{
    return QString::fromUtf8(S.data(), static_cast<qsizetype>(S.size()));
}

std::string U8(const QString& S)
{
    const QByteArray b = S.toUtf8();
    return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

double DateToSerial(const QDate& D)
{
    return static_cast<double>(D.toJulianDay() - DateTimeEpochJulianDay);
}

double TimeToSerial(const QTime& T)
{
    return T.msecsSinceStartOfDay() / 86400000.0;
}

// A PostgreSQL column's type name (with length and scale) from its type id.
std::string PostgresTypeName(const QSqlField& F)
{
    const int len = F.length();
    switch (F.typeID()) {
    case 16: return "BOOLEAN";
    case 17: return "BYTEA";
    case 18:
    case 19: return "CHAR(" + std::to_string(len > 0 ? len : 64) + ")";
    case 20: return "BIGINT";
    case 21: return "SMALLINT";
    case 23:
    case 26: return "INTEGER";
    case 25:
    case 114:
    case 3802: return "TEXT";
    case 700: return "FLOAT4";
    case 701: return "FLOAT8";
    case 790: return "MONEY";
    case 1042:
    case 1043: return len > 0 ? "VARCHAR(" + std::to_string(len) + ")" : "VARCHAR";
    case 1082: return "DATE";
    case 1083:
    case 1266: return "TIME";
    case 1114:
    case 1184: return "TIMESTAMP";
    case 1700:
        return len > 0 ? "NUMERIC(" + std::to_string(len) + "," + std::to_string(std::max(F.precision(), 0)) + ")"
                       : "NUMERIC";
    case 2950: return "UUID";
    default: return {};
    }
}

TFieldType FieldTypeFromMetaType(const QMetaType& T)
{
    switch (T.id()) {
    case QMetaType::Bool: return ftBoolean;
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::UChar: return ftSmallint;
    case QMetaType::Int:
    case QMetaType::UInt: return ftInteger;
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: return ftLargeint;
    case QMetaType::Float:
    case QMetaType::Double: return ftFloat;
    case QMetaType::QDate: return ftDate;
    case QMetaType::QTime: return ftTime;
    case QMetaType::QDateTime: return ftDateTime;
    case QMetaType::QByteArray: return ftBlob;
    default: return ftString;
    }
}

bool IsIntegerType(TFieldType T)
{
    return T == ftSmallint || T == ftInteger || T == ftWord || T == ftAutoInc || T == ftLargeint;
}

[[noreturn]] void BadValue(const QVariant& Value, const char* Kind, const TField& Field)
{
    throw EConvertError("'" + U8(Value.toString()) + "' is not a valid " + Kind + " value for field '" +
                        Field.FieldName() + "'");
}

// A decimal text ("-1234.5", "$1,234.50", "(12.00)") as an amount scaled by 10000,
// rounded half away from zero; false when it holds no digits or too many.
bool ParseScaledDecimal(const std::string& Text, std::int64_t& Scaled)
{
    bool negative = false, point = false, digits = false;
    std::int64_t whole = 0;
    int decimals = 0;
    int roundDigit = -1;
    for (char c : Text) {
        if (c == '-' || c == '(') {
            negative = true;
        } else if (c == '.') {
            if (point)
                return false;
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (!point) {
                if (whole > (INT64_MAX / 10 - 9) / 10000)
                    return false;
                whole = whole * 10 + (c - '0');
            } else if (decimals < 4) {
                whole = whole * 10 + (c - '0');
                ++decimals;
            } else if (roundDigit < 0) {
                roundDigit = c - '0';
            }
        }
    }
    if (!digits)
        return false;
    for (; decimals < 4; ++decimals)
        whole *= 10;
    if (roundDigit >= 5)
        ++whole;
    Scaled = negative ? -whole : whole;
    return true;
}

// Reads Count digits at S[At]; false when they are not all digits.
bool Digits(const QString& S, qsizetype At, int Count, int& Value)
{
    if (At + Count > S.size())
        return false;
    Value = 0;
    for (int i = 0; i < Count; ++i) {
        const char16_t c = S[At + i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        Value = Value * 10 + (c - u'0');
    }
    return true;
}

// "HH:MM[:SS[.fff]]" at S[At] as a fraction of a day; At moves past it.
bool ParseIsoTime(const QString& S, qsizetype& At, double& Fraction)
{
    int h = 0, m = 0, sec = 0;
    if (!Digits(S, At, 2, h) || At + 2 >= S.size() || S[At + 2] != u':' || !Digits(S, At + 3, 2, m))
        return false;
    At += 5;
    double ms = 0;
    if (At < S.size() && S[At] == u':') {
        if (!Digits(S, At + 1, 2, sec))
            return false;
        At += 3;
        if (At < S.size() && (S[At] == u'.' || S[At] == u',')) {
            double scale = 100;
            ++At;
            while (At < S.size() && S[At] >= u'0' && S[At] <= u'9') {
                ms += (S[At].unicode() - u'0') * scale;
                scale /= 10;
                ++At;
            }
        }
    }
    if (h > 23 || m > 59 || sec > 59)
        return false;
    Fraction = ((h * 60 + m) * 60 + sec + ms / 1000) / 86400.0;
    return true;
}

// Dates and times that SQLite keeps as ISO text: "2024-01-31", "2024-01-31 12:30:00",
// "2024-01-31T12:30:00.250", "12:30:00". A zone suffix is ignored: the value is taken
// as written. Parsed by hand: the library's date-time parser consults the time zone
// for every value.
bool ParseIsoDateTime(const QString& Text, double& Serial)
{
    const QString s = Text.trimmed();
    qsizetype at = 0;
    double fraction = 0;
    if (s.size() >= 5 && s[2] == u':') {
        if (!ParseIsoTime(s, at, fraction) || at != s.size())
            return false;
        Serial = fraction;
        return true;
    }
    int y = 0, mo = 0, d = 0;
    if (!Digits(s, 0, 4, y) || s.size() < 10 || s[4] != u'-' || !Digits(s, 5, 2, mo) || s[7] != u'-' ||
        !Digits(s, 8, 2, d))
        return false;
    const QDate date(y, mo, d);
    if (!date.isValid())
        return false;
    at = 10;
    if (at < s.size()) {
        if ((s[at] != u' ' && s[at] != u'T') || !ParseIsoTime(s, ++at, fraction))
            return false;
        if (at < s.size() && s[at] != u'Z' && s[at] != u'+' && s[at] != u'-')
            return false;
    }
    Serial = DateToSerial(date) + fraction;
    return true;
}

// Bookmark parts: a tag letter, the payload length, ':' and the payload.
void AppendPart(std::string& Out, char Tag, const std::string& Payload)
{
    Out += Tag;
    Out += std::to_string(Payload.size());
    Out += ':';
    Out += Payload;
}

} // namespace

TFieldType FieldTypeFromSqlType(const std::string& DeclaredType, int& Size, int& Precision)
{
    Size = 0;
    Precision = -1;
    std::string t = Upper(DeclaredType);
    t.erase(0, t.find_first_not_of(" \t"));
    if (t.empty())
        return ftUnknown;
    int a = -1, b = -1;
    TypeArguments(t, a, b);
    if (Contains(t, "BOOL"))
        return ftBoolean;
    if (Contains(t, "INTERVAL"))
        return ftString;
    if (StartsWith(t, "BIGINT") || StartsWith(t, "INT8") || StartsWith(t, "BIGSERIAL") || StartsWith(t, "SERIAL8"))
        return ftLargeint;
    if (StartsWith(t, "SMALLINT") || StartsWith(t, "INT2") || StartsWith(t, "TINYINT") || StartsWith(t, "SMALLSERIAL"))
        return ftSmallint;
    if (Contains(t, "INT") || StartsWith(t, "SERIAL"))
        return ftInteger;
    if (StartsWith(t, "TIMESTAMP") || StartsWith(t, "DATETIME"))
        return ftDateTime;
    if (StartsWith(t, "DATE"))
        return ftDate;
    if (StartsWith(t, "TIME"))
        return ftTime;
    if (Contains(t, "MONEY") || Contains(t, "CURRENCY"))
        return ftCurrency;
    if (StartsWith(t, "DECIMAL") || StartsWith(t, "NUMERIC") || StartsWith(t, "DEC(")) {
        const int scale = b < 0 ? 0 : b;
        if (a > 0 && a <= 18 && scale <= 4) {
            Size = scale;
            return ftBCD;
        }
        if (a > 0)
            Precision = std::min(a, 15);
        return ftFloat;
    }
    if (StartsWith(t, "FLOAT4")) {
        Precision = 7;
        return ftFloat;
    }
    if (Contains(t, "REAL") || Contains(t, "FLOA") || Contains(t, "DOUB"))
        return ftFloat;
    if (Contains(t, "BLOB") || Contains(t, "BYTEA") || Contains(t, "BINARY"))
        return ftBlob;
    if (Contains(t, "UUID") || Contains(t, "GUID")) {
        Size = 38;
        return ftGuid;
    }
    if (Contains(t, "TEXT") || Contains(t, "CLOB") || Contains(t, "MEMO"))
        return ftMemo;
    if (Contains(t, "CHAR")) {
        Size = a > 0 ? a : 0;
        return (StartsWith(t, "CHAR") || StartsWith(t, "BPCHAR") || StartsWith(t, "NCHAR")) &&
                       !Contains(t, "VARYING") && !Contains(t, "VARCHAR")
                   ? ftFixedChar
                   : ftString;
    }
    return ftUnknown;
}

// ---------------------------------------------------------------------------
// TSQLDataSet

TSQLDataSet::TSQLDataSet(QObject* AOwner)
    : TDataSet(AOwner)
{
}

TSQLDataSet::~TSQLDataSet()
{
    // The queries must go before a connection that may be removed after us.
    FCursor.reset();
}

void TSQLDataSet::SetDatabase(const QSqlDatabase& Database)
{
    SetConnectionName(Database.connectionName());
}

void TSQLDataSet::SetConnectionName(const QString& Value)
{
    Close();
    FConnectionName = Value;
}

void TSQLDataSet::SetSQL(const std::string& Value)
{
    Close();
    FSQL = Value;
}

void TSQLDataSet::SetTableName(const std::string& Value)
{
    Close();
    FTableName = Value;
}

void TSQLDataSet::SetKeyFields(const std::string& Value)
{
    Close();
    FKeyFields = Value;
}

void TSQLDataSet::SetFieldType(const std::string& FieldName, TFieldType Type)
{
    FTypeOverrides[Lower(FieldName)] = Type;
}

void TSQLDataSet::Refresh()
{
    Close();
    Open();
}

QSqlDatabase TSQLDataSet::Database() const
{
    const QString name = FConnectionName.isEmpty() ? QString::fromLatin1(QSqlDatabase::defaultConnection)
                                                   : FConnectionName;
    return QSqlDatabase::database(name, false);
}

std::string TSQLDataSet::SelectText() const
{
    if (!FSQL.empty()) {
        std::string s = FSQL;
        while (!s.empty() && (s.back() == ';' || std::isspace(static_cast<unsigned char>(s.back()))))
            s.pop_back();
        return s;
    }
    const QSqlDatabase db = Database();
    std::string s = "SELECT * FROM " + TableIdentifier();
    if (!FKeyIndexes.empty()) {
        // Walk a table in key order so that a position means the same record each time.
        s += " ORDER BY ";
        for (std::size_t i = 0; i < FKeyIndexes.size(); ++i) {
            if (i)
                s += ", ";
            s += U8(db.driver()->escapeIdentifier(Q(Fields(FKeyIndexes[i])->FieldName()), QSqlDriver::FieldName));
        }
    }
    return s;
}

std::string TSQLDataSet::TableIdentifier() const
{
    // A plain name (letters, digits, "_", "$", parts joined by ".") is written as it
    // stands, so that it means what it means in the database's own SQL (PostgreSQL
    // folds it to lower case, as Qt does when it describes the table); any other name
    // is quoted.
    bool plain = !FTableName.empty() && !std::isdigit(static_cast<unsigned char>(FTableName[0]));
    for (char c : FTableName)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '$' && c != '.')
            plain = false;
    if (plain)
        return FTableName;
    const QSqlDatabase db = Database();
    return U8(db.driver()->escapeIdentifier(Q(FTableName), QSqlDriver::TableName));
}

std::string TSQLDataSet::Wrapped(const char* Alias) const
{
    // On lines of their own, so that a comment ending the statement ends only there.
    return "SELECT * FROM (\n" + SelectText() + "\n) " + Alias;
}

void TSQLDataSet::InternalOpen()
{
    const QSqlDatabase db = Database();
    const std::string name = U8(db.connectionName());
    if (!db.isValid())
        throw Exception("There is no database connection \"" + name + "\"");
    if (!db.isOpen())
        throw Exception("The database connection \"" + name + "\" is not open");
    if (FSQL.empty() && FTableName.empty())
        throw Exception("The dataset has neither an SQL statement nor a table name");
    try {
        ClearFields();
        FKeyIndexes.clear();
        {
            // The description of the columns, without reading a row.
            QSqlQuery meta(db);
            meta.setForwardOnly(true);
            const std::string text = Wrapped("tabrix_meta") + " LIMIT 0";
            if (!meta.exec(Q(text)))
                throw Exception("Cannot open \"" + SelectText() + "\": " + U8(meta.lastError().text()));
            CreateFields(meta);
        }
        ResolveKeys();

        QSqlQuery count(db);
        const std::string countText = "SELECT COUNT(*) FROM (\n" + SelectText() + "\n) tabrix_count";
        if (!count.exec(Q(countText)) || !count.next())
            throw Exception("Cannot count the records: " + U8(count.lastError().text()));
        const qlonglong n = count.value(0).toLongLong();
        FCount = n > INT32_MAX ? INT32_MAX : static_cast<int>(n);
        count.finish();
        ExecCursor();

        FValues.assign(static_cast<std::size_t>(FieldCount()), Variant());
        FValueRead.assign(static_cast<std::size_t>(FieldCount()), false);
        FPage.clear();
        FPageStart = -1;
        FPos = -1;
        FSource = srNone;
        FBof = true;
        FEof = true;
        if (FCursor->next()) {
            FCursorPos = 0;
            FPos = 0;
            FSource = srCursor;
            FEof = false;
        } else {
            FCursorPos = -2;
        }
    } catch (...) {
        InternalClose();
        throw;
    }
}

void TSQLDataSet::InternalClose()
{
    FCursor.reset();
    FLookupRow.clear();
    FPage.clear();
    FPageStart = -1;
    FPos = -1;
    FCursorPos = -1;
    FSource = srNone;
    FEof = FBof = true;
    FCount = 0;
    FKeyIndexes.clear();
    ClearFields();
}

void TSQLDataSet::ExecCursor()
{
    const QSqlDatabase db = Database();
    FCursor = std::make_unique<QSqlQuery>(db);
    FCursor->setForwardOnly(true);
    const std::string text = SelectText();
    if (!FCursor->exec(Q(text)))
        throw Exception("Cannot open \"" + text + "\": " + U8(FCursor->lastError().text()));
    if (!FCursor->isSelect())
        throw Exception("The statement \"" + text + "\" returns no records");
    FCursorPos = -1;
}

void TSQLDataSet::CreateFields(const QSqlQuery& Query)
{
    const QSqlDatabase db = Database();
    const QSqlRecord rec = Query.record();
    // A table's own description knows required columns that a query result may not.
    const QSqlRecord table = FSQL.empty() ? db.record(Q(FTableName)) : QSqlRecord();
    const QSqlDriver::DbmsType dbms = db.driver()->dbmsType();
    sqlite3_stmt* stmt = nullptr;
    if (dbms == QSqlDriver::SQLite) {
        const QVariant h = Query.result()->handle();
        if (h.isValid() && std::strcmp(h.typeName(), "sqlite3_stmt*") == 0)
            stmt = *static_cast<sqlite3_stmt* const*>(h.constData());
    }
    for (int i = 0; i < rec.count(); ++i) {
        const QSqlField f = rec.field(i);
        std::string declared;
        if (stmt) {
            if (const char* d = sqlite3_column_decltype(stmt, i))
                declared = d;
        } else if (dbms == QSqlDriver::PostgreSQL) {
            declared = PostgresTypeName(f);
        }
        int size = 0, precision = -1;
        TFieldType type = FieldTypeFromSqlType(declared, size, precision);
        if (type == ftUnknown) {
            type = FieldTypeFromMetaType(f.metaType());
            if (type == ftString && f.length() > 0 && f.length() < 65536)
                size = f.length();
        }
        if ((type == ftString || type == ftFixedChar) && size <= 0)
            size = 20;
        const QSqlField described = table.contains(f.name()) ? table.field(f.name()) : f;
        // PostgreSQL serial columns take their values from a sequence.
        const bool autoValue =
            described.isAutoValue() || described.defaultValue().toString().startsWith(QLatin1String("nextval("));
        if (autoValue && type == ftInteger)
            type = ftAutoInc;
        // A result may repeat a column name (a join); later ones get a number.
        std::string fieldName = U8(f.name());
        if (fieldName.empty())
            fieldName = "Column" + std::to_string(i + 1);
        for (int n = 1; FindField(fieldName); ++n)
            fieldName = U8(f.name()) + "_" + std::to_string(n);
        if (auto it = FTypeOverrides.find(Lower(fieldName)); it != FTypeOverrides.end())
            type = it->second;
        TField* field = AddFieldObject(std::make_unique<TField>(this, fieldName, type, size));
        field->SetRequired(described.requiredStatus() == QSqlField::Required && !autoValue);
        field->SetReadOnly(described.isReadOnly() || autoValue);
        if (precision >= 0)
            field->SetPrecision(precision);
    }
}

void TSQLDataSet::ResolveKeys()
{
    std::vector<std::string> names;
    if (!FKeyFields.empty()) {
        std::size_t start = 0;
        while (start <= FKeyFields.size()) {
            std::size_t end = FKeyFields.find(';', start);
            if (end == std::string::npos)
                end = FKeyFields.size();
            std::string n = FKeyFields.substr(start, end - start);
            n.erase(0, n.find_first_not_of(' '));
            n.erase(n.find_last_not_of(' ') + 1);
            if (!n.empty())
                names.push_back(n);
            start = end + 1;
        }
    } else if (FSQL.empty()) {
        const QSqlIndex pk = Database().primaryIndex(Q(FTableName));
        for (int i = 0; i < pk.count(); ++i)
            names.push_back(U8(pk.fieldName(i)));
    }
    for (const std::string& n : names) {
        TField* f = FindField(n);
        if (!f)
            throw Exception("Key field '" + n + "' not found");
        FKeyIndexes.push_back(f->Index());
    }
}

void TSQLDataSet::CursorDisturbed()
{
    // A PostgreSQL connection streams one result at a time: another statement ends
    // the walk's result, which must then be run again.
    if (FCursor && Database().driver()->dbmsType() == QSqlDriver::PostgreSQL)
        FCursorPos = -2;
}

bool TSQLDataSet::SeekCursor(int Pos)
{
    if (!FCursor || FCursorPos == -2 || FCursorPos > Pos)
        ExecCursor();
    while (FCursorPos < Pos) {
        if (!FCursor->next()) {
            FCursorPos = -2;
            return false;
        }
        ++FCursorPos;
    }
    return true;
}

void TSQLDataSet::MovedTo(int Pos, TSource Source)
{
    FPos = Pos;
    FSource = Source;
    std::fill(FValueRead.begin(), FValueRead.end(), false);
    NotifyRecordMoved();
}

void TSQLDataSet::First()
{
    CheckActive();
    if (FCursorPos != 0 && FCursorPos != -1)
        ExecCursor();
    if (FCursorPos == 0 || FCursor->next()) {
        FCursorPos = 0;
        FBof = true;
        FEof = false;
        MovedTo(0, srCursor);
    } else {
        FCursorPos = -2;
        FPos = -1;
        FSource = srNone;
        FBof = FEof = true;
    }
}

void TSQLDataSet::Next()
{
    CheckActive();
    if (FPos < 0) {
        FEof = true;
        return;
    }
    const int target = FPos + 1;
    bool found;
    if (FSource == srCursor && FCursorPos == FPos) {
        found = FCursor->next();
        FCursorPos = found ? target : -2;
    } else {
        found = SeekCursor(target);
    }
    if (found) {
        FBof = FEof = false;
        MovedTo(target, srCursor);
    } else {
        FEof = true;
    }
}

void TSQLDataSet::Prior()
{
    CheckActive();
    if (FPos <= 0) {
        FBof = true;
        FEof = FPos < 0;
        return;
    }
    const int target = FPos - 1;
    if (!SeekCursor(target))
        throw Exception("Record not found");
    FBof = FEof = false;
    MovedTo(target, srCursor);
}

void TSQLDataSet::Last()
{
    CheckActive();
    int target = FCount - 1;
    if (target >= 0 && SeekCursor(target)) {
        MovedTo(target, srCursor);
        FBof = false;
    } else {
        FPos = -1;
        FSource = srNone;
        FBof = true;
    }
    FEof = true;
}

int TSQLDataSet::RecordCount() const
{
    CheckActive();
    return FCount;
}

int TSQLDataSet::RecNo() const
{
    return Active() ? FPos + 1 : 0;
}

QVariant TSQLDataSet::CurrentValue(int Index) const
{
    if (FSource == srLookup)
        return FLookupRow[static_cast<std::size_t>(Index)];
    if (FCursorPos != FPos && !const_cast<TSQLDataSet*>(this)->SeekCursor(FPos))
        throw Exception("Record not found");
    return FCursor->value(Index);
}

Variant TSQLDataSet::GetFieldValue(const TField& Field) const
{
    if (FPos < 0 || FSource == srNone)
        return Variant::Null();
    const std::size_t i = static_cast<std::size_t>(Field.Index());
    if (!FValueRead[i]) {
        FValues[i] = ConvertValue(Field, CurrentValue(Field.Index()));
        FValueRead[i] = true;
    }
    return FValues[i];
}

Variant TSQLDataSet::ConvertValue(const TField& Field, const QVariant& Value) const
{
    if (Value.isNull() || !Value.isValid())
        return Variant::Null();
    const TFieldType type = Field.DataType();
    const int id = Value.metaType().id();
    if (IsIntegerType(type)) {
        bool ok = false;
        const qlonglong v = Value.toLongLong(&ok);
        if (!ok)
            BadValue(Value, "integer", Field);
        return Variant(static_cast<long long>(v));
    }
    switch (type) {
    case ftFloat: {
        bool ok = false;
        const double v = Value.toDouble(&ok);
        if (!ok)
            BadValue(Value, "floating-point", Field);
        return Variant(v);
    }
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd: {
        if (id == QMetaType::Double || id == QMetaType::Float) {
            return Variant::FromCurrency(Value.toDouble());
        }
        std::int64_t scaled = 0;
        if (!ParseScaledDecimal(U8(Value.toString()), scaled))
            BadValue(Value, "decimal", Field);
        return Variant::FromScaledCurrency(scaled);
    }
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp: {
        double serial = 0;
        if (id == QMetaType::QDate)
            serial = DateToSerial(Value.toDate());
        else if (id == QMetaType::QTime)
            serial = TimeToSerial(Value.toTime());
        else if (id == QMetaType::QDateTime)
            serial = DateToSerial(Value.toDateTime().date()) + TimeToSerial(Value.toDateTime().time());
        else if (id != QMetaType::QString || !ParseIsoDateTime(Value.toString(), serial))
            BadValue(Value, "date and time", Field);
        if (type == ftDate)
            serial = std::trunc(serial);
        else if (type == ftTime)
            serial = std::fabs(serial - std::trunc(serial));
        return Variant::FromDateTime(serial);
    }
    case ftBoolean: {
        if (id == QMetaType::QString) {
            const QString s = Value.toString().trimmed().toLower();
            if (s == u"true" || s == u"t" || s == u"1" || s == u"yes" || s == u"y")
                return Variant(true);
            if (s == u"false" || s == u"f" || s == u"0" || s == u"no" || s == u"n" || s.isEmpty())
                return Variant(false);
            BadValue(Value, "Boolean", Field);
        }
        return Variant(Value.toBool());
    }
    default:
        if (id == QMetaType::QByteArray) {
            const QByteArray b = Value.toByteArray();
            return Variant(std::string(b.constData(), static_cast<std::size_t>(b.size())));
        }
        return Variant(U8(Value.toString()));
    }
}

TBookmark TSQLDataSet::MakeBookmark(int Pos, const std::vector<QVariant>& Keys) const
{
    TBookmark b = "P" + std::to_string(Pos);
    for (const QVariant& k : Keys) {
        if (k.isNull() || !k.isValid()) {
            AppendPart(b, 'n', {});
            continue;
        }
        switch (k.metaType().id()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Short:
        case QMetaType::UShort:
            AppendPart(b, 'i', std::to_string(k.toLongLong()));
            break;
        case QMetaType::Double:
        case QMetaType::Float: {
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.17g", k.toDouble());
            AppendPart(b, 'd', buf);
            break;
        }
        case QMetaType::Bool:
            AppendPart(b, 'b', k.toBool() ? "1" : "0");
            break;
        case QMetaType::QByteArray: {
            const QByteArray a = k.toByteArray();
            AppendPart(b, 'x', std::string(a.constData(), static_cast<std::size_t>(a.size())));
            break;
        }
        case QMetaType::QDate:
            AppendPart(b, 'D', U8(k.toDate().toString(Qt::ISODate)));
            break;
        case QMetaType::QTime:
            AppendPart(b, 'T', U8(k.toTime().toString(Qt::ISODateWithMs)));
            break;
        case QMetaType::QDateTime:
            AppendPart(b, 't', U8(k.toDateTime().toString(Qt::ISODateWithMs)));
            break;
        default:
            AppendPart(b, 's', U8(k.toString()));
            break;
        }
    }
    return b;
}

bool TSQLDataSet::DecodeBookmark(const TBookmark& Bookmark, TDecoded& Out) const
{
    if (Bookmark.size() < 2 || Bookmark[0] != 'P')
        return false;
    std::size_t i = 1;
    long long pos = 0;
    while (i < Bookmark.size() && Bookmark[i] >= '0' && Bookmark[i] <= '9') {
        pos = pos * 10 + (Bookmark[i] - '0');
        if (pos > INT32_MAX)
            return false;
        ++i;
    }
    if (i == 1)
        return false;
    Out.Position = static_cast<int>(pos);
    Out.Keys.clear();
    while (i < Bookmark.size()) {
        const char tag = Bookmark[i++];
        std::size_t len = 0;
        const std::size_t digitsAt = i;
        while (i < Bookmark.size() && Bookmark[i] >= '0' && Bookmark[i] <= '9' && i - digitsAt < 10)
            len = len * 10 + static_cast<std::size_t>(Bookmark[i++] - '0');
        if (i == digitsAt || i >= Bookmark.size() || Bookmark[i] != ':' || Bookmark.size() - i - 1 < len)
            return false;
        const std::string payload = Bookmark.substr(i + 1, len);
        i += 1 + len;
        switch (tag) {
        case 'n': Out.Keys.emplace_back(); break;
        case 'i': Out.Keys.emplace_back(QVariant(static_cast<qlonglong>(std::strtoll(payload.c_str(), nullptr, 10)))); break;
        case 'd': Out.Keys.emplace_back(QVariant(std::strtod(payload.c_str(), nullptr))); break;
        case 'b': Out.Keys.emplace_back(QVariant(payload == "1")); break;
        case 'x': Out.Keys.emplace_back(QVariant(QByteArray(payload.data(), static_cast<qsizetype>(payload.size())))); break;
        case 'D': Out.Keys.emplace_back(QVariant(QDate::fromString(Q(payload), Qt::ISODate))); break;
        case 'T': Out.Keys.emplace_back(QVariant(QTime::fromString(Q(payload), Qt::ISODateWithMs))); break;
        case 't': Out.Keys.emplace_back(QVariant(QDateTime::fromString(Q(payload), Qt::ISODateWithMs))); break;
        case 's': Out.Keys.emplace_back(QVariant(Q(payload))); break;
        default: return false;
        }
    }
    return Out.Keys.size() == FKeyIndexes.size();
}

bool TSQLDataSet::LookupKeys(const std::vector<QVariant>& Keys, QSqlQuery& Query) const
{
    const QSqlDatabase db = Database();
    std::string text = FSQL.empty()
                           ? "SELECT * FROM " + TableIdentifier()
                           : Wrapped("tabrix_key");
    std::vector<QVariant> bound;
    for (std::size_t i = 0; i < FKeyIndexes.size(); ++i) {
        text += i ? " AND " : " WHERE ";
        text += U8(db.driver()->escapeIdentifier(Q(Fields(FKeyIndexes[i])->FieldName()), QSqlDriver::FieldName));
        if (Keys[i].isNull() || !Keys[i].isValid()) {
            text += " IS NULL";
        } else {
            text += " = ?";
            bound.push_back(Keys[i]);
        }
    }
    Query.setForwardOnly(true);
    if (!Query.prepare(Q(text)))
        throw Exception("Cannot look up a record: " + U8(Query.lastError().text()));
    for (const QVariant& v : bound)
        Query.addBindValue(v);
    const bool ran = Query.exec();
    const_cast<TSQLDataSet*>(this)->CursorDisturbed();
    if (!ran)
        throw Exception("Cannot look up a record: " + U8(Query.lastError().text()));
    return Query.next();
}

TBookmark TSQLDataSet::GetBookmark() const
{
    CheckActive();
    if (FPos < 0 || FSource == srNone)
        return {};
    std::vector<QVariant> keys;
    for (int k : FKeyIndexes)
        keys.push_back(CurrentValue(k));
    return MakeBookmark(FPos, keys);
}

void TSQLDataSet::GotoBookmark(const TBookmark& Bookmark)
{
    CheckActive();
    if (Bookmark.empty())
        return;
    TDecoded d;
    if (!DecodeBookmark(Bookmark, d))
        throw Exception("Record not found");
    if (!FKeyIndexes.empty()) {
        QSqlQuery lookup(Database());
        if (!LookupKeys(d.Keys, lookup))
            throw Exception("Record not found");
        // The record is kept as it was read: the connection may serve other
        // statements before its values are asked for.
        FLookupRow.clear();
        for (int i = 0; i < FieldCount(); ++i)
            FLookupRow.push_back(lookup.value(i));
        FBof = FEof = false;
        MovedTo(d.Position, srLookup);
        return;
    }
    if (d.Position >= FCount || !SeekCursor(d.Position))
        throw Exception("Record not found");
    FBof = FEof = false;
    MovedTo(d.Position, srCursor);
}

bool TSQLDataSet::BookmarkValid(const TBookmark& Bookmark) const
{
    if (!Active())
        return false;
    TDecoded d;
    if (!DecodeBookmark(Bookmark, d))
        return false;
    if (FKeyIndexes.empty())
        return d.Position < FCount;
    QSqlQuery q(Database());
    return LookupKeys(d.Keys, q);
}

void TSQLDataSet::GetRecordAt(int Index, std::vector<Variant>& Values, TBookmark& Bookmark)
{
    CheckActive();
    if (Index < 0 || Index >= FCount)
        throw EListError::OutOfBounds(Index);
    if (FPageStart < 0 || Index < FPageStart || Index >= FPageStart + static_cast<int>(FPage.size())) {
        const int start = Index / PageSize * PageSize;
        QSqlQuery q(Database());
        q.setForwardOnly(true);
        const std::string text = Wrapped("tabrix_page") + " LIMIT " +
                                 std::to_string(PageSize) + " OFFSET " + std::to_string(start);
        const bool ran = q.exec(Q(text));
        CursorDisturbed();
        if (!ran)
            throw Exception("Cannot read records: " + U8(q.lastError().text()));
        FPage.clear();
        FPageStart = start;
        while (q.next()) {
            TPageRow row;
            row.Values.reserve(static_cast<std::size_t>(FieldCount()));
            for (int i = 0; i < FieldCount(); ++i)
                row.Values.push_back(ConvertValue(*Fields(i), q.value(i)));
            std::vector<QVariant> keys;
            for (int k : FKeyIndexes)
                keys.push_back(q.value(k));
            row.Bookmark = MakeBookmark(start + static_cast<int>(FPage.size()), keys);
            FPage.push_back(std::move(row));
        }
    }
    const std::size_t at = static_cast<std::size_t>(Index - FPageStart);
    if (at >= FPage.size())
        throw EListError::OutOfBounds(Index);
    Values = FPage[at].Values;
    Bookmark = FPage[at].Bookmark;
}
