// The database-table exporter's exact exchange with the database engine, recorded.

#include "office/access_exporter.h"
#include "platform/automation/recording_server.h"
#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/format_settings.h"
#include "framework/string_list.h"
#include "framework/ui_services.h"

#include <gtest/gtest.h>

#include <fstream>

#include "tests/common/temp_folder.h"

namespace {

TKVEColumn* AddColumn(TKVEColumns& Columns, const std::string& FieldName, const std::string& Caption,
                      TKVEColumnKind Kind = ckField, TCellType Type = ctString, int Width = 0)
{
    TKVEColumn* c = Columns.Add();
    c->FieldName = FieldName;
    c->Title().Caption = Caption;
    c->ColumnKind = Kind;
    c->DataType = Type;
    c->Width = Width;
    return c;
}

class AccessConformanceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ui.ForceHasGui = 0;
        guard36 = server.Register("DAO.DBEngine.36");
        guard35 = server.Register("DAO.DBEngine.35");
        server.Answer("TableDefs.Count", AutomationValue(0));
        exporter.AnimatedStatus = false;
        exporter.Options.Exclude(soShowMessage);
        exporter.ColumnSource = csDataSet;
        exporter.SetDataSet(&data);
        exporter.SetFileName(folder / "out.mdb");
        exporter.TableName = "orders";
        data.AddField("ID", ftInteger, 0, true);
        data.AddField("NAME", ftString, 30);
        data.AddField("PRICE", ftCurrency);
        data.AddField("NOTES", ftMemo);
        data.AddField("PIC", ftBlob);
        data.AppendRecord({7, "Ann", 12.5, "memo", std::string("a\0b", 3)});
        data.AppendRecord({8, Variant::Null(), Variant::Null(), Variant::Null(), Variant::Null()});
    }

    void UseFieldColumns()
    {
        AddColumn(exporter.Columns(), "ID", "Id");
        AddColumn(exporter.Columns(), "NAME", "Name");
        AddColumn(exporter.Columns(), "PRICE", "Price")->Visible = false;
        AddColumn(exporter.Columns(), "NOTES", "Notes");
        AddColumn(exporter.Columns(), "PIC", "Pic");
    }

    // The tables of the database: TableDefs.Count, and Name and Attributes of Item(i).
    void ScriptTables(std::vector<std::string> Names, std::vector<int> Attributes = {})
    {
        Attributes.resize(Names.size());
        auto current = std::make_shared<std::size_t>(0);
        server.Answer("TableDefs.Count", AutomationValue(static_cast<int>(Names.size())));
        server.Answer("TableDefs.Item", [this, current](RecordedCall& call) {
            *current = static_cast<std::size_t>(call.Args[0].Value().ToInteger());
            return AutomationValue(server.CreateRoot("Item"));
        });
        server.Answer("Item.Name", [Names, current](RecordedCall&) { return AutomationValue(Names.at(*current)); });
        server.Answer("Item.Attributes",
                      [Attributes, current](RecordedCall&) { return AutomationValue(Attributes.at(*current)); });
    }

    std::string Log() const { return server.LogText(); }

    TempDir folder;
    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    RecordingAutomationServer server;
    std::unique_ptr<ScopedAutomationServer> guard36, guard35;
    TMemoryDataSet data;
    TKVExportToAccess exporter;
};

