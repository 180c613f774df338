#pragma once
// An SQL script on the cell-file pipeline (.SQL) that sqlite3 and psql both run as it
// is (psql -v ON_ERROR_STOP=1 -f out.sql; sqlite3 shop.db < out.sql):
//
//   -- Tabrix 4.61
//   -- header line                  (header and footer lines as comments)
//   BEGIN;
//   CREATE TABLE "orders" ("id" BIGINT, "customer" TEXT, "total" NUMERIC);
//   INSERT INTO "orders" ("id", "customer", "total") VALUES (1, 'O''Brien', 12.5000);
//   COMMIT;
//
// The rules are the ones both dialects share:
//   - the table is TableName, or the file's name without its extension (else
//     "tabrix"); identifiers are in double quotes with '"' doubled, made unique
//     without regard to letter case (SQLite's rule) and cut to 63 bytes (PostgreSQL's);
//   - column types from the field types: INTEGER (16-bit fields), BIGINT, DOUBLE PRECISION, NUMERIC,
//     BOOLEAN, DATE, TIME, TIMESTAMP, TEXT;
//   - strings in single quotes with "'" doubled, no backslash escapes (PostgreSQL's
//     standard_conforming_strings, on by default), line breaks kept in them as they
//     are, but for a CR LF, which is split into two literals joined by || (sqlite3
//     drops the CR of a line end even inside a string); numbers as literals with every digit (taken from the field's value, with
//     "." whatever the run's display formats); TRUE and FALSE; dates and times as ISO
//     strings ('1899-12-30', '13:45:00', '1899-12-30 13:45:00'); NULL;
//   - the script is UTF-8: bytes that are not UTF-8 become U+FFFD and are counted. A
//     NUL character cannot be held by PostgreSQL's text: such a value fails the export
//     and no script is written. Pictures and binary values have no literal both accept:
//     they are written as NULL and counted; so is a float that is not finite.
//
// With soMergeData, and in every file of a split export but the first, the script
// adds its rows to an existing table: it has no CREATE TABLE. Only the columnar layout
// is written. Files are written beside the target and renamed when whole.

#include "cellfile/text_exporter.h"

class TKVExportToSQL : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToSQL(QObject* AOwner = nullptr);

    std::string Extension() override { return ".SQL"; }
    bool TitleIsSupported() override { return false; }
    // Binary values become NULL, counted: no blob literal reads the same in SQLite and PostgreSQL.
    bool KeepsBinary() override { return true; }
    void CreateFileStream(const std::string& FileName, int FileNumber) override;
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteDataEnd() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Text as an SQL string literal; Replaced counts the values with bytes that are not
    // UTF-8. Text must not hold a NUL character.
    static std::string SqlString(const std::string& Text, long long& Replaced);
    // Name as a quoted identifier.
    static std::string SqlIdentifier(const std::string& Name);

private:
    int FFileNumber = 0;
    std::string FTable;                // quoted
    std::string FInsert;               // INSERT INTO ... VALUES (
    std::vector<std::string> FTypes;   // SQL type by visible column
    std::vector<std::string> FCaptions;
    std::string FRow;
    int FValues = 0;
    long long FReplaced = 0;
    long long FRenamed = 0;
};
