#include "export/specification_file.h"

#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/streams.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace {

const std::string DataDir = std::string(TABRIX_TEST_DATA) + "/specification/";

std::string Save(TKVExportBaseComponent& C, const std::string& Name = "spec")
{
    TStringStream stream;
    C.SaveSpecificationToStream(stream, Name);
    return stream.DataString();
}

void Load(TKVExportBaseComponent& C, const std::string& Text)
{
    TStringStream stream(Text);
    C.LoadSpecificationFromStream(stream);
}

void SetLook(TFont& Font, TFontStyles Style)
{
    Font.Name = "Arial";
    Font.Charset = 1;
    Font.Color = clBlack;
    Font.Size = 8;
    Font.Style = Style;
}

// The word-processor export of two pictures columns with one header line.
void BuildPictureExport(TKVExportBaseComponent& C)
{
    QCoreApplication::setApplicationName("Picture export");
    C.SetTableType(teWord);
    C.SetFileName("C:\\Export\\tabrix.doc");
    C.AddTitle = true;
    C.ActionAfterExport = aeOpenView;
    C.ExportStyle().OddColor = clWhite;
    C.ExportStyle().EvenColor = clWhite;
    const struct {
        const char* Field;
        const char* Caption;
        TAlignment Alignment;
        int Width;
    } columns[] = {{"FileName", "Picture filename", taLeftJustify, 30}, {"Graphic", "Picture", taCenter, 40}};
    for (const auto& c : columns) {
        TKVEColumn& column = *C.Columns().Add();
        column.FieldName = c.Field;
        column.Title().Caption = c.Caption;
        column.Alignment = c.Alignment;
        column.Width = c.Width;
        SetLook(column.Font(), 0);
        column.Title().Alignment = taCenter;
        SetLook(column.Title().Font(), fsBold);
    }
    C.Header().Add("Pictures");
    TKVEDataFormats& f = C.DataFormats();
    f.DateOrder = doDMY;
    f.DateSeparator = ".";
    f.TimeSeparator = ":";
    f.ThousandSeparator = " ";
    f.DecimalSeparator = ",";
    f.CurrencyString = "EUR";
    f.FourDigitYear = true;
    f.LeadingZerosInDate = true;
    f.CustomDateTimeFormat = "";
    f.UseRegionalSettings = false;
}

} // namespace

TEST(SpecificationFile, WorkedExampleComesOutByteForByteAndReadsBackTheSame)
{
    const std::string expected = ReadFileToString(DataDir + "pictures.kve");
    TKVExportBaseComponent built;
    BuildPictureExport(built);
    EXPECT_EQ(Save(built, "Pictures to document"), expected);

    // Read back, the file name takes the Word extension in its own case.
    TKVExportBaseComponent loaded;
    Load(loaded, expected);
    std::string reread = expected;
    for (std::size_t at; (at = reread.find("tabrix.doc")) != std::string::npos;)
        reread.replace(at, 10, "tabrix.DOC");
    EXPECT_EQ(Save(loaded, "Pictures to document"), reread);
}

