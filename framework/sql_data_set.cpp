#include "sql_data_set.h"

#include "exceptions.h"
#include "files.h"
#include "format_settings.h"
#include "value_contract.h"
#include "server_cancel.h"

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

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

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

// PostgreSQL type ids the dataset reads from the server's own text.
enum : int {
    PgBool = 16, PgBytea = 17, PgChar = 18, PgName = 19, PgInt8 = 20, PgInt2 = 21, PgInt4 = 23, PgText = 25,
    PgOid = 26, PgJson = 114, PgXml = 142, PgFloat4 = 700, PgFloat8 = 701, PgUnknown = 705, PgMoney = 790,
    PgBpchar = 1042, PgVarchar = 1043, PgDate = 1082, PgTime = 1083, PgTimestamp = 1114, PgTimestamptz = 1184,
    PgInterval = 1186, PgTimetz = 1266, PgNumeric = 1700, PgUuid = 2950, PgJsonb = 3802
};

// A PostgreSQL column's type name (with length and scale) from its type id. Types
// that have no counterpart (arrays, ranges, geometry, ...) are read as their text.
std::string PostgresTypeName(const QSqlField& F)
{
    const int len = F.length();
    switch (F.typeID()) {
    case PgBool: return "BOOLEAN";
    case PgBytea: return "BYTEA";
    case PgChar:
    case PgName: return "CHAR(" + std::to_string(len > 0 ? len : 64) + ")";
    case PgInt8:
    case PgOid: return "BIGINT";
    case PgInt2: return "SMALLINT";
    case PgInt4: return "INTEGER";
    case PgFloat4: return "FLOAT4";
    case PgFloat8: return "FLOAT8";
    case PgMoney: return "MONEY";
    case PgBpchar:
    case PgVarchar: return len > 0 ? "VARCHAR(" + std::to_string(len) + ")" : "TEXT";
    case PgDate: return "DATE";
    case PgTime:
    case PgTimetz: return "TIME";
    case PgTimestamp:
    case PgTimestamptz: return "TIMESTAMP";
    case PgNumeric:
        return len > 0 ? "NUMERIC(" + std::to_string(len) + "," + std::to_string(std::max(F.precision(), 0)) + ")"
                       : "NUMERIC";
    case PgUuid: return "UUID";
    case PgInterval: return "VARCHAR(64)";
    default: return "TEXT";
    }
}

// The few client-library calls that read a PostgreSQL value as the server sent it. The
// library is the one Qt's driver loaded; it is looked up, never loaded here.
struct TPgAccess {
    using GetValue = char* (*)(const void*, int, int);
    using GetLength = int (*)(const void*, int, int);
    using GetTable = unsigned (*)(const void*, int);
    using GetLength2 = int (*)(const void*, int);
    GetValue Value = nullptr;
    GetLength Length = nullptr;
    GetLength IsNull = nullptr;
    GetTable Table = nullptr;
    GetLength2 TableColumn = nullptr;
    bool Usable() const { return Value && Length && IsNull; }
};

const TPgAccess& PgAccess()
{
    // Looked up again until found: the driver loads the library with its first
    // PostgreSQL connection, which may come after this process's first dataset.
    static TPgAccess access;
    static std::atomic<bool> found{false};
    if (found.load(std::memory_order_acquire))
        return access; // every value of a walk asks: no lock once found
    static std::mutex lock;
    std::lock_guard<std::mutex> guard(lock);
    if (!access.Usable()) {
        if (void* lib = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_NOLOAD)) {
            access.Value = reinterpret_cast<TPgAccess::GetValue>(::dlsym(lib, "PQgetvalue"));
            access.Length = reinterpret_cast<TPgAccess::GetLength>(::dlsym(lib, "PQgetlength"));
            access.IsNull = reinterpret_cast<TPgAccess::GetLength>(::dlsym(lib, "PQgetisnull"));
            access.Table = reinterpret_cast<TPgAccess::GetTable>(::dlsym(lib, "PQftable"));
            access.TableColumn = reinterpret_cast<TPgAccess::GetLength2>(::dlsym(lib, "PQftablecol"));
            ::dlclose(lib); // the driver keeps it loaded
        }
        found.store(access.Usable(), std::memory_order_release);
    }
    return access;
}

// The server's text of column Index of the row Query stands on; false when it cannot
// be reached (the value is then read through Qt).
bool PgRawValue(const QSqlQuery& Query, int Index, std::string_view& Text, bool& Null)
{
    const TPgAccess& pq = PgAccess();
    if (!pq.Usable() || Query.isForwardOnly() || Query.at() < 0)
        return false;
    const QVariant h = Query.result()->handle();
    if (!h.isValid() || std::strcmp(h.typeName(), "pg_result*") != 0)
        return false;
    const void* result = *static_cast<void* const*>(h.constData());
    if (!result)
        return false;
    const int row = Query.at();
    Null = pq.IsNull(result, row, Index) != 0;
    Text = Null ? std::string_view() : std::string_view(pq.Value(result, row, Index),
                                                         static_cast<std::size_t>(pq.Length(result, row, Index)));
    return true;
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
    default: return ftMemo;
    }
}

// The type an SQLite value's storage class gives a column declared without a type. A
// first value that is null tells nothing: such a column takes each value by its own
// storage class (a variant field).
TFieldType FieldTypeFromStorageClass(int StorageClass)
{
    switch (StorageClass) {
    case SQLITE_INTEGER: return ftLargeint;
    case SQLITE_FLOAT: return ftFloat;
    case SQLITE_BLOB: return ftBlob;
    case SQLITE_NULL: return ftVariant;
    default: return ftMemo;
    }
}

// Whether column Index of a PostgreSQL result comes straight from a table column that
// takes its values from a sequence (serial or identity).
bool PgColumnIsSerial(const QSqlDatabase& Db, const QSqlQuery& Result, int Index)
{
    const TPgAccess& pq = PgAccess();
    if (!pq.Table || !pq.TableColumn)
        return false;
    const QVariant h = Result.result()->handle();
    if (!h.isValid() || std::strcmp(h.typeName(), "pg_result*") != 0)
        return false;
    const void* result = *static_cast<void* const*>(h.constData());
    const unsigned table = result ? pq.Table(result, Index) : 0;
    const int column = result ? pq.TableColumn(result, Index) : 0;
    if (table == 0 || column <= 0)
        return false;
    QSqlQuery q(Db);
    q.setForwardOnly(false);
    q.prepare("SELECT a.attidentity <> '' OR coalesce(pg_get_expr(d.adbin, d.adrelid), '') LIKE 'nextval(%' "
              "FROM pg_attribute a LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
              "WHERE a.attrelid = ? AND a.attnum = ?");
    q.addBindValue(static_cast<qlonglong>(table));
    q.addBindValue(column);
    return q.exec() && q.next() && q.value(0).toBool();
}

