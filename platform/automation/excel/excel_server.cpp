// Object model of the native spreadsheet application:
//   Application: WorkBooks, ActiveSheet, ActiveWorkbook, ActiveWindow, DisplayAlerts, Quit
//   Workbooks:   Add([Template]), Open(FileName), Count
//   Workbook:    Sheets, ActiveSheet, Date1904 (read only: whether an opened workbook
//                counts its dates from 1904), SaveAs(FileName[, FileFormat]),
//                Close([SaveChanges])
//   Sheets:      Count, Item(index or name), Add()
//   Worksheet:   Name, Activate, Cells(r, c), Rows([r]), Columns([c]), Range(a[, b]),
//                UsedRange, PageSetup, Pictures, Protect([Password])
//   Range:       Value, Interior, Font, NumberFormat, ColumnWidth, HorizontalAlignment,
//                Borders, Hidden, AutoFit, Select, RowHeight, Rows, Count
//                (Value puts: a number as a number, a Boolean as a logical value, a string
//                under the reading rules of excel_workbook.h, a byte array as the text of
//                its bytes as it is, an empty one an empty text; empty and null clear)
//   Interior:    Color      Font: Name, Size, Color, Bold, Italic, Underline
//   Borders:     Item(n)    Border: LineStyle (n: 7 left, 8 top, 9 bottom, 10 right)
//   PageSetup:   LeftMargin, RightMargin, TopMargin, BottomMargin (points), Orientation
//                (1 portrait, 2 landscape), LeftHeader, LeftFooter
//   Pictures:    Insert(FileName) at the selected cell
//   Window:      FreezePanes (rows above and columns left of the selection)
// Any other member fails with the server's "unknown member" message.

#include "platform/automation/excel/excel_server.h"

#include "framework/exceptions.h"
#include "framework/files.h"
#include "platform/automation/excel/excel_workbook.h"
#include "platform/automation/excel/xl_text.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <fstream>

namespace {

struct App;

const AutomationValue& Required(AutomationArgs& args, std::size_t position, std::string_view name,
                                std::string_view member)
{
    const AutomationArg* a = args.Find(position, name);
    if (!a) throw Exception("Argument not optional: " + std::string(member) + " needs " + std::string(name));
    return a->Value();
}

const AutomationValue* Optional(AutomationArgs& args, std::size_t position, std::string_view name)
{
    const AutomationArg* a = args.Find(position, name);
    if (!a || a->Value().IsEmpty()) return nullptr;
    return &a->Value();
}

const AutomationValue& NewValue(AutomationArgs& args, std::string_view member)
{
    if (args.Count() != 1) throw Exception("Property " + std::string(member) + " takes exactly one new value");
    return args[0].Value();
}

int LowerExtensionIs(const std::string& fileName, const char* ext)
{
    return QFileInfo(QString::fromStdString(fileName)).suffix().compare(ext, Qt::CaseInsensitive) == 0;
}

// Parses "B12" into column and row.
bool ParseRef(std::string_view ref, int& row, int& col)
{
    std::size_t i = 0;
    col = 0;
    row = 0;
    while (i < ref.size() && std::isalpha(static_cast<unsigned char>(ref[i])) && col <= XlMaxColumns)
        col = col * 26 + (std::toupper(static_cast<unsigned char>(ref[i++])) - 'A' + 1);
    const std::size_t letters = i;
    while (i < ref.size() && std::isdigit(static_cast<unsigned char>(ref[i])) && row <= XlMaxRows)
        row = row * 10 + (ref[i++] - '0');
    return letters > 0 && letters < i && i == ref.size() && col >= 1 && col <= XlMaxColumns && row >= 1
        && row <= XlMaxRows;
}

struct App {
    std::vector<std::shared_ptr<XlWorkbook>> Books;
    bool DisplayAlerts = true;
    std::shared_ptr<XlWorkbook> ActiveBook()
    {
        if (Books.empty()) throw Exception("There is no open workbook");
        return Books.back();
    }
};

class ExcelObject : public AutomationObject {
public:
    explicit ExcelObject(std::shared_ptr<App> app) : FApp(std::move(app)) {}

protected:
    std::shared_ptr<App> FApp;
};

enum class RangeKind { Cells, Rows, Columns };

class RangeObject;
class SheetObject;

std::shared_ptr<AutomationObject> MakeRange(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book,
                                            XlSheet* sheet, RangeKind kind, int r1, int c1, int r2, int c2);

class RangeObject : public ExcelObject {
public:
    RangeObject(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book, XlSheet* sheet, RangeKind kind, int r1,
                int c1, int r2, int c2)
        : ExcelObject(std::move(app)), Book(std::move(book)), Sheet(sheet), Kind(kind), R1(r1), C1(c1), R2(r2), C2(c2)
    {
    }
    std::string TypeName() const override { return "Range"; }

