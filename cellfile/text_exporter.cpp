#include "cellfile/text_exporter.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool IsContinuation(char C)
{
    return (static_cast<unsigned char>(C) & 0xC0) == 0x80;
}

// Characters of Text: UTF-8 characters, or bytes for a one-byte code page.
std::size_t Characters(const std::string& Text, bool Bytes)
{
    if (Bytes)
        return Text.size();
    return static_cast<std::size_t>(std::count_if(Text.begin(), Text.end(), [](char c) { return !IsContinuation(c); }));
}

// The first Count characters of Text, never cutting inside a UTF-8 character.
std::string FirstCharacters(const std::string& Text, std::size_t Count, bool Bytes)
{
    if (Bytes)
        return Text.substr(0, Count);
    std::size_t seen = 0;
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (!IsContinuation(Text[i]) && seen++ == Count)
            return Text.substr(0, i);
    }
    return Text;
}

} // namespace

TKVExportToText::TKVExportToText(QObject* AOwner) : TKVExportToCellFile(AOwner)
{
    SetTableType(teText);
}

void TKVExportToText::InternalFileCreate(const std::string& FileName)
{
    FTargetName = FOwnFile ? FileName : std::string();
    if (!FOwnFile)
        return;
    // Written beside the target, through the descriptor that made the temporary file,
    // and put in its place when whole.
    FReplacement = std::make_unique<TFileReplacement>(FileName);
    try {
        FStream = new TFileStream(FReplacement->Handle(), FReplacement->TempName());
    } catch (...) {
        DiscardTemporary();
        throw;
    }
}

void TKVExportToText::DiscardTemporary()
{
    FReplacement.reset(); // removes the temporary file
}

void TKVExportToText::CommitTemporary()
{
    try {
        FReplacement->Commit();
    } catch (...) {
        DiscardTemporary();
        throw;
    }
    FReplacement.reset();
}

void TKVExportToText::WriteFileBegin()
{
    TKVExportToCellFile::WriteFileBegin();
    if (FTargetName.empty())
        FTargetName = "the output";
    FLine.clear();
    FCellsInLine = 0;
    FLinesWritten = 0;
    FWidths.clear();
    FHeld.clear();
    FCut = FLineBreaks = FSplit = FPictures = TTally();
}

int TKVExportToText::LargestValueWidth(TFieldType Type)
{
    switch (Type) {
    case ftWord: return 5;
    case ftSmallint: return 6;
    case ftInteger: return 11;
    case ftAutoInc:
    case ftLargeint: return 20;
    case ftFloat:
    case ftCurrency:
    case ftBCD: return 24; // a money or decimal amount may come as a double
    case ftDate: return 10;
    case ftTime: return 15;
    case ftDateTime:
    case ftTimeStamp: return 26;
    case ftBoolean: return 5;
    default: return 0;
    }
}

bool TKVExportToText::KeepsWhole(TFieldType Type)
{
    return LargestValueWidth(Type) > 0 || Type == ftFMTBcd;
}

int TKVExportToText::LargestValueWidthAt(int ACol)
{
    int largest = 0;
    int visible = 0;
    for (int i = 0; i < Columns().Count(); ++i) {
        TKVEColumn* column = Columns()[i];
        if (!column->Visible)
            continue;
        if (Layout == elColumnar && visible++ != ACol)
            continue;
        const TField* field = ColumnField(i, column);
        const TFieldType type = field         ? field->DataType()
                              : SourceEngine() ? SourceEngine()->DataTypeByColumn(column)
                                               : CellType2FieldType(column->DataType);
        largest = std::max(largest, LargestValueWidth(type));
    }
    return largest;
}

void TKVExportToText::WriteColWidth(int ACol, int AWidth)
{
    if (ACol < 0)
        return;
    if (FWidths.size() <= static_cast<std::size_t>(ACol))
        FWidths.resize(static_cast<std::size_t>(ACol) + 1, DefaultFixedWidth);
    int width = AWidth > 0 ? AWidth : DefaultFixedWidth;
    if (Fixed)
        width = std::max(width, LargestValueWidthAt(ACol));
    FWidths[static_cast<std::size_t>(ACol)] = width;
}

std::size_t TKVExportToText::FixedWidth(int Position) const
{
    return static_cast<std::size_t>(Position >= 0 && static_cast<std::size_t>(Position) < FWidths.size()
                                        ? FWidths[static_cast<std::size_t>(Position)]
                                        : DefaultFixedWidth);
}

void TKVExportToText::Tell(TTally& Tally, const std::string& What)
{
    if (Tally.Count > 0)
        Statistic().Warnings.push_back(FTargetName + ": " + std::to_string(Tally.Count) + " " + What + " (the first at "
                                       + Tally.First + ")");
    Tally = TTally();
}