// The database's own words for a failure, else the driver's ("malformed JSON", not
// "malformed JSON Unable to fetch row").
std::string ErrorText(const QSqlError& Error)
{
    const QString text = Error.databaseText().trimmed();
    return U8(text.isEmpty() ? Error.driverText() : text);
}

// The part of a date-time a date or a time field holds.
Variant DateTimeOfType(TFieldType Type, double Serial)
{
    if (Type == ftDate)
        Serial = std::trunc(Serial);
    else if (Type == ftTime)
        Serial = std::fabs(Serial - std::trunc(Serial));
    return Variant::FromDateTime(Serial);
}

bool IsIntegerType(TFieldType T)
{
    return T == ftSmallint || T == ftInteger || T == ftWord || T == ftAutoInc || T == ftLargeint;
}

std::string ShownValue(std::string_view Text)
{
    std::string s(Text.substr(0, 80));
    if (Text.size() > 80)
        s += "...";
    return s;
}

[[noreturn]] void BadText(std::string_view Text, const char* Kind, const TField& Field)
{
    throw EConvertError("'" + ShownValue(Text) + "' is not a valid " + Kind + " value for field '" +
                        Field.FieldName() + "'");
}

[[noreturn]] void BadValue(const QVariant& Value, const char* Kind, const TField& Field)
{
    BadText(U8(Value.toString()), Kind, Field);
}

[[noreturn]] void OutOfRange(std::string_view Text, const char* Kind, const TField& Field)
{
    throw EConvertError("'" + ShownValue(Text) + "' in field '" + Field.FieldName() + "' is out of the range of a " +
                        Kind + " value");
}

// A decimal text ("-1234.5", "$1,234.50", "(12.00)") as an amount scaled by 10000,
// rounded half away from zero. Decimal is the decimal separator; other characters
// that are not digits or a sign (currency signs, grouping) are skipped. Returns 0 when
// it reads, 1 when it holds no digits, 2 when the amount is outside the 64-bit range.
int ParseScaledDecimal(std::string_view Text, char Decimal, std::int64_t& Scaled)
{
    bool negative = false, point = false, digits = false;
    __int128 whole = 0;
    int decimals = 0;
    int roundDigit = -1;
    for (char c : Text) {
        if (c == '-' || c == '(') {
            negative = true;
        } else if (c == Decimal) {
            if (point)
                return 1;
            point = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            if (!point || decimals < 4) {
                whole = whole * 10 + (c - '0');
                if (whole > static_cast<__int128>(INT64_MAX) * 10)
                    return 2;
                decimals += point;
            } else if (roundDigit < 0) {
                roundDigit = c - '0';
            }
        } else if (c == 'e' || c == 'E' || c == 'N' || c == 'n' || c == 'I' || c == 'i') {
            return 1; // exponents, NaN and infinities are not amounts
        }
    }
    if (!digits)
        return 1;
    for (; decimals < 4; ++decimals)
        whole *= 10;
    if (roundDigit >= 5)
        ++whole;
    if (negative)
        whole = -whole;
    if (whole > INT64_MAX || whole < INT64_MIN)
        return 2;
    Scaled = static_cast<std::int64_t>(whole);
    return 0;
}

// The decimal separator of a PostgreSQL money text: the last '.' or ',' followed by
// one or two digits at the end, '.' when there is none ("$1,234.50", "1.234,50 EUR").
char MoneyDecimal(std::string_view Text)
{
    std::size_t end = Text.find_last_of("0123456789");
    if (end == std::string_view::npos)
        return '.';
    std::size_t sep = end;
    while (sep > 0 && Text[sep] >= '0' && Text[sep] <= '9')
        --sep;
    const std::size_t fraction = end - sep;
    if ((Text[sep] == '.' || Text[sep] == ',') && fraction >= 1 && fraction <= 2)
        return Text[sep];
    return '.';
}