    std::shared_ptr<XlWorkbook> Book;
    XlSheet* Sheet;
    RangeKind Kind;
    int R1, C1, R2, C2;

    // Changes the style of every cell of the range (whole rows and columns keep the
    // change for cells made later, too).
    template <class F>
    void Restyle(F&& f)
    {
        switch (Kind) {
        case RangeKind::Columns:
            for (int c = C1; c <= C2; ++c) Sheet->RestyleColumn(c, f);
            break;
        case RangeKind::Rows:
            for (int r = R1; r <= R2; ++r) Sheet->RestyleRow(r, f);
            break;
        case RangeKind::Cells:
            CheckArea();
            for (int r = R1; r <= R2; ++r)
                for (int c = C1; c <= C2; ++c) Sheet->Restyle(Sheet->Cell(r, c), f);
            break;
        }
    }
    // The style of the range's first cell, row or column.
    XlStyle FirstStyle()
    {
        switch (Kind) {
        case RangeKind::Columns: return Book->Styles.Get(Sheet->Column(C1).Style);
        case RangeKind::Rows: {
            const int s = Sheet->Row(R1).Style;
            return Book->Styles.Get(s < 0 ? 0 : s);
        }
        default: return Book->Styles.Get(Sheet->Cell(R1, C1).Style);
        }
    }
    void CheckArea() const
    {
        if (static_cast<int64_t>(R2 - R1 + 1) * (C2 - C1 + 1) > 1'000'000)
            throw Exception("The range is too large to set cell by cell");
    }

    void PutOne(int r, int c, const AutomationValue& v)
    {
        switch (v.GetKind()) {
        case AutomationValue::Kind::Empty:
        case AutomationValue::Kind::Null: Sheet->PutText(r, c, std::string()); break;
        case AutomationValue::Kind::Integer:
        case AutomationValue::Kind::Single:
        case AutomationValue::Kind::Double: Sheet->PutNumber(r, c, v.ToReal()); break;
        case AutomationValue::Kind::Boolean: Sheet->PutBoolean(r, c, v.ToBoolean()); break;
        case AutomationValue::Kind::String: Sheet->PutText(r, c, v.StringRef()); break;
        // A text given by its bytes is kept as it is: not read as a number or a date, and
        // an empty one is an empty text where an empty string clears the cell.
        case AutomationValue::Kind::Bytes: Sheet->PutTextAsIs(r, c, v.StringRef()); break;
        default: throw Exception("A cell cannot hold a value of kind " + std::string(AutomationValue::KindName(v.GetKind())));
        }
    }
    int LastRow() const { return Kind == RangeKind::Columns ? XlMaxRows : R2; }
    int LastCol() const { return Kind == RangeKind::Rows ? XlMaxColumns : C2; }

