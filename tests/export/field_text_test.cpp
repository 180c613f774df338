// Value text and cell types of dataset fields under the component's options.

#include "export/export_component.h"
#include "framework/data_set.h"
#include "framework/format_settings.h"

#include <gtest/gtest.h>

namespace {

class FieldTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        saved = FormatSettings();
        FormatSettings().DecimalSeparator = ".";
        number = data.AddField("N", ftInteger);
        text = data.AddField("S", ftString, 10);
        flag = data.AddField("B", ftBoolean);
        real = data.AddField("F", ftFloat);
        real->SetDisplayFormat("0.00");
        when = data.AddField("D", ftDate);
        memo = data.AddField("M", ftMemo);
    }
    void TearDown() override { FormatSettings() = saved; }

    TFormatSettings saved;
    TMemoryDataSet data;
    TKVExportBaseComponent component;
    TField* number = nullptr;
    TField* text = nullptr;
    TField* flag = nullptr;
    TField* real = nullptr;
    TField* when = nullptr;
    TField* memo = nullptr;
};

TEST_F(FieldTextTest, BlankIfZeroWithoutFieldMask)
{
    data.AppendRecord({Variant(0), Variant("0"), Variant(false), Variant(0.0), Variant::FromDateTime(0), Variant::Null()});
    component.BlankIfZero = true;
    EXPECT_EQ(component.GetFieldStr(number), "");
    EXPECT_EQ(component.GetFieldStr(text), "0");
    EXPECT_EQ(component.GetFieldStr(real), "");
    EXPECT_EQ(component.GetFieldStr(when), "");
    EXPECT_EQ(component.GetFieldStr(memo), "");
    EXPECT_EQ(component.GetFieldType(number, true), ctBlank);
    EXPECT_EQ(component.GetFieldType(text, true), ctString);
    EXPECT_EQ(component.GetFieldType(memo, true), ctMEMO);
    component.BlankIfZero = false;
    EXPECT_EQ(component.GetFieldStr(number), "0");
    EXPECT_EQ(component.GetFieldType(number, false), ctInteger);
    EXPECT_EQ(component.GetFieldStr(nullptr), "");
    EXPECT_EQ(component.GetFieldType(nullptr, true), ctString);
}

TEST_F(FieldTextTest, NullStringGivesEmptyTextEitherWay)
{
    data.AppendRecord({Variant(7), Variant::Null(), Variant::Null(), Variant(2.5), Variant::Null(), Variant("memo")});
    for (bool blank : {false, true}) {
        component.BlankIfZero = blank;
        EXPECT_EQ(component.GetFieldStr(text), "");
        EXPECT_EQ(component.GetFieldStr(number), "7");
        EXPECT_EQ(component.GetFieldStr(memo), "memo");
    }
}

TEST_F(FieldTextTest, FieldMaskUsesDisplayTextAndBooleanTexts)
{
    data.AppendRecord({Variant(1), Variant("x"), Variant::Null(), Variant(2.5), Variant::Null(), Variant::Null()});
    component.DataFormats().BooleanTrue = "Yes";
    component.DataFormats().BooleanFalse = "No";
    component.Options.Include(soFieldMask);
    EXPECT_EQ(component.GetFieldStr(flag), "No"); // a null boolean is false
    EXPECT_EQ(component.GetFieldStr(real), "2.50");
    component.Options.Exclude(soFieldMask);
    EXPECT_EQ(component.GetFieldStr(real), "2.5");
    data.AppendRecord({Variant(1), Variant("x"), Variant(true), Variant(2.5), Variant::Null(), Variant::Null()});
    component.Options.Include(soFieldMask);
    EXPECT_EQ(component.GetFieldStr(flag), "Yes");
    component.Options.Exclude(soFieldMask);
    EXPECT_EQ(component.GetFieldStr(flag), "True");
}

} // namespace
