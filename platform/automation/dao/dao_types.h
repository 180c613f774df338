#pragma once
// Field types of the native database engine and how a value put into a field is stored.
//
// Column types (SQLite declared type / PostgreSQL type):
//
//   DAO type              SQLite               PostgreSQL        stored as
//   1  Boolean            BOOLEAN              boolean           1 / 0 (SQLite), true / false
//   3  16-bit integer     SMALLINT             smallint          integer, -32768 .. 32767
//   4  32-bit integer     INTEGER              integer           integer, 32-bit range
//   16 64-bit integer     BIGINT               bigint            integer, 64-bit range
//   5  currency           NUMERIC(19,4)        numeric(19,4)     exact decimal, 4 decimals
//   7  double             DOUBLE PRECISION     double precision  IEEE double
//   8  date               DATETIME             timestamp         'YYYY-MM-DD HH:MM:SS[.fff]',
//                                                                years 1 .. 9999
//   9  fixed binary (n)   BINARY(n)            bytea             bytes, at most n when n > 0
//   10 text (n)           VARCHAR(n) / TEXT    varchar(n) / text characters, at most n when
//                                                                0 < n <= 255; TEXT otherwise
//   11 long binary        BLOB                 bytea             bytes
//   12 memo               LONGTEXT             text              text of any length
//   15 GUID               GUID                 uuid              '{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}'
//
// An amount whose double gives back its four decimals goes to the database as that
// double; any other as its exact text. PostgreSQL keeps every digit of both. SQLite's
// NUMERIC(19,4) keeps the double as it is (a reader showing 17 digits sees the amount)
// but cuts a text to 15 significant digits, so SQLite refuses such an amount, naming
// the field. A "NOT NULL" follows the type of a field whose Required is true.
//
// Tables this engine did not create are read back through the same names (INT2, INT4,
// INT8, FLOAT8, REAL, TIMESTAMP, DATE, BYTEA, UUID, BOOL, CHAR/CLOB/TEXT, ... are
// understood); any other declared type counts as text.
//
// A value put into a field:
//   - null: stored as null; a Required field refuses it (at the put and at Update).
//   - a byte array: its bytes into binary fields; the bytes as text into text and memo
//     fields; any other field converts the bytes read as text, as below.
//   - a number or Boolean: kept as that number for numeric fields (range checked), as
//     its text for text fields.
//   - a text: converted under the process's current format settings (the run sets them
//     from its DataFormats), the way the database engine reads typed text:
//       Boolean    "True"/"False", "Yes"/"No", "On"/"Off" (any case) or a number, non-zero
//                  being true;
//       integers   a number with the current decimal separator (or "."), the current
//                  thousand separator allowed and removed, surrounding blanks ignored;
//                  a fraction rounds half to even; outside the type's range: overflow;
//       currency   as integers, the currency string allowed before or after; kept exact
//                  (no binary floating point), rounded half to even to 4 decimals;
//       double     as integers;
//       date       the current short date order (d, m, y as ShortDateFormat orders
//                  them) with the current date separator, or ISO "yyyy-mm-dd"; an
//                  optional time "h:nn[:ss[.fff]]" with the current time separator (or ":")
//                  and an optional AM/PM; a time alone is a time on 1899-12-30; two-digit
//                  years 00..29 are 2000..2029, 30..99 are 1930..1999;
//       GUID       32 hexadecimal digits, with or without dashes and braces;
//       text       as it is, refused when longer than the field's size;
//       binary     the text's bytes.
//     A text that does not convert fails with "Data type conversion error" naming the
//     field and the value.

#include "platform/automation/automation_value.h"

#include <cstdint>
#include <string>
#include <vector>

enum class DaoType : int {
    Boolean = 1, Integer = 3, Long = 4, Currency = 5, Double = 7, Date = 8, Binary = 9, Text = 10,
    LongBinary = 11, Memo = 12, Guid = 15, BigInt = 16
};

bool IsDaoType(int Value);
const char* DaoTypeName(DaoType Type);

struct DaoFieldDef {
    std::string Name;
    DaoType Type = DaoType::Text;
    int Size = 0;
    bool Required = false;
    int Attributes = 0;
};

enum class DaoDialect { Sqlite, Postgres };

// The column type of a field, as it goes into CREATE TABLE (without NOT NULL).
std::string DaoColumnType(const DaoFieldDef& Field, DaoDialect Dialect);
// The CREATE TABLE statement of a table with these fields, every name quoted.
std::string DaoCreateTableSql(const std::string& Table, const std::vector<DaoFieldDef>& Fields, DaoDialect Dialect);
// The field type and size that a declared column type stands for.
void DaoTypeFromDeclared(const std::string& Declared, DaoDialect Dialect, DaoType& Type, int& Size);

// A value as it goes into the database.
struct DaoValue {
    enum Kind : std::uint8_t { Null, Integer, Real, Text, Blob } Kind = Null;
    std::int64_t Int = 0;
    double Dbl = 0;
    std::string Str; // text, blob bytes, a date 'YYYY-MM-DD HH:MM:SS' or an exact decimal
};

// Converts a put value for Field under the rules above; raises Exception with the
// engine's message when it cannot be stored. Table names the field in messages.
DaoValue ConvertDaoValue(const DaoFieldDef& Field, const std::string& Table, const AutomationValue& Value);
// The same into Out, whose text storage is reused; Out is left as it was when the
// value is refused.
void ConvertDaoValue(const DaoFieldDef& Field, const std::string& Table, const AutomationValue& Value, DaoValue& Out);

// A double-quoted SQL identifier: quotes doubled; a name that is empty or holds a NUL
// byte is refused.
std::string QuoteIdentifier(const std::string& Name);
