#include "export/data_formats.h"
#include "export/message_table.h"
#include "framework/exceptions.h"
#include "framework/format_settings.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Every test starts from known process-wide settings and leaves them as it found them.
class FormatSettingsFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        FSaved = FormatSettings();
        TFormatSettings& s = FormatSettings();
        s.DecimalSeparator = ".";
        s.ThousandSeparator = ",";
        s.DateSeparator = "/";
        s.TimeSeparator = ":";
        s.CurrencyString = "$";
        s.ShortDateFormat = "dd/mm/yyyy";
    }
    void TearDown() override
    {
        FormatSettings() = FSaved;
        ResetMessageTable();
    }

private:
    TFormatSettings FSaved;
};

// ---------------------------------------------------------------------------------
// TKVEDataFormats

using DataFormatsTest = FormatSettingsFixture;

TEST_F(DataFormatsTest, NewObjectTakesProcessSettingsAndBooleanTexts)
{
    FormatSettings().DecimalSeparator = ",";
    FormatSettings().ThousandSeparator = "\xC2\xA0"; // no-break space
    FormatSettings().CurrencyString = "\xE2\x82\xAC"; // euro sign
    strTrue = "Ja";
    TKVEDataFormats f;
    EXPECT_EQ(f.DateOrder, doMDY);
    EXPECT_EQ(f.DateSeparator, "/");
    EXPECT_EQ(f.TimeSeparator, ":");
    EXPECT_EQ(f.DecimalSeparator, ",");
    EXPECT_EQ(f.ThousandSeparator, "\xC2\xA0");
    EXPECT_EQ(f.CurrencyString, "\xE2\x82\xAC");
    EXPECT_TRUE(f.FourDigitYear);
    EXPECT_TRUE(f.LeadingZerosInDate);
    EXPECT_EQ(f.CustomDateTimeFormat, "");
    EXPECT_EQ(f.BooleanTrue, "Ja");
    EXPECT_EQ(f.BooleanFalse, "False");
    EXPECT_FALSE(f.UseRegionalSettings);
}

TEST_F(DataFormatsTest, LoadRegionalSettingsResetsDateOptionsButKeepsBooleanTexts)
{
    TKVEDataFormats f;
    f.DateOrder = doYDM;
    f.CustomDateTimeFormat = "yyyy";
    f.BooleanTrue = "yes";
    f.BooleanFalse = "no";
    f.UseRegionalSettings = true;
    f.DecimalSeparator = "#";

    FormatSettings().ShortDateFormat = "d/M/yy";
    FormatSettings().DateSeparator = ".";
    f.LoadRegionalSettings();
    EXPECT_EQ(f.DateOrder, doMDY);
    EXPECT_FALSE(f.FourDigitYear);
    EXPECT_FALSE(f.LeadingZerosInDate);
    EXPECT_EQ(f.DateSeparator, ".");
    EXPECT_EQ(f.DecimalSeparator, ".");
    EXPECT_EQ(f.CustomDateTimeFormat, "");
    EXPECT_EQ(f.BooleanTrue, "yes");
    EXPECT_EQ(f.BooleanFalse, "no");
    EXPECT_TRUE(f.UseRegionalSettings);

    // The search is case-sensitive: "YYYY" and "DD" do not count.
    FormatSettings().ShortDateFormat = "DD.MM.YYYY";
    f.LoadRegionalSettings();
    EXPECT_FALSE(f.FourDigitYear);
    EXPECT_FALSE(f.LeadingZerosInDate);
    FormatSettings().ShortDateFormat = "yyyy-M-dd";
    f.LoadRegionalSettings();
    EXPECT_TRUE(f.FourDigitYear);
    EXPECT_TRUE(f.LeadingZerosInDate);
}