void TKVExportToText::RequireRecordLayout(const std::string& Format, bool Tabular)
{
    if (Layout == elColumnar || (Tabular && Layout == elTabularForm))
        return;
    throw Exception(Format + " is written a record at a time: the "
                    + (Layout == elReversedColumnar ? "reversed columnar" : "tabular") + " layout cannot be written");
}

void TKVExportToText::Warn(long long Count, const std::string& What)
{
    if (Count > 0)
        Statistic().Warnings.push_back(FTargetName + ": " + std::to_string(Count) + " " + What);
}

std::string TKVExportToText::CellText(const std::string& Text, bool Null, TAlignment Alignment, int Position,
                                      bool Line)
{
    std::string out;
    AppendCell(out, Text, Null, Alignment, Position, Line);
    return out;
}

void TKVExportToText::AppendCell(std::string& Out, const std::string& Text, bool Null, TAlignment Alignment,
                                 int Position, bool Line)
{
    if (Fixed) {
        std::string text = Text;
        if (text.find_first_of("\r\n") != std::string::npos) {
            std::replace(text.begin(), text.end(), '\r', ' ');
            std::replace(text.begin(), text.end(), '\n', ' ');
            ++FLineBreaks.Count;
        }
        if (Line) {
            Out += text;
            return;
        }
        const bool bytes = CharacterSet == csASCII_MSDOS;
        const std::size_t width = FixedWidth(Position);
        const std::size_t count = Characters(text, bytes);
        if (count > width) {
            ++FCut.Count;
            Out += FirstCharacters(text, width, bytes);
            return;
        }
        const std::size_t pad = width - count;
        switch (Alignment) {
        case taRightJustify: Out.append(pad, ' ') += text; break;
        case taCenter: Out.append(pad / 2, ' ').append(text).append(pad - pad / 2, ' '); break;
        default: Out.append(text).append(pad, ' '); break;
        }
        return;
    }
    const std::string& qualifier = TextQualifier;
    // Whether the text holds what decides its form: a line break, the delimiter, the
    // qualifier. One-character delimiters and qualifiers (the usual ones) are compared
    // byte by byte, up to the first such byte (a missing one stands in as a line break).
    bool special = false;
    if (FieldDelimiter.size() <= 1 && qualifier.size() <= 1) {
        const char d = FieldDelimiter.empty() ? '\r' : FieldDelimiter[0];
        const char q = qualifier.empty() ? '\r' : qualifier[0];
        if (!FSpecial['\r'] || FSpecialFor[0] != d || FSpecialFor[1] != q) {
            FSpecial.fill(false);
            for (const char c : {'\r', '\n', d, q})
                FSpecial[static_cast<unsigned char>(c)] = true;
            FSpecialFor[0] = d;
            FSpecialFor[1] = q;
        }
        for (const char c : Text)
            if (FSpecial[static_cast<unsigned char>(c)]) {
                special = true;
                break;
            }
    } else {
        special = Text.find_first_of("\r\n") != std::string::npos
            || (!FieldDelimiter.empty() && Text.find(FieldDelimiter) != std::string::npos)
            || (!qualifier.empty() && Text.find(qualifier) != std::string::npos);
    }
    // The line gets its room at once, the record's end included: a long text is not
    // held twice while the line grows.
    if (qualifier.empty() || (!special && !(Text.empty() && !Null))) {
        Out.reserve(Out.size() + Text.size() + RecordSeparator.size());
        if (qualifier.empty() && special)
            ++FSplit.Count;
        Out += Text;
        return;
    }
    std::size_t qualifiers = 0;
    for (std::size_t at = Text.find(qualifier); at != std::string::npos; at = Text.find(qualifier, at + qualifier.size()))
        ++qualifiers;
    Out.reserve(Out.size() + Text.size() + (qualifiers + 2) * qualifier.size() + RecordSeparator.size());
    Out += qualifier;
    if (qualifier.size() == 1) {
        // The usual one-character qualifier: the runs between its occurrences at once.
        std::size_t from = 0;
        for (std::size_t at; (at = Text.find(qualifier[0], from)) != std::string::npos; from = at + 1) {
            Out.append(Text, from, at + 1 - from);
            Out += qualifier[0];
        }
        Out.append(Text, from);
        Out += qualifier;
        return;
    }
    for (std::size_t i = 0; i < Text.size();) {
        if (Text.compare(i, qualifier.size(), qualifier) == 0) {
            Out += qualifier;
            Out += qualifier;
            i += qualifier.size();
        } else {
            Out += Text[i++];
        }
    }
    Out += qualifier;
}