// An exact decimal text as PostgreSQL writes a numeric ("-0.000120", "NaN").
bool IsDecimalText(std::string_view Text)
{
    std::size_t i = 0;
    if (i < Text.size() && (Text[i] == '-' || Text[i] == '+'))
        ++i;
    bool digits = false, point = false;
    for (; i < Text.size(); ++i) {
        if (Text[i] >= '0' && Text[i] <= '9')
            digits = true;
        else if (Text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

// Reads Count digits at S[At]; false when they are not all digits.
bool Digits(std::string_view S, std::size_t At, int Count, int& Value)
{
    if (At + static_cast<std::size_t>(Count) > S.size())
        return false;
    Value = 0;
    for (int i = 0; i < Count; ++i) {
        const char c = S[At + static_cast<std::size_t>(i)];
        if (c < '0' || c > '9')
            return false;
        Value = Value * 10 + (c - '0');
    }
    return true;
}

// "HH:MM[:SS[.ffffff]]" at S[At] as a fraction of a day; At moves past it. "24:00:00"
// (PostgreSQL's end of day) is the fraction 1.
bool ParseIsoTime(std::string_view S, std::size_t& At, double& Fraction)
{
    int h = 0, m = 0, sec = 0;
    if (!Digits(S, At, 2, h) || At + 2 >= S.size() || S[At + 2] != ':' || !Digits(S, At + 3, 2, m))
        return false;
    At += 5;
    double micro = 0;
    if (At < S.size() && S[At] == ':') {
        if (!Digits(S, At + 1, 2, sec))
            return false;
        At += 3;
        if (At < S.size() && (S[At] == '.' || S[At] == ',')) {
            double scale = 100000;
            ++At;
            while (At < S.size() && S[At] >= '0' && S[At] <= '9') {
                micro += (S[At] - '0') * scale;
                scale /= 10;
                ++At;
            }
        }
    }
    if (h > 24 || m > 59 || sec > 60 || (h == 24 && (m || sec || micro)))
        return false;
    Fraction = (((h * 60 + m) * 60 + sec) * 1e6 + std::round(micro)) / 86400e6;
    return true;
}

// A zone suffix "Z", "+HH", "+HH:MM", "+HHMM", "+HH:MM:SS" at S[At] in seconds east of
// UTC; At moves past it. False when there is none.
bool ParseZone(std::string_view S, std::size_t& At, int& Seconds)
{
    if (At < S.size() && S[At] == 'Z') {
        ++At;
        Seconds = 0;
        return true;
    }
    if (At >= S.size() || (S[At] != '+' && S[At] != '-'))
        return false;
    const int sign = S[At] == '-' ? -1 : 1;
    int h = 0, m = 0, sec = 0;
    if (!Digits(S, At + 1, 2, h))
        return false;
    At += 3;
    if (At < S.size() && S[At] == ':')
        ++At;
    if (Digits(S, At, 2, m)) {
        At += 2;
        if (At < S.size() && S[At] == ':' && Digits(S, At + 1, 2, sec))
            At += 3;
    }
    Seconds = sign * ((h * 60 + m) * 60 + sec);
    return true;
}

enum TDateTimeText { dtInvalid, dtValue, dtInfinite };
// What a zone written after a time means: kept aside (the wall time as written), turned
// into the local time, or turned into UTC (as SQLite's date functions read it).
enum TZoneRule : std::uint8_t { zrKeep, zrLocal, zrUtc };

// Dates and times in ISO form, as SQLite keeps them and PostgreSQL writes them:
// "2024-01-31", "2024-01-31 12:30:00", "2024-01-31T12:30:00.250", "12:30:00",
// "0044-03-15 BC", "infinity". A zone after the time ("12:30:00+02") is applied as Zone
// says; a time of day turned into UTC stays within its day. Parsed by hand: the library's
// parser consults the time zone for every value.
TDateTimeText ParseIsoDateTime(std::string_view Text, TZoneRule Zone, double& Serial)
{
    while (!Text.empty() && Text.front() == ' ')
        Text.remove_prefix(1);
    while (!Text.empty() && Text.back() == ' ')
        Text.remove_suffix(1);
    if (Text == "infinity" || Text == "-infinity")
        return dtInfinite;
    std::size_t at = 0;
    double fraction = 0;
    int zone = 0;
    if (Text.size() >= 5 && Text[2] == ':') {
        if (!ParseIsoTime(Text, at, fraction))
            return dtInvalid;
        const bool zoned = ParseZone(Text, at, zone);
        if (at != Text.size())
            return dtInvalid;
        Serial = fraction;
        if (zoned && Zone == zrUtc) {
            const std::int64_t time = SerialMicroseconds(fraction) - static_cast<std::int64_t>(zone) * 1000000;
            Serial = static_cast<double>((time % MicrosecondsPerDay + MicrosecondsPerDay) % MicrosecondsPerDay)
                / static_cast<double>(MicrosecondsPerDay);
        }
        return dtValue;
    }
    bool bc = false;
    if (Text.size() > 3 && Text.substr(Text.size() - 3) == " BC") {
        bc = true;
        Text.remove_suffix(3);
    }
    // Years of more than four digits (PostgreSQL goes to 294276).
    std::size_t yearDigits = 0;
    while (yearDigits < Text.size() && Text[yearDigits] >= '0' && Text[yearDigits] <= '9')
        ++yearDigits;
    int y = 0, mo = 0, d = 0;
    if (yearDigits < 4 || yearDigits > 6 || !Digits(Text, 0, static_cast<int>(yearDigits), y))
        return dtInvalid;
    const std::size_t p = yearDigits;
    if (Text.size() < p + 6 || Text[p] != '-' || !Digits(Text, p + 1, 2, mo) || Text[p + 3] != '-' ||
        !Digits(Text, p + 4, 2, d))
        return dtInvalid;
    if (bc)
        y = 1 - y; // 1 BC is the year 0
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (mo < 1 || mo > 12 || d < 1 || d > monthDays[mo - 1] + (mo == 2 && leap))
        return dtInvalid;
    const double day = EncodeDate(y, mo, d);
    at = p + 6;
    bool zoned = false;
    if (at < Text.size()) {
        if ((Text[at] != ' ' && Text[at] != 'T') || !ParseIsoTime(Text, ++at, fraction))
            return dtInvalid;
        zoned = ParseZone(Text, at, zone);
        if (at != Text.size())
            return dtInvalid;
    }
    if (zoned && Zone == zrLocal) {
        // Whole seconds through the zone rules, the fraction of a second kept aside.
        const double seconds = fraction * 86400.0;
        const double whole = std::floor(seconds);
        const qint64 utc = (static_cast<qint64>(day) - 25569) * 86400 + static_cast<qint64>(whole) - zone;
        const QDateTime local = QDateTime::fromSecsSinceEpoch(utc, Qt::LocalTime);
        const QDate ld = local.date();
        const QTime lt = local.time();
        Serial = ComposeDateTime(EncodeDate(ld.year(), ld.month(), ld.day()),
                                 (lt.msecsSinceStartOfDay() / 1000 + (seconds - whole)) / 86400.0);
        return dtValue;
    }
    Serial = ComposeDateTime(day, fraction);
    if (zoned && Zone == zrUtc) {
        Serial = SerialOfParts(PartsOfMicroseconds(SerialMicroseconds(Serial) - static_cast<std::int64_t>(zone) * 1000000));
    }
    return dtValue;
}

// A date written as its digits, yyyymmdd (years 1000 to 9999), as its serial.
bool CompactDate(std::int64_t Digits, double& Serial)
{
    if (Digits < 10000101 || Digits > 99991231)
        return false;
    const int y = static_cast<int>(Digits / 10000), m = static_cast<int>(Digits / 100 % 100), d = static_cast<int>(Digits % 100);
    static const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (m < 1 || m > 12 || d < 1 || d > monthDays[m - 1] + (m == 2 && leap))
        return false;
    Serial = EncodeDate(y, m, d);
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
    if (Contains(t, "INTERVAL")) {
        Size = 64;
        return ftString;
    }
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
        // Digits a currency cannot hold: the exact decimal text.
        Size = scale;
        return ftFMTBcd;
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
        if (a <= 0)
            return ftMemo; // no length: text of any length
        Size = a;
        return (StartsWith(t, "CHAR") || StartsWith(t, "BPCHAR") || StartsWith(t, "NCHAR")) &&
                       !Contains(t, "VARYING") && !Contains(t, "VARCHAR")
                   ? ftFixedChar
                   : ftString;
    }
    return ftUnknown;
}

// ---------------------------------------------------------------------------
// TSqlRowStream

namespace {

constexpr int FetchRows = 2000;
std::atomic<unsigned> CursorSerial{0};

// Statements that PostgreSQL can run in a cursor.
bool DeclarableStatement(const std::string& Text)
{
    std::size_t i = 0;
    while (i < Text.size()) {
        if (std::isspace(static_cast<unsigned char>(Text[i]))) {
            ++i;
        } else if (Text.compare(i, 2, "--") == 0) {
            i = Text.find('\n', i);
            if (i == std::string::npos)
                return false;
        } else if (Text.compare(i, 2, "/*") == 0) {
            i = Text.find("*/", i + 2);
            if (i == std::string::npos)
                return false;
            i += 2;
        } else {
            break;
        }
    }
    if (i < Text.size() && Text[i] == '(')
        return true;
    std::string word;
    while (i < Text.size() && std::isalpha(static_cast<unsigned char>(Text[i])))
        word += static_cast<char>(std::toupper(static_cast<unsigned char>(Text[i++])));
    return word == "SELECT" || word == "WITH" || word == "VALUES" || word == "TABLE";
}

// libpq's connection under Qt's PostgreSQL driver; null for another driver. The driver
// names the type by the structure's own name.
void* PgConnection(const QSqlDatabase& Db)
{
    const QVariant h = Db.driver()->handle();
    if (!h.isValid() || (std::strcmp(h.typeName(), "PGconn*") != 0 && std::strcmp(h.typeName(), "pg_conn*") != 0))
        return nullptr;
    return *static_cast<void* const*>(h.constData());
}

} // namespace

// The rows of one execution of a statement, read forward. SQLite steps the statement
// itself; PostgreSQL reads a cursor of its own in batches (or, for a statement a
// cursor cannot hold, the whole result at once). A failure of the database raises.
class TSqlRowStream {
public:
    TSqlRowStream(const QSqlDatabase& Db, const std::string& Text, bool Postgres)
        : FDb(Db)
        , FText(Text)
    {
        if (Postgres && DeclarableStatement(Text)) {
            FCursorName = "tabrix_rows_" + std::to_string(::getpid()) + "_" + std::to_string(++CursorSerial);
            QSqlQuery declare(Db);
            if (declare.exec(Q("DECLARE " + FCursorName + " NO SCROLL CURSOR WITH HOLD FOR\n" + Text + "\n"))) {
                Fetch();
                return;
            }
            FCursorName.clear();
            // A statement the server cancelled is not run again without a cursor.
            if (declare.lastError().nativeErrorCode() == QLatin1String("57014"))
                throw Exception("Cannot open \"" + Text + "\": " + ErrorText(declare.lastError()));
        }
        if (!Postgres && OpenSqlite(Db, Text))
            return;
        FQuery = std::make_unique<QSqlQuery>(Db);
        // A PostgreSQL statement that no cursor can hold (SHOW, EXPLAIN, ...) is read
        // whole.
        FQuery->setForwardOnly(!Postgres);
        FDone = true;
        if (!FQuery->exec(Q(Text)))
            throw Exception("Cannot open \"" + Text + "\": " + ErrorText(FQuery->lastError()));
        if (!FQuery->isSelect())
            throw Exception("The statement \"" + Text + "\" returns no records");
    }

    ~TSqlRowStream()
    {
        if (FStmt)
            sqlite3_finalize(FStmt);
        FQuery.reset();
        if (!FCursorName.empty() && FDb.isOpen()) {
            QSqlQuery close(FDb);
            close.exec(Q("CLOSE " + FCursorName));
        }
    }

    // Moves to the next row; false after the last. Row is the 1-based number of the
    // row asked for, for the message of a failure.
    bool Next(long long Row)
    {
        if (FStmt) {
            if (FPending) {
                FPending = false; // the row the statement stood on when it opened
                return true;
            }
            if (FFinished)
                return false; // a finished statement would start again
            const int rc = sqlite3_step(FStmt);
            if (rc == SQLITE_ROW)
                return true;
            FFinished = true;
            if (rc == SQLITE_DONE)
                return false;
            throw Exception("Cannot read record " + std::to_string(Row) + " of \"" + FText +
                            "\": " + sqlite3_errmsg(sqlite3_db_handle(FStmt)));
        }
        for (;;) {
            if (FQuery->next())
                return true;
            if (FQuery->lastError().type() != QSqlError::NoError)
                throw Exception("Cannot read record " + std::to_string(Row) + " of \"" + FText +
                                "\": " + ErrorText(FQuery->lastError()));
            if (FDone)
                return false;
            Fetch();
        }
    }

    const QSqlQuery& Query() const { return *FQuery; }
    // The columns' names (and, through the driver, their kinds).
    QSqlRecord Record() const
    {
        if (!FStmt)
            return FQuery->record();
        QSqlRecord record;
        for (int i = 0; i < sqlite3_column_count(FStmt); ++i)
            record.append(QSqlField(QString::fromUtf8(sqlite3_column_name(FStmt, i))));
        return record;
    }
    // The SQLite statement the rows are read from, or none (the query's values then).
    sqlite3_stmt* Statement() const { return FStmt; }
    // Column Index of the current row as a driver value (for keys).
    QVariant Value(int Index) const
    {
        if (!FStmt)
            return FQuery->value(Index);
        switch (sqlite3_column_type(FStmt, Index)) {
        case SQLITE_INTEGER: return QVariant(static_cast<qlonglong>(sqlite3_column_int64(FStmt, Index)));
        case SQLITE_FLOAT: return QVariant(sqlite3_column_double(FStmt, Index));
        case SQLITE_BLOB:
            return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(FStmt, Index)),
                                       sqlite3_column_bytes(FStmt, Index)));
        case SQLITE_TEXT:
            return QVariant(QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(FStmt, Index)),
                                              sqlite3_column_bytes(FStmt, Index)));
        default: return QVariant(QMetaType(QMetaType::QString)); // null
        }
    }

