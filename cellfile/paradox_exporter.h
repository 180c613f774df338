#pragma once
// Paradox tables (.DB) on the cell-file pipeline, through pxlib, without a primary key
// (a table of type 2, "not indexed").
//
//   - One field a visible column, named from it: ASCII letters, digits and "_", at most
//     25 characters, starting with a letter, unique regardless of letter case.
//   - Field types from the source's: Short (S) and Long Integer (I) for 16- and 32-bit
//     whole numbers, Number (N) for 64-bit ones, floats and decimals (the double as it
//     is; a whole number beyond 2^53 is rounded to the nearest double, counted in a
//     warning: pxlib cannot write Paradox's BCD fields), Money ($), Logical (L), Date (D),
//     Time (T), Timestamp (@), and Alpha (A) of the declared size (at most 255 bytes;
//     255 when none is declared) for everything else.
//   - Texts are stored in CodePage (Windows 1252 by default), which the header names; a
//     character it has no form for becomes "?", counted in a warning. A null is
//     Paradox's blank (all bytes zero); an empty text can only be that blank too, so it
//     reads back as null (counted).
//   - A text longer than its field, or a date before year 1, is refused with a message
//     naming the field: nothing is cut and no file is left. No titles, header or
//     footer lines.
//   - Blocks of 32 KB, the largest pxlib writes and reads (it would pick 2, 3 or 16 KB
//     by the record's size). The header counts blocks in 16 bits, numbered from 1, so a
//     table holds at most 65,535 of them: about 2 GB, 8,190 records of 4 bytes or 8 of
//     4,000 a block. The record past that is refused (with RowsPerFile set, the message
//     says the files of how many rows fit).
//   - The table is built with its last few megabytes in memory (pxlib reads back what it
//     wrote for every record, which on a file would cost hundreds of system calls a
//     record) and the rest in an unnamed temporary file, so memory stays flat whatever
//     the table's size; it is written out when whole.

#include "cellfile/record_file_exporter.h"

#include <cstdio>
#include <memory>

class TKVExportToParadox : public TKVExportToRecordFile {
    Q_OBJECT
public:
    explicit TKVExportToParadox(QObject* AOwner = nullptr);
    ~TKVExportToParadox() override;

    // A Windows or DOS code page.
    int CodePage = 1252;

    std::string Extension() override { return ".DB"; }

    // The blocks of a table: 32 KB each, at most 65,535 of them.
    static constexpr int BlockKilobytes = 32;
    static constexpr int MaxBlocks = 65535;

protected:
    void BeginTable(const std::vector<TRecordField>& Fields) override;
    void WriteRecord(int ARow, const std::vector<Variant>& Values) override;
    void EndTable() override;
    void CloseTable() override;

    // The most blocks a table may take: MaxBlocks, lowered by tests to reach it cheaply.
    int FMaxBlocks = MaxBlocks;

private:
    void PutValue(int Field, char* Data, const Variant& Value);

    struct TTable;
    std::unique_ptr<TTable> FTable;
};