void TKVExportToText::WriteRowStart(bool IsTitle)
{
    TKVExportToCellFile::WriteRowStart(IsTitle);
    FLine.clear();
    FCellsInLine = 0;
}

void TKVExportToText::WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                                TAlignment Alignment, TFont*, TColor)
{
    const long long cut = FCut.Count, breaks = FLineBreaks.Count, split = FSplit.Count, pictures = FPictures.Count;
    const bool picture = IsPictureCell(Field, CellType);
    const std::string empty;
    const std::string& text = picture ? empty : Text;
    // Only an empty text can stand for a null: the field is asked about those alone.
    const bool null = text.empty() && (!Field || Field->IsNull());
    if (picture && !Text.empty())
        ++FPictures.Count;
    // Header and footer lines are rows of their own, outside the table.
    const bool wholeLine = !FDataStarted;
    const bool reversed = FDataStarted && Layout == elReversedColumnar;
    // A number, date or time cut short would read as another value: one wider than its
    // column fails the export.
    if (Fixed && FDataStarted && !picture && KeepsWhole(Field ? Field->DataType() : CellType2FieldType(CellType))) {
        const std::size_t width = FixedWidth(reversed ? 0 : FCellsInLine);
        if (Characters(text, CharacterSet == csASCII_MSDOS) > width) {
            const int visible = Layout == elColumnar ? ACol : reversed ? ARow : -1;
            const std::string column = visible >= 0 && static_cast<std::size_t>(visible) < FChangeNames.size()
                ? FChangeNames[static_cast<std::size_t>(visible)]
                : Field ? Field->FieldName() : std::to_string(FCellsInLine + 1);
            throw Exception(FTargetName + ": column " + column + ", row " + std::to_string(FRecordNumber) + ": " + text
                            + " does not fit the column's fixed width of " + std::to_string(width)
                            + " characters, and a number, date or time is not cut");
        }
    }
    if (reversed) {
        FHeld[ARow][ACol] = CellText(text, null, Alignment, 0, false);
    } else {
        if (FCellsInLine > 0)
            FLine += Fixed ? std::string_view(" ") : std::string_view(FieldDelimiter);
        AppendCell(FLine, text, null, Alignment, FCellsInLine, wholeLine);
        ++FCellsInLine;
    }
    // The place of the first value of each kind in the file.
    const int line = FDataStarted && Layout == elReversedColumnar ? FLinesWritten + ARow + 1 : FLinesWritten + 1;
    const int field = FDataStarted && Layout == elReversedColumnar ? ACol - Header().Count() + 1 : FCellsInLine;
    for (auto [tally, before] : {std::pair{&FCut, cut}, {&FLineBreaks, breaks}, {&FSplit, split},
                                 {&FPictures, pictures}})
        if (tally->Count == 1 && before == 0)
            tally->First = "line " + std::to_string(line) + ", field " + std::to_string(field);
}

void TKVExportToText::WriteRowEnd(bool IsTitle)
{
    if (!(FDataStarted && Layout == elReversedColumnar)) {
        FLine += RecordSeparator;
        WriteString(FLine);
        ++FLinesWritten;
        FLine.clear();
        FCellsInLine = 0;
    }
    TKVExportToCellFile::WriteRowEnd(IsTitle);
}

void TKVExportToText::WriteDataEnd()
{
    std::string row;
    for (const auto& [r, cells] : FHeld) {
        row.clear();
        bool first = true;
        for (const auto& [c, cell] : cells) {
            if (!first)
                row += Fixed ? std::string_view(" ") : std::string_view(FieldDelimiter);
            row += cell;
            first = false;
        }
        row += RecordSeparator;
        WriteString(row);
        ++FLinesWritten;
    }
    FHeld.clear();
    TKVExportToCellFile::WriteDataEnd();
}

void TKVExportToText::WriteFileEnd()
{
    TKVExportToCellFile::WriteFileEnd();
    for (std::string& line : FChanges.TakeLines(FTargetName, FChangeNames))
        Statistic().Warnings.push_back(std::move(line));
    Tell(FCut, "values were longer than their fixed-width column and were cut");
    Tell(FLineBreaks, "values held line breaks, which fixed-width text cannot hold; they became blanks");
    Tell(FSplit, "values hold the delimiter or a line break and no text qualifier is set; a reader will split them");
    Tell(FPictures, "picture cells cannot be held by text and were left empty");
}

void TKVExportToText::CloseFileStream()
{
    try {
        TKVExportToCellFile::CloseFileStream();
    } catch (...) {
        DiscardTemporary();
        FTargetName.clear();
        throw;
    }
    // A failed export leaves the target as it was.
    if (FExportFailed)
        DiscardTemporary();
    else if (FReplacement)
        CommitTemporary();
    FTargetName.clear();
}
