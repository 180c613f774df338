#include "platform/automation/word/word_server.h"

#include "platform/automation/word/word_document.h"
#include "platform/automation/word/word_save.h"
#include "platform/automation/word/word_source.h"
#include "platform/automation/word/word_text.h"

#include <initializer_list>
#include <vector>

namespace {

const char* const NoSuchMember = "The requested member of the collection does not exist.";

bool Is(std::string_view member, const char* name) { return SameMemberName(member, name); }

// Checks the arguments of `member`: at most `names.size()` of them, named ones among `names`.
void CheckArgs(const AutomationArgs& args, std::initializer_list<const char*> names, std::string_view member,
               const std::string& type)
{
    if (args.PositionalCount() > names.size())
        throw Exception("Wrong number of arguments for '" + std::string(member) + "' of " + type);
    for (const AutomationArg& a : args) {
        if (!a.IsNamed()) continue;
        bool known = false;
        for (const char* n : names)
            if (SameMemberName(a.Name(), n)) known = true;
        if (!known)
            throw Exception("Named argument not found: '" + a.Name() + "' of '" + std::string(member) + "' of " + type);
    }
}

const AutomationValue& Required(AutomationArgs& args, std::size_t pos, const char* name, std::string_view member,
                                const std::string& type)
{
    const AutomationArg* a = args.Find(pos, name);
    if (!a || a->Value().IsEmpty())
        throw Exception("Argument not optional: '" + std::string(name) + "' of '" + std::string(member) + "' of " + type);
    return a->Value();
}

const AutomationValue* Optional(AutomationArgs& args, std::size_t pos, const char* name)
{
    const AutomationArg* a = args.Find(pos, name);
    return a && !a->Value().IsEmpty() ? &a->Value() : nullptr;
}

// Converts an argument, naming the member when the value does not fit.
int IntArg(const AutomationValue& v, const char* what)
{
    try {
        return v.ToInteger();
    } catch (const Exception& e) {
        throw Exception(std::string("Type mismatch: '") + what + "' needs a number (" + e.Message() + ")");
    }
}

double RealArg(const AutomationValue& v, const char* what)
{
    try {
        return v.ToReal();
    } catch (const Exception& e) {
        throw Exception(std::string("Type mismatch: '") + what + "' needs a number (" + e.Message() + ")");
    }
}

class WordObject : public AutomationObject {
protected:
    [[noreturn]] void ReadOnly(std::string_view member) const
    {
        throw Exception("The property '" + std::string(member) + "' of " + TypeName() + " is read-only");
    }
    const AutomationValue& PutValue(AutomationArgs& args, std::string_view member) const
    {
        if (args.Count() != 1) throw Exception("Wrong number of arguments for '" + std::string(member) + "'");
        return args[0].Value();
    }
};

class WordApplicationObject;

// A document and what its objects share.
struct WordDocumentState {
    WordDocumentModel Model;
    bool Closed = false;
    std::string FullName;
    WordApplicationObject* App = nullptr; // cleared when the application goes

    void CheckOpen() const
    {
        if (Closed) throw Exception("The object has been deleted: the document is closed");
    }
};
using DocPtr = std::shared_ptr<WordDocumentState>;

// ---- ranges and their formatting

struct RangeTarget {
    DocPtr Doc;
    std::shared_ptr<WordTable> Table; // set for a cell's range
    int Row = 0, Col = 0;
    std::size_t Start = 0, End = 0;