    void PutValue(const AutomationValue& v)
    {
        if (v.IsArray()) {
            // A two-dimensional array is an array of rows; a flat one is one row. Values
            // outside the range are not written.
            const bool nested = v.Count() > 0 && v[0].IsArray();
            const std::size_t rows = nested ? v.Count() : 1;
            for (std::size_t i = 0; i < rows && R1 + static_cast<int>(i) <= LastRow(); ++i) {
                const AutomationValue& row = nested ? v[i] : v;
                const std::size_t count = std::min<std::size_t>(row.Count(), static_cast<std::size_t>(LastCol() - C1 + 1));
                for (std::size_t j = 0; j < count; ++j)
                    PutOne(R1 + static_cast<int>(i), C1 + static_cast<int>(j), row[j]);
            }
            return;
        }
        if (Kind != RangeKind::Cells) throw Exception("Only a range of cells takes a single value");
        CheckArea();
        for (int r = R1; r <= R2; ++r)
            for (int c = C1; c <= C2; ++c) PutOne(r, c, v);
    }

    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override;
};

class InteriorObject : public ExcelObject {
public:
    InteriorObject(std::shared_ptr<App> app, std::shared_ptr<RangeObject> range)
        : ExcelObject(std::move(app)), FRange(std::move(range)) {}
    std::string TypeName() const override { return "Interior"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (!SameMemberName(member, "Color")) UnknownMember(member);
        if (kind == InvokeKind::Put) {
            const int color = NewValue(args, member).ToInteger() & 0xFFFFFF;
            FRange->Restyle([&](XlStyle& s) { s.Fill = color; });
            return {};
        }
        const int fill = FRange->FirstStyle().Fill;
        return AutomationValue(fill < 0 ? 0xFFFFFF : fill);
    }

private:
    std::shared_ptr<RangeObject> FRange;
};

class FontObject : public ExcelObject {
public:
    FontObject(std::shared_ptr<App> app, std::shared_ptr<RangeObject> range)
        : ExcelObject(std::move(app)), FRange(std::move(range)) {}
    std::string TypeName() const override { return "Font"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        const bool put = kind == InvokeKind::Put;
        const AutomationValue* v = put ? &NewValue(args, member) : nullptr;
        if (SameMemberName(member, "Name")) {
            if (put) {
                const std::string name = v->ToString();
                if (name.empty()) throw Exception("A font name cannot be empty");
                FRange->Restyle([&](XlStyle& s) { s.Font.Name = name; });
                return {};
            }
            return AutomationValue(FRange->FirstStyle().Font.Name);
        }
        if (SameMemberName(member, "Size")) {
            if (put) {
                const double size = v->ToReal();
                if (!(size >= 1 && size <= 409)) throw Exception("A font size is from 1 to 409 points");
                FRange->Restyle([&](XlStyle& s) { s.Font.Size = size; });
                return {};
            }
            return AutomationValue(FRange->FirstStyle().Font.Size);
        }
        if (SameMemberName(member, "Color")) {
            if (put) {
                const int color = v->ToInteger() & 0xFFFFFF;
                FRange->Restyle([&](XlStyle& s) { s.Font.Color = color; });
                return {};
            }
            const int color = FRange->FirstStyle().Font.Color;
            return AutomationValue(color < 0 ? 0 : color);
        }
        bool XlFont::*flag = SameMemberName(member, "Bold")        ? &XlFont::Bold
            : SameMemberName(member, "Italic")                      ? &XlFont::Italic
            : SameMemberName(member, "Underline")                   ? &XlFont::Underline
                                                                    : nullptr;
        if (!flag) UnknownMember(member);
        if (put) {
            // Underline takes the application's style values: 2 single, -4142 none.
            const bool on = SameMemberName(member, "Underline") && v->IsNumeric() && v->GetKind() != AutomationValue::Kind::Boolean
                ? v->ToInteger() != -4142 && v->ToInteger() != 0
                : v->ToBoolean();
            FRange->Restyle([&](XlStyle& s) { s.Font.*flag = on; });
            return {};
        }
        return AutomationValue(FRange->FirstStyle().Font.*flag);
    }

private:
    std::shared_ptr<RangeObject> FRange;
};

class BorderObject : public ExcelObject {
public:
    BorderObject(std::shared_ptr<App> app, std::shared_ptr<RangeObject> range, int index)
        : ExcelObject(std::move(app)), FRange(std::move(range)), FIndex(index) {}
    std::string TypeName() const override { return "Border"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (!SameMemberName(member, "LineStyle")) UnknownMember(member);
        const std::uint8_t bit = FIndex == 7 ? 1 : FIndex == 8 ? 2 : FIndex == 9 ? 4 : 8;
        if (kind != InvokeKind::Put) return AutomationValue((FRange->FirstStyle().Borders & bit) ? 1 : -4142);
        const int style = NewValue(args, member).ToInteger();
        const bool on = style != -4142 && style != 0;
        RangeObject& r = *FRange;
        const auto set = [&](XlStyle& s) { s.Borders = static_cast<std::uint8_t>(on ? (s.Borders | bit) : (s.Borders & ~bit)); };
        // Each edge belongs to the cells along that edge of the range.
        const bool vertical = FIndex == 7 || FIndex == 10;
        if (r.Kind == RangeKind::Columns) {
            if (vertical) r.Sheet->RestyleColumn(FIndex == 7 ? r.C1 : r.C2, set);
        } else if (r.Kind == RangeKind::Rows) {
            if (!vertical) r.Sheet->RestyleRow(FIndex == 8 ? r.R1 : r.R2, set);
        } else {
            r.CheckArea();
            const auto line = [&](XlCell& cell) { cell.Style = r.Sheet->Book().Styles.WithBorder(cell.Style, bit, on); };
            if (vertical) {
                for (int row = r.R1; row <= r.R2; ++row) line(r.Sheet->Cell(row, FIndex == 7 ? r.C1 : r.C2));
            } else {
                r.Sheet->ForCells(FIndex == 8 ? r.R1 : r.R2, r.C1, r.C2, line);
            }
        }
        return {};
    }

private:
    std::shared_ptr<RangeObject> FRange;
    int FIndex;
};

class BordersObject : public ExcelObject {
public:
    BordersObject(std::shared_ptr<App> app, std::shared_ptr<RangeObject> range)
        : ExcelObject(std::move(app)), FRange(std::move(range)) {}
    std::string TypeName() const override { return "Borders"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (!SameMemberName(member, "Item") || kind == InvokeKind::Put) UnknownMember(member);
        const int index = Required(args, 0, "Index", member).ToInteger();
        if (index < 7 || index > 10) throw Exception("Border index " + std::to_string(index) + " is not supported (7 to 10)");
        return AutomationValue(std::make_shared<BorderObject>(FApp, FRange, index));
    }

private:
    std::shared_ptr<RangeObject> FRange;
};

AutomationValue RangeObject::Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args)
{
    const bool put = kind == InvokeKind::Put;
    const auto self = [this] { return std::static_pointer_cast<RangeObject>(shared_from_this()); };
    if (SameMemberName(member, "Value")) {
        if (put) {
            PutValue(NewValue(args, member));
            return {};
        }
        const XlCell& cell = Sheet->Cell(R1, C1);
        switch (cell.Kind) {
        case XlKind::Number: return AutomationValue(cell.Number);
        case XlKind::Text: return AutomationValue(cell.Text);
        case XlKind::Boolean: return AutomationValue(cell.Number != 0);
        case XlKind::Blank: break;
        }
        return {};
    }
    if (SameMemberName(member, "Interior")) return AutomationValue(std::make_shared<InteriorObject>(FApp, self()));
    if (SameMemberName(member, "Font")) return AutomationValue(std::make_shared<FontObject>(FApp, self()));
    if (SameMemberName(member, "Borders")) {
        if (args.Count() > 0) return BordersObject(FApp, self()).Invoke("Item", InvokeKind::Get, args);
        return AutomationValue(std::make_shared<BordersObject>(FApp, self()));
    }
    if (SameMemberName(member, "NumberFormat")) {
        if (put) {
            std::string format = NewValue(args, member).ToString();
            if (format == "General") format.clear();
            Restyle([&](XlStyle& s) { s.NumberFormat = format; });
            return {};
        }
        const std::string f = FirstStyle().NumberFormat;
        return AutomationValue(f.empty() ? std::string("General") : f);
    }
    if (SameMemberName(member, "HorizontalAlignment")) {
        if (put) {
            const int value = NewValue(args, member).ToInteger();
            if (value != 1 && value != -4131 && value != -4152 && value != -4108)
                throw Exception("Unable to set the HorizontalAlignment property: " + std::to_string(value) + " is not supported");
            Restyle([&](XlStyle& s) { s.HAlign = value == 1 ? 0 : value; });
            return {};
        }
        const int a = FirstStyle().HAlign;
        return AutomationValue(a == 0 ? 1 : a);
    }
    if (SameMemberName(member, "ColumnWidth") || SameMemberName(member, "Hidden") || SameMemberName(member, "AutoFit")) {
        if (Kind == RangeKind::Rows && !SameMemberName(member, "Hidden"))
            throw Exception(std::string(member) + " applies to columns");
        for (int c = C1; c <= C2 && c <= XlMaxColumns; ++c) {
            XlColumn& col = Sheet->Column(c);
            if (SameMemberName(member, "AutoFit")) {
                if (col.MaxChars > 0) col.Width = std::min(255.0, static_cast<double>(col.MaxChars) + 1.5);
                continue;
            }
            if (!put) {
                if (SameMemberName(member, "Hidden")) return AutomationValue(col.Hidden);
                return AutomationValue(col.Width < 0 ? 8.43 : col.Width);
            }
            if (SameMemberName(member, "Hidden")) {
                if (Kind != RangeKind::Columns) throw Exception("Hidden applies to whole columns here");
                col.Hidden = NewValue(args, member).ToBoolean();
                // A column shown again after its width was set to 0 gets the standard width.
                if (!col.Hidden && col.Width == 0) col.Width = -1;
            } else {
                const double width = NewValue(args, member).ToReal();
                if (!(width >= 0 && width <= 255)) throw Exception("A column width is from 0 to 255 characters");
                col.Width = width;
            }
            if (Kind == RangeKind::Columns && C2 - C1 > 0 && c == C2) break;
        }
        return {};
    }
    if (SameMemberName(member, "RowHeight")) {
        if (Kind == RangeKind::Columns) throw Exception("RowHeight applies to rows");
        if (!put) return AutomationValue(Sheet->Row(R1).Height > 0 ? Sheet->Row(R1).Height : 15.0);
        const double height = NewValue(args, member).ToReal();
        if (!(height >= 0 && height <= 409)) throw Exception("A row height is from 0 to 409 points");
        for (int r = R1; r <= R2; ++r) Sheet->Row(r).Height = height;
        return {};
    }
    if (SameMemberName(member, "Select")) {
        Sheet->SelRow = Kind == RangeKind::Columns ? 1 : R1;
        Sheet->SelCol = Kind == RangeKind::Rows ? 0 : C1;
        return AutomationValue(true);
    }
    if (SameMemberName(member, "Rows") && !put)
        return MakeRange(FApp, Book, Sheet, Kind == RangeKind::Columns ? RangeKind::Columns : RangeKind::Cells, R1, C1,
                         LastRow(), LastCol());
    if (SameMemberName(member, "Count") && !put) return AutomationValue(R2 - R1 + 1);
    UnknownMember(member);
}

