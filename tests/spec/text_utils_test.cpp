#include "spec/text_utils.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "tests/common/temp_folder.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QStringList>
#include <QWidget>

#include <cstdlib>
#include <dirent.h>
#include <set>
#include <string>

namespace {

void EnsureApplication()
{
    if (QApplication::instance() != nullptr)
        return;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int Argc = 1;
    static char Arg0[] = "text_utils_test";
    static char* Argv[] = {Arg0, nullptr};
    static QApplication App(Argc, Argv);
}

} // namespace

// A grid whose class publishes its selection list.
class TestGrid : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QObject* SelectedRows READ SelectedRows)
public:
    QObject* SelectedRows() const { return const_cast<QObject*>(static_cast<const QObject*>(&FRows)); }
    QObject FRows;
};

// A control with a "SelectedRows" that is not an object.
class TestCountGrid : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int SelectedRows READ SelectedRows)
public:
    int SelectedRows() const { return 3; }
};

// Not a control, though it publishes the property.
class TestSelectionHolder : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* SelectedRows READ SelectedRows)
public:
    QObject* SelectedRows() const { return nullptr; }
};

class TestLines : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text)
public:
    QString Text() const { return FText; }
    QString FText;
};

class TestQuery : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* SQL READ SQL)
public:
    QObject* SQL() const { return const_cast<TestLines*>(&FSQL); }
    TestLines FSQL;
};

class TestTable : public TestQuery {
    Q_OBJECT
    Q_PROPERTY(QString TableName READ TableName)
public:
    QString TableName() const { return FTableName; }
    QString FTableName;
};

class TestListQuery : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList SQL READ SQL)
public:
    QStringList SQL() const { return FLines; }
    QStringList FLines;
};

// A "SQL" that is plain text, not a class type: not looked at.
class TestTextQuery : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString SQL READ SQL)
public:
    QString SQL() const { return "SELECT * FROM customer"; }
};

TEST(GetFileNameByGraphic, NamesNextToTheFileByKind)
{
    TPicture Bitmap;
    EXPECT_EQ(GetFileNameByGraphic("/out/report.doc", 0, gkBitmap), "/out/img0.bmp");
    EXPECT_EQ(GetFileNameByGraphic("/out/report.doc", 0, gkIcon), "/out/img0.ico");
    EXPECT_EQ(GetFileNameByGraphic("/out/report.doc", 0, gkMetafile, false), "/out/img0.wmf");
    EXPECT_EQ(GetFileNameByGraphic("/out/report.doc", 0, gkMetafile, true), "/out/img0.emf");
    EXPECT_EQ(GetFileNameByGraphic("/out/a\\b:c.doc", 3, gkNone), "/out/img3.bmp"); // "\\" and ":" are letters
    EXPECT_EQ(GetFileNameByGraphic("/home/u/out.docx", 12, Bitmap), "/home/u/img12.bmp"); // empty picture
    EXPECT_EQ(GetFileNameByGraphic("report.doc", 1, nullptr), "img1.bmp");
}

