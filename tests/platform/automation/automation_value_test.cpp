#include "platform/automation/automation.h"
#include "platform/automation/recording_server.h"

#include <gtest/gtest.h>

namespace {

// A small server: "Twice"(by-ref integer) doubles its argument in place; "Echo" returns its
// arguments as text; "Fail" raises; "Value" is a property.
class EchoServer : public AutomationObject {
public:
    std::string TypeName() const override { return "Echo"; }
    AutomationValue Invoke(std::string_view member, InvokeKind kind, AutomationArgs& args) override
    {
        if (SameMemberName(member, "Twice")) {
            AutomationArg* a = args.Find(0, "N");
            a->Target() = a->Value().ToInteger() * 2;
            return {};
        }
        if (SameMemberName(member, "Echo")) {
            std::string s;
            for (const auto& a : args)
                s += (a.IsNamed() ? a.Name() + "=" : "") + a.Value().ToString() + (a.IsByRef() ? "&" : "") + ";";
            return s;
        }
        if (SameMemberName(member, "Fail")) throw Exception("server says no");
        if (SameMemberName(member, "Clear")) { // empties its by-reference argument
            args[0].Target() = AutomationValue();
            return TypeName();
        }
        if (SameMemberName(member, "Value")) {
            if (kind == InvokeKind::Put) FValue = args[0].Value();
            return FValue;
        }
        if (SameMemberName(member, "Quit")) {
            MarkQuit();
            return {};
        }
        UnknownMember(member);
    }

private:
    AutomationValue FValue;
};

TEST(AutomationValue, KindsAndConversions)
{
    AutomationValue empty;
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_FALSE(empty.IsNull());
    EXPECT_EQ(empty.ToInteger(), 0);
    EXPECT_EQ(empty.ToString(), "");
    AutomationValue null = AutomationValue::Null();
    EXPECT_TRUE(null.IsNull());
    EXPECT_THROW(null.ToInteger(), EConvertError);
    EXPECT_THROW(null.ToString(), EConvertError);

    EXPECT_EQ(AutomationValue(true).ToInteger(), -1);
    EXPECT_EQ(AutomationValue(true).GetKind(), AutomationValue::Kind::Boolean);
    EXPECT_EQ(AutomationValue(2.5).ToInteger(), 2);  // half to even
    EXPECT_EQ(AutomationValue(3.5f).ToInteger(), 4);
    EXPECT_EQ(AutomationValue(" 42 ").ToInteger(), 42);
    EXPECT_DOUBLE_EQ(AutomationValue("1.5e1").ToReal(), 15.0);
    EXPECT_THROW(AutomationValue("abc").ToInteger(), EConvertError);
    EXPECT_THROW(AutomationValue(1e12).ToInteger(), EConvertError);
    EXPECT_EQ(AutomationValue(72.5f).ToString(), "72.5");
    EXPECT_THROW(empty.Call("X"), Exception);
}

TEST(AutomationValue, StringsKeepEveryByte)
{
    std::string bytes("a\0b\xff", 4);
    AutomationValue v(bytes);
    EXPECT_EQ(v.ToString().size(), 4u);
    EXPECT_EQ(v.ToString(), bytes);
    EXPECT_FALSE(v == AutomationValue("a"));
}

TEST(AutomationValue, ComparisonCoercesNumbers)
{
    EXPECT_TRUE(AutomationValue(1) == 1);
    EXPECT_TRUE(AutomationValue(1) == 1.0);
    EXPECT_TRUE(AutomationValue(true) == -1);
    EXPECT_TRUE(AutomationValue("12") == 12);
    EXPECT_FALSE(AutomationValue("12x") == 12);
    EXPECT_TRUE(AutomationValue("Arial") == "Arial");
    EXPECT_FALSE(AutomationValue("Arial") == "arial");
    EXPECT_TRUE(AutomationValue() == 0);
    EXPECT_TRUE(AutomationValue() == "");
    EXPECT_FALSE(AutomationValue::Null() == 0);
    EXPECT_TRUE(AutomationValue::Null() == AutomationValue::Null());
    EXPECT_TRUE(AutomationValue(0.1f) == 0.1f);
    EXPECT_TRUE(AutomationValue(0.1f) == 0.1); // compared at single precision
}

TEST(AutomationValue, ArraysAreValues)
{
    AutomationValue a = AutomationValue::IntegerArray(3);
    EXPECT_EQ(a.Count(), 3u);
    AutomationValue b = a;
    b[1] = 40;
    EXPECT_EQ(a[1].ToInteger(), 0);
    EXPECT_EQ(b[1].ToInteger(), 40);
    EXPECT_THROW(a[3], EListError);
    EXPECT_THROW(AutomationValue(1).Count(), EConvertError);
}

TEST(AutomationValue, ByteArraysHoldEveryByte)
{
    const AutomationValue bytes = AutomationValue::ByteArray(std::string("a\0\xff", 3));
    EXPECT_EQ(bytes.Count(), 3u);
    EXPECT_EQ(bytes.Bytes(), std::string("a\0\xff", 3));
    EXPECT_THROW(bytes[0], EConvertError); // not an array of values
    EXPECT_THROW(bytes.ToString(), EConvertError);
    EXPECT_FALSE(bytes == AutomationValue(std::string("a\0\xff", 3)));
    EXPECT_EQ(RecordingAutomationServer::FormatValue(bytes), "b\"a\\x00\xff\"");
}

TEST(AutomationValue, ObjectReleasedWhenSetToEmpty)
{
    auto server = std::make_shared<EchoServer>();
    std::weak_ptr<EchoServer> weak = server;
    AutomationValue v(std::move(server));
    EXPECT_TRUE(v.IsObject());
    v = AutomationValue();
    EXPECT_TRUE(weak.expired());
}

TEST(AutomationBridge, ByReferenceArgumentsAreChangedInPlace)
{
    AutomationValue echo(std::make_shared<EchoServer>());
    AutomationValue n = 21;
    echo.Call("twice", {ByRef(n)});
    EXPECT_EQ(n.ToInteger(), 42);
    AutomationValue m = 5;
    echo.Call("Twice", {m}); // by value: the caller's value stays
    EXPECT_EQ(m.ToInteger(), 5);
    echo.Call("TWICE", {Named("N", ByRef(m))});
    EXPECT_EQ(m.ToInteger(), 10);
}

TEST(AutomationBridge, PositionalThenNamedArguments)
{
    AutomationValue echo(std::make_shared<EchoServer>());
    AutomationValue s = "x";
    EXPECT_EQ(echo.Call("Echo", {1, "two", ByRef(s), Named("Four", 4.5), Named("Five", true)}).ToString(),
              "1;two;x&;Four=4.5;Five=True;");
    EXPECT_THROW(echo.Call("Echo", {Named("A", 1), 2}), Exception);
}

// Argument lists are values: copies and moves keep every argument, whether there are
// few (held in place) or many, and a by-reference argument still reaches the caller.
TEST(AutomationBridge, ArgumentListsCopyAndMove)
{
    AutomationValue echo(std::make_shared<EchoServer>());
    AutomationValue s = "x";
    auto text = [&echo](AutomationArgs args) { return echo.Call("Echo", std::move(args)).ToString(); };
    for (const AutomationArgs& args : {AutomationArgs{1, ByRef(s)}, AutomationArgs{1, 2, 3, ByRef(s), Named("N", 5)}}) {
        const std::string expected = text(args);
        AutomationArgs copy(args);
        AutomationArgs moved(std::move(copy));
        AutomationArgs assigned{7};
        assigned = moved;
        EXPECT_EQ(copy.Count(), 0u);
        EXPECT_EQ(text(std::move(moved)), expected);
        s = "y";
        EXPECT_EQ(text(assigned), expected.substr(0, expected.find('x')) + "y" + expected.substr(expected.find('x') + 1));
        s = "x";
    }
    // A call whose by-reference argument is the calling value itself, emptied by the
    // server: the server object stays alive until the call returns.
    AutomationValue self(std::make_shared<EchoServer>());
    EXPECT_EQ(self.Call("Clear", {ByRef(self)}).ToString(), "Echo");
    EXPECT_TRUE(self.IsEmpty());
}

TEST(AutomationBridge, FailuresCarryTheServersMessage)
{
    AutomationValue echo(std::make_shared<EchoServer>());
    try {
        echo.Call("Foo");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Unknown member 'Foo' of Echo");
    }
    try {
        echo.Call("Fail");
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "server says no");
    }
    echo.Put("value", 7);
    EXPECT_EQ(echo.Get("Value").ToInteger(), 7);
}