TEST_F(DataFormatsTest, AssignCopiesEveryFieldAndRejectsOtherClasses)
{
    TKVEDataFormats a;
    a.DateOrder = doDYM;
    a.DateSeparator = "-";
    a.TimeSeparator = ".";
    a.FourDigitYear = false;
    a.LeadingZerosInDate = false;
    a.ThousandSeparator = "";
    a.DecimalSeparator = ",";
    a.CurrencyString = "EUR";
    a.CustomDateTimeFormat = "d.m.y";
    a.BooleanTrue = "T";
    a.BooleanFalse = std::string("F\0", 2);
    a.UseRegionalSettings = true;

    TKVEDataFormats b;
    b.Assign(&a);
    EXPECT_EQ(b.DateOrder, doDYM);
    EXPECT_EQ(b.DateSeparator, "-");
    EXPECT_EQ(b.TimeSeparator, ".");
    EXPECT_FALSE(b.FourDigitYear);
    EXPECT_FALSE(b.LeadingZerosInDate);
    EXPECT_EQ(b.ThousandSeparator, "");
    EXPECT_EQ(b.DecimalSeparator, ",");
    EXPECT_EQ(b.CurrencyString, "EUR");
    EXPECT_EQ(b.CustomDateTimeFormat, "d.m.y");
    EXPECT_EQ(b.BooleanTrue, "T");
    EXPECT_EQ(b.BooleanFalse, std::string("F\0", 2));
    EXPECT_TRUE(b.UseRegionalSettings);

    b.Assign(&b);
    EXPECT_EQ(b.CurrencyString, "EUR");

    TKVExportStyle style;
    EXPECT_THROW(b.Assign(&style), EConvertError);
    EXPECT_THROW(b.Assign(nullptr), EConvertError);
    EXPECT_EQ(b.CurrencyString, "EUR");
}

TEST_F(DataFormatsTest, DatePatternsFollowOrderOptionsAndSeparator)
{
    TKVEDataFormats f;
    f.DateSeparator = "/";

    f.LeadingZerosInDate = true;
    f.FourDigitYear = true;
    f.DateOrder = doDMY;
    EXPECT_EQ(f.GetDateFormat(), "DD/MM/YYYY");

    f.LeadingZerosInDate = false;
    f.FourDigitYear = false;
    f.DateOrder = doMDY;
    EXPECT_EQ(f.GetDateFormat(), "M/D/Y");

    f.LeadingZerosInDate = true;
    f.DateOrder = doYMD;
    EXPECT_EQ(f.GetDateFormat(), "YY/MM/DD");

    f.LeadingZerosInDate = false;
    f.FourDigitYear = true;
    EXPECT_EQ(f.GetDateFormat(), "YYYY/M/D");

    f.LeadingZerosInDate = true;
    const std::pair<TKVEDateOrder, const char*> orders[] = {
        {doMDY, "MM-DD-YYYY"}, {doDMY, "DD-MM-YYYY"}, {doYMD, "YYYY-MM-DD"},
        {doYDM, "YYYY-DD-MM"}, {doDYM, "DD-YYYY-MM"}, {doMYD, "MM-YYYY-DD"},
    };
    f.DateSeparator = "-";
    for (const auto& [order, pattern] : orders) {
        f.DateOrder = order;
        EXPECT_EQ(f.GetDateFormat(), pattern);
    }

    // No separator: the parts run together.
    f.DateOrder = doMDY;
    f.DateSeparator = "";
    EXPECT_EQ(f.GetDateFormat(), "MMDDYYYY");
    f.DateSeparator = std::string(1, '\0');
    EXPECT_EQ(f.GetDateFormat(), "MMDDYYYY");
    EXPECT_EQ(TKVEDataFormats::GetDTSeparator(std::string(1, '\0')), "");
    EXPECT_EQ(TKVEDataFormats::GetDTSeparator("\xC2\xB7"), "\xC2\xB7");

    f.DateOrder = static_cast<TKVEDateOrder>(6);
    EXPECT_THROW(f.GetDateFormat(), Exception);
}

