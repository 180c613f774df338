#include "cellfile/sylk_exporter.h"

#include "cellfile/markup_text.h"
#include "cellfile/value_text.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"

namespace {

// The number formats of the file, by their index in the P records.
enum TSylkFormat { sfGeneral = 0, sfDate = 1, sfTime = 2, sfDateTime = 3 };

} // namespace

TKVExportToSYLK::TKVExportToSYLK(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(teSYLK);
}

std::string TKVExportToSYLK::SylkString(const std::string& Text, long long& Replaced)
{
    // A line break is ESC " :"; SYLK has no CR of its own, and CR LF is one break.
    bool afterCr = false;
    return "\""
        + Transcribe(Text, Replaced,
                     [&afterCr](char32_t C, bool Valid, std::string_view Bytes, std::string& Out) {
                         const bool lf = C == '\n' && afterCr;
                         afterCr = C == '\r';
                         if (C == ';') {
                             Out += ";;";
                         } else if (C == '\n' || C == '\r') {
                             if (!lf)
                                 Out += "\x1B :";
                             return C == '\n';
                         } else if (!Valid || (C < 0x20 && C != '\t') || C == 0x7F) {
                             Out += "\xEF\xBF\xBD";
                             return false;
                         } else {
                             Out += Bytes;
                         }
                         return true;
                     })
        + "\"";
}

void TKVExportToSYLK::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("SYLK is written in UTF-8: the DOS character set does not apply to it");
    TKVExportToText::WriteFileBegin();
    FY = 0;
    FReplaced = 0;
    WriteString("ID;PTabrix;N;E\r\n"
                "P;PGeneral\r\n"
                "P;Pyyyy\\-mm\\-dd\r\n"
                "P;Phh:mm:ss\r\n"
                "P;Pyyyy\\-mm\\-dd hh:mm:ss\r\n");
}

void TKVExportToSYLK::WriteDataBegin()
{
    RequireRecordLayout("SYLK", true);
    TKVExportToText::WriteDataBegin();
}

void TKVExportToSYLK::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    ++FY;
    FX = 0;
    FRow.clear();
}

void TKVExportToSYLK::WriteData(TField* Field, TCellType CellType, int, int ACol, const std::string& Text,
                                TAlignment, TFont*, TColor)
{
    const std::string place = ";Y" + std::to_string(FY) + ";X" + std::to_string(++FX);
    if (Field && Field->IsNull())
        return;
    if (IsPictureCell(Field, CellType)) {
        if (!Text.empty())
            CountChange("picture cells cannot be held by SYLK and were left out", ACol);
        return;
    }
    const TFieldType type = Field ? Field->DataType() : ftUnknown;
    if (Field && IsDateTimeFieldType(type)) {
        const TSylkFormat format = type == ftDate ? sfDate : type == ftTime ? sfTime : sfDateTime;
        FRow += "F;P" + std::to_string(format) + ";FG0G" + place + "\r\nC" + place + ";K"
            + ShortestText(type == ftTime ? TimeOfDay(Field->AsDateTime()) : EpochSerial(Field->AsDateTime(), epSerial))
            + "\r\n";
        return;
    }
    const TSpreadsheetNumber number = SpreadsheetNumber(Field, CellType, Text);
    if (number.TooLong)
        CountChange(TooLongWhat, ACol);
    if (number.Rounded)
        CountChange(RoundedWhat, ACol);
    const long long replaced = FReplaced;
    FRow += "C" + place + ";K" + (number.Text.empty() ? SylkString(Text, FReplaced) : number.Text) + "\r\n";
    if (FReplaced != replaced)
        CountChange("values held characters SYLK cannot hold (a CR, a control character or a byte that is not "
                    "UTF-8); they became line breaks or U+FFFD", ACol);
}

void TKVExportToSYLK::WriteRowEnd(bool IsTitle)
{
    WriteString(FRow);
    FRow.clear();
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToSYLK::WriteFileEnd()
{
    WriteString("E\r\n");
    TKVExportToText::WriteFileEnd();
}