TEST(SpecificationFile, RoundTripKeepsManyColumnsHiddenOnesAndOddCharacters)
{
    TKVExportBaseComponent original;
    for (int i = 0; i < 200; ++i) {
        TKVEColumn& column = *original.Columns().Add();
        column.FieldName = "F" + std::to_string(i);
        column.Title().Caption = i % 7 == 3 ? "" : "Caption " + std::to_string(i);
        column.Visible = i % 5 != 2;
        column.Width = i;
        column.Color = i % 2 ? clBtnFace : static_cast<TColor>(i * 1000);
        column.Font().Style = static_cast<TFontStyles>(i % 16);
        column.Title().Font().Color = clWindowText;
    }
    original.FieldDelimiter = std::string(1, '\0');
    original.RecordSeparator = "\n";
    original.TextQualifier = "\"";
    original.ExportStyle().SetStyle(esBrick);
    original.ExportStyle().EvenColor = clInfoBk;
    const std::string text = Save(original);
    EXPECT_NE(text.find("\r\nFieldDelimiter=00\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nEvenColor=-2147483624\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nMap3=F3 = \r\n"), std::string::npos);

    TKVExportBaseComponent loaded;
    Load(loaded, text);
    ASSERT_EQ(loaded.Columns().Count(), 200);
    for (int i = 0; i < 200; ++i) {
        const TKVEColumn& a = *original.Columns()[i];
        const TKVEColumn& b = *loaded.Columns()[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(b.FieldName, a.FieldName);
        // A hidden column or an empty caption comes back hidden, captioned by its field.
        const bool shown = a.Visible && !a.Title().Caption.empty();
        EXPECT_EQ(b.Visible, shown);
        EXPECT_EQ(b.Title().Caption, shown ? a.Title().Caption : a.FieldName);
        EXPECT_EQ(b.Width, a.Width);
        EXPECT_EQ(b.Color, a.Color);
        EXPECT_TRUE(b.Font() == a.Font());
        EXPECT_TRUE(b.Title().Font() == a.Title().Font());
    }
    EXPECT_EQ(loaded.FieldDelimiter, std::string(1, '\0'));
    EXPECT_EQ(loaded.RecordSeparator, "\n");
    EXPECT_EQ(loaded.TextQualifier, "\"");
    EXPECT_EQ(loaded.ExportStyle().Style(), esBrick);
    EXPECT_EQ(loaded.ExportStyle().EvenColor, clInfoBk);
}

TEST(SpecificationFile, MappingNamesFollowTheMappingVersion)
{
    struct Versioned : TKVExportBaseComponent {
        int Version = 0;
        int MappingVersion() override { return Version; }
    };
    // A hidden column has no mapping name and does not advance the counter.
    const struct {
        int Version;
        const char* Lines;
    } cases[] = {
        {1, "Map0=A = \r\nMap1=B = Text0-5\r\n"}, {2, "Map0=A = \r\nMap1=B = Field0\r\n"},
        {7, "Map0=A = \r\nMap1=B = Beta\r\n"}};
    for (const auto& c : cases) {
        Versioned component;
        component.Version = c.Version;
        component.Columns().Add()->Visible = false;
        component.Columns()[0]->FieldName = "A";
        TKVEColumn& shown = *component.Columns().Add();
        shown.FieldName = "B";
        shown.Title().Caption = "Beta";
        shown.Width = 5;
        EXPECT_NE(Save(component).find(c.Lines), std::string::npos) << c.Version;
    }
    TKVExportBaseComponent empty;
    const std::string text = Save(empty);
    EXPECT_NE(text.find("[Mappings]\r\nCount=0\r\n\r\n[Header]"), std::string::npos);
    EXPECT_EQ(text.find("[COLUMNS]"), std::string::npos);
}

TEST(SpecificationFile, ReaderRules)
{
    using Check = std::function<void(TKVExportBaseComponent&)>;
    const struct {
        const char* Name;
        std::string Text;
        Check Expect;
    } cases[] = {
        {"keys anywhere, any case, first wins, CR / LF / CR LF lines",
         "[Other]\rsourcefilename=/a/one.txt\nTABLENAME=t1\r\n[X]\r\nSourceFileName=/a/two.txt\r\ntablename=t2\r\n",
         [](auto& c) {
             EXPECT_EQ(c.FileName(), "/a/one.TXT");
             EXPECT_EQ(c.TableName, "t1");
         }},
        {"lower-case type takes its extension in its own case",
         "SourceFileName=/out/report.doc\r\nTableType=word\r\n",
         [](auto& c) {
             EXPECT_EQ(c.TableType(), teWord);
             EXPECT_EQ(c.FileName(), "/out/report.DOC");
         }},
        {"an unknown type keeps the type, whose extension the file name takes",
         "SourceFileName=/out/report.doc\r\nTableType=Wordx\r\n",
         [](auto& c) {
             EXPECT_EQ(c.TableType(), teText);
             EXPECT_EQ(c.FileName(), "/out/report.TXT");
         }},
        {"missing separator texts: record separator empty, field delimiter kept", "Fixed=1\r\n",
         [](auto& c) {
             EXPECT_EQ(c.RecordSeparator, "");
             EXPECT_EQ(c.FieldDelimiter, ";");
             EXPECT_TRUE(c.Fixed);
         }},
        {"missing flags are false; only \"1\" is true", "AddTitle=true\r\nBlankIfZero= 1\r\nSelectedRecord=1\r\n",
         [](auto& c) {
             EXPECT_FALSE(c.ExportIfEmpty);
             EXPECT_FALSE(c.SendTo().EMailOpenBeforeSend);
             EXPECT_FALSE(c.AddTitle);
             EXPECT_FALSE(c.BlankIfZero);
             EXPECT_TRUE(c.SelectedRecord);
         }},
        {"integers keep their byte or 16 bits; out-of-range and bad ones keep the value",
         "ActionAfterExport=258\r\nOptions=65970\r\nStyle=12\r\nLayout=x\r\nCharacterSet=1\r\nDateOrder=-1\r\n",
         [](auto& c) {
             EXPECT_EQ(c.ActionAfterExport, aeEMail);
             EXPECT_EQ(c.Options.Bits(), 434);
             EXPECT_EQ(c.ExportStyle().Style(), esMaple);
             EXPECT_EQ(c.Layout, elTabularForm);
             EXPECT_EQ(c.CharacterSet, csASCII_MSDOS);
             EXPECT_EQ(c.DataFormats().DateOrder, doYMD);
         }},
        {"map gaps below 151 are found; beyond, the first missing entry ends the list",
         "Map0=A = a\r\nMap1= = \r\nMap2=B\r\nWidth2=7\r\nMap150=C = c\r\nMap151=D = d\r\nMap153=E = e\r\n",
         [](auto& c) {
             ASSERT_EQ(c.Columns().Count(), 4);
             EXPECT_EQ(c.Columns()[1]->FieldName, "B");
             EXPECT_EQ(c.Columns()[1]->Title().Caption, "B");
             EXPECT_FALSE(c.Columns()[1]->Visible);
             EXPECT_EQ(c.Columns()[1]->Width, 7);
             EXPECT_EQ(c.Columns()[3]->FieldName, "D");
         }},
        {"a trimmed \"Price = \" is a hidden column; one without names is none",
         "Map0=Price =\r\nMap1= \t \r\nMap2=Qty\r\n",
         [](auto& c) {
             ASSERT_EQ(c.Columns().Count(), 2);
             EXPECT_EQ(c.Columns()[0]->FieldName, "Price");
             EXPECT_FALSE(c.Columns()[0]->Visible);
             EXPECT_EQ(c.Columns()[1]->FieldName, "Qty");
         }},
        {"header ends at its first empty line",
         "Header0=one\r\nHeader1=\r\nHeader2=three\r\nFooter0=f\r\n",
         [](auto& c) {
             ASSERT_EQ(c.Header().Count(), 1);
             EXPECT_EQ(c.Footer().Count(), 1);
         }},
        {"column looks: fields before a comma apply, bad ones keep their value",
         "Map0=A = a\r\nCol0=1,255\r\nColTitle0= 2 , x ,Courier New,, -2147483633 ,12,3,9\r\n",
         [](auto& c) {
             const TKVEColumn& col = *c.Columns()[0];
             EXPECT_EQ(col.Alignment, taRightJustify);
             EXPECT_EQ(col.Color, clWhite);
             EXPECT_EQ(col.Title().Alignment, taCenter);
             EXPECT_EQ(col.Title().Color, clSilver);
             EXPECT_EQ(col.Title().Font().Name, "Courier New");
             EXPECT_EQ(col.Title().Font().Color, clBtnFace);
             EXPECT_EQ(col.Title().Font().Size, 12);
             EXPECT_EQ(col.Title().Font().Style, 0) << "\"3,9\" is not a number";
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TKVExportBaseComponent component;
        component.SetTableType(teText);
        component.FieldDelimiter = ";";
        component.Options = TKVOptions(std::uint16_t(1));
        component.ExportStyle().SetStyle(esMaple);
        component.Layout = elTabularForm;
        component.DataFormats().DateOrder = doYMD;
        component.Columns().Add();
        component.Header().Add("old");
        Load(component, c.Text);
        c.Expect(component);
    }
}

TEST(SpecificationFile, BadHexPairFailsAfterTheEarlierKeysApplied)
{
    TKVExportBaseComponent component;
    component.DataFormats().DateOrder = doYMD;
    try {
        Load(component, "Map0=A = a\r\nHeader0=h\r\nFieldDelimiter=2C\r\nTextQualifier=ZZ\r\nRecordSeparator=0A\r\n"
                        "Fixed=1\r\nDateOrder=1\r\n");
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'$ZZ' is not a valid integer value");
    }
    EXPECT_EQ(component.Columns().Count(), 1);
    EXPECT_EQ(component.Header().Count(), 1);
    EXPECT_EQ(component.FieldDelimiter, ",");
    EXPECT_EQ(component.RecordSeparator, "\r\n");
    EXPECT_FALSE(component.Fixed);
    EXPECT_EQ(component.DataFormats().DateOrder, doYMD);
}

TEST(SpecificationFile, SingleByteWindowsTextIsReadAsWindows1252)
{
    TKVExportBaseComponent component;
    TFileStream file(DataDir + "windows_ansi.kve", fmOpenRead);
    component.LoadSpecificationFromStream(file);
    // The file name is bytes and stays as written.
    EXPECT_EQ(component.FileName(), "C:\\Daten\\Geh\xE4lter.TXT");
    ASSERT_EQ(component.Columns().Count(), 1);
    EXPECT_EQ(component.Columns()[0]->Title().Caption, "Müller €");
    EXPECT_EQ(component.Header()[0], "Übersicht");
    EXPECT_EQ(component.DataFormats().ThousandSeparator, "\u00A0");
    EXPECT_EQ(component.DataFormats().CurrencyString, "€");

    // Our own files hold UTF-8 and come back unchanged, a UTF-8 separator included.
    TKVExportBaseComponent utf8;
    Load(utf8, "CurrencyString=€\r\nThousandSeparator=C2A0\r\n");
    EXPECT_EQ(utf8.DataFormats().CurrencyString, "€");
    EXPECT_EQ(utf8.DataFormats().ThousandSeparator, "\u00A0");
}

// One byte that is not UTF-8 (a Latin-1 file name, a value from a Windows program)
// changes only its own value; saving and loading again changes nothing.
TEST(SpecificationFile, MixedEncodingsAreReadValueByValueAndRoundTrip)
{
    TKVExportBaseComponent component;
    Load(component, "SourceFileName=/srv/caf\xE9 \xC3\xA9.doc\r\nTableType=Word\r\nHeader0=Gr\xC3\xB6\xC3\x9F" "e\r\n"
                    "Header1=M\xFCller \xE2\x82\xAC\r\nSubject=\x80 \xC3\r\n");
    const std::vector<std::string> expected = {"/srv/caf\xE9 \xC3\xA9.DOC", "Größe", "Müller €", "€ Ã"};
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(component.Header().Count(), 2);
        EXPECT_EQ((std::vector<std::string>{component.FileName(), component.Header()[0], component.Header()[1],
                                            component.SendTo().EMailSubject}),
                  expected);
        const std::string saved = Save(component);
        EXPECT_NE(saved.find("\r\nSourceFileName=/srv/caf\xE9 \xC3\xA9.DOC\r\n"), std::string::npos);
        Load(component, saved);
    }
}

// A line break would end a value and plant the rest as keys of their own: such a
// value stops the save, naming the setting, before anything is written.
TEST(SpecificationFile, ValueWithALineBreakIsRefusedByName)
{
    using Set = std::function<void(TKVExportBaseComponent&)>;
    const struct {
        const char* Key;
        Set Change;
        const char* SpecificationName = "name";
    } cases[] = {
        {"Subject", [](auto& c) { c.SendTo().EMailSubject = "Sales\r\nFooter0=planted"; }},
        {"Header1", [](auto& c) { c.Header().Add("two\nlines"); }},
        {"Map0", [](auto& c) { c.Columns().Add()->Title().Caption = "Net\rprice"; }},
        {"SourceFileName", [](auto& c) { c.SetFileName("/tmp/a\nb.txt"); }},
        {"BooleanTrue", [](auto& c) { c.DataFormats().BooleanTrue = "yes\n"; }},
        {"Specification", [](auto&) {}, "two\r\nlines"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Key);
        TKVExportBaseComponent component;
        component.Header().Add("one");
        c.Change(component);
        TStringStream stream;
        try {
            component.SaveSpecificationToStream(stream, c.SpecificationName);
            FAIL() << "saved";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), "Cannot save the specification: the value of " + std::string(c.Key)
                                       + " holds a line break, which a specification file cannot keep");
        }
        EXPECT_EQ(stream.DataString(), "");
    }
}

// Whatever a file makes of a component, saving it and loading what was saved changes
// nothing. The inputs are the fuzz target's saved corpus; those the reader refuses (a
// bad hexadecimal pair) are passed over.
TEST(SpecificationFile, LoadSaveLoadChangesNothingOverTheFuzzCorpus)
{
    int loadable = 0;
    std::vector<std::string> changed;
    for (const auto& entry : std::filesystem::directory_iterator(DataDir + "corpus")) {
        TKVExportBaseComponent first;
        try {
            Load(first, ReadFileToString(entry.path()));
        } catch (const EConvertError&) {
            continue;
        }
        ++loadable;
        const std::string saved = Save(first);
        TKVExportBaseComponent second;
        Load(second, saved);
        if (Save(second) != saved)
            changed.push_back(entry.path().filename());
    }
    EXPECT_GT(loadable, 100);
    EXPECT_EQ(changed, std::vector<std::string>{});
}