TEST_F(AccessConformanceTest, NewDatabaseFromSourceFieldsAndConstants)
{
    UseFieldColumns();
    AddColumn(exporter.Columns(), "42", "Answer", ckConstant, ctInteger, 6);
    AddColumn(exporter.Columns(), "long text", "Ignored", ckConstant, ctMEMO);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCompleted);
    const std::string locale = TKVExportToAccess::CreationLocale();
    const std::string file = exporter.FileName();
    EXPECT_EQ(Log(),
              "create DAO.DBEngine.36\n"
              "call DAO.DBEngine.36.CreateDatabase(\"" + file + "\", \"" + locale + "\"&, 0)\n"
              "call DAO.DBEngine.36.BeginTrans()\n"
              "call CreateDatabase.TableDefs()\n"
              "call TableDefs.Count()\n"
              "call CreateDatabase.CreateTableDef(\"orders\", 0, \"\", \"\")\n"
              "call CreateTableDef.CreateField(\"Id\"&, 4, 0)\n"
              "put CreateField.Required = -1\n"
              "call CreateTableDef.Fields()\n"
              "call Fields.Append(<CreateField>&)\n"
              "call CreateTableDef.CreateField(\"Name\"&, 10, 30)\n"
              "put CreateField.Required = 0\n"
              "call CreateTableDef.Fields()\n"
              "call Fields.Append(<CreateField>&)\n"
              "call CreateTableDef.CreateField(\"Notes\"&, 12, 0)\n"
              "put CreateField.Required = 0\n"
              "call CreateTableDef.Fields()\n"
              "call Fields.Append(<CreateField>&)\n"
              "call CreateTableDef.CreateField(\"Pic\"&, 11, 0)\n"
              "put CreateField.Attributes = 2\n"
              "put CreateField.Required = 0\n"
              "call CreateTableDef.Fields()\n"
              "call Fields.Append(<CreateField>&)\n"
              "call CreateTableDef.CreateField(\"Answer\"&, 4, 6)\n"
              "put CreateField.Required = 0\n"
              "call CreateTableDef.Fields()\n"
              "call Fields.Append(<CreateField>&)\n"
              "call CreateTableDef.CreateField(\"long text\"&, 11, 0)\n"
              "put CreateField.Attributes = 2\n"
              "put CreateField.Required = 0\n"
              "call CreateTableDef.Fields()\n"
              "call Fields.Append(<CreateField>&)\n"
              "call CreateDatabase.TableDefs()\n"
              "call TableDefs.Append(<CreateTableDef>)\n"
              "call CreateDatabase.OpenRecordset(\"orders\", 1, 0, 2)\n"
              "call OpenRecordset.AddNew()\n"
              "get OpenRecordset.Fields(0&)\n"
              "put Fields.Value = 7&\n"
              "get OpenRecordset.Fields(1&)\n"
              "put Fields.Value = \"Ann\"&\n"
              "get OpenRecordset.Fields(2&)\n"
              "put Fields.Value = \"memo\"&\n"
              "get OpenRecordset.Fields(3&)\n"
              "put Fields.Value = b\"a\\x00b\"&\n"
              "get OpenRecordset.Fields(4&)\n"
              "put Fields.Value = \"42\"&\n"
              "get OpenRecordset.Fields(5&)\n"
              "put Fields.Value = b\"long text\"&\n"
              "call OpenRecordset.Update(1, 0)\n"
              "call OpenRecordset.AddNew()\n"
              "put Fields.Value = 8&\n"
              "put Fields.Value = <null>&\n"
              "put Fields.Value = <null>&\n"
              "put Fields.Value = <null>&\n"
              "put Fields.Value = \"42\"&\n"
              "put Fields.Value = b\"long text\"&\n"
              "call OpenRecordset.Update(1, 0)\n"
              "call OpenRecordset.Close()\n"
              "call DAO.DBEngine.36.CommitTrans()\n"
              "call CreateDatabase.Close()\n");
}

TEST_F(AccessConformanceTest, EmptyTableNameFailsBeforeAnyCall)
{
    UseFieldColumns();
    exporter.TableName.clear();
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    EXPECT_EQ(Log(), "");
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("Property TableName is not specified."), std::string::npos);
}