private:
    // SQLite statements are prepared and stepped here on the driver's connection, and
    // their values read from the statement itself: the driver would make every text
    // UTF-16 and back (and a byte that is not UTF-8 a replacement character). The
    // statement stands on its first row once open, so its storage classes can type the
    // columns. False when the driver gives no connection handle.
    bool OpenSqlite(const QSqlDatabase& Db, const std::string& Text)
    {
        const QVariant h = Db.driver()->handle();
        if (!h.isValid() || std::strcmp(h.typeName(), "sqlite3*") != 0)
            return false;
        sqlite3* db = *static_cast<sqlite3* const*>(h.constData());
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db, Text.c_str(), static_cast<int>(Text.size()), &FStmt, &tail) != SQLITE_OK) {
            const std::string message = sqlite3_errmsg(db);
            sqlite3_finalize(FStmt);
            FStmt = nullptr;
            throw Exception("Cannot open \"" + Text + "\": " + message);
        }
        if (!FStmt || sqlite3_column_count(FStmt) == 0) {
            // Nothing is run that returns no records (an UPDATE is never executed here).
            sqlite3_finalize(FStmt);
            FStmt = nullptr;
            throw Exception("The statement \"" + Text + "\" returns no records");
        }
        // The statement goes with a failure here: no destructor runs for a stream
        // that was never made.
        auto fail = [this, &Text](const std::string& Why) {
            sqlite3_finalize(FStmt);
            FStmt = nullptr;
            throw Exception("Cannot open \"" + Text + "\": " + Why);
        };
        for (const char* p = tail; p && *p; ++p)
            if (!std::isspace(static_cast<unsigned char>(*p)) && *p != ';')
                fail("it holds more than one statement");
        const int rc = sqlite3_step(FStmt);
        if (rc == SQLITE_ROW)
            FPending = true;
        else if (rc == SQLITE_DONE)
            FFinished = true;
        else
            fail(sqlite3_errmsg(db));
        return true;
    }

    void Fetch()
    {
        FQuery = std::make_unique<QSqlQuery>(FDb);
        FQuery->setForwardOnly(false); // the batch is held whole: other statements leave it alone
        FQuery->setNumericalPrecisionPolicy(QSql::HighPrecision);
        if (!FQuery->exec(Q("FETCH FORWARD " + std::to_string(FetchRows) + " FROM " + FCursorName)))
            throw Exception("Cannot read the records of \"" + FText + "\": " + ErrorText(FQuery->lastError()));
        FDone = FQuery->size() < FetchRows;
    }

    QSqlDatabase FDb;
    std::string FText;
    std::string FCursorName;
    std::unique_ptr<QSqlQuery> FQuery;
    bool FDone = false;
    sqlite3_stmt* FStmt = nullptr; // an SQLite statement of our own
    bool FPending = false;          // it stands on a row not handed out yet
    bool FFinished = false;         // it has given its last row
};

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

