#include "cellfile/record_file_exporter.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"

#include <QDate>

#include <charconv>
#include <cmath>

namespace {

bool IsAsciiLetter(char C)
{
    return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z');
}

std::string Upper(std::string Text)
{
    for (char& c : Text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    return Text;
}

// The field type a column without a source field declares through its cell type.
TFieldType FieldTypeOfCell(TCellType CellType)
{
    switch (CellType) {
    case ctInteger: return ftLargeint;
    case ctDouble: return ftFloat;
    case ctCurrency: return ftCurrency;
    case ctDate: return ftDate;
    case ctTime: return ftTime;
    case ctDateTime: return ftDateTime;
    case ctMEMO: return ftMemo;
    case ctGraphic: return ftGraphic;
    default: return ftString;
    }
}

} // namespace

TKVExportToRecordFile::TKVExportToRecordFile(QObject* AOwner) : TKVExportToText(AOwner)
{
}

std::string TKVExportToRecordFile::ValidName(const std::string& Wanted, std::size_t MaxLength,
                                             const std::string& Prefix, std::set<std::string>& Used)
{
    std::string name;
    for (std::size_t i = 0; i < Wanted.size(); ++i) {
        const char c = Wanted[i];
        if (IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_')
            name += c;
        else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) // one "_" for a whole UTF-8 character
            name += '_';
    }
    if (name.empty() || !IsAsciiLetter(name[0]))
        name = Prefix + name;
    name = name.substr(0, MaxLength);
    const std::string base = name;
    for (int n = 2; Used.count(Upper(name)); ++n) {
        const std::string suffix = "_" + std::to_string(n);
        name = base.substr(0, MaxLength - std::min(MaxLength, suffix.size())) + suffix;
    }
    Used.insert(Upper(name));
    return name;
}

std::string TKVExportToRecordFile::ExactDouble(double Value)
{
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, Value);
    return std::string(buf, result.ptr);
}

void TKVExportToRecordFile::InternalFileCreate(const std::string& FileName)
{
    FTarget = FileName;
    TKVExportToText::InternalFileCreate(FileName);
}

void TKVExportToRecordFile::WriteFileBegin()
{
    if (!FOwnFile)
        throw Exception(Extension() + " files are written to a file of their own, not into a stream");
    TKVExportToText::WriteFileBegin();
    FRecords = 0;
    FChanges.Clear();
    FTableOpen = false;
}

void TKVExportToRecordFile::WriteDataBegin()
{
    if (Layout != elColumnar)
        throw Exception(TargetName() + ": a table of records is written in the columnar layout only");
    TKVExportToText::WriteDataBegin();
    FFields.clear();
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        if (!column->Visible)
            continue;
        TRecordField field;
        field.Caption = column->Title().Caption;
        field.Name = column->FieldName.empty() ? field.Caption : column->FieldName;
        field.Width = column->Width;
        TField* source = column->ColumnKind == ckField && SourceEngine() ? SourceEngine()->FindFieldByColumn(column) : nullptr;
        if (source) {
            field.DataType = source->IsBlob() && source->BlobType() == ftGraphic ? ftGraphic : source->DataType();
            field.Size = source->Size();
        } else {
            field.DataType = FieldTypeOfCell(column->DataType);
        }
        FFields.push_back(field);
    }
    FChangeNames.clear();
    for (const TRecordField& f : FFields)
        FChangeNames.push_back(f.Name);
    FValues.assign(FFields.size(), Variant::Null());
    FAlignments.assign(FFields.size(), taLeftJustify);
    BeginTable(FFields);
    FTableOpen = true;
}

void TKVExportToRecordFile::WriteRowStart(bool IsTitle)
{
    FTitleRow = IsTitle;
    if (!IsTitle && FDataStarted)
        std::fill(FValues.begin(), FValues.end(), Variant::Null());
}

Variant TKVExportToRecordFile::CellValue(TField* Field, TCellType CellType, const std::string& Text, int Col)
{
    const bool picture = CellType == ctGraphic || FFields[static_cast<std::size_t>(Col)].DataType == ftGraphic
        || (Field && Field->IsBlob() && Field->BlobType() == ftGraphic);
    if (picture) {
        if (!Text.empty())
            Count("picture cells cannot be held and were written as null", Col);
        return Variant::Null();
    }
    if (Field) {
        Variant value = Field->Value();
        if (HoldsBinary(Field)) {
            // No table of records here has a field for bytes: they go as base64 text.
            Count("binary values have no form in this file and were written as base64 text", Col);
            return Variant(Base64Text(value.AsString()));
        }
        if (Field->DataType() == ftVariant && value.IsNumeric() && !TypesEachValue())
            Count("numbers of a column whose type its first value did not tell were written as text", Col);
        return value;
    }
    if (Text.empty() || CellType == ctBlank)
        return Variant::Null();
    const Variant text(Text);
    switch (FFields[static_cast<std::size_t>(Col)].DataType) {
    case ftLargeint: return Variant(static_cast<long long>(text.AsInteger()));
    case ftFloat: return Variant(text.AsDouble());
    case ftCurrency: return Variant::FromScaledCurrency(text.AsScaledCurrency());
    case ftDate:
    case ftTime:
    case ftDateTime: return Variant::FromDateTime(text.AsDateTime());
    default: return text;
    }
}

void TKVExportToRecordFile::WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                                      TAlignment Alignment, TFont*, TColor)
{
    if (FTitleRow || !FDataStarted) {
        WriteLine(ARow, ACol, Text, Alignment);
        return;
    }
    if (ACol < 0 || static_cast<std::size_t>(ACol) >= FValues.size())
        return;
    FAlignments[static_cast<std::size_t>(ACol)] = Alignment;
    try {
        FValues[static_cast<std::size_t>(ACol)] = CellValue(Field, CellType, Text, ACol);
    } catch (const EConvertError& e) {
        Refuse(ACol, e.Message());
    }
}

void TKVExportToRecordFile::WriteLine(int, int, const std::string&, TAlignment)
{
    Count("header, footer and caption lines have no place in the table and were left out", -1);
}

void TKVExportToRecordFile::WriteRowEnd(bool IsTitle)
{
    if (!IsTitle && FDataStarted) {
        WriteRecord(FCurrentRow, FValues);
        ++FRecords;
    }
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToRecordFile::WriteFileEnd()
{
    const bool open = FTableOpen;
    FTableOpen = false;
    if (open && !FExportFailed) {
        try {
            EndTable();
        } catch (...) {
            CloseTable();
            throw;
        }
    }
    if (open)
        CloseTable();
    TKVExportToText::WriteFileEnd();
}

void TKVExportToRecordFile::Refuse(int Field, const std::string& What) const
{
    std::string where = TargetName() + ": ";
    if (Field >= 0 && static_cast<std::size_t>(Field) < FFields.size())
        where += "field " + FFields[static_cast<std::size_t>(Field)].Name + ", ";
    throw Exception(where + "record " + std::to_string(RecordNumber()) + ": " + What);
}

void TKVExportToRecordFile::Count(const std::string& What, int Field)
{
    const bool inTable = Field >= 0 && static_cast<std::size_t>(Field) < FFields.size();
    FChanges.Count(What, inTable ? Field : -1, RecordNumber());
}
