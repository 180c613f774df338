#pragma once
// LDAP Data Interchange Format on the cell-file pipeline (.LDIF, RFC 2849): "version: 1",
// then one entry a record, entries apart by an empty line.
//
//   - Attribute descriptions come from the visible columns' captions (field names with
//     soUseFieldNameAsCaption, and where a caption is empty), made valid: a letter
//     first, then letters, digits and "-"; any other character becomes "-", a caption
//     that does not start with a letter gets "x-" in front. Names compare without
//     regard to letter case, so a repeated one gets "-2", "-3", ...; "dn" and
//     "changetype" are kept for the entry itself. A caption changed on the way is
//     said once in a warning.
//   - The entry's name: "dn: <first column's attribute>=<its value>", followed by
//     ",<TableName>" when TableName (the base the entries live under) is set. The
//     value is escaped as RFC 4514 has it. A record whose first column is null or an
//     empty text has no name: the run fails, naming the record.
//   - One "attribute: value" line per non-null cell, the first column's included; a
//     null is left out. A value that is not a SAFE-STRING (a non-ASCII character, a
//     line break, NUL, a leading blank, ":" or "<", a trailing blank) is written
//     base64-encoded after "::"; an empty text is "attribute:". Picture cells keep their
//     bytes, base64-encoded.
//   - Lines longer than 76 characters are folded: the rest goes on lines that start
//     with one blank.
//   - Header and footer lines become comment lines ("# ..."), one per line of text.
//   - LDIF text is UTF-8: the DOS character set is refused, and only the columnar
//     layout is written.
//   - Files are written beside the target and renamed when whole, as text files are.

#include "cellfile/text_exporter.h"

#include <vector>

class TKVExportToLDIF : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToLDIF(QObject* AOwner = nullptr);

    std::string Extension() override { return ".LDIF"; }
    bool TitleIsSupported() override { return false; }
    bool KeepsBinary() override { return true; }
    void WriteFileBegin() override;
    void WriteDataBegin() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Name a valid attribute description: Name itself when it is one.
    static std::string AttributeDescription(const std::string& Name);
    // One "Attribute: value" or "Attribute:: base64" line, folded at 76 characters,
    // with its line end.
    static std::string ValueLine(const std::string& Attribute, const std::string& Value);
    // Value escaped for a distinguished name's attribute value (RFC 4514).
    static std::string EscapeDnValue(const std::string& Value);

private:
    std::vector<std::string> FAttributes; // by visible column
    std::string FEntry;
    std::string FDn;
    bool FNamed = false;
    long long FRecords = 0;
};