bool TSQLDataSet::Postgres() const
{
    const QSqlDatabase db = Database();
    return db.isValid() && db.driver()->dbmsType() == QSqlDriver::PostgreSQL;
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
    if (!FKeyNames.empty()) {
        // Walk a table in key order so that a position means the same record each time.
        s += " ORDER BY ";
        for (std::size_t i = 0; i < FKeyNames.size(); ++i) {
            if (i)
                s += ", ";
            s += U8(db.driver()->escapeIdentifier(Q(FKeyNames[i]), QSqlDriver::FieldName));
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
    const QSqlDatabase db = Database();
    const QSqlDriver::DbmsType dbms = db.driver()->dbmsType();
    if (plain && (dbms == QSqlDriver::SQLite || dbms == QSqlDriver::PostgreSQL)) {
        // Each part quoted as the database reads it unquoted (PostgreSQL in lower case;
        // SQLite's names ignore case either way), so that a name that is also a word of
        // SQL ("order", "user") is still a name.
        std::string out;
        std::size_t from = 0;
        for (std::size_t dot; from <= FTableName.size(); from = dot + 1) {
            dot = FTableName.find('.', from);
            if (dot == std::string::npos)
                dot = FTableName.size();
            QString part = Q(FTableName.substr(from, dot - from));
            if (dbms == QSqlDriver::PostgreSQL)
                part = part.toLower();
            out += (out.empty() ? "" : ".") + U8(db.driver()->escapeIdentifier(part, QSqlDriver::TableName));
        }
        return out;
    }
    if (plain)
        return FTableName;
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
        FValues.clear();
        FValueRead.clear();
        FPage.clear();
        FPageStart = -1;
        FPos = -1;
        FSource = srNone;
        FBof = true;
        FEof = true;
        // One execution gives the fields and the rows. A table is walked in key order,
        // so its key names are read first.
        if (Postgres())
            FServerCancel = std::make_unique<TServerCancel>(PgConnection(db));
        ResolveKeyNames();
        if (FSQL.empty()) {
            QSqlQuery count(db);
            if (!count.exec(Q("SELECT COUNT(*) FROM " + TableIdentifier())) || !count.next())
                throw Exception("Cannot open \"" + SelectText() + "\": " + ErrorText(count.lastError()));
            const qlonglong n = count.value(0).toLongLong();
            FCount = n > INT32_MAX ? INT32_MAX : static_cast<int>(n);
        } else {
            FCount = -1;
        }
        ExecCursor();
        CreateFields(*FCursor);
        ResolveKeys();
        FValues.assign(static_cast<std::size_t>(FieldCount()), Variant());
        FValueRead.assign(static_cast<std::size_t>(FieldCount()), 0);
        if (FCursor->Next(1)) {
            FCursorPos = 0;
            FPos = 0;
            FSource = srCursor;
            FEof = false;
        } else {
            FCursorPos = -2;
            FCount = 0;
        }
    } catch (...) {
        InternalClose();
        throw;
    }
}

void TSQLDataSet::InternalClose()
{
    FCursor.reset();
    FServerCancel.reset();
    FLookupRow.clear();
    FLookupKeys.clear();
    FPage.clear();
    FPageStart = -1;
    FPos = -1;
    FCursorPos = -1;
    FSource = srNone;
    FEof = FBof = true;
    FCount = 0;
    FKeyIndexes.clear();
    FKeyNames.clear();
    FTypeIds.clear();
    FPendingDigest.clear();
    ClearFields();
}

void TSQLDataSet::ExecCursor()
{
    FCursor.reset(); // a PostgreSQL cursor of the last run is closed first
    FCursor = std::make_unique<TSqlRowStream>(Database(), SelectText(), Postgres());
    FCursorPos = -1;
}

void TSQLDataSet::CreateFields(const TSqlRowStream& Rows)
{
    const QSqlDatabase db = Database();
    const QSqlRecord rec = Rows.Record();
    // A table's own description knows required columns that a query result may not.
    const QSqlRecord table = FSQL.empty() ? db.record(Q(FTableName)) : QSqlRecord();
    const QSqlDriver::DbmsType dbms = db.driver()->dbmsType();
    sqlite3_stmt* stmt = dbms == QSqlDriver::SQLite ? Rows.Statement() : nullptr;
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
        if (type == ftUnknown && stmt && declared.empty()) {
            // No declaration (an expression): the first row's storage class, which
            // the statement stands on once it has run.
            type = FieldTypeFromStorageClass(sqlite3_column_type(stmt, i));
        } else if (type == ftUnknown) {
            type = FieldTypeFromMetaType(f.metaType());
            if (type == ftMemo && f.length() > 0 && f.length() < 65536) {
                type = ftString;
                size = f.length();
            }
        }
        // Every SQLite integer column holds 64-bit values, whatever its declared name.
        if (stmt && IsIntegerType(type))
            type = ftLargeint;
        if ((type == ftString || type == ftFixedChar) && size <= 0)
            size = 20;
        const QSqlField described = table.contains(f.name()) ? table.field(f.name()) : f;
        // PostgreSQL serial columns take their values from a sequence.
        const bool autoValue =
            described.isAutoValue() || described.defaultValue().toString().startsWith(QLatin1String("nextval(")) ||
            (dbms == QSqlDriver::PostgreSQL && !FSQL.empty() && IsIntegerType(type) && PgColumnIsSerial(db, Rows.Query(), i));
        // A 64-bit counter (an SQLite rowid, a bigserial) keeps its 64 bits.
        if (autoValue && IsIntegerType(type) && type != ftLargeint)
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
        FTypeIds.push_back(dbms == QSqlDriver::PostgreSQL ? f.typeID() : -1); // -1: not read as PostgreSQL text
        field->SetRequired(described.requiredStatus() == QSqlField::Required && !autoValue);
        field->SetReadOnly(described.isReadOnly() || autoValue);
        if (precision >= 0)
            field->SetPrecision(precision);
    }
}