    WordParagraph& Paragraph() const
    {
        Doc->CheckOpen();
        if (Table) return Table->Cell(Row, Col);
        return Doc->Model.ParagraphAt(End > Start ? End - 1 : Start);
    }
    WordCharFormat Format() const { return Doc->Model.Format(Paragraph().Format); }
    void SetFormat(const WordCharFormat& f) const
    {
        WordParagraph& p = Paragraph();
        p.Format = Doc->Model.Intern(f);
    }
};

int ColorIndexArg(const AutomationValue& v, const char* what)
{
    int i = IntArg(v, what);
    if (i < 0 || i > 16) throw Exception(std::string("Value out of range: '") + what + "' must be 0 to 16, not " + std::to_string(i));
    return i;
}

class ParagraphFormatObject : public WordObject {
public:
    explicit ParagraphFormatObject(RangeTarget t) : FT(std::move(t)) {}
    std::string TypeName() const override { return "ParagraphFormat"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        if (Is(m, "Alignment")) {
            if (kind == InvokeKind::Put) {
                int a = IntArg(PutValue(args, m), "Alignment");
                if (a < 0 || a > 3) throw Exception("Value out of range: 'Alignment' must be 0 to 3, not " + std::to_string(a));
                FT.Paragraph().Alignment = static_cast<uint8_t>(a);
                return {};
            }
            return AutomationValue(static_cast<int>(FT.Paragraph().Alignment));
        }
        UnknownMember(m);
    }

private:
    RangeTarget FT;
};

class FontObject : public WordObject {
public:
    explicit FontObject(RangeTarget t) : FT(std::move(t)) {}
    std::string TypeName() const override { return "Font"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        WordCharFormat f = FT.Format();
        if (Is(m, "Name")) {
            if (kind == InvokeKind::Put) {
                f.FontName = PutValue(args, m).ToString();
                if (SameMemberName(f.FontName, WordDocumentModel::DefaultFontName()) || f.FontName.empty())
                    f.FontName.clear();
                FT.SetFormat(f);
                return {};
            }
            return AutomationValue(f.FontName.empty() ? std::string(WordDocumentModel::DefaultFontName()) : f.FontName);
        }
        if (Is(m, "ColorIndex")) {
            if (kind == InvokeKind::Put) {
                f.ColorIndex = ColorIndexArg(PutValue(args, m), "ColorIndex");
                FT.SetFormat(f);
                return {};
            }
            return AutomationValue(f.ColorIndex);
        }
        UnknownMember(m);
    }

private:
    RangeTarget FT;
};

class TablesObject;

class RangeObject : public WordObject {
public:
    explicit RangeObject(RangeTarget t) : FT(std::move(t)) {}
    std::string TypeName() const override { return "Range"; }
    const RangeTarget& Target() const { return FT; }

    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override;

private:
    std::size_t InsertPosition() const
    {
        std::size_t end = FT.Doc->Model.ContentEnd();
        return std::min(FT.End, end - 1);
    }
    AutomationValue Flag(std::string_view m, InvokeKind kind, AutomationArgs& args, bool WordCharFormat::*field)
    {
        WordCharFormat f = FT.Format();
        if (kind == InvokeKind::Put) {
            const AutomationValue& v = PutValue(args, m);
            f.*field = v.GetKind() == AutomationValue::Kind::String ? v.ToBoolean() : IntArg(v, "value") != 0;
            FT.SetFormat(f);
            return {};
        }
        return AutomationValue(f.*field ? -1 : 0);
    }