std::shared_ptr<AutomationObject> MakeRange(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book,
                                            XlSheet* sheet, RangeKind kind, int r1, int c1, int r2, int c2)
{
    return std::make_shared<RangeObject>(std::move(app), std::move(book), sheet, kind, r1, c1, r2, c2);
}

class PageSetupObject : public ExcelObject {
public:
    PageSetupObject(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book, XlSheet* sheet)
        : ExcelObject(std::move(app)), FBook(std::move(book)), FSheet(sheet) {}
    std::string TypeName() const override { return "PageSetup"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        const bool put = kind == InvokeKind::Put;
        double* margin = SameMemberName(member, "LeftMargin")     ? &FSheet->LeftMargin
            : SameMemberName(member, "RightMargin")               ? &FSheet->RightMargin
            : SameMemberName(member, "TopMargin")                 ? &FSheet->TopMargin
            : SameMemberName(member, "BottomMargin")              ? &FSheet->BottomMargin
                                                                  : nullptr;
        if (margin) {
            if (!put) return AutomationValue(*margin);
            const double v = NewValue(args, member).ToReal();
            if (!(v >= 0 && v < 49 * 72)) throw Exception("Unable to set the " + std::string(member) + " property: margins are from 0 to 49 inches");
            *margin = v;
            FSheet->HasMargins = true;
            FSheet->Modified = true;
            return {};
        }
        if (SameMemberName(member, "Orientation")) {
            if (!put) return AutomationValue(FSheet->Orientation == 2 ? 2 : 1);
            const int v = NewValue(args, member).ToInteger();
            if (v != 1 && v != 2) throw Exception("Unable to set the Orientation property: 1 portrait or 2 landscape");
            FSheet->Orientation = v;
            FSheet->Modified = true;
            return {};
        }
        std::string* text = SameMemberName(member, "LeftHeader") ? &FSheet->LeftHeader
            : SameMemberName(member, "LeftFooter")                ? &FSheet->LeftFooter
                                                                  : nullptr;
        if (!text) UnknownMember(member);
        if (!put) return AutomationValue(*text);
        *text = NewValue(args, member).ToString();
        FSheet->Modified = true;
        return {};
    }

private:
    std::shared_ptr<XlWorkbook> FBook;
    XlSheet* FSheet;
};

