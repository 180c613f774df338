#include "platform/automation/recording_server.h"

#include <gtest/gtest.h>

namespace {

TEST(RecordingServer, LogsTheWholeExchange)
{
    RecordingAutomationServer rec;
    auto scope = rec.Register("Word.Application");
    rec.Answer("Content.End", 10);
    rec.Answer("Font.Name", "Arial");

    AutomationValue app = CreateAutomationObject("Word.Application");
    app.Put("Visible", false);
    AutomationValue doc = app.Call("Documents").Call("Add");
    AutomationValue end = doc.Call("Content").Call("End");
    EXPECT_EQ(end.ToInteger(), 10);
    AutomationValue text = std::string("a\"b\x01\n", 5);
    doc.Call("Range").Call("InsertAfter", {ByRef(text)});
    AutomationValue where = doc.Call("Range", {9, 9});
    doc.Call("Range").Call("Tables").Call("Add", {Named("Range", where), Named("NumRows", 1), Named("NumColumns", 2)});
    doc.Call("PageSetup").Put("TopMargin", 72.0f);
    doc.Call("X").Put("Y", 2.5);
    AutomationValue index(6);
    doc.Call("Font").PutRef("ColorIndex", index);
    EXPECT_TRUE(doc.Call("Range").Call("Font").Call("Name") == "Arial");
    AutomationValue widths = AutomationValue::IntegerArray(2);
    doc.Call("W", {widths, AutomationValue::Null(), AutomationValue()});
    app.Call("Quit");

    EXPECT_EQ(rec.LogText(),
              "create Word.Application\n"
              "put Word.Application.Visible = 0\n"
              "call Word.Application.Documents()\n"
              "call Documents.Add()\n"
              "call Add.Content()\n"
              "call Content.End()\n"
              "call Add.Range()\n"
              "call Range.InsertAfter(\"a\\\"b\\x01\\n\"&)\n"
              "call Add.Range(9, 9)\n"
              "call Add.Range()\n"
              "call Range.Tables()\n"
              "call Tables.Add(Range:=<Range>, NumRows:=1, NumColumns:=2)\n"
              "call Add.PageSetup()\n"
              "put PageSetup.TopMargin = 72.0f\n"
              "call Add.X()\n"
              "put X.Y = 2.5\n"
              "call Add.Font()\n"
              "put Font.ColorIndex = 6&\n"
              "call Add.Range()\n"
              "call Range.Font()\n"
              "call Font.Name()\n"
              "call Add.W({0, 0}, <null>, <empty>)\n"
              "call Word.Application.Quit()\n");
    EXPECT_THROW(GetActiveAutomationObject("Word.Application"), Exception); // it quit
}

TEST(RecordingServer, BooleansShowAsMinusOneAndFailuresAreScripted)
{
    RecordingAutomationServer rec;
    rec.Fail("Document.SaveAs", "disk full");
    AutomationValue doc(rec.CreateRoot("Document"));
    doc.Put("Saved", true);
    EXPECT_THROW(doc.Call("SaveAs", {"x.doc"}), Exception);
    try {
        doc.Call("saveas", {"x.doc"});
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "disk full");
    }
    ASSERT_EQ(rec.Log().size(), 3u);
    EXPECT_EQ(rec.Log()[0], "put Document.Saved = -1");
    EXPECT_EQ(rec.Log()[1], "call Document.SaveAs(\"x.doc\")");
}

TEST(RecordingServer, RulesMayChangeByReferenceArguments)
{
    RecordingAutomationServer rec;
    rec.Answer("PicasToPoints", [](RecordedCall& call) {
        call.Args[0].Target() = 99; // a server may write back
        return AutomationValue(call.Args[0].Value().ToReal() * 12);
    });
    AutomationValue app(rec.CreateRoot("App"));
    AutomationValue v = 2.0f;
    EXPECT_EQ(app.Call("PicasToPoints", {ByRef(v)}).ToInteger(), 1188);
    EXPECT_EQ(v.ToInteger(), 99);
    EXPECT_EQ(rec.Log()[0], "call App.PicasToPoints(2.0f&)");
}

TEST(RecordingServer, RegistrationIsRestoredAndInstancesForgotten)
{
    ForgetRunningAutomationObjects();
    AutomationValue native = CreateAutomationObject("Word.Application");
    {
        RecordingAutomationServer rec;
        auto scope = rec.Register("Word.Application");
        CreateAutomationObject("Word.Application");
        EXPECT_NO_THROW(GetActiveAutomationObject("Word.Application"));
    }
    // the stand-in's instance is gone, the native one runs again
    EXPECT_TRUE(GetActiveAutomationObject("Word.Application") == native);
    EXPECT_EQ(CreateAutomationObject("Word.Application").Object()->TypeName(), "Application");
    ForgetRunningAutomationObjects();
}

} // namespace