TEST_F(DataFormatsTest, CustomPatternWinsAndIsUpperCased)
{
    TKVEDataFormats f;
    f.DateOrder = doYDM;
    f.CustomDateTimeFormat = "dd.mm.yyyy";
    EXPECT_EQ(f.GetDateFormat(), "DD.MM.YYYY");
    f.TimeSeparator = ":";
    EXPECT_EQ(f.GetDateTimeFormat(), "DD.MM.YYYY HH:NN:SS");
    // Only ASCII letters change; other UTF-8 text passes unchanged.
    f.CustomDateTimeFormat = "d\xC3\xA9y";
    EXPECT_EQ(f.GetDateFormat(), "D\xC3\xA9Y");
    // With a custom pattern the date order is not consulted, so a bad one does no harm.
    f.DateOrder = static_cast<TKVEDateOrder>(42);
    EXPECT_EQ(f.GetDateFormat(), "D\xC3\xA9Y");
}

TEST_F(DataFormatsTest, TimeAndDateTimePatterns)
{
    TKVEDataFormats f;
    f.TimeSeparator = ":";
    EXPECT_EQ(f.GetTimeFormat(), "HH:NN:SS");
    f.TimeSeparator = "";
    EXPECT_EQ(f.GetTimeFormat(), "HHNNSS");
    f.TimeSeparator = ".";
    f.DateSeparator = "/";
    f.DateOrder = doMDY;
    f.LeadingZerosInDate = false;
    f.FourDigitYear = false;
    EXPECT_EQ(f.GetDateTimeFormat(), "M/D/Y HH.NN.SS");
}

// ---------------------------------------------------------------------------------
// TKVExportStyle

TEST(ExportStyleTest, NewStyleIsNormalWithBlackColours)
{
    TKVExportStyle s;
    EXPECT_EQ(s.Style(), esNormal);
    EXPECT_EQ(s.OddColor, 0u);
    EXPECT_EQ(s.EvenColor, 0u);
    // Setting the current style again does not load the table's colours.
    s.SetStyle(esNormal);
    EXPECT_EQ(s.OddColor, 0u);
}

TEST(ExportStyleTest, EveryStyleLoadsItsColourPair)
{
    const TColor expected[12][2] = {
        {0x80000005, 0x80000005}, {0x80000016, 0x80000005}, {0x00FFFBF0, 0x80000005},
        {0x00CFDFDF, 0x00A0BFBF}, {0x00B8CCD8, 0x00688CA0}, {0x00A8B090, 0x00788058},
        {0x00D8A8B0, 0x00B05058}, {0x00A8D8EB, 0x0048A8C8}, {0x00B8C088, 0x00889048},
        {0x00B8B0D0, 0x007060A0}, {0x00A8C8A0, 0x00689858}, {0x00A0E0E0, 0x0040BCC0},
    };
    // From esWheat downwards, so that every style, esNormal too, is a change.
    TKVExportStyle s;
    s.SetStyle(esWheat);
    for (int i = StyleCount - 1; i >= 0; --i) {
        SCOPED_TRACE(i);
        s.SetStyle(static_cast<TKVEStyle>(i));
        EXPECT_EQ(s.Style(), i);
        EXPECT_EQ(s.OddColor, expected[i][0]);
        EXPECT_EQ(s.EvenColor, expected[i][1]);
        EXPECT_EQ(arrStyleColor[static_cast<std::size_t>(i)][0], expected[i][0]);
        EXPECT_EQ(arrStyleColor[static_cast<std::size_t>(i)][1], expected[i][1]);
    }
}

TEST(ExportStyleTest, SameStyleKeepsCustomColoursOtherStyleReplacesThem)
{
    TKVExportStyle s;
    s.SetStyle(esBrick);
    s.OddColor = 255;
    s.SetStyle(esBrick);
    EXPECT_EQ(s.OddColor, 255u);
    EXPECT_EQ(s.EvenColor, 0x00A0BFBFu);
    s.SetStyle(esRose);
    EXPECT_EQ(s.OddColor, 0x00B8B0D0u);
    EXPECT_EQ(s.EvenColor, 0x007060A0u);
}