class PicturesObject : public ExcelObject {
public:
    PicturesObject(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book, XlSheet* sheet)
        : ExcelObject(std::move(app)), FBook(std::move(book)), FSheet(sheet) {}
    std::string TypeName() const override { return "Pictures"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (!SameMemberName(member, "Insert") || kind == InvokeKind::Put) UnknownMember(member);
        const std::string file = Required(args, 0, "Filename", member).ToString();
        const int index = FBook->PictureStore().Add(file);
        FSheet->Pictures.push_back({index, FSheet->SelRow, std::max(FSheet->SelCol, 1)});
        FSheet->Modified = true;
        return {};
    }

private:
    std::shared_ptr<XlWorkbook> FBook;
    XlSheet* FSheet;
};

std::string Base64(const QByteArray& bytes)
{
    return bytes.toBase64().toStdString();
}

class SheetObject : public ExcelObject {
public:
    SheetObject(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book, XlSheet* sheet)
        : ExcelObject(std::move(app)), FBook(std::move(book)), FSheet(sheet) {}
    std::string TypeName() const override { return "Worksheet"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        const bool put = kind == InvokeKind::Put;
        if (SameMemberName(member, "Name")) {
            if (!put) return AutomationValue(FSheet->Name);
            SetName(NewValue(args, member).ToString());
            return {};
        }
        if (put) UnknownMember(member);
        if (SameMemberName(member, "Activate")) {
            for (std::size_t i = 0; i < FBook->Sheets.size(); ++i)
                if (FBook->Sheets[i].get() == FSheet) FBook->Active = static_cast<int>(i);
            return {};
        }
        if (SameMemberName(member, "Cells")) {
            const int r = Required(args, 0, "RowIndex", member).ToInteger();
            const int c = Required(args, 1, "ColumnIndex", member).ToInteger();
            CheckCell(r, c);
            return Range(RangeKind::Cells, r, c, r, c);
        }
        if (SameMemberName(member, "Rows")) {
            if (const AutomationValue* v = Optional(args, 0, "Index")) {
                const int r = v->ToInteger();
                CheckCell(r, 1);
                return Range(RangeKind::Rows, r, 1, r, XlMaxColumns);
            }
            return Range(RangeKind::Rows, 1, 1, XlMaxRows, XlMaxColumns);
        }
        if (SameMemberName(member, "Columns")) {
            if (const AutomationValue* v = Optional(args, 0, "Index")) {
                const int c = v->ToInteger();
                CheckCell(1, c);
                return Range(RangeKind::Columns, 1, c, XlMaxRows, c);
            }
            return Range(RangeKind::Columns, 1, 1, XlMaxRows, std::max(FSheet->LastCol(), 1));
        }
        if (SameMemberName(member, "Range")) {
            std::string a = Required(args, 0, "Cell1", member).ToString();
            std::string b;
            if (const AutomationValue* v = Optional(args, 1, "Cell2")) b = v->ToString();
            else if (auto colon = a.find(':'); colon != std::string::npos) {
                b = a.substr(colon + 1);
                a.resize(colon);
            } else b = a;
            int r1, c1, r2, c2;
            if (!ParseRef(a, r1, c1)) throw Exception("'" + a + "' is not a cell reference of this sheet");
            if (!ParseRef(b, r2, c2)) throw Exception("'" + b + "' is not a cell reference of this sheet");
            return Range(RangeKind::Cells, std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2));
        }
        if (SameMemberName(member, "UsedRange"))
            return Range(RangeKind::Cells, 1, 1, std::max(FSheet->LastRow(), 0), std::max(FSheet->LastCol(), 1));
        if (SameMemberName(member, "PageSetup")) return AutomationValue(std::make_shared<PageSetupObject>(FApp, FBook, FSheet));
        if (SameMemberName(member, "Pictures")) return AutomationValue(std::make_shared<PicturesObject>(FApp, FBook, FSheet));
        if (SameMemberName(member, "Protect")) {
            FSheet->Protected = true;
            FSheet->Modified = true;
            FSheet->HashValue.clear();
            FSheet->SaltValue.clear();
            FSheet->PasswordHash = 0;
            if (const AutomationValue* v = Optional(args, 0, "Password")) {
                const std::string password = v->ToString();
                if (!password.empty()) {
                    Hash(password);
                    FSheet->PasswordHash = XlLegacyPasswordHash(password);
                }
            }
            return {};
        }
        UnknownMember(member);
    }

