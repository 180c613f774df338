#pragma once
// dBase III tables (.DBF) on the cell-file pipeline, through shapelib's DBF writer.
//
//   - One field a visible column, named from it: ASCII letters, digits and "_", at most
//     10 characters, starting with a letter, unique regardless of letter case.
//   - Field types from the source's: whole numbers N (11 digits, 20 for 64-bit), floats
//     F 24 holding the shortest text that reads back to the same double, money N 20.4,
//     decimals N 20 with their scale, Booleans L, dates D, date-times and times ISO
//     text in C (dBase III has no such type), everything else C of the declared size
//     (at most 254 bytes; 254 when none is declared).
//   - A value that does not fit its field (a longer text, a wider number, a year
//     outside 1..9999, a NUL byte in a text) is refused with a message naming the field
//     and the record: nothing is cut, and no file is left.
//   - Texts are stored in CodePage: UTF-8 by default (language driver 0), or a Windows
//     or DOS code page (1252, 437, 850, ...) with its language-driver byte; a
//     "<name>.cpg" file beside the table names it. A character the code page has no
//     form for becomes "?" and is counted in a warning. A null text is stored as an
//     empty one (dBase cannot tell them apart) and counted; other nulls are
//     blanks, which readers take back as no value.
//   - No titles, header or footer lines: dBase has no place for them.

#include "cellfile/record_file_exporter.h"

#include <memory>

class TKVExportToDBase : public TKVExportToRecordFile {
    Q_OBJECT
public:
    explicit TKVExportToDBase(QObject* AOwner = nullptr);
    ~TKVExportToDBase() override;

    // 0 for UTF-8, else the number of a Windows or DOS code page.
    int CodePage = 0;

    std::string Extension() override { return ".DBF"; }

    // The language-driver byte of a code page; 0 for UTF-8 and for one without a byte.
    static int LanguageDriver(int CodePage);
    // The .cpg file's text for a code page: "UTF-8", or its number.
    static std::string CodePageName(int CodePage);

protected:
    void BeginTable(const std::vector<TRecordField>& Fields) override;
    void WriteRecord(int ARow, const std::vector<Variant>& Values) override;
    void EndTable() override;
    void CloseTable() override;

private:
    struct TDbfField {
        char Type = 'C';
        int Width = 0;
        int Decimals = 0;
        TFieldType Source = ftString;
    };
    // The field's text for Value, exactly Width bytes; refuses what does not fit.
    std::string FieldText(int Field, const Variant& Value);
    std::string Stored(const std::string& Utf8, int Field);

    struct THandle;
    std::unique_ptr<THandle> FHandle;
    std::vector<TDbfField> FDbf;
    int FRecord = 0;
    std::unique_ptr<TFileReplacement> FCodePageFile;
};