TEST(AutomationRegistry, CreateGetActiveAndQuit)
{
    ForgetRunningAutomationObjects();
    ScopedAutomationServer scope("Tabrix.Echo", [] { return std::make_shared<EchoServer>(); });
    EXPECT_TRUE(IsAutomationServerRegistered("tabrix.echo"));
    EXPECT_THROW(GetActiveAutomationObject("Tabrix.Echo"), Exception);
    AutomationValue first = CreateAutomationObject("Tabrix.Echo");
    AutomationValue second = CreateAutomationObject("TABRIX.ECHO");
    EXPECT_FALSE(first == second);
    EXPECT_TRUE(GetActiveAutomationObject("Tabrix.Echo") == second); // the latest
    second.Call("Quit");
    EXPECT_TRUE(GetActiveAutomationObject("Tabrix.Echo") == first);
    first.Call("Quit");
    EXPECT_THROW(GetActiveAutomationObject("Tabrix.Echo"), Exception);
}

TEST(AutomationRegistry, RunningWithoutReferencesUntilQuit)
{
    ForgetRunningAutomationObjects();
    ScopedAutomationServer scope("Tabrix.Echo", [] { return std::make_shared<EchoServer>(); });
    CreateAutomationObject("Tabrix.Echo").Put("Value", 3); // the caller keeps no reference
    EXPECT_EQ(GetActiveAutomationObject("Tabrix.Echo").Get("Value").ToInteger(), 3);
}

TEST(AutomationRegistry, UnknownProgIdAndRestore)
{
    EXPECT_THROW(CreateAutomationObject("No.Such.Server"), Exception);
    try {
        CreateAutomationObject("No.Such.Server");
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find("No.Such.Server"), std::string::npos);
    }
    EXPECT_TRUE(MSWordIsInstalled());
    {
        ScopedAutomationServer scope("Word.Application", [] { return std::make_shared<EchoServer>(); });
        EXPECT_EQ(CreateAutomationObject("Word.Application").Object()->TypeName(), "Echo");
    }
    EXPECT_EQ(CreateAutomationObject("Word.Application").Object()->TypeName(), "Application");
    {
        ScopedAutomationServer scope("Tabrix.Temp", [] { return std::make_shared<EchoServer>(); });
    }
    EXPECT_FALSE(IsAutomationServerRegistered("Tabrix.Temp"));
    EXPECT_FALSE(MSAccessIsInstalled() && !IsAutomationServerRegistered("DAO.DBEngine.35") &&
                 !IsAutomationServerRegistered("DAO.DBEngine.36"));
}

} // namespace