private:
    AutomationValue Range(RangeKind kind, int r1, int c1, int r2, int c2)
    {
        return AutomationValue(MakeRange(FApp, FBook, FSheet, kind, r1, c1, r2, c2));
    }
    static void CheckCell(int r, int c)
    {
        if (r < 1 || r > XlMaxRows)
            throw Exception("Row " + std::to_string(r) + " is outside the sheet (1 to " + std::to_string(XlMaxRows) + ")");
        if (c < 1 || c > XlMaxColumns)
            throw Exception("Column " + std::to_string(c) + " is outside the sheet (1 to " + std::to_string(XlMaxColumns) + ")");
    }
    void SetName(const std::string& name)
    {
        const bool control = std::any_of(name.begin(), name.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x20; });
        if (name.empty() || XlTextLength(name) > 31 || name.find_first_of(":\\/?*[]") != std::string::npos
            || name.front() == '\'' || name.back() == '\'' || control)
            throw Exception("'" + name + "' is not a valid sheet name (1 to 31 characters, none of : \\ / ? * [ ] "
                            "or a control character)");
        for (const auto& s : FBook->Sheets)
            if (s.get() != FSheet && QString::fromStdString(s->Name).compare(QString::fromStdString(name), Qt::CaseInsensitive) == 0)
                throw Exception("The sheet name '" + name + "' is already taken");
        FSheet->Name = name;
    }
    void Hash(const std::string& password)
    {
        // SHA-512 over salt and the UTF-16LE password, then iterated with a little-endian
        // counter, as the workbook format's sheet protection expects.
        QByteArray salt(16, '\0');
        for (char& b : salt) b = static_cast<char>(QRandomGenerator::system()->bounded(256));
        const QString text = QString::fromStdString(password);
        QByteArray utf16(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
        if (QSysInfo::ByteOrder == QSysInfo::BigEndian)
            for (int i = 0; i + 1 < utf16.size(); i += 2) std::swap(utf16[i], utf16[i + 1]);
        QByteArray hash = QCryptographicHash::hash(salt + utf16, QCryptographicHash::Sha512);
        for (int i = 0; i < FSheet->SpinCount; ++i) {
            char counter[4] = {static_cast<char>(i & 0xFF), static_cast<char>((i >> 8) & 0xFF),
                               static_cast<char>((i >> 16) & 0xFF), static_cast<char>((i >> 24) & 0xFF)};
            hash = QCryptographicHash::hash(hash + QByteArray(counter, 4), QCryptographicHash::Sha512);
        }
        FSheet->HashValue = Base64(hash);
        FSheet->SaltValue = Base64(salt);
    }
    std::shared_ptr<XlWorkbook> FBook;
    XlSheet* FSheet;
};

