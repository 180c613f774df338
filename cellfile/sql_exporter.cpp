#include "cellfile/sql_exporter.h"

#include "cellfile/json_exporter.h"
#include "cellfile/markup_text.h"
#include "cellfile/value_text.h"
#include "engine/data_engine.h"
#include "export/message_table.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"

#include <set>

namespace {

const char* SqlType(TFieldType Type)
{
    switch (Type) {
    case ftSmallint:
    case ftWord: return "INTEGER";
    // An integer field holds 64 bits here.
    case ftInteger:
    case ftAutoInc:
    case ftLargeint: return "BIGINT";
    case ftFloat: return "DOUBLE PRECISION";
    case ftCurrency:
    case ftBCD:
    case ftFMTBcd: return "NUMERIC";
    case ftBoolean: return "BOOLEAN";
    case ftDate: return "DATE";
    case ftTime: return "TIME";
    case ftDateTime:
    case ftTimeStamp: return "TIMESTAMP";
    default: return "TEXT";
    }
}

bool NumericType(const std::string& Type)
{
    return Type == "INTEGER" || Type == "BIGINT" || Type == "DOUBLE PRECISION" || Type == "NUMERIC";
}

// Name as valid UTF-8 without NUL, at most 63 bytes (PostgreSQL cuts longer names).
std::string IdentifierText(const std::string& Name)
{
    std::string out;
    for (std::size_t i = 0; i < Name.size();) {
        const std::size_t start = i;
        bool valid = true;
        const char32_t c = NextCharacter(Name, i, valid);
        const std::string piece = !valid ? std::string("\xEF\xBF\xBD") : c == 0 ? std::string("_") : Name.substr(start, i - start);
        if (out.size() + piece.size() > 63)
            break;
        out += piece;
    }
    return out.empty() ? std::string("column") : out;
}

// Line of a comment: every line break starts a new comment line.
std::string Comment(const std::string& Text)
{
    std::string out = "-- ";
    for (char c : Text)
        out += c == '\n' || c == '\r' ? std::string("\n-- ") : std::string(1, c == '\0' ? ' ' : c);
    return out + "\n";
}

} // namespace

TKVExportToSQL::TKVExportToSQL(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(teSQL);
}

std::string TKVExportToSQL::SqlString(const std::string& Text, long long& Replaced)
{
    // sqlite3 reads a script line by line and drops the CR of a CR LF line end, also
    // inside a string: such a CR ends a literal, and the LF begins the next one.
    bool afterCr = false;
    return "'"
        + Transcribe(Text, Replaced,
                     [&afterCr](char32_t C, bool Valid, std::string_view Bytes, std::string& Out) {
                         if (C == '\n' && afterCr)
                             Out += "' || '";
                         afterCr = C == '\r';
                         if (!Valid)
                             Out += "\xEF\xBF\xBD";
                         else
                             Out += C == '\'' ? std::string_view("''") : Bytes;
                         return Valid;
                     })
        + "'";
}

std::string TKVExportToSQL::SqlIdentifier(const std::string& Name)
{
    std::string out = "\"";
    for (char c : Name)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

void TKVExportToSQL::CreateFileStream(const std::string& FileName, int FileNumber)
{
    FFileNumber = FileNumber;
    TKVExportToText::CreateFileStream(FileName, FileNumber);
}

void TKVExportToSQL::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("An SQL script is written in UTF-8: the DOS character set does not apply to it");
    TKVExportToText::WriteFileBegin();
    FReplaced = FRenamed = 0;
    WriteString(Comment(GeneratorVer));
}