void TSQLDataSet::ResolveKeyNames()
{
    std::vector<std::string>& names = FKeyNames;
    names.clear();
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
}

void TSQLDataSet::ResolveKeys()
{
    FKeyIndexes.clear();
    for (const std::string& n : FKeyNames) {
        TField* f = FindField(n);
        if (!f)
            throw Exception("Key field '" + n + "' not found");
        FKeyIndexes.push_back(f->Index());
    }
}

bool TSQLDataSet::SeekCursor(int Pos)
{
    if (!FCursor || FCursorPos == -2 || FCursorPos > Pos)
        ExecCursor();
    while (FCursorPos < Pos) {
        if (!FCursor->Next(FCursorPos + 2)) {
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
    std::fill(FValueRead.begin(), FValueRead.end(), 0);
    // A big text of the record left is not kept: it is held once, while its record is
    // current. Smaller texts keep their room for the next record's.
    constexpr std::size_t keptRoom = 64 * 1024;
    for (Variant& value : FValues)
        if (value.StringRef().capacity() > keptRoom)
            value = Variant();
    NotifyRecordMoved();
}

void TSQLDataSet::First()
{
    CheckActive();
    // A walk reads its own rows: the page kept for displays goes, so that no value is
    // held twice while the walk runs.
    FPage.clear();
    FPageStart = -1;
    if (FCursorPos != 0)
        ExecCursor();
    if (FCursorPos == 0 || FCursor->Next(1)) {
        FCursorPos = 0;
        FBof = true;
        FEof = false;
        MovedTo(0, srCursor);
    } else {
        FCursorPos = -2;
        FPos = -1;
        FSource = srNone;
        FBof = FEof = true;
        FCount = 0;
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
        found = FCursor->Next(static_cast<long long>(target) + 1);
        FCursorPos = found ? target : -2;
    } else {
        found = SeekCursor(target);
    }
    if (found) {
        FBof = FEof = false;
        MovedTo(target, srCursor);
    } else {
        FEof = true;
        if (FCount < 0)
            FCount = target; // the walk has seen every row
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
    int target = RecordCount() - 1;
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
    if (FCount < 0) {
        QSqlQuery count(Database());
        count.setForwardOnly(true);
        if (!count.exec(Q("SELECT COUNT(*) FROM (\n" + SelectText() + "\n) tabrix_count")) || !count.next())
            throw Exception("Cannot count the records: " + ErrorText(count.lastError()));
        const qlonglong n = count.value(0).toLongLong();
        FCount = n > INT32_MAX ? INT32_MAX : static_cast<int>(n);
    }
    return FCount;
}

int TSQLDataSet::KnownRecordCount() const
{
    CheckActive();
    return FCount;
}

int TSQLDataSet::RecNo() const
{
    return Active() ? FPos + 1 : 0;
}

void TSQLDataSet::CursorOnCurrent() const
{
    if (FCursorPos != FPos && !const_cast<TSQLDataSet*>(this)->SeekCursor(FPos))
        throw Exception("Record not found");
    if (!FPendingDigest.empty()) {
        // A position names a record only while the rows before it stay as they were.
        std::string expected;
        expected.swap(FPendingDigest);
        if (expected != RecordDigest())
            throw Exception("Record not found");
    }
}

QVariant TSQLDataSet::CurrentValue(int Index) const
{
    if (FSource == srLookup)
        return FLookupKeys[static_cast<std::size_t>(Index)];
    CursorOnCurrent();
    return FCursor->Value(Index);
}

Variant TSQLDataSet::GetFieldValue(const TField& Field) const
{
    if (const Variant* held = HeldFieldValue(Field))
        return *held;
    return Variant::Null();
}

const Variant* TSQLDataSet::HeldFieldValue(const TField& Field) const
{
    if (FPos < 0 || FSource == srNone)
        return nullptr;
    const std::size_t i = static_cast<std::size_t>(Field.Index());
    if (!FValueRead[i]) {
        if (FSource == srLookup) {
            FValues[i] = FLookupRow[i];
        } else {
            CursorOnCurrent();
            try {
                if (sqlite3_stmt* statement = FCursor->Statement())
                    ReadSqliteValueInto(Field, statement, FValues[i]);
                else
                    FValues[i] = ReadValue(Field, FCursor->Query());
            } catch (const EConvertError& e) {
                // A value the field cannot take is named with its row, counted from 1.
                throw EConvertError(e.Message() + " (row " + std::to_string(FPos + 1) + ")");
            }
        }
        FValueRead[i] = 1;
    }
    return &FValues[i];
}

Variant TSQLDataSet::ReadValue(const TField& Field, const QSqlQuery& Query) const
{
    std::string_view raw;
    bool null = false;
    if (FTypeIds.empty() || FTypeIds[0] < 0 || !PgRawValue(Query, Field.Index(), raw, null))
        return ConvertValue(Field, Query.value(Field.Index()));
    if (null)
        return Variant::Null();
    const TFieldType type = Field.DataType();
    const int oid = FTypeIds[static_cast<std::size_t>(Field.Index())];
    switch (type) {
    case ftFMTBcd:
        if (IsDecimalText(raw))
            return Variant(std::string(raw)); // every digit, as the server wrote it
        BadText(raw, "decimal", Field);
    case ftCurrency:
    case ftBCD: {
        std::int64_t scaled = 0;
        switch (ParseScaledDecimal(raw, oid == PgMoney ? MoneyDecimal(raw) : '.', scaled)) {
        case 0: return Variant::FromScaledCurrency(scaled);
        case 2: OutOfRange(raw, "currency", Field);
        default: BadText(raw, "decimal", Field);
        }
    }
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp: {
        double serial = 0;
        switch (ParseIsoDateTime(raw, oid == PgTimestamptz ? zrLocal : zrKeep, serial)) {
        case dtInvalid: BadText(raw, "date and time", Field);
        case dtInfinite: OutOfRange(raw, "date and time", Field);
        case dtValue: break;
        }
        return DateTimeOfType(type, serial);
    }
    case ftMemo:
    case ftString:
    case ftFixedChar:
    case ftWideString:
        if (oid != PgBytea)
            return Variant(std::string(raw));
        [[fallthrough]];
    default:
        return ConvertValue(Field, Query.value(Field.Index()));
    }
}

Variant TSQLDataSet::ReadSqliteValue(const TField& Field, sqlite3_stmt* Stmt) const
{
    Variant value;
    ReadSqliteValueInto(Field, Stmt, value);
    return value;
}

void TSQLDataSet::ReadSqliteValueInto(const TField& Field, sqlite3_stmt* Stmt, Variant& Value) const
{
    const int i = Field.Index();
    const TFieldType type = Field.DataType();
    const int storage = sqlite3_column_type(Stmt, i);
    if (type == ftVariant) {
        switch (storage) {
        case SQLITE_INTEGER: Value = Variant(static_cast<long long>(sqlite3_column_int64(Stmt, i))); return;
        case SQLITE_FLOAT: Value = Variant(sqlite3_column_double(Stmt, i)); return;
        case SQLITE_TEXT:
        case SQLITE_BLOB: {
            const void* data = storage == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(Stmt, i))
                                                      : sqlite3_column_blob(Stmt, i);
            Value.AssignString(std::string_view(static_cast<const char*>(data),
                                                static_cast<std::size_t>(sqlite3_column_bytes(Stmt, i))));
            return;
        }
        default: Value = Variant::Null(); return;
        }
    }
    switch (storage) {
    case SQLITE_NULL:
        Value = Variant::Null();
        return;
    case SQLITE_INTEGER:
        if (IsIntegerType(type)) {
            Value = Variant(static_cast<long long>(sqlite3_column_int64(Stmt, i)));
        } else if (double serial; type == ftDate && CompactDate(sqlite3_column_int64(Stmt, i), serial)) {
            // "20240103" in a DATE column: SQLite keeps the digits as an integer.
            Value = Variant::FromDateTime(serial);
        } else
            Value = ConvertValue(Field, QVariant(static_cast<qlonglong>(sqlite3_column_int64(Stmt, i))));
        return;
    case SQLITE_FLOAT:
        if (type == ftFloat)
            Value = Variant(sqlite3_column_double(Stmt, i));
        else
            Value = ConvertValue(Field, QVariant(sqlite3_column_double(Stmt, i)));
        return;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
        // Text and bytes go as they are into the fields that hold them; other fields
        // read them as the driver would.
        const bool text = storage == SQLITE_TEXT;
        const void* data = text ? static_cast<const void*>(sqlite3_column_text(Stmt, i)) : sqlite3_column_blob(Stmt, i);
        const int bytes = sqlite3_column_bytes(Stmt, i);
        switch (type) {
        case ftDate:
        case ftTime:
        case ftDateTime:
        case ftTimeStamp:
            // ISO text, as SQLite's date functions write it, is read where it lies; any
            // other text goes the driver's way below (and fails there with its message).
            if (text) {
                double serial = 0;
                if (ParseIsoDateTime(std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(bytes)),
                                     zrUtc, serial) == dtValue) {
                    Value = DateTimeOfType(type, serial);
                    return;
                }
            }
            [[fallthrough]];
        case ftSmallint: case ftInteger: case ftWord: case ftAutoInc: case ftLargeint: case ftFloat: case ftCurrency:
        case ftBCD: case ftFMTBcd: case ftBoolean:
            Value = ConvertValue(Field, text ? QVariant(QString::fromUtf8(static_cast<const char*>(data), bytes))
                                             : QVariant(QByteArray(static_cast<const char*>(data), bytes)));
            return;
        default:
            Value.AssignString(std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(bytes)));
            return;
        }
    }
    }
    Value = Variant::Null();
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
        if (id == QMetaType::LongLong || id == QMetaType::Int) {
            const qlonglong v = Value.toLongLong();
            if (type == ftFMTBcd)
                return Variant(static_cast<long long>(v));
            if (v > INT64_MAX / 10000 || v < INT64_MIN / 10000)
                OutOfRange(U8(Value.toString()), "currency", Field);
            return Variant::FromScaledCurrency(v * 10000);
        }
        if (id == QMetaType::Double || id == QMetaType::Float) {
            if (type == ftFMTBcd)
                return Variant(Value.toDouble());
            try {
                return Variant::FromCurrency(Value.toDouble());
            } catch (const EConvertError&) {
                OutOfRange(U8(Value.toString()), "currency", Field);
            }
        }
        const std::string text = U8(Value.toString());
        std::int64_t scaled = 0;
        const int read = ParseScaledDecimal(text, '.', scaled);
        if (read == 0 && type != ftFMTBcd)
            return Variant::FromScaledCurrency(scaled);
        if (IsDecimalText(text) && type == ftFMTBcd)
            return Variant(text);
        if (read == 2)
            OutOfRange(text, "currency", Field);
        BadValue(Value, "decimal", Field);
    }
    case ftDate:
    case ftTime:
    case ftDateTime:
    case ftTimeStamp: {
        double serial = 0;
        if (id == QMetaType::QDate) {
            serial = DateToSerial(Value.toDate());
        } else if (id == QMetaType::QTime) {
            serial = TimeToSerial(Value.toTime());
        } else if (id == QMetaType::QDateTime) {
            const QDateTime dt = Value.toDateTime();
            serial = ComposeDateTime(DateToSerial(dt.date()), TimeToSerial(dt.time()));
        } else if (id == QMetaType::LongLong || id == QMetaType::Int) {
            // An integer is Unix time, a real a Julian day number: the readings of
            // SQLite's own date functions (shown in UTC, as they show it).
            const qlonglong seconds = Value.toLongLong();
            const qlonglong days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
            serial = ComposeDateTime(static_cast<double>(days + 25569),
                                     static_cast<double>(seconds - days * 86400) / 86400.0);
        } else if (id == QMetaType::Double) {
            const double julian = Value.toDouble() - 2415018.5;
            if (!std::isfinite(julian) || std::fabs(julian) > 3e6)
                OutOfRange(U8(Value.toString()), "date and time", Field);
            const double day = std::floor(julian);
            serial = ComposeDateTime(day, julian - day);
        } else {
            const QByteArray text = Value.toString().toUtf8();
            switch (ParseIsoDateTime(std::string_view(text.constData(), static_cast<std::size_t>(text.size())),
                                     zrKeep, serial)) {
            case dtInvalid: BadValue(Value, "date and time", Field);
            case dtInfinite: OutOfRange(text.toStdString(), "date and time", Field);
            case dtValue: break;
            }
        }
        return DateTimeOfType(type, serial);
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

std::string TSQLDataSet::RecordDigest() const
{
    static const Variant null = Variant::Null();
    std::vector<const Variant*> values;
    values.reserve(static_cast<std::size_t>(FieldCount()));
    for (int i = 0; i < FieldCount(); ++i) {
        const Variant* held = HeldFieldValue(*Fields(i));
        values.push_back(held ? held : &null);
    }
    return DigestOf(values);
}

std::string TSQLDataSet::DigestOf(const std::vector<Variant>& Values)
{
    std::vector<const Variant*> values;
    values.reserve(Values.size());
    for (const Variant& v : Values)
        values.push_back(&v);
    return DigestOf(values);
}

std::string TSQLDataSet::DigestOf(const std::vector<const Variant*>& Values)
{
    // FNV-1a over each value's kind and bytes.
    std::uint64_t h = 1469598103934665603ULL;
    auto mix = [&h](const void* Data, std::size_t Size) {
        const unsigned char* p = static_cast<const unsigned char*>(Data);
        for (std::size_t i = 0; i < Size; ++i) {
            h ^= p[i];
            h *= 1099511628211ULL;
        }
    };
    for (const Variant* held : Values) {
        const Variant& v = *held;
        const unsigned char kind = v.VarType();
        mix(&kind, 1);
        switch (v.VarType()) {
        case varString: mix(v.StringRef().data(), v.StringRef().size()); break;
        case varInteger:
        case varBoolean:
        case varCurrency: {
            const std::int64_t n = v.VarType() == varCurrency ? v.AsScaledCurrency() : v.AsInteger();
            mix(&n, sizeof n);
            break;
        }
        case varDouble:
        case varDate: {
            const double d = v.AsDouble();
            mix(&d, sizeof d);
            break;
        }
        default: break;
        }
    }
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

TBookmark TSQLDataSet::MakeBookmark(int Pos, const std::vector<QVariant>& Keys, const std::string& Digest) const
{
    TBookmark b = "P" + std::to_string(Pos);
    if (!Digest.empty())
        AppendPart(b, 'h', Digest);
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
    Out.Digest.clear();
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
        case 'h': Out.Digest = payload; break;
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
    // Held whole, so that its values can be read after other statements.
    Query.setForwardOnly(false);
    Query.setNumericalPrecisionPolicy(QSql::HighPrecision);
    if (!Query.prepare(Q(text)))
        throw Exception("Cannot look up a record: " + ErrorText(Query.lastError()));
    for (const QVariant& v : bound)
        Query.addBindValue(v);
    if (!Query.exec())
        throw Exception("Cannot look up a record: " + ErrorText(Query.lastError()));
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
    return MakeBookmark(FPos, keys, FKeyIndexes.empty() ? RecordDigest() : std::string());
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
        FLookupKeys.clear();
        for (int i = 0; i < FieldCount(); ++i) {
            FLookupRow.push_back(ReadValue(*Fields(i), lookup));
            FLookupKeys.push_back(lookup.value(i));
        }
        FBof = FEof = false;
        MovedTo(d.Position, srLookup);
        return;
    }
    if (FCount >= 0 && d.Position >= FCount)
        throw Exception("Record not found");
    // The cursor goes there when a value is first read: going back to where a walk
    // started does not run the statement again unless the record is looked at.
    FBof = FEof = false;
    MovedTo(d.Position, srCursor);
    FPendingDigest = d.Digest;
}

bool TSQLDataSet::BookmarkValid(const TBookmark& Bookmark) const
{
    if (!Active())
        return false;
    TDecoded d;
    if (!DecodeBookmark(Bookmark, d))
        return false;
    if (FKeyIndexes.empty())
        return d.Position < RecordCount();
    QSqlQuery q(Database());
    return LookupKeys(d.Keys, q);
}

void TSQLDataSet::GetRecordAt(int Index, std::vector<Variant>& Values, TBookmark& Bookmark)
{
    CheckActive();
    // A statement whose count is not known yet is not counted for this: the page read
    // tells whether the record exists.
    if (Index < 0 || (FCount >= 0 && Index >= FCount))
        throw EListError::OutOfBounds(Index);
    if (FPageStart < 0 || Index < FPageStart || Index >= FPageStart + static_cast<int>(FPage.size())) {
        const int start = Index / PageSize * PageSize;
        const std::string text = Wrapped("tabrix_page") + " LIMIT " +
                                 std::to_string(PageSize) + " OFFSET " + std::to_string(start);
        FPage.clear();
        FPageStart = -1;
        const auto keep = [&](auto&& ValueOf, auto&& KeyOf) {
            TPageRow row;
            row.Values.reserve(static_cast<std::size_t>(FieldCount()));
            for (int i = 0; i < FieldCount(); ++i)
                row.Values.push_back(ValueOf(*Fields(i)));
            std::vector<QVariant> keys;
            for (int k : FKeyIndexes)
                keys.push_back(KeyOf(k));
            row.Bookmark = MakeBookmark(start + static_cast<int>(FPage.size()), keys,
                                        FKeyIndexes.empty() ? DigestOf(row.Values) : std::string());
            FPage.push_back(std::move(row));
        };
        if (!Postgres()) {
            // Read as the walk reads its rows (a text straight from the statement, never
            // through UTF-16), so a display shows the values an export writes.
            TSqlRowStream rows(Database(), text, false);
            for (long long n = 1; rows.Next(n); ++n)
                keep([&](const TField& Field) { return rows.Statement() ? ReadSqliteValue(Field, rows.Statement())
                                                                         : ReadValue(Field, rows.Query()); },
                     [&](int Key) { return rows.Value(Key); });
        } else {
            QSqlQuery q(Database());
            q.setForwardOnly(false);
            q.setNumericalPrecisionPolicy(QSql::HighPrecision);
            if (!q.exec(Q(text)))
                throw Exception("Cannot read records: " + ErrorText(q.lastError()));
            while (q.next())
                keep([&](const TField& Field) { return ReadValue(Field, q); }, [&](int Key) { return q.value(Key); });
            if (q.lastError().type() != QSqlError::NoError)
                throw Exception("Cannot read records: " + ErrorText(q.lastError()));
        }
        FPageStart = start;
    }
    const std::size_t at = static_cast<std::size_t>(Index - FPageStart);
    if (at >= FPage.size())
        throw EListError::OutOfBounds(Index);
    Values = FPage[at].Values;
    Bookmark = FPage[at].Bookmark;
}