class SheetsObject : public ExcelObject {
public:
    SheetsObject(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book)
        : ExcelObject(std::move(app)), FBook(std::move(book)) {}
    std::string TypeName() const override { return "Sheets"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (kind == InvokeKind::Put) UnknownMember(member);
        if (SameMemberName(member, "Count")) return AutomationValue(static_cast<int>(FBook->Sheets.size()));
        if (SameMemberName(member, "Item")) {
            const AutomationValue& index = Required(args, 0, "Index", member);
            if (index.GetKind() == AutomationValue::Kind::String) {
                for (const auto& s : FBook->Sheets)
                    if (s->Name == index.ToString()) return Sheet(s.get());
                throw Exception("There is no sheet named '" + index.ToString() + "'");
            }
            const int i = index.ToInteger();
            if (i < 1 || i > static_cast<int>(FBook->Sheets.size()))
                throw Exception("Sheet index " + std::to_string(i) + " is out of range (1 to "
                                + std::to_string(FBook->Sheets.size()) + ")");
            return Sheet(FBook->Sheets[static_cast<std::size_t>(i - 1)].get());
        }
        if (SameMemberName(member, "Add")) return Sheet(&FBook->AddSheet());
        UnknownMember(member);
    }

private:
    AutomationValue Sheet(XlSheet* s) { return AutomationValue(std::make_shared<SheetObject>(FApp, FBook, s)); }
    std::shared_ptr<XlWorkbook> FBook;
};

enum class SaveFormat { Xlsx, Xls };

// What SaveAs writes for a file-format code; 0 (none given) goes by the file name's
// extension. See the table in excel_server.h.
SaveFormat SaveFormatOf(const std::string& file, int code)
{
    switch (code) {
    case 0:
        if (LowerExtensionIs(file, "xlsx")) return SaveFormat::Xlsx;
        if (LowerExtensionIs(file, "xls") || LowerExtensionIs(file, "xlt")) return SaveFormat::Xls;
        throw Exception("Cannot tell the file format of '" + file + "': name it .xlsx or .xls, or give a file format");
    case 51: return SaveFormat::Xlsx;
    case -4143: case 16: case 27: case 29: case 33: case 39: case 43: case 56: return SaveFormat::Xls;
    default:
        throw Exception("The file format " + std::to_string(code) + " is not supported: use 51 (.xlsx) or 56 (.xls)");
    }
}

class WorkbookObject : public ExcelObject {
public:
    WorkbookObject(std::shared_ptr<App> app, std::shared_ptr<XlWorkbook> book)
        : ExcelObject(std::move(app)), FBook(std::move(book)) {}
    std::string TypeName() const override { return "Workbook"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (kind == InvokeKind::Put) UnknownMember(member);
        if (SameMemberName(member, "Sheets") || SameMemberName(member, "Worksheets"))
            return AutomationValue(std::make_shared<SheetsObject>(FApp, FBook));
        if (SameMemberName(member, "ActiveSheet"))
            return AutomationValue(std::make_shared<SheetObject>(FApp, FBook, &FBook->ActiveSheet()));
        if (SameMemberName(member, "Date1904")) return AutomationValue(FBook->Date1904);
        if (SameMemberName(member, "SaveAs")) {
            const std::string file = Required(args, 0, "Filename", member).ToString();
            if (file.empty()) throw Exception("SaveAs needs a file name");
            const AutomationValue* format = Optional(args, 1, "FileFormat");
            switch (SaveFormatOf(file, format ? format->ToInteger() : 0)) {
            case SaveFormat::Xlsx: FBook->SaveXlsx(file); break;
            case SaveFormat::Xls: FBook->SaveXls(file); break;
            }
            return {};
        }
        if (SameMemberName(member, "Close")) {
            auto& books = FApp->Books;
            books.erase(std::remove(books.begin(), books.end(), FBook), books.end());
            return {};
        }
        UnknownMember(member);
    }

private:
    std::shared_ptr<XlWorkbook> FBook;
};