void TKVExportToSQL::WriteDataBegin()
{
    RequireRecordLayout("An SQL script", false);
    TKVExportToText::WriteDataBegin();
    const std::string table = !TableName.empty() ? TableName
        : FileName().empty()                      ? std::string("tabrix")
                                                  : ChangeFileExt(ExtractFileName(FileName()), "");
    FTable = SqlIdentifier(IdentifierText(table));
    FTypes.clear();
    FCaptions.clear();
    std::set<std::string> taken;
    std::string names, definitions;
    for (TKVEColumn* column : VisibleColumns()) {
        const std::string caption = CaptionOf(column);
        const std::string unique = UniqueName(IdentifierText(caption), taken, true, 63);
        FRenamed += unique != caption;
        const std::string quoted = SqlIdentifier(unique);
        // The source field's own type where there is one: a column's cell type has no Boolean.
        TField* field = column->ColumnKind == ckField && SourceEngine() ? SourceEngine()->FindFieldByColumn(column) : nullptr;
        FTypes.push_back(SqlType(field ? field->DataType() : SourceEngine() ? SourceEngine()->DataTypeByColumn(column)
                                                                            : ftString));
        FCaptions.push_back(caption);
        names += (names.empty() ? "" : ", ") + quoted;
        definitions += (definitions.empty() ? "" : ", ") + quoted + " " + FTypes.back();
    }
    FInsert = "INSERT INTO " + FTable + " (" + names + ") VALUES (";
    std::string text = "BEGIN;\n";
    if (FFileNumber == 0 && !Options.Contains(soMergeData))
        text += "CREATE TABLE " + FTable + " (" + definitions + ");\n";
    WriteString(text);
}

void TKVExportToSQL::WriteDataEnd()
{
    WriteString("COMMIT;\n");
    TKVExportToCellFile::WriteDataEnd();
}

void TKVExportToSQL::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    FRow.clear();
    FValues = 0;
}

void TKVExportToSQL::WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                               TAlignment, TFont*, TColor)
{
    if (!FDataStarted) {
        FRow += Comment(Text);
        return;
    }
    const std::string type = ACol >= 0 && static_cast<std::size_t>(ACol) < FTypes.size()
        ? FTypes[static_cast<std::size_t>(ACol)]
        : std::string("TEXT");
    std::string value;
    const TFieldType fieldType = Field ? Field->DataType() : ftUnknown;
    if (Field && Field->IsNull()) {
        value = "NULL";
    } else if (IsPictureCell(Field, CellType)
               || (Field && (fieldType == ftBytes || fieldType == ftVarBytes
                             || (Field->IsBlob() && fieldType != ftMemo && fieldType != ftFmtMemo
                                 && fieldType != ftOraClob)))) {
        // An empty picture cell is no value; empty bytes are one.
        if (!Text.empty() || !IsPictureCell(Field, CellType))
            CountChange("picture or binary values have no literal both sqlite3 and psql read and were written as NULL",
                        ACol);
        value = "NULL";
    } else if (Field && IsNumericFieldType(fieldType)) {
        value = LiteralFieldText(Field);
        if (!TKVExportToJSON::IsJsonNumber(value)) {
            CountChange("numbers that are not finite have no SQL literal and were written as NULL", ACol);
            value = "NULL";
        }
    } else if (Field && fieldType == ftBoolean) {
        value = Field->AsBoolean() ? "TRUE" : "FALSE";
    } else if (!Field && NumericType(type) && TKVExportToJSON::IsJsonNumber(Text)) {
        value = Text;
    } else {
        if (fieldType == ftVariant && Field->Value().IsNumeric())
            CountChange("numbers of a column whose type its first value did not tell were written as text", ACol);
        const std::string text =
            Field && (IsDateTimeFieldType(fieldType) || fieldType == ftVariant) ? LiteralFieldText(Field) : Text;
        if (text.find('\0') != std::string::npos) {
            const std::string column = static_cast<std::size_t>(ACol) < FCaptions.size()
                ? FCaptions[static_cast<std::size_t>(ACol)]
                : std::to_string(ACol + 1);
            throw Exception("the value of column " + column + " in row " + std::to_string(ARow + 1)
                            + " holds a NUL character, which PostgreSQL text cannot hold; no script was written");
        }
        const long long replaced = FReplaced;
        value = SqlString(text, FReplaced);
        if (FReplaced != replaced)
            CountChange("values held bytes that are not UTF-8; they became U+FFFD", ACol);
    }
    FRow += (FValues++ > 0 ? ", " : "") + value;
}

void TKVExportToSQL::WriteRowEnd(bool IsTitle)
{
    if (FDataStarted && !IsTitle)
        WriteString(FInsert + FRow + ");\n");
    else if (!FDataStarted)
        WriteString(FRow);
    FRow.clear();
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToSQL::WriteFileEnd()
{
    Warn(FRenamed, "column names were changed to be valid, unique names of at most 63 bytes");
    TKVExportToText::WriteFileEnd();
}
