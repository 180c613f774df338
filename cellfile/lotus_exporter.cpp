#include "cellfile/lotus_exporter.h"

#include "framework/exceptions.h"
#include "spec/text_utils.h"

#include <algorithm>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// Record opcodes of the WK1 layout.
enum : int { opBOF = 0x00, opEOF = 0x01, opRange = 0x06, opColWidth = 0x08, opInteger = 0x0D, opNumber = 0x0E, opLabel = 0x0F };

// Cell format bytes: unprotected, "special" kind, and its code.
constexpr char FormatGeneral = 0x71;
constexpr char FormatDate = 0x72;     // day-month-year
constexpr char FormatTime = 0x77;     // hour-minute-second
constexpr char FormatDefault = static_cast<char>(0xFF);

void Put16(std::string& Out, int Value)
{
    Out += static_cast<char>(Value & 0xFF);
    Out += static_cast<char>((Value >> 8) & 0xFF);
}

std::string CellHead(char Format, int ARow, int ACol)
{
    std::string data(1, Format);
    Put16(data, ACol);
    Put16(data, ARow);
    return data;
}

} // namespace

TKVExportToWKS::TKVExportToWKS(QObject* AOwner) : TKVExportToRecordFile(AOwner)
{
    SetTableType(teWKS);
}

void TKVExportToWKS::Record(int Opcode, const std::string& Data)
{
    std::string record;
    Put16(record, Opcode);
    Put16(record, static_cast<int>(Data.size()));
    WriteString(record + Data);
}

void TKVExportToWKS::WriteDimensions(int ARowCount, int AColCount)
{
    if (FRecordCount >= 0) {
        const long long rows = static_cast<long long>(Header().Count()) + ARowCount + Footer().Count();
        if (rows > MaxRows)
            throw Exception(TargetName() + ": " + FormatName() + " holds at most " + std::to_string(MaxRows)
                            + " rows; this export needs " + std::to_string(rows) + " (split it into files of fewer rows)");
    }
    if (AColCount - 1 > MaxColumns)
        throw Exception(TargetName() + ": " + FormatName() + " holds at most " + std::to_string(MaxColumns)
                        + " columns; " + std::to_string(AColCount - 1) + " are visible");
    std::string version;
    Put16(version, FileVersion());
    Record(opBOF, version);
    FRangeAt = FStream->Position() + 4;
    Record(opRange, std::string(8, '\0'));
    FLastRow = FLastCol = 0;
    FStarted = true;
}

void TKVExportToWKS::WriteColWidth(int ACol, int AWidth)
{
    if (!FStarted || AWidth <= 0 || ACol < 0 || ACol >= MaxColumns)
        return;
    std::string data;
    Put16(data, ACol);
    data += static_cast<char>(std::min(AWidth, 240));
    Record(opColWidth, data);
}

void TKVExportToWKS::BeginTable(const std::vector<TRecordField>&)
{
}

void TKVExportToWKS::CheckPlace(int ARow, int ACol, int Field)
{
    if (ARow >= MaxRows)
        Refuse(Field, FormatName() + " holds at most " + std::to_string(MaxRows) + " rows");
    if (ACol >= MaxColumns)
        Refuse(Field, FormatName() + " holds at most " + std::to_string(MaxColumns) + " columns");
    FLastRow = std::max(FLastRow, ARow);
    FLastCol = std::max(FLastCol, ACol);
}

void TKVExportToWKS::Label(int ARow, int ACol, int Field, const std::string& Utf8, TAlignment Alignment)
{
    CheckPlace(ARow, ACol, Field);
    const std::string Text = CodePage == 0 ? Utf8 : StrToOem(Utf8, CodePage);
    if (std::count(Text.begin(), Text.end(), '?') > std::count(Utf8.begin(), Utf8.end(), '?'))
        Count("texts held characters code page " + std::to_string(CodePage) + " has no form for; they became \"?\"",
              Field);
    if (Text.size() > static_cast<std::size_t>(MaxLabelBytes))
        Refuse(Field, "a label of " + FormatName() + " holds at most " + std::to_string(MaxLabelBytes) + " bytes; this text has "
                          + std::to_string(Text.size()));
    if (Text.find('\0') != std::string::npos)
        Refuse(Field, "a label cannot hold a NUL byte");
    const char prefix = Alignment == taRightJustify ? '"' : Alignment == taCenter ? '^' : '\'';
    Record(opLabel, CellHead(FormatDefault, ARow, ACol) + prefix + Text + '\0');
}

void TKVExportToWKS::WriteLine(int ARow, int ACol, const std::string& Text, TAlignment Alignment)
{
    if (!Text.empty())
        Label(ARow, ACol, -1, Text, Alignment);
}

void TKVExportToWKS::Cell(int ARow, int ACol, int Field, const Variant& Value, TAlignment Alignment)
{
    const TFieldType type = Fields()[static_cast<std::size_t>(Field)].DataType;
    double number;
    char format = FormatGeneral;
    switch (Value.VarType()) {
    case varNull:
    case varEmpty: return;
    case varString: Label(ARow, ACol, Field, Value.StringRef(), Alignment); return;
    case varInteger:
    case varBoolean: {
        const std::int64_t whole = Value.AsInteger();
        if (whole >= -32768 && whole <= 32767) {
            CheckPlace(ARow, ACol, Field);
            std::string data = CellHead(FormatGeneral, ARow, ACol);
            Put16(data, static_cast<int>(whole));
            Record(opInteger, data);
            return;
        }
        number = static_cast<double>(whole);
        if (static_cast<long double>(number) != static_cast<long double>(whole))
            Count("whole numbers have no exact double and were rounded to the nearest", Field);
        break;
    }
    case varDate: {
        const double serial = Value.AsDateTime();
        if (type == ftTime) {
            number = TimeOfDay(serial);
            format = FormatTime;
        } else if (DayAndTime(serial, epSerial).Day < 61) {
            // Lotus counts a 1900-02-29 that never was; the programs that read worksheets
            // today disagree about the serials before 1900-03-01, so those dates go as text.
            const TDateTimeParts parts = DateTimeParts(serial);
            Count("dates before 1900-03-01 have no worksheet serial every reader agrees on and were written as text",
                  Field);
            Label(ARow, ACol, Field, type == ftDate ? IsoDateText(parts) : IsoDateTimeText(parts), Alignment);
            return;
        } else {
            number = EpochSerial(serial, epSerial);
            format = FormatDate;
        }
        break;
    }
    default: number = Value.AsDouble(); break;
    }
    CheckPlace(ARow, ACol, Field);
    std::string data = CellHead(format, ARow, ACol);
    char bytes[8];
    std::memcpy(bytes, &number, 8); // IEEE 754, little endian on the machines we build for
    data.append(bytes, 8);
    Record(opNumber, data);
}

void TKVExportToWKS::WriteRecord(int ARow, const std::vector<Variant>& Values)
{
    for (std::size_t i = 0; i < Values.size(); ++i)
        Cell(ARow, static_cast<int>(i), static_cast<int>(i), Values[i], Alignments()[i]);
}

void TKVExportToWKS::EndTable()
{
    Record(opEOF, std::string());
    const std::int64_t end = FStream->Position();
    std::string range;
    Put16(range, 0);
    Put16(range, 0);
    Put16(range, FLastCol);
    Put16(range, FLastRow);
    FStream->Seek(FRangeAt, soBeginning);
    FStream->WriteBuffer(range.data(), 8);
    FStream->Seek(end, soBeginning);
    FStarted = false;
}
