#pragma once
// XML on the cell-file pipeline (.XML): one document a file, UTF-8, that validates
// against the schema kept beside this file (cellfile/tabrix-table.xsd):
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <table name="orders" generator="Tabrix 4.61">
//    <header><line>header line</line>...</header>          (when there are lines)
//    <columns>
//     <column name="Unit_price" caption="Unit price" type="float"/>
//    </columns>
//    <rows>
//     <row><Unit_price>12.5</Unit_price>...</row>
//    </rows>
//    <footer><line>footer line</line>...</footer>          (when there are lines)
//   </table>
//
//   - A row holds one element per visible column, in column order, named as its
//     <column> says: the caption (FieldName with soUseFieldNameAsCaption or an empty
//     caption) made a valid XML name of ASCII letters, digits, "_", "-" and "." that
//     starts with a letter or "_" and not with "xml" (other characters become "_"), and
//     unique with "_2", "_3", ...; the caption attribute keeps the caption whole.
//   - type is string, memo, integer, float, currency, boolean, date, time, datetime,
//     picture or binary, from the column's field type.
//   - A null is an empty element with null="true"; an empty text an empty element.
//   - Numbers, Booleans, dates and times are written from the field's value in XML
//     Schema's forms whatever the run's display formats: 12.5, true, 1899-12-30,
//     13:45:00, 1899-12-30T13:45:00 (with .zzz when there are milliseconds). Other
//     cells are their text. Pictures and other binary values are base64 with
//     encoding="base64".
//   - Characters XML 1.0 cannot hold (controls other than Tab, LF and CR, U+FFFE,
//     U+FFFF, bytes that are not UTF-8) become U+FFFD and are counted in a warning. A
//     CR is written as &#13; so that it survives a parser's line-end handling.
//   - The caption row is the <columns> element: AddTitle does not change the document.
//     Only the columnar layout is written; each RowsPerFile part is a whole document.

#include "cellfile/text_exporter.h"

class TKVExportToXML : public TKVExportToText {
    Q_OBJECT
public:
    explicit TKVExportToXML(QObject* AOwner = nullptr);

    std::string Extension() override { return ".XML"; }
    bool TitleIsSupported() override { return false; }
    bool KeepsBinary() override { return true; }
    void WriteFileBegin() override;
    void WriteFileEnd() override;
    void WriteDataBegin() override;
    void WriteDataEnd() override;
    void WriteRowStart(bool IsTitle) override;
    void WriteRowEnd(bool IsTitle) override;
    void WriteData(TField* Field, TCellType CellType, int ARow, int ACol, const std::string& Text,
                   TAlignment Alignment, TFont* Font, TColor Color) override;

    // Text escaped for XML content or an attribute value; Replaced counts the values
    // with characters XML cannot hold.
    static std::string XmlText(const std::string& Text, long long& Replaced);
    // Text made a valid XML name as above (not yet unique).
    static std::string XmlName(const std::string& Text);

private:
    std::vector<std::string> FNames; // element names by visible column
    std::string FRow;
    bool FPastData = false; // the table is written: lines now are footer lines
    int FHeaderLines = 0;
    int FFooterLines = 0;
    long long FReplaced = 0;
};