TEST_F(AccessConformanceTest, EngineChoiceByVersionAndCurrentInstance)
{
    struct Case {
        TMSAccessVersion Version;
        bool Current;
        bool Running36, Running35;     // an instance runs before the export
        bool Missing36, Missing35;     // the server cannot be started
        const char* Expected;          // the engine the calls go to, or "" when none
        bool Created;                  // whether the export started it
    };
    const Case cases[] = {
        {avAccess97, false, false, false, false, false, "DAO.DBEngine.35", true},
        {avAccess97, false, false, false, false, true, "", false},
        {avAccess97, true, false, true, false, false, "DAO.DBEngine.35", false},
        {avAccess97, true, false, false, false, false, "DAO.DBEngine.35", true},
        {avAccess2000, false, false, false, false, false, "DAO.DBEngine.36", true},
        {avAccess2000, false, false, false, true, false, "", false},
        {avAccess2000, true, true, false, false, false, "DAO.DBEngine.36", false},
        {avAuto, false, false, false, false, false, "DAO.DBEngine.36", true},
        {avAuto, false, false, false, true, false, "DAO.DBEngine.35", true},
        {avAuto, true, false, true, false, false, "DAO.DBEngine.35", false},
        {avAuto, true, true, true, false, false, "DAO.DBEngine.36", false},
        {avAuto, true, false, false, false, false, "DAO.DBEngine.36", true},
        {avAuto, true, false, false, true, false, "DAO.DBEngine.35", true},
    };
    UseFieldColumns();
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(&c - cases));
        RecordingAutomationServer fresh;
        fresh.Answer("TableDefs.Count", AutomationValue(0));
        auto g36 = fresh.Register("DAO.DBEngine.36");
        auto g35 = fresh.Register("DAO.DBEngine.35");
        if (c.Running36)
            CreateAutomationObject("DAO.DBEngine.36");
        if (c.Running35)
            CreateAutomationObject("DAO.DBEngine.35");
        std::unique_ptr<ScopedAutomationServer> m36, m35;
        if (c.Missing36)
            m36 = std::make_unique<ScopedAutomationServer>("DAO.DBEngine.36", [] { return nullptr; });
        if (c.Missing35)
            m35 = std::make_unique<ScopedAutomationServer>("DAO.DBEngine.35", [] { return nullptr; });
        fresh.ClearLog();
        exporter.MSAccessVersion = c.Version;
        exporter.UseCurrentInstance = c.Current;
        exporter.Execute();
        const std::string log = fresh.LogText();
        if (*c.Expected == 0) {
            EXPECT_EQ(exporter.Statistic().Result, erFailed);
            EXPECT_EQ(log, "");
            continue;
        }
        EXPECT_EQ(exporter.Statistic().Result, erCompleted);
        const std::string created = std::string("create ") + c.Expected + "\n";
        EXPECT_EQ(log.rfind(created, 0) == 0, c.Created) << log;
        EXPECT_NE(log.find(std::string("call ") + c.Expected + ".CreateDatabase("), std::string::npos) << log;
    }
}

TEST_F(AccessConformanceTest, ExistingFileIsOpenedWithOrWithoutPassword)
{
    UseFieldColumns();
    { std::ofstream(exporter.FileName()) << "x"; }
    const std::string file = exporter.FileName();
    exporter.Execute();
    EXPECT_NE(Log().find("call DAO.DBEngine.36.OpenDatabase(\"" + file + "\")\n"
                         "call DAO.DBEngine.36.BeginTrans()\n"
                         "call OpenDatabase.TableDefs()\n"),
              std::string::npos)
        << Log();
    server.ClearLog();
    exporter.Password = "se\"cret";
    exporter.Execute();
    EXPECT_NE(Log().find("call DAO.DBEngine.36.OpenDatabase(Name:=\"" + file + "\", Connect:=\";PWD=se\\\"cret\")\n"),
              std::string::npos)
        << Log();
    // A file that does not open is created anew, without the password.
    server.ClearLog();
    server.Fail("OpenDatabase", "Not a valid password.");
    exporter.Execute();
    EXPECT_NE(Log().find("call DAO.DBEngine.36.OpenDatabase(Name:=\"" + file + "\", Connect:=\";PWD=se\\\"cret\")\n"
                         "call DAO.DBEngine.36.CreateDatabase(\"" + file + "\", \""
                         + TKVExportToAccess::CreationLocale() + "\"&, 0)\n"),
              std::string::npos)
        << Log();
}