    RangeTarget FT;
};

// ---- tables

class BorderObject : public WordObject {
public:
    BorderObject(DocPtr doc, std::shared_ptr<WordTable> t, int edge) : FDoc(std::move(doc)), FTable(std::move(t)), FEdge(edge) {}
    std::string TypeName() const override { return "Border"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        if (Is(m, "LineStyle")) {
            if (kind == InvokeKind::Put) {
                int v = IntArg(PutValue(args, m), "LineStyle");
                if (v < 0 || v > 8) throw Exception("Value out of range: 'LineStyle' must be 0 to 8, not " + std::to_string(v));
                FTable->Borders[static_cast<std::size_t>(FEdge)] = v;
                return {};
            }
            return AutomationValue(FTable->Borders[static_cast<std::size_t>(FEdge)]);
        }
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
    std::shared_ptr<WordTable> FTable;
    int FEdge;
};

class BordersObject : public WordObject {
public:
    BordersObject(DocPtr doc, std::shared_ptr<WordTable> t) : FDoc(std::move(doc)), FTable(std::move(t)) {}
    std::string TypeName() const override { return "Borders"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        if (Is(m, "Item") && kind != InvokeKind::Put) {
            CheckArgs(args, {"Index"}, m, TypeName());
            int i = IntArg(Required(args, 0, "Index", m, TypeName()), "Index");
            // -1 top, -2 left, -3 bottom, -4 right, -5 horizontal, -6 vertical
            if (i > -1 || i < -6) throw Exception(NoSuchMember);
            return AutomationValue(std::make_shared<BorderObject>(FDoc, FTable, -i - 1));
        }
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
    std::shared_ptr<WordTable> FTable;
};

class ColumnObject : public WordObject {
public:
    ColumnObject(DocPtr doc, std::shared_ptr<WordTable> t, int index) : FDoc(std::move(doc)), FTable(std::move(t)), FIndex(index) {}
    std::string TypeName() const override { return "Column"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        double& width = FTable->ColumnWidthsPt[static_cast<std::size_t>(FIndex)];
        if (Is(m, "SetWidth") && kind == InvokeKind::Call) {
            CheckArgs(args, {"ColumnWidth", "RulerStyle"}, m, TypeName());
            double w = RealArg(Required(args, 0, "ColumnWidth", m, TypeName()), "ColumnWidth");
            if (const AutomationValue* r = Optional(args, 1, "RulerStyle"); r && IntArg(*r, "RulerStyle") != 0)
                throw Exception("Only the ruler style 0 (adjust none) is supported");
            SetWidth(w);
            return {};
        }
        if (Is(m, "Width")) {
            if (kind == InvokeKind::Put) {
                SetWidth(RealArg(PutValue(args, m), "Width"));
                return {};
            }
            return AutomationValue(static_cast<float>(width));
        }
        UnknownMember(m);
    }

private:
    void SetWidth(double w)
    {
        if (!(w >= 1 && w <= 1584)) throw Exception("Value out of range: a column width must be 1 to 1584 points");
        FTable->ColumnWidthsPt[static_cast<std::size_t>(FIndex)] = w;
        FTable->AutoFit = false;
    }
    DocPtr FDoc;
    std::shared_ptr<WordTable> FTable;
    int FIndex;
};

class ColumnsObject : public WordObject {
public:
    ColumnsObject(DocPtr doc, std::shared_ptr<WordTable> t) : FDoc(std::move(doc)), FTable(std::move(t)) {}
    std::string TypeName() const override { return "Columns"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        if (Is(m, "Width")) {
            // the table's total width: the sum of its columns
            if (kind == InvokeKind::Put) {
                double w = RealArg(PutValue(args, m), "Width");
                if (!(w >= 1 && w <= 1584 * 63)) throw Exception("Value out of range: the table width must be positive");
                double sum = FTable->WidthPt();
                for (double& c : FTable->ColumnWidthsPt) c = sum > 0 ? c * w / sum : w / FTable->Columns;
                FTable->AutoFit = false;
                return {};
            }
            return AutomationValue(static_cast<float>(FTable->WidthPt()));
        }
        if (Is(m, "Item") && kind != InvokeKind::Put) {
            CheckArgs(args, {"Index"}, m, TypeName());
            int i = IntArg(Required(args, 0, "Index", m, TypeName()), "Index");
            if (i < 1 || i > FTable->Columns) throw Exception(NoSuchMember);
            return AutomationValue(std::make_shared<ColumnObject>(FDoc, FTable, i - 1));
        }
        if (Is(m, "AutoFit") && kind == InvokeKind::Call) {
            CheckArgs(args, {}, m, TypeName());
            FDoc->Model.AutoFitTable(*FTable);
            return {};
        }
        if (Is(m, "Count") && kind != InvokeKind::Put) return AutomationValue(FTable->Columns);
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
    std::shared_ptr<WordTable> FTable;
};

class RowObject : public WordObject {
public:
    RowObject(DocPtr doc, int index) : FDoc(std::move(doc)), FIndex(index) {}
    std::string TypeName() const override { return "Row"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs&) override
    {
        FDoc->CheckOpen();
        if (Is(m, "Index") && kind != InvokeKind::Put) return AutomationValue(FIndex);
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
    int FIndex;
};

class RowsObject : public WordObject {
public:
    RowsObject(DocPtr doc, std::shared_ptr<WordTable> t) : FDoc(std::move(doc)), FTable(std::move(t)) {}
    std::string TypeName() const override { return "Rows"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        if (Is(m, "Add") && kind == InvokeKind::Call) {
            CheckArgs(args, {"BeforeRow"}, m, TypeName());
            if (Optional(args, 0, "BeforeRow")) throw Exception("Rows can only be added at the end of the table");
            FDoc->Model.AddTableRow(*FTable);
            return AutomationValue(std::make_shared<RowObject>(FDoc, FTable->RowCount()));
        }
        if (Is(m, "Count") && kind != InvokeKind::Put) return AutomationValue(FTable->RowCount());
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
    std::shared_ptr<WordTable> FTable;
};

class CellObject : public WordObject {
public:
    explicit CellObject(RangeTarget t) : FT(std::move(t)) {}
    std::string TypeName() const override { return "Cell"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs&) override
    {
        FT.Doc->CheckOpen();
        if (Is(m, "Range") && kind != InvokeKind::Put) return AutomationValue(std::make_shared<RangeObject>(FT));
        UnknownMember(m);
    }

private:
    RangeTarget FT;
};

class TableObject : public WordObject {
public:
    TableObject(DocPtr doc, std::shared_ptr<WordTable> t) : FDoc(std::move(doc)), FTable(std::move(t)) {}
    std::string TypeName() const override { return "Table"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        if (kind != InvokeKind::Put) {
            if (Is(m, "Borders")) return AutomationValue(std::make_shared<BordersObject>(FDoc, FTable));
            if (Is(m, "Columns")) return AutomationValue(std::make_shared<ColumnsObject>(FDoc, FTable));
            if (Is(m, "Rows")) return AutomationValue(std::make_shared<RowsObject>(FDoc, FTable));
            if (Is(m, "Cell")) {
                CheckArgs(args, {"Row", "Column"}, m, TypeName());
                int r = IntArg(Required(args, 0, "Row", m, TypeName()), "Row");
                int c = IntArg(Required(args, 1, "Column", m, TypeName()), "Column");
                if (r < 1 || r > FTable->RowCount() || c < 1 || c > FTable->Columns) throw Exception(NoSuchMember);
                RangeTarget t;
                t.Doc = FDoc;
                t.Table = FTable;
                t.Row = r - 1;
                t.Col = c - 1;
                return AutomationValue(std::make_shared<CellObject>(std::move(t)));
            }
        }
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
    std::shared_ptr<WordTable> FTable;
};

std::size_t PositionArg(const AutomationValue& v, const char* what, std::size_t end)
{
    int p = IntArg(v, what);
    if (p < 0 || static_cast<std::size_t>(p) > end)
        throw Exception(std::string("Value out of range: '") + what + "' must be 0 to " + std::to_string(end) + ", not " +
                        std::to_string(p));
    return static_cast<std::size_t>(p);
}

class TablesObject : public WordObject {
public:
    explicit TablesObject(DocPtr doc) : FDoc(std::move(doc)) {}
    std::string TypeName() const override { return "Tables"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        if (Is(m, "Add") && kind == InvokeKind::Call) {
            CheckArgs(args, {"Range", "NumRows", "NumColumns", "DefaultTableBehavior", "AutoFitBehavior"}, m, TypeName());
            const AutomationValue& where = Required(args, 0, "Range", m, TypeName());
            int rows = IntArg(Required(args, 1, "NumRows", m, TypeName()), "NumRows");
            int cols = IntArg(Required(args, 2, "NumColumns", m, TypeName()), "NumColumns");
            auto* range = where.IsObject() ? dynamic_cast<RangeObject*>(where.Object().get()) : nullptr;
            if (!range || range->Target().Doc != FDoc)
                throw Exception("Type mismatch: 'Range' of Tables.Add must be a range of this document");
            if (range->Target().Table) throw Exception("A table cannot be added inside a table cell");
            auto table = FDoc->Model.AddTable(range->Target().Start, rows, cols);
            return AutomationValue(std::make_shared<TableObject>(FDoc, table));
        }
        if (Is(m, "Count") && kind != InvokeKind::Put) return AutomationValue(static_cast<int>(Tables().size()));
        if (Is(m, "Item") && kind != InvokeKind::Put) {
            CheckArgs(args, {"Index"}, m, TypeName());
            int i = IntArg(Required(args, 0, "Index", m, TypeName()), "Index");
            auto all = Tables();
            if (i < 1 || i > static_cast<int>(all.size())) throw Exception(NoSuchMember);
            return AutomationValue(std::make_shared<TableObject>(FDoc, all[static_cast<std::size_t>(i - 1)]));
        }
        UnknownMember(m);
    }

private:
    std::vector<std::shared_ptr<WordTable>> Tables() const
    {
        std::vector<std::shared_ptr<WordTable>> r;
        for (const auto& b : FDoc->Model.Blocks())
            if (b.BlockKind == WordBlock::Table) r.push_back(b.Tbl);
        return r;
    }
    DocPtr FDoc;
};

AutomationValue RangeObject::Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args)
{
    FT.Doc->CheckOpen();
    WordDocumentModel& model = FT.Doc->Model;
    if (kind != InvokeKind::Put) {
        if (Is(m, "InsertAfter") && kind == InvokeKind::Call) {
            CheckArgs(args, {"Text"}, m, TypeName());
            const AutomationArg* a = args.Find(0, "Text");
            // A string goes into the document as the caller holds it, not through a copy.
            std::string converted;
            if (a && a->Value().GetKind() != AutomationValue::Kind::String)
                converted = a->Value().ToString();
            const std::string& text = a && a->Value().GetKind() == AutomationValue::Kind::String ? a->Value().StringRef()
                                                                                                  : converted;
            if (FT.Table) {
                model.InsertCellText(*FT.Table, FT.Table->Cell(FT.Row, FT.Col), text);
            } else {
                model.InsertText(InsertPosition(), text);
                FT.End += WordTextLength(text);
            }
            return {};
        }
        if (Is(m, "InsertParagraphAfter") && kind == InvokeKind::Call) {
            CheckArgs(args, {}, m, TypeName());
            if (FT.Table) { // a cell holds one paragraph: a new line inside it
                model.InsertCellText(*FT.Table, FT.Table->Cell(FT.Row, FT.Col), "\n");
            } else {
                model.InsertParagraph(InsertPosition());
                FT.End += 1;
            }
            return {};
        }
        if (Is(m, "ParagraphFormat")) return AutomationValue(std::make_shared<ParagraphFormatObject>(FT));
        if (Is(m, "Font")) return AutomationValue(std::make_shared<FontObject>(FT));
        if (Is(m, "Tables")) return AutomationValue(std::make_shared<TablesObject>(FT.Doc));
        if (Is(m, "Start")) return AutomationValue(static_cast<int>(FT.Table ? 0 : FT.Start));
        if (Is(m, "End")) return AutomationValue(static_cast<int>(FT.Table ? 0 : FT.End));
        if (Is(m, "Text")) {
            if (FT.Table) return AutomationValue(FT.Table->Cell(FT.Row, FT.Col).Text);
            if (FT.Start == FT.End) return AutomationValue(std::string());
            std::string text;
            std::size_t pos = 0;
            for (const auto& b : model.Blocks()) {
                if (b.BlockKind == WordBlock::Paragraph) {
                    if (pos >= FT.Start && pos < FT.End) text += b.Para.Text + "\r";
                    pos += WordTextLength(b.Para.Text) + b.Para.PictureCount() + 1;
                } else {
                    pos += b.BlockKind == WordBlock::Table ? b.Tbl->Length : b.ExistingLength;
                }
            }
            return AutomationValue(text);
        }
    }
    if (Is(m, "Bold")) return Flag(m, kind, args, &WordCharFormat::Bold);
    if (Is(m, "Italic")) return Flag(m, kind, args, &WordCharFormat::Italic);
    if (Is(m, "Underline")) return Flag(m, kind, args, &WordCharFormat::Underline);
    if (Is(m, "HighlightColorIndex")) {
        WordCharFormat f = FT.Format();
        if (kind == InvokeKind::Put) {
            f.HighlightIndex = ColorIndexArg(PutValue(args, m), "HighlightColorIndex");
            FT.SetFormat(f);
            return {};
        }
        return AutomationValue(f.HighlightIndex);
    }
    if (kind == InvokeKind::Put &&
        (Is(m, "Start") || Is(m, "End") || Is(m, "Text") || Is(m, "Font") || Is(m, "ParagraphFormat")))
        ReadOnly(m);
    UnknownMember(m);
}

// ---- pictures, page setup

class InlineShapeObject : public WordObject {
public:
    InlineShapeObject(DocPtr doc, double w, double h) : FDoc(std::move(doc)), FWidth(w), FHeight(h) {}
    std::string TypeName() const override { return "InlineShape"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs&) override
    {
        FDoc->CheckOpen();
        if (kind != InvokeKind::Put) {
            if (Is(m, "Width")) return AutomationValue(static_cast<float>(FWidth));
            if (Is(m, "Height")) return AutomationValue(static_cast<float>(FHeight));
        }
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
    double FWidth, FHeight;
};

class InlineShapesObject : public WordObject {
public:
    explicit InlineShapesObject(DocPtr doc) : FDoc(std::move(doc)) {}
    std::string TypeName() const override { return "InlineShapes"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        if (Is(m, "AddPicture") && kind == InvokeKind::Call) {
            CheckArgs(args, {"FileName", "LinkToFile", "SaveWithDocument", "Range"}, m, TypeName());
            std::string file = Required(args, 0, "FileName", m, TypeName()).ToString();
            if (const AutomationValue* l = Optional(args, 1, "LinkToFile"); l && l->ToBoolean())
                throw Exception("Linked pictures are not supported; the picture must be stored in the document");
            if (const AutomationValue* s = Optional(args, 2, "SaveWithDocument"); s && !s->ToBoolean())
                throw Exception("A picture that is not saved with the document is not supported");
            WordDocumentModel& model = FDoc->Model;
            const AutomationValue* where = Optional(args, 3, "Range");
            WordParagraph* para;
            WordTable* table = nullptr;
            double maxWidth = model.PageSetup().TextWidth();
            if (where) {
                auto* range = where->IsObject() ? dynamic_cast<RangeObject*>(where->Object().get()) : nullptr;
                if (!range || range->Target().Doc != FDoc)
                    throw Exception("Type mismatch: 'Range' of AddPicture must be a range of this document");
                para = &range->Target().Paragraph();
                if (range->Target().Table) {
                    table = range->Target().Table.get();
                    maxWidth = table->ColumnWidthsPt[static_cast<std::size_t>(range->Target().Col)] - WordCellPaddingPt;
                    if (maxWidth < 1) maxWidth = 1;
                }
            } else {
                para = &model.LastParagraph();
            }
            WordInlinePicture& pic = model.AddPicture(*para, table, file, maxWidth);
            return AutomationValue(std::make_shared<InlineShapeObject>(FDoc, pic.WidthPt, pic.HeightPt));
        }
        if (Is(m, "Count") && kind != InvokeKind::Put) {
            int n = 0;
            for (const auto& b : FDoc->Model.Blocks()) {
                if (b.BlockKind == WordBlock::Paragraph) n += static_cast<int>(b.Para.PictureCount());
                else if (b.BlockKind == WordBlock::Table)
                    n += b.Tbl->PictureCount;
            }
            return AutomationValue(n);
        }
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
};

class PageSetupObject : public WordObject {
public:
    explicit PageSetupObject(DocPtr doc) : FDoc(std::move(doc)) {}
    std::string TypeName() const override { return "PageSetup"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FDoc->CheckOpen();
        WordPageSetup& p = FDoc->Model.PageSetup();
        double* margin = Is(m, "TopMargin") ? &p.TopMargin
                         : Is(m, "BottomMargin") ? &p.BottomMargin
                         : Is(m, "LeftMargin") ? &p.LeftMargin
                         : Is(m, "RightMargin") ? &p.RightMargin
                                                  : nullptr;
        if (margin) {
            if (kind == InvokeKind::Put) {
                double v = RealArg(PutValue(args, m), "margin");
                bool vertical = Is(m, "TopMargin") || Is(m, "BottomMargin");
                double page = vertical == (p.Orientation == 1) ? std::min(p.PageWidth, p.PageHeight)
                                                               : std::max(p.PageWidth, p.PageHeight);
                if (!(v >= 0 && v < page - 36))
                    throw Exception("Value out of range: the margin " + AutomationValue(v).ToString() +
                                    " does not fit the page");
                *margin = v;
                p.Changed = true;
                return {};
            }
            return AutomationValue(static_cast<float>(*margin));
        }
        if (Is(m, "Orientation")) {
            if (kind == InvokeKind::Put) {
                int o = IntArg(PutValue(args, m), "Orientation");
                if (o != 0 && o != 1) throw Exception("Value out of range: 'Orientation' must be 0 or 1");
                p.Orientation = o;
                p.Changed = true;
                return {};
            }
            return AutomationValue(p.Orientation);
        }
        UnknownMember(m);
    }

private:
    DocPtr FDoc;
};

// ---- document, documents, application

class DocumentObject : public WordObject {
public:
    explicit DocumentObject(DocPtr doc) : FDoc(std::move(doc)) {}
    std::string TypeName() const override { return "Document"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override;
    const DocPtr& State() const { return FDoc; }

private:
    DocPtr FDoc;
};

class OptionsObject : public WordObject {
public:
    std::string TypeName() const override { return "Options"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        bool* flag = Is(m, "CheckSpellingAsYouType") ? &FSpelling : Is(m, "CheckGrammarAsYouType") ? &FGrammar : nullptr;
        if (!flag) UnknownMember(m);
        if (kind == InvokeKind::Put) {
            *flag = PutValue(args, m).ToBoolean();
            return {};
        }
        return AutomationValue(*flag);
    }

private:
    bool FSpelling = true, FGrammar = true;
};

class DocumentsObject;

class WordApplicationObject : public WordObject {
public:
    WordApplicationObject() : FOptions(std::make_shared<OptionsObject>()) {}
    ~WordApplicationObject() override
    {
        for (auto& d : FDocuments) d->App = nullptr;
    }
    std::string TypeName() const override { return "Application"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override;

    DocPtr NewDocument()
    {
        auto d = std::make_shared<WordDocumentState>();
        d->App = this;
        return d;
    }
    void AddDocument(const DocPtr& d) { FDocuments.push_back(d); }
    void RemoveDocument(const WordDocumentState* d)
    {
        std::erase_if(FDocuments, [d](const DocPtr& x) { return x.get() == d; });
    }
    const std::vector<DocPtr>& Documents() const { return FDocuments; }
    void CheckRunning() const
    {
        if (HasQuit()) throw Exception("The remote procedure call failed: the word processor has quit");
    }

private:
    std::shared_ptr<OptionsObject> FOptions;
    std::vector<DocPtr> FDocuments; // the last one is the active document
    bool FVisible = true, FScreenUpdating = true;
};

class DocumentsObject : public WordObject {
public:
    explicit DocumentsObject(std::shared_ptr<WordApplicationObject> app) : FApp(std::move(app)) {}
    std::string TypeName() const override { return "Documents"; }
    AutomationValue Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args) override
    {
        FApp->CheckRunning();
        if (Is(m, "Add") && kind == InvokeKind::Call) {
            CheckArgs(args, {"Template", "NewTemplate", "DocumentType", "Visible"}, m, TypeName());
            DocPtr d = FApp->NewDocument();
            if (const AutomationValue* t = Optional(args, 0, "Template"); t && !t->ToString().empty())
                OpenWordSource(d->Model, t->ToString(), false);
            FApp->AddDocument(d);
            return AutomationValue(std::make_shared<DocumentObject>(d));
        }
        if (Is(m, "Open") && kind == InvokeKind::Call) {
            CheckArgs(args, {"FileName", "ConfirmConversions", "ReadOnly", "AddToRecentFiles"}, m, TypeName());
            std::string name = Required(args, 0, "FileName", m, TypeName()).ToString();
            DocPtr d = FApp->NewDocument();
            OpenWordSource(d->Model, name);
            d->FullName = name;
            FApp->AddDocument(d);
            return AutomationValue(std::make_shared<DocumentObject>(d));
        }
        if (Is(m, "Count") && kind != InvokeKind::Put) return AutomationValue(static_cast<int>(FApp->Documents().size()));
        if (Is(m, "Item") && kind != InvokeKind::Put) {
            CheckArgs(args, {"Index"}, m, TypeName());
            int i = IntArg(Required(args, 0, "Index", m, TypeName()), "Index");
            if (i < 1 || i > static_cast<int>(FApp->Documents().size())) throw Exception(NoSuchMember);
            return AutomationValue(std::make_shared<DocumentObject>(FApp->Documents()[static_cast<std::size_t>(i - 1)]));
        }
        UnknownMember(m);
    }

private:
    std::shared_ptr<WordApplicationObject> FApp;
};

AutomationValue WordApplicationObject::Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args)
{
    CheckRunning();
    if (Is(m, "Visible") || Is(m, "ScreenUpdating")) {
        bool& flag = Is(m, "Visible") ? FVisible : FScreenUpdating;
        if (kind == InvokeKind::Put) {
            flag = PutValue(args, m).ToBoolean();
            return {};
        }
        return AutomationValue(flag);
    }
    if (kind == InvokeKind::Put) {
        if (Is(m, "Options") || Is(m, "Documents") || Is(m, "ActiveDocument")) ReadOnly(m);
        UnknownMember(m);
    }
    if (Is(m, "Options")) return AutomationValue(FOptions);
    if (Is(m, "Documents"))
        return AutomationValue(std::make_shared<DocumentsObject>(
            std::static_pointer_cast<WordApplicationObject>(shared_from_this())));
    if (Is(m, "ActiveDocument")) {
        if (FDocuments.empty()) throw Exception("This command is not available because no document is open.");
        return AutomationValue(std::make_shared<DocumentObject>(FDocuments.back()));
    }
    if (Is(m, "PicasToPoints")) {
        CheckArgs(args, {"Picas"}, m, TypeName());
        double v = RealArg(Required(args, 0, "Picas", m, TypeName()), "Picas");
        return AutomationValue(static_cast<float>(v * 12));
    }
    if (Is(m, "Quit") && kind == InvokeKind::Call) {
        CheckArgs(args, {"SaveChanges", "OriginalFormat", "RouteDocument"}, m, TypeName());
        for (auto& d : FDocuments) {
            d->Closed = true; // unsaved changes are dropped, as with "do not save"
            d->App = nullptr;
        }
        FDocuments.clear();
        MarkQuit();
        return {};
    }
    UnknownMember(m);
}

AutomationValue DocumentObject::Invoke(std::string_view m, InvokeKind kind, AutomationArgs& args)
{
    FDoc->CheckOpen();
    WordDocumentModel& model = FDoc->Model;
    if (kind == InvokeKind::Put) {
        if (Is(m, "Content") || Is(m, "PageSetup") || Is(m, "Tables") || Is(m, "InlineShapes")) ReadOnly(m);
        UnknownMember(m);
    }
    if (Is(m, "Content") || Is(m, "Range")) {
        RangeTarget t;
        t.Doc = FDoc;
        std::size_t end = model.ContentEnd();
        t.Start = 0;
        t.End = end;
        if (Is(m, "Range")) {
            CheckArgs(args, {"Start", "End"}, m, TypeName());
            if (const AutomationValue* s = Optional(args, 0, "Start")) t.Start = PositionArg(*s, "Start", end);
            if (const AutomationValue* e = Optional(args, 1, "End")) t.End = PositionArg(*e, "End", end);
            if (t.End < t.Start) std::swap(t.Start, t.End);
        }
        return AutomationValue(std::make_shared<RangeObject>(std::move(t)));
    }
    if (Is(m, "PageSetup")) return AutomationValue(std::make_shared<PageSetupObject>(FDoc));
    if (Is(m, "Tables")) return AutomationValue(std::make_shared<TablesObject>(FDoc));
    if (Is(m, "InlineShapes")) return AutomationValue(std::make_shared<InlineShapesObject>(FDoc));
    if (Is(m, "FullName")) return AutomationValue(FDoc->FullName);
    if (Is(m, "Protect") && kind == InvokeKind::Call) {
        CheckArgs(args, {"Type", "NoReset", "Password"}, m, TypeName());
        if (const AutomationValue* t = Optional(args, 0, "Type"); t && IntArg(*t, "Type") != 3)
            throw Exception("Only the read-only protection (Type 3) is supported");
        if (model.Protected) throw Exception("The document is already protected");
        const AutomationArg* pw = args.Find(2, "Password");
        model.ProtectionPassword = pw ? pw->Value().ToString() : std::string();
        model.Protected = true;
        return {};
    }
    if (Is(m, "SaveAs") && kind == InvokeKind::Call) {
        CheckArgs(args, {"FileName", "FileFormat"}, m, TypeName());
        if (Optional(args, 1, "FileFormat"))
            throw Exception("The file format is chosen by the file name's extension; 'FileFormat' is not supported");
        std::string name = Required(args, 0, "FileName", m, TypeName()).ToString();
        SaveWordDocument(model, name);
        FDoc->FullName = name;
        return {};
    }
    if (Is(m, "Close") && kind == InvokeKind::Call) {
        CheckArgs(args, {"SaveChanges", "OriginalFormat", "RouteDocument"}, m, TypeName());
        if (const AutomationValue* s = Optional(args, 0, "SaveChanges"); s && IntArg(*s, "SaveChanges") == -1) {
            if (FDoc->FullName.empty()) throw Exception("The document has no file name to be saved under");
            SaveWordDocument(model, FDoc->FullName);
        }
        FDoc->Closed = true;
        if (FDoc->App) FDoc->App->RemoveDocument(FDoc.get());
        FDoc->App = nullptr;
        return {};
    }
    UnknownMember(m);
}

} // namespace

std::shared_ptr<AutomationObject> CreateWordApplication()
{
    return std::make_shared<WordApplicationObject>();
}