TEST(GetFileNameByGraphic, TemporaryNamesAreUniqueAndLeaveNothingBehind)
{
    char Template[] = "/tmp/text_utils_test_XXXXXX";
    const std::string Folder = IncludeTrailingPathDelimiter(mkdtemp(Template));
    const char* Old = std::getenv("TMPDIR");
    const std::string Saved = Old ? Old : "";
    setenv("TMPDIR", Folder.c_str(), 1);

    const std::string A = GetFileNameByGraphic("", 7, gkBitmap);
    const std::string B = GetFileNameByGraphic("", 7, gkBitmap);
    const std::string E = GetFileNameByGraphic("", 0, gkMetafile, true);
    EXPECT_NE(A, B);
    for (const std::string& Name : {A, B, E}) {
        EXPECT_EQ(ExtractFilePath(Name), Folder);
        EXPECT_EQ(ExtractFileName(Name).substr(0, 3), "KVE");
        EXPECT_EQ(Name.find("img"), std::string::npos); // the index is not used
    }
    EXPECT_EQ(ExtractFileExt(A), ".bmp");
    EXPECT_EQ(ExtractFileExt(E), ".emf");
    EXPECT_EQ(FolderEntries(Folder).size(), 2u); // only "." and ".."

    if (Old)
        setenv("TMPDIR", Saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
    rmdir(Folder.c_str());
}

TEST(GetPropAsSelectedList, OnlyAControlsPublishedObject)
{
    EnsureApplication();
    TestGrid Grid;
    EXPECT_EQ(GetPropAsSelectedList(&Grid), &Grid.FRows);
    TestCountGrid CountGrid;
    EXPECT_EQ(GetPropAsSelectedList(&CountGrid), nullptr);
    QWidget Plain;
    EXPECT_EQ(GetPropAsSelectedList(&Plain), nullptr);
    TestSelectionHolder Holder;
    EXPECT_EQ(GetPropAsSelectedList(&Holder), nullptr);
    EXPECT_EQ(GetPropAsSelectedList(nullptr), nullptr);
    // A dynamic property is not published by the class.
    Plain.setProperty("SelectedRows", QVariant::fromValue<QObject*>(&Grid.FRows));
    EXPECT_EQ(GetPropAsSelectedList(&Plain), nullptr);
}

TEST(TblName, FromTableNameOrStatement)
{
    EXPECT_EQ(TblName(nullptr), "");
    QObject Neither;
    EXPECT_EQ(TblName(&Neither), "");

    TestQuery Query;
    Query.FSQL.FText = "SELECT * FROM customer.db WHERE id=1\r\n";
    EXPECT_EQ(TblName(&Query), "customer");
    Query.FSQL.FText = "select * from items";
    EXPECT_EQ(TblName(&Query), "select"); // "FROM " is looked for in upper case only
    Query.FSQL.FText = "SELECT a,b FROM [orders],x";
    EXPECT_EQ(TblName(&Query), ""); // "[" ends the name at once
    Query.FSQL.FText = "SELECT * FROM \"my table\"";
    EXPECT_EQ(TblName(&Query), "");
    Query.FSQL.FText = "SELECT * FROM sales;";
    EXPECT_EQ(TblName(&Query), "sales");
    Query.FSQL.FText = "SELECT * FROM a FROM b";
    EXPECT_EQ(TblName(&Query), "a"); // the first occurrence counts
    Query.FSQL.FText = "";
    EXPECT_EQ(TblName(&Query), "");

    TestTable Table;
    Table.FTableName = "sales";
    Table.FSQL.FText = "SELECT * FROM other";
    EXPECT_EQ(TblName(&Table), "sales"); // TableName wins over SQL
    Table.FTableName = "orders.dbf";
    EXPECT_EQ(TblName(&Table), "orders");
    Table.FTableName = "";
    EXPECT_EQ(TblName(&Table), "other"); // an empty TableName falls back to SQL

    TestListQuery List;
    List.FLines = {"SELECT *", "FROM parts", "WHERE x > 1"};
    EXPECT_EQ(TblName(&List), "parts");

    TestTextQuery Text;
    EXPECT_EQ(TblName(&Text), "");

    TMemoryDataSet Memory;
    Memory.SetTableName("stock.dbf");
    EXPECT_EQ(TblName(&Memory), "stock");
}

TEST(ReplaceHTMLSystemChars, MarkupCharactersBecomeEntities)
{
    EXPECT_EQ(ReplaceHTMLSystemChars("a<b & 'c'"), "a&lt;b &amp; &apos;c&apos;");
    EXPECT_EQ(ReplaceHTMLSystemChars("x\r\ny"), "x&ret;&car;y");
    EXPECT_EQ(ReplaceHTMLSystemChars("\"q\" > p|r"), "&quot;q&quot; &gt; p&brvbar;r");
    EXPECT_EQ(ReplaceHTMLSystemChars(""), "");
    EXPECT_EQ(ReplaceHTMLSystemChars(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(ReplaceHTMLSystemChars, SignsInUtf8AndAsLoneWindowsBytes)
{
    EXPECT_EQ(ReplaceHTMLSystemChars("Tabrix\xE2\x84\xA2 \xC2\xA9 2024"), "Tabrix&trade; &copy; 2024");
    EXPECT_EQ(ReplaceHTMLSystemChars("20\xC2\xB0 \xC2\xB1 1 \xC2\xB6"), "20&deg; &plusmn; 1 &para;");
    // The same signs as Windows-1252 bytes outside any UTF-8 sequence.
    EXPECT_EQ(ReplaceHTMLSystemChars("\x99|\xA9|\xB0|\xB1|\xB6"),
              "&trade;&brvbar;&copy;&brvbar;&deg;&brvbar;&plusmn;&brvbar;&para;");
    // Those bytes inside other UTF-8 characters are left alone: "ę" is C4 99, "Щ" is
    // D0 A9, "谩" is E8 B0 A9.
    EXPECT_EQ(ReplaceHTMLSystemChars("\xC4\x99 \xD0\xA9 \xE8\xB0\xA9"), "\xC4\x99 \xD0\xA9 \xE8\xB0\xA9");
    // Other non-ASCII text passes unchanged, valid or not.
    EXPECT_EQ(ReplaceHTMLSystemChars("\xC3\xA9t\xC3\xA9 \xE9\xFF"), "\xC3\xA9t\xC3\xA9 \xE9\xFF");
    // A truncated sequence is not a sequence: its lead byte is a lone byte.
    EXPECT_EQ(ReplaceHTMLSystemChars("\xE2\x84"), "\xE2\x84");
    EXPECT_EQ(ReplaceHTMLSystemChars("\xC2"), "\xC2");
}

TEST(FieldClasses, NumericAndStringFieldsByType)
{
    TMemoryDataSet DataSet;
    const std::set<int> Numeric = {ftSmallint, ftInteger, ftWord, ftFloat, ftCurrency, ftBCD, ftAutoInc, ftLargeint};
    const std::set<int> Text = {ftString, ftMemo, ftFmtMemo, ftBlob, ftGraphic, ftParadoxOle, ftDBaseOle,
                                ftTypedBinary, ftOraBlob, ftOraClob};
    for (int T = 0; T < FieldTypeCount; ++T) {
        const TField* F = DataSet.AddField("f" + std::to_string(T), static_cast<TFieldType>(T));
        EXPECT_EQ(IsNumericField(F), Numeric.count(T) == 1) << "type " << T;
        EXPECT_EQ(IsStringField(F), Text.count(T) == 1) << "type " << T;
    }
    EXPECT_FALSE(IsNumericField(nullptr));
    EXPECT_FALSE(IsStringField(nullptr));
}

TEST(OemCodePage, FollowsTheLocale)
{
    EXPECT_EQ(OemCodePageForLocale("C"), 437);
    EXPECT_EQ(OemCodePageForLocale("POSIX"), 437);
    EXPECT_EQ(OemCodePageForLocale("C.UTF-8"), 437);
    EXPECT_EQ(OemCodePageForLocale("en_US.UTF-8"), 437);
    EXPECT_EQ(OemCodePageForLocale("en_GB.UTF-8"), 850);
    EXPECT_EQ(OemCodePageForLocale("de_DE.UTF-8"), 850);
    EXPECT_EQ(OemCodePageForLocale("fr_FR@euro"), 850);
    EXPECT_EQ(OemCodePageForLocale("sv_SE"), 850);
    EXPECT_EQ(OemCodePageForLocale("nb_NO.UTF-8"), 850);
    EXPECT_EQ(OemCodePageForLocale("ru_RU.UTF-8"), 866);
    EXPECT_EQ(OemCodePageForLocale("uk_UA.UTF-8"), 866);
    EXPECT_EQ(OemCodePageForLocale("be_BY"), 866);
    EXPECT_EQ(OemCodePageForLocale("pl_PL.UTF-8"), 852);
    EXPECT_EQ(OemCodePageForLocale("ja_JP.UTF-8"), 437);

    const char* Old = std::getenv("LC_ALL");
    const std::string Saved = Old ? Old : "";
    setenv("LC_ALL", "ru_RU.UTF-8", 1);
    EXPECT_EQ(OemCodePage(), 866);
    EXPECT_EQ(StrToOem("\xD0\x96"), "\x86"); // Ж in the Russian DOS code page
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(UECode(true, "\xC3\x98"), "\x9D"); // Ø exists in 850, not in 437
    if (Old)
        setenv("LC_ALL", Saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST(StrToOem, ConvertsEachCharacterToOneByte)
{
    // 437: é ü ñ £ and the box corner ┐; € and Ж have no form there.
    EXPECT_EQ(StrToOem("caf\xC3\xA9 \xC3\xBC\xC3\xB1\xC2\xA3\xE2\x94\x90", 437), "caf\x82 \x81\xA4\x9C\xBF");
    EXPECT_EQ(StrToOem("\xE2\x82\xAC=\xD0\x96", 437), "?=?");
    // 850: Ø ã ÿ; ┐ is also there; Ж is not.
    EXPECT_EQ(StrToOem("\xC3\x98\xC3\xA3\xC3\xBF\xE2\x94\x90\xD0\x96", 850), "\x9D\xC6\x98\xBF?");
    // 866: Ж я Ё; é is not there.
    EXPECT_EQ(StrToOem("\xD0\x96\xD1\x8F\xD0\x81 \xC3\xA9", 866), "\x86\xEF\xF0 ?");
    // A character beyond the basic plane is one character, one "?".
    EXPECT_EQ(StrToOem("a\xF0\x9F\x98\x80" "b", 437), "a?b");
    // The length rule holds per character: three characters, three bytes.
    const std::string Three = "\xC3\xA9\xD0\x96x";
    EXPECT_EQ(StrToOem(Three, 866).size(), 3u);
    EXPECT_EQ(StrToOem(Three, 437).size(), 3u);
}

TEST(StrToOem, AsciiControlsNulAndLoneBytes)
{
    const std::string Ascii = std::string("Tab\there\r\n\0end~", 15);
    EXPECT_EQ(StrToOem(Ascii, 437), Ascii);
    EXPECT_EQ(StrToOem(Ascii, 866), Ascii);
    EXPECT_EQ(StrToOem("", 437), "");
    // Lone bytes are Windows-1252 characters: E9 é, 80 €, 81 unassigned.
    EXPECT_EQ(StrToOem("\xE9 \x80 \x81", 437), "\x82 ? ?");
    // Together those three bytes are a valid UTF-8 character, which 437 lacks.
    EXPECT_EQ(StrToOem("\xE9\x80\x81", 437), "?");
    EXPECT_THROW(StrToOem("x", 12345), EConvertError);
}

TEST(UECode, ConvertsOnlyWhenAsked)
{
    EXPECT_EQ(UECode(false, "anything \xC3\xA9"), "");
    EXPECT_EQ(UECode(false, ""), "");
    EXPECT_EQ(UECode(true, "plain"), "plain");
    EXPECT_EQ(UECode(true, ""), "");
}

TEST(Padding, FillsWithBlanksAndNeverCuts)
{
    EXPECT_EQ(PadLSpace("ab", 5), "   ab");
    EXPECT_EQ(PadRSpace("ab", 5), "ab   ");
    EXPECT_EQ(PadLSpace("abcdef", 3), "abcdef");
    EXPECT_EQ(PadRSpace("abcdef", 3), "abcdef");
    EXPECT_EQ(PadLSpace("abc", 3), "abc");
    EXPECT_EQ(PadLSpace("", 2), "  ");
    EXPECT_EQ(PadRSpace("ab", 0), "ab");
    EXPECT_EQ(PadLSpace("ab", -4), "ab");
    // Characters, not bytes: "é" is two bytes and one character.
    EXPECT_EQ(PadLSpace("\xC3\xA9", 3), "  \xC3\xA9");
    EXPECT_EQ(PadRSpace(std::string("a\0", 2), 4), std::string("a\0  ", 4));
}

#include "text_utils_test.moc"