TEST(ExportStyleTest, OrdinalOutsideTheTableIsRefused)
{
    TKVExportStyle s;
    s.SetStyle(esMaple);
    s.EvenColor = 7;
    EXPECT_THROW(s.SetStyle(static_cast<TKVEStyle>(12)), Exception);
    EXPECT_THROW(s.SetStyle(static_cast<TKVEStyle>(255)), Exception);
    EXPECT_EQ(s.Style(), esMaple);
    EXPECT_EQ(s.EvenColor, 7u);
}

TEST(ExportStyleTest, AssignCopiesStyleAndCustomColours)
{
    TKVExportStyle source;
    source.SetStyle(esLilac);
    source.OddColor = 1;
    source.EvenColor = 2;

    TKVExportStyle target;
    target.Assign(&source);
    EXPECT_EQ(target.Style(), esLilac);
    EXPECT_EQ(target.OddColor, 1u);
    EXPECT_EQ(target.EvenColor, 2u);

    // Same style on both sides: the colours are still copied.
    source.OddColor = 3;
    target.Assign(&source);
    EXPECT_EQ(target.OddColor, 3u);

    TKVEDataFormats formats;
    EXPECT_THROW(target.Assign(&formats), EConvertError);
    EXPECT_EQ(target.Style(), esLilac);
}

TEST(ExportStyleTest, AssignStyleColorAlternatesBySignedRemainder)
{
    TKVExportStyle s;
    TColor c = 0x123456;
    AssignStyleColor(s, 1, c); // esNormal leaves the colour alone
    EXPECT_EQ(c, 0x123456u);

    s.SetStyle(esMaple);
    AssignStyleColor(s, 1, c);
    EXPECT_EQ(c, 0x00A8D8EBu);
    AssignStyleColor(s, 2, c);
    EXPECT_EQ(c, 0x0048A8C8u);
    c = 0;
    AssignStyleColor(s, -1, c);
    EXPECT_EQ(c, 0x0048A8C8u);
    c = 0;
    AssignStyleColor(s, 0, c);
    EXPECT_EQ(c, 0x0048A8C8u);
    AssignStyleColor(s, 2147483647, c);
    EXPECT_EQ(c, 0x00A8D8EBu);
    AssignStyleColor(s, -2147483647 - 1, c);
    EXPECT_EQ(c, 0x0048A8C8u);
}

// ---------------------------------------------------------------------------------
// Translate

TEST(TranslateTest, EncodesEveryByteAsTwoUpperCaseDigits)
{
    EXPECT_EQ(Translate("abc", true), "616263");
    EXPECT_EQ(Translate("\t", true), "09");
    EXPECT_EQ(Translate("\r\n", true), "0D0A");
    EXPECT_EQ(Translate("", true), "");
    EXPECT_EQ(Translate(std::string("\0\xFF", 2), true), "00FF");
    EXPECT_EQ(Translate("\xC2\xA0", true), "C2A0");
}

TEST(TranslateTest, DecodesPairsIgnoringAnOddLastCharacter)
{
    EXPECT_EQ(Translate("0D0A", false), "\r\n");
    EXPECT_EQ(Translate("0D0", false), "\r");
    EXPECT_EQ(Translate("7", false), "");
    EXPECT_EQ(Translate("", false), "");
    EXPECT_EQ(Translate("616263", false), "abc");
    EXPECT_EQ(Translate("6a6B", false), "jk");
    EXPECT_EQ(Translate("00", false), std::string(1, '\0'));
    EXPECT_EQ(Translate("C2A0", false), "\xC2\xA0");

    std::string all;
    for (int i = 0; i < 256; ++i)
        all += static_cast<char>(i);
    EXPECT_EQ(Translate(Translate(all, true), false), all);
}