TEST_F(AccessConformanceTest, MergeFindsTheTableWithoutRegardToCase)
{
    UseFieldColumns();
    ScriptTables({"Customers", "ORDERS"});
    exporter.Options.Include(soMergeData);
    exporter.Execute();
    EXPECT_EQ(exporter.TableName, "ORDERS");
    const std::string log = Log();
    EXPECT_NE(log.find("call TableDefs.Count()\n"
                       "get TableDefs.Item(0)\n"
                       "call Item.Name()\n"
                       "get TableDefs.Item(1)\n"
                       "call Item.Name()\n"
                       "call CreateDatabase.OpenRecordset(\"ORDERS\", 1, 0, 2)\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("CreateField"), std::string::npos);
    EXPECT_EQ(log.find("Delete"), std::string::npos);
}

// The fields of a table the run did not create may be of any type: numbers go as texts.
TEST_F(AccessConformanceTest, MergePutsNumbersAsTexts)
{
    UseFieldColumns();
    ScriptTables({"orders"});
    exporter.Options.Include(soMergeData);
    exporter.Execute();
    EXPECT_NE(Log().find("get OpenRecordset.Fields(0&)\nput Fields.Value = \"7\"&\n"), std::string::npos) << Log();
}

// Where two tables differ only in letter case, the one of exactly that name is dropped
// and the other is never touched.
TEST_F(AccessConformanceTest, WithoutMergeTheTableOfExactlyThatNameIsDropped)
{
    UseFieldColumns();
    ScriptTables({"ORDERS", "orders"});
    exporter.Execute();
    EXPECT_NE(Log().find("get TableDefs.Item(1)\n"
                         "call Item.Name()\n"
                         "call TableDefs.Delete(\"orders\")\n"
                         "call CreateDatabase.CreateTableDef(\"orders\", 0, \"\", \"\")\n"),
              std::string::npos)
        << Log();
}

TEST_F(AccessConformanceTest, FieldMaskMakesTextFieldsAndNamesComeFromTheHandler)
{
    UseFieldColumns();
    exporter.Options.Include(soFieldMask);
    exporter.Options.Include(soUseFieldNameAsCaption);
    exporter.OnGetCellParams = [](TPersistent*, TField* field, std::string& text, TFont*, TAlignment&, TColor&,
                                  TCellType&) {
        if (!field)
            text = "[" + text + "]";
    };
    exporter.Execute();
    EXPECT_NE(Log().find("CreateField(\"[ID]\"&, 10, 0)"), std::string::npos) << Log();
    EXPECT_NE(Log().find("CreateField(\"[NOTES]\"&, 10, 0)"), std::string::npos) << Log();
}

TEST_F(AccessConformanceTest, FailureRollsBackAndClosesTheDatabase)
{
    UseFieldColumns();
    server.Fail("OpenRecordset.Update", "The field is too small.");
    exporter.Options.Include(soShowMessage);
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erFailed);
    const std::string log = Log();
    EXPECT_NE(log.find("call OpenRecordset.Update(1, 0)\n"
                       "call DAO.DBEngine.36.Rollback()\n"
                       "call CreateDatabase.Close()\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("CommitTrans"), std::string::npos);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_NE(ui.Boxes[0].Text.find("The field is too small."), std::string::npos);
}

TEST_F(AccessConformanceTest, CancelledExportCommitsWhatItWrote)
{
    UseFieldColumns();
    exporter.OnAfterRecord = [](TPersistent*, bool& abort) { abort = true; };
    exporter.Execute();
    EXPECT_EQ(exporter.Statistic().Result, erCanceled);
    const std::string log = Log();
    EXPECT_EQ(log.find("AddNew"), log.rfind("AddNew")) << "one row only";
    EXPECT_NE(log.find("call OpenRecordset.Update(1, 0)\ncall OpenRecordset.Close()\n"
                       "call DAO.DBEngine.36.CommitTrans()\n"),
              std::string::npos)
        << log;
}

TEST_F(AccessConformanceTest, TableNamesSkipSystemTablesAndMissingFiles)
{
    TStringList list;
    list.Add("stale");
    GetTableNames(&list, folder / "missing.mdb");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(Log(), "");
    EXPECT_THROW(GetTableNames(&list, ""), Exception);

    const std::string file = folder / "there.mdb";
    { std::ofstream(file) << "x"; }
    ScriptTables({"MSysObjects", "Orders", "Hidden"}, {static_cast<int>(0x80000000u), 0, 2});
    GetTableNames(&list, file);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], "Orders");
    EXPECT_NE(Log().find("create DAO.DBEngine.36\ncall DAO.DBEngine.36.OpenDatabase(\"" + file + "\")\n"),
              std::string::npos)
        << Log();
}

} // namespace
