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
    std::string out = "\"";
    out.reserve(Text.size() + 2);
    bool counted = false;
    for (std::size_t i = 0; i < Text.size();) {
        const std::size_t start = i;
        bool valid = true;
        const char32_t c = NextCharacter(Text, i, valid);
        bool changed = false;
        if (c == ';') {
            out += ";;";
        } else if (c == '\n') {
            out += "\x1B :";
        } else if (c == '\r') {
            out += "\x1B :";
            if (i < Text.size() && Text[i] == '\n')
                ++i;
            changed = true;
        } else if (!valid || (c < 0x20 && c != '\t') || c == 0x7F) {
            out += "\xEF\xBF\xBD";
            changed = true;
        } else {
            out.append(Text, start, i - start);
        }
        if (changed && !counted) {
            ++Replaced;
            counted = true;
        }
    }
    return out + "\"";
}

void TKVExportToSYLK::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("SYLK is written in UTF-8: the DOS character set does not apply to it");
    TKVExportToText::WriteFileBegin();
    FY = 0;
    FReplaced = FTooLong = FRounded = FPictures = 0;
    WriteString("ID;PTabrix;N;E\r\n"
                "P;PGeneral\r\n"
                "P;Pyyyy\\-mm\\-dd\r\n"
                "P;Phh:mm:ss\r\n"
                "P;Pyyyy\\-mm\\-dd hh:mm:ss\r\n");
}

void TKVExportToSYLK::WriteDataBegin()
{
    if (Layout == elReversedColumnar)
        throw Exception("SYLK is written a record a row: the reversed columnar layout cannot be written");
    TKVExportToText::WriteDataBegin();
}

void TKVExportToSYLK::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    ++FY;
    FX = 0;
    FRow.clear();
}

void TKVExportToSYLK::WriteData(TField* Field, TCellType CellType, int, int, const std::string& Text, TAlignment,
                                TFont*, TColor)
{
    const std::string place = ";Y" + std::to_string(FY) + ";X" + std::to_string(++FX);
    if (Field && Field->IsNull())
        return;
    if (IsPictureCell(Field, CellType)) {
        FPictures += !Text.empty();
        return;
    }
    const TFieldType type = Field ? Field->DataType() : ftUnknown;
    if (Field && IsDateTimeFieldType(type)) {
        const TSylkFormat format = type == ftDate ? sfDate : type == ftTime ? sfTime : sfDateTime;
        FRow += "F;P" + std::to_string(format) + ";FG0G" + place + "\r\nC" + place + ";K"
            + ShortestText(Field->AsDateTime()) + "\r\n";
        return;
    }
    const TSpreadsheetNumber number = SpreadsheetNumber(Field, CellType, Text);
    FTooLong += number.TooLong;
    FRounded += number.Rounded;
    FRow += "C" + place + ";K" + (number.Text.empty() ? SylkString(Text, FReplaced) : number.Text) + "\r\n";
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
    Warn(FReplaced, "values held characters SYLK cannot hold (a CR, a control character or a byte that is not "
                    "UTF-8); they became line breaks or U+FFFD");
    Warn(FTooLong, "whole numbers have more than the 15 digits a spreadsheet number keeps and were written as text");
    Warn(FRounded, "numbers need more than the 15 significant digits spreadsheet programs keep; they were written "
                   "whole, and a reader may round them");
    Warn(FPictures, "picture cells cannot be held by SYLK and were left out");
    TKVExportToText::WriteFileEnd();
}