TEST(TranslateTest, NonHexPairRaisesConversionErrorNamingThePair)
{
    try {
        Translate("41ZZ42", false);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'$ZZ' is not a valid integer value");
    }
    for (const char* bad : {"4G", " 1", "1 ", "-1", "+1", "$1", "0x"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Translate(bad, false), EConvertError);
    }
    // The bad pair is only noticed when a whole pair is read.
    EXPECT_EQ(Translate("41Z", false), "A");
}

// ---------------------------------------------------------------------------------
// TFormatSettingsSwap

using FormatSettingsSwapTest = FormatSettingsFixture;

TEST_F(FormatSettingsSwapTest, InstallReplacesFiveSettingsAndRestorePutsThemBack)
{
    TKVEDataFormats f;
    f.DecimalSeparator = ",";
    f.DateSeparator = ".";
    f.TimeSeparator = "-";
    f.ThousandSeparator = "\xC2\xA0";
    f.CurrencyString = "EUR";
    FormatSettings().ShortDateFormat = "d/m/yyyy";

    TFormatSettingsSwap swap;
    swap.Install(f);
    EXPECT_TRUE(swap.Installed());
    const TFormatSettings& s = FormatSettings();
    EXPECT_EQ(s.DecimalSeparator, ",");
    EXPECT_EQ(s.DateSeparator, ".");
    EXPECT_EQ(s.TimeSeparator, "-");
    EXPECT_EQ(s.ThousandSeparator, "\xC2\xA0");
    EXPECT_EQ(s.CurrencyString, "EUR");
    EXPECT_EQ(s.ShortDateFormat, "d/m/yyyy"); // not one of the five
    EXPECT_EQ(FloatToStr(1.5), "1,5");
    EXPECT_EQ(swap.Saved().DecimalSeparator, ".");

    swap.Restore();
    EXPECT_FALSE(swap.Installed());
    EXPECT_EQ(s.DecimalSeparator, ".");
    EXPECT_EQ(s.DateSeparator, "/");
    EXPECT_EQ(s.TimeSeparator, ":");
    EXPECT_EQ(s.ThousandSeparator, ",");
    EXPECT_EQ(s.CurrencyString, "$");

    // A second Restore must not bring back anything stale.
    FormatSettings().DecimalSeparator = ";";
    swap.Restore();
    EXPECT_EQ(s.DecimalSeparator, ";");
}

TEST_F(FormatSettingsSwapTest, SecondInstallKeepsTheFirstSavedValues)
{
    TKVEDataFormats a;
    a.DecimalSeparator = ",";
    TKVEDataFormats b;
    b.DecimalSeparator = "'";
    TFormatSettingsSwap swap;
    swap.Install(a);
    swap.Install(b);
    EXPECT_EQ(FormatSettings().DecimalSeparator, "'");
    swap.Restore();
    EXPECT_EQ(FormatSettings().DecimalSeparator, ".");
}

TEST_F(FormatSettingsSwapTest, NulSeparatorInstallsAsNoSeparatorAndDestructorRestores)
{
    {
        TKVEDataFormats f;
        f.ThousandSeparator = std::string(1, '\0');
        f.DateSeparator = "";
        TFormatSettingsSwap swap;
        swap.Install(f);
        EXPECT_EQ(FormatSettings().ThousandSeparator, "");
        EXPECT_EQ(FormatSettings().DateSeparator, "");
    }
    EXPECT_EQ(FormatSettings().ThousandSeparator, ",");
    EXPECT_EQ(FormatSettings().DateSeparator, "/");

    // A swap that never installed leaves the settings alone when it goes.
    FormatSettings().DateSeparator = "-";
    { TFormatSettingsSwap idle; }
    EXPECT_EQ(FormatSettings().DateSeparator, "-");
}

} // namespace