// Reads an .xlsx / .xltx package or an .xls / .xlt workbook into `book`; other files, and
// workbooks holding what the model cannot keep, are refused with a message.
void OpenPackage(XlWorkbook& book, const std::string& file, bool asTemplate)
{
    if (!FileExists(file)) throw EFOpenError("Cannot open file \"" + file + "\": it does not exist");
    book.Opened = std::make_shared<TMergedFile>(file, !asTemplate);
    std::string head(8, '\0');
    head.resize(book.Opened->ReadAt(0, head.data(), head.size()));
    if (head.starts_with("\xD0\xCF\x11\xE0")) book.OpenXls();
    else book.OpenXlsx(asTemplate);
}

class WorkbooksObject : public ExcelObject {
public:
    using ExcelObject::ExcelObject;
    std::string TypeName() const override { return "Workbooks"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (kind == InvokeKind::Put) UnknownMember(member);
        if (SameMemberName(member, "Count")) return AutomationValue(static_cast<int>(FApp->Books.size()));
        if (SameMemberName(member, "Add")) {
            auto book = std::make_shared<XlWorkbook>();
            if (const AutomationValue* t = Optional(args, 0, "Template"))
                OpenPackage(*book, t->ToString(), true);
            else
                book->AddSheet();
            FApp->Books.push_back(book);
            return AutomationValue(std::make_shared<WorkbookObject>(FApp, book));
        }
        if (SameMemberName(member, "Open")) {
            auto book = std::make_shared<XlWorkbook>();
            OpenPackage(*book, Required(args, 0, "Filename", member).ToString(), false);
            FApp->Books.push_back(book);
            return AutomationValue(std::make_shared<WorkbookObject>(FApp, book));
        }
        UnknownMember(member);
    }
};

class WindowObject : public ExcelObject {
public:
    using ExcelObject::ExcelObject;
    std::string TypeName() const override { return "Window"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (!SameMemberName(member, "FreezePanes")) UnknownMember(member);
        XlSheet& sheet = FApp->ActiveBook()->ActiveSheet();
        if (kind != InvokeKind::Put) return AutomationValue(sheet.FreezeRows > 0 || sheet.FreezeCols > 0);
        sheet.Modified = true;
        if (NewValue(args, member).ToBoolean()) {
            sheet.FreezeRows = std::max(sheet.SelRow - 1, 0);
            sheet.FreezeCols = std::max(sheet.SelCol - 1, 0);
        } else {
            sheet.FreezeRows = sheet.FreezeCols = 0;
        }
        return {};
    }
};

class ApplicationObject : public ExcelObject {
public:
    ApplicationObject() : ExcelObject(std::make_shared<App>()) {}
    std::string TypeName() const override { return "Application"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (HasQuit()) throw Exception("The spreadsheet application has quit");
        if (SameMemberName(member, "DisplayAlerts")) {
            if (kind != InvokeKind::Put) return AutomationValue(FApp->DisplayAlerts);
            FApp->DisplayAlerts = NewValue(args, member).ToBoolean();
            return {};
        }
        if (kind == InvokeKind::Put) UnknownMember(member);
        if (SameMemberName(member, "WorkBooks")) return AutomationValue(std::make_shared<WorkbooksObject>(FApp));
        if (SameMemberName(member, "ActiveWorkbook"))
            return AutomationValue(std::make_shared<WorkbookObject>(FApp, FApp->ActiveBook()));
        if (SameMemberName(member, "ActiveSheet")) {
            auto book = FApp->ActiveBook();
            return AutomationValue(std::make_shared<SheetObject>(FApp, book, &book->ActiveSheet()));
        }
        if (SameMemberName(member, "ActiveWindow")) return AutomationValue(std::make_shared<WindowObject>(FApp));
        if (SameMemberName(member, "Quit")) {
            FApp->Books.clear();
            MarkQuit();
            return {};
        }
        UnknownMember(member);
    }
};

} // namespace

std::shared_ptr<AutomationObject> CreateExcelApplication()
{
    return std::make_shared<ApplicationObject>();
}
