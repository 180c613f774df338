#pragma once
// JSON on the cell-file pipeline: an array of objects, one a record (.json), or one
// object a line (JSON Lines, .jsonl). It is not one of the run's table types: its
// table type stays teText, so a specification file keeps the types it knows.
//
//   - The keys are the visible columns' captions (field names with
//     soUseFieldNameAsCaption, and where a caption is empty); a repeated key gets
//     "_2", "_3", ... so that no value is lost.
//   - A null is null. A value is a JSON number when its field is numeric (or, without
//     a field, its cell type is a whole number, a float or money) and its text is a
//     JSON number; any other value is a string, escaped as RFC 8259 has it. Bytes that
//     are not UTF-8 become U+FFFD and are counted in a warning.
//   - Header and footer lines and picture cells have no place in it: they are left out
//     (pictures as null) and counted in a warning. Only the columnar layout is written.
//   - Files are written beside the target and renamed when whole, as text files are.

#include "cellfile/text_exporter.h"

class TKVExportToJSON : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToJSON(QObject* AOwner = nullptr);

    // One object a line instead of one array.
    bool Lines = false;

    std::string Extension() override { return Lines ? ".JSONL" : ".JSON"; }
    bool TitleIsSupported() override { return false; }
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Text as a JSON string, quotes included; Replaced counts the bytes that were not
    // UTF-8.
    static std::string JsonString(const std::string& Text, long long& Replaced);
    // Whether Text is a number in JSON's grammar.
    static bool IsJsonNumber(const std::string& Text);

private:
    std::vector<std::string> FKeys; // JSON strings, by visible column
    std::string FObject;
    int FValues = 0;
    long long FRecords = 0;
    long long FReplaced = 0;
    long long FLinesLeftOut = 0;
};
