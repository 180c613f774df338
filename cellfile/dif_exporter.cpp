#include "cellfile/dif_exporter.h"

#include "cellfile/markup_text.h"
#include "cellfile/value_text.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "spec/text_utils.h"

#include <algorithm>

TKVExportToDIF::TKVExportToDIF(QObject* AOwner) : TKVExportToText(AOwner)
{
    SetTableType(teDIF);
}

std::string TKVExportToDIF::DifString(const std::string& Text, long long& Replaced)
{
    long long crs = 0;
    const std::string text = LineFeedsOnly(Text, crs);
    // Every character the code page lacks becomes one "?".
    const std::string bytes = StrToOem(text, 1252);
    const bool lost = crs > 0
        || std::count(bytes.begin(), bytes.end(), '?') != std::count(text.begin(), text.end(), '?');
    Replaced += lost;
    std::string out = "\"";
    for (char c : bytes)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

void TKVExportToDIF::WriteFileBegin()
{
    if (CharacterSet == csASCII_MSDOS)
        throw Exception("DIF is written in the Windows-1252 code page: the DOS character set does not apply to it");
    TKVExportToText::WriteFileBegin();
    FBody.clear();
    FTuples = FVectors = 0;
    FReplaced = 0;
}

void TKVExportToDIF::WriteDataBegin()
{
    RequireRecordLayout("DIF", true);
    TKVExportToText::WriteDataBegin();
}

void TKVExportToDIF::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    FBody += "-1,0\r\nBOT\r\n";
    FCells = 0;
}

void TKVExportToDIF::WriteData(TField* Field, TCellType CellType, int, int ACol, const std::string& Text, TAlignment,
                               TFont*, TColor)
{
    ++FCells;
    if (Field && Field->IsNull()) {
        CountChange("nulls were written as empty texts: DIF has no null a reader keeps", ACol);
        FBody += "1,0\r\n\"\"\r\n";
        return;
    }
    if (IsPictureCell(Field, CellType)) {
        if (!Text.empty())
            CountChange("picture cells cannot be held by DIF and were left empty", ACol);
        FBody += "1,0\r\n\"\"\r\n";
        return;
    }
    const TSpreadsheetNumber number = SpreadsheetNumber(Field, CellType, Text);
    if (number.TooLong)
        CountChange(TooLongWhat, ACol);
    if (number.Rounded)
        CountChange(RoundedWhat, ACol);
    if (!number.Text.empty()) {
        FBody += "0," + number.Text + "\r\nV\r\n";
        return;
    }
    const bool date = Field && IsDateTimeFieldType(Field->DataType());
    const long long replaced = FReplaced;
    FBody += "1,0\r\n" + DifString(date ? LiteralFieldText(Field) : Text, FReplaced) + "\r\n";
    if (FReplaced != replaced)
        CountChange("values held characters the Windows-1252 code page of DIF cannot hold; they became \"?\" (a CR "
                    "a line break)", ACol);
}

void TKVExportToDIF::WriteRowEnd(bool IsTitle)
{
    ++FTuples;
    FVectors = std::max(FVectors, FCells);
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToDIF::WriteFileEnd()
{
    WriteString("TABLE\r\n0,1\r\n\"\"\r\nVECTORS\r\n0," + std::to_string(FVectors) + "\r\n\"\"\r\nTUPLES\r\n0,"
                + std::to_string(FTuples) + "\r\n\"\"\r\nDATA\r\n0,0\r\n\"\"\r\n");
    WriteString(FBody);
    WriteString("-1,0\r\nEOD\r\n");
    FBody.clear();
    TKVExportToText::WriteFileEnd();
}
