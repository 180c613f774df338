// Variants, text lists, collections, components and value texts.

#include "framework/collection.h"
#include "framework/component.h"
#include "framework/exceptions.h"
#include "framework/format_settings.h"
#include "framework/graphics.h"
#include "framework/string_list.h"
#include "framework/value_contract.h"
#include "framework/variant.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

namespace {

struct FormatSettingsGuard {
    TFormatSettings saved = FormatSettings();
    ~FormatSettingsGuard() { FormatSettings() = saved; }
};

TEST(VariantTest, TextKeepsNulBytesAndNullOrEmptyGiveEmptyText)
{
    std::string bytes("BM\0\0x\0", 6);
    Variant v(bytes);
    EXPECT_EQ(v.AsString().size(), 6u);
    EXPECT_EQ(v.AsString(), bytes);
    EXPECT_EQ(Variant::Null().AsString(), "");
    EXPECT_EQ(Variant().AsString(), "");
}

TEST(VariantTest, ComparisonWithZeroText)
{
    const Variant zero("0");
    EXPECT_TRUE(Variant(0) == zero);
    EXPECT_TRUE(Variant(0.0) == zero);
    EXPECT_TRUE(Variant::FromCurrency(0) == zero);
    EXPECT_TRUE(Variant::FromDateTime(0) == zero);
    EXPECT_TRUE(Variant("0") == zero);
    EXPECT_FALSE(Variant(5) == zero);
    EXPECT_FALSE(Variant("0.00") == zero); // text against text: byte by byte
    EXPECT_FALSE(Variant(" 0") == zero);
    EXPECT_FALSE(Variant::FromDateTime(1.5) == zero);
    EXPECT_FALSE(Variant::Null() == zero);
    EXPECT_FALSE(Variant() == zero);
    EXPECT_TRUE(Variant::Null() == Variant::Null());
    EXPECT_FALSE(Variant("abc") == Variant(0)); // not a number: unequal, no exception
}

TEST(VariantTest, ConversionsFollowTheProcessFormatSettings)
{
    FormatSettingsGuard guard;
    auto& fs = FormatSettings();
    fs.DecimalSeparator = ",";
    fs.ThousandSeparator = "\xC2\xA0"; // no-break space
    fs.CurrencyString = "\xD1\x80.";   // "р."
    fs.DateSeparator = ".";
    fs.TimeSeparator = "-";
    fs.ShortDateFormat = "dd/mm/yyyy";
    fs.LongTimeFormat = "hh:nn:ss";
    EXPECT_EQ(Variant(1.5).AsString(), "1,5");
    EXPECT_EQ(Variant(-0.001).AsString(), "-0,001");
    EXPECT_EQ(Variant(1e20).AsString(), "1E20");
    EXPECT_EQ(Variant(42).AsString(), "42");
    EXPECT_EQ(Variant::FromCurrency(1234.5).AsString(), "1\xC2\xA0" "234,50 \xD1\x80.");
    double date = EncodeDate(2024, 2, 29);
    EXPECT_EQ(Variant::FromDateTime(date).AsString(), "29.02.2024");
    EXPECT_EQ(Variant::FromDateTime(date + EncodeTime(13, 5, 9)).AsString(), "29.02.2024 13-05-09");
    EXPECT_EQ(Variant(true).AsString(), "True");
}

TEST(FormatSettingsTest, DateSerialsMatchTheClassicEpoch)
{
    EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
    EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
    EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
    int y, m, d, h, mi, s, ms;
    DecodeDateTime(36526.75, y, m, d, h, mi, s, ms);
    EXPECT_EQ(y, 2000);
    EXPECT_EQ(m, 1);
    EXPECT_EQ(d, 1);
    EXPECT_EQ(h, 18);
    EXPECT_EQ(mi, 0);
}

// A date and a time make one value that decodes to the same day and time on both
// sides of 1899-12-30, back to years before 100.
TEST(FormatSettingsTest, DateAndTimeComposeOnBothSidesOfTheEpoch)
{
    const int cases[][7] = {{1800, 1, 1, 6, 0, 0, 0},     {1899, 12, 29, 18, 30, 0, 0}, {1899, 12, 30, 6, 0, 0, 0},
                            {1899, 12, 31, 23, 59, 59, 999}, {50, 3, 1, 12, 0, 0, 250},   {2024, 2, 29, 0, 0, 1, 0}};
    for (const auto& c : cases) {
        const double v = ComposeDateTime(EncodeDate(c[0], c[1], c[2]), EncodeTime(c[3], c[4], c[5], c[6]));
        int got[7];
        DecodeDateTime(v, got[0], got[1], got[2], got[3], got[4], got[5], got[6]);
        for (int k = 0; k < 7; ++k)
            EXPECT_EQ(got[k], c[k]) << c[0] << "-" << c[1] << "-" << c[2] << " part " << k;
    }
}

// One serial, split once: a rounding carries forward across the negative days too, and
// each format's day count starts where that format starts.
TEST(ValueContractTest, SerialsSplitWithCarryAndCountFromEachEpoch)
{
    const auto serial = [](int Y, int M, int D, int H, int N, int S, int Us) {
        return SerialOfParts({Y, M, D, H, N, S, Us});
    };
    struct TCase {
        double Serial;
        TTimeUnit Unit;
        const char* Iso;
    } cases[] = {
        {serial(1850, 6, 1, 13, 45, 0, 0), tuMicrosecond, "1850-06-01 13:45:00"},
        {serial(1899, 12, 29, 23, 59, 59, 999900), tuMillisecond, "1899-12-30 00:00:00"},
        {serial(1899, 12, 29, 23, 59, 59, 999900), tuMicrosecond, "1899-12-29 23:59:59.999900"},
        {serial(50, 3, 1, 23, 59, 59, 999900), tuMicrosecond, "0050-03-01 23:59:59.999900"},
        {serial(9999, 12, 31, 23, 59, 59, 999950), tuMicrosecond, "+10000-01-01 00:00:00"}, // 100 µs steps there
        {serial(2024, 6, 30, 12, 0, 0, 123456), tuMicrosecond, "2024-06-30 12:00:00.123456"},
        {serial(2024, 12, 31, 23, 59, 59, 999600), tuSecond, "2025-01-01 00:00:00"},
        {serial(-1, 1, 1, 0, 0, 0, 0), tuSecond, "-0001-01-01 00:00:00"},
    };
    for (const TCase& c : cases)
        EXPECT_EQ(IsoDateTimeText(DateTimeParts(c.Serial, c.Unit)), c.Iso) << c.Iso;
    // 1900-01-01 is worksheet day 1, 1900-03-01 day 61 (after a 29 February that never was).
    const struct {
        double Serial;
        TDateEpoch Epoch;
        double Days;
    } epochs[] = {
        {serial(1900, 1, 1, 6, 0, 0, 0), epLotus1900, 1.25},   {serial(1900, 3, 1, 0, 0, 0, 0), epLotus1900, 61},
        {serial(1899, 12, 29, 6, 0, 0, 0), epSerial, -0.75},   {serial(1904, 1, 2, 12, 0, 0, 0), epMac1904, 1.5},
        {serial(1582, 10, 15, 0, 0, 0, 0), epGregorian, 1},    {serial(1, 1, 1, 0, 0, 0, 0), epYearOne, 1},
        {serial(1969, 12, 31, 18, 0, 0, 0), epUnix, -0.25},
    };
    for (const auto& e : epochs)
        EXPECT_EQ(EpochSerial(e.Serial, e.Epoch), e.Days) << e.Days;
    EXPECT_FALSE(EpochHolds(serial(1899, 12, 31, 0, 0, 0, 0), epLotus1900));
    EXPECT_TRUE(DoubleHoldsInteger(9007199254740992));
    EXPECT_FALSE(DoubleHoldsInteger(9007199254740993));
    EXPECT_FALSE(DoubleHoldsInteger(INT64_MAX));
}

// Currency is a scaled 64-bit amount: what does not fit is refused, never wrapped.
TEST(VariantTest, CurrencyAndIntegerRangesAreChecked)
{
    EXPECT_EQ(Variant::FromCurrency(-12345678.1234).AsScaledCurrency(), -123456781234LL);
    for (double amount : {922337203685477.5807, -922337203685477.5808 * 1.01, 1e300, std::nan("")})
        EXPECT_THROW(Variant::FromCurrency(amount), EConvertError) << amount;
    EXPECT_THROW(Variant(1e19).AsScaledCurrency(), EConvertError);
    // Amounts with more digits than a double's 53 bits still go both ways exactly.
    EXPECT_EQ(Variant::FromScaledCurrency(-9999999999999999LL).AsDouble(), -999999999999.9999);
    EXPECT_EQ(Variant::FromCurrency(-999999999999.9999).AsScaledCurrency(), -9999999999999999LL);
    EXPECT_EQ(Variant("9223372036854775807").AsInteger(), INT64_MAX);
    EXPECT_EQ(Variant("-9223372036854775808").AsInteger(), INT64_MIN);
    EXPECT_THROW(Variant("9223372036854775808").AsInteger(), EConvertError);
    EXPECT_THROW(Variant(9.3e18).AsInteger(), EConvertError);
}

// FloatToStr is the C library's "%.15G" with the exponent written plainly ("1E20",
// "1E-5") and the current decimal separator; awkward values and random bit patterns
// must give exactly that text.
TEST(FormatSettingsTest, FloatTextIsTheGeneralFormWithFifteenDigits)
{
    auto reference = [](double v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15G", v);
        std::string t = buf;
        if (t == "-0")
            t = "0";
        if (auto e = t.find('E'); e != std::string::npos) {
            std::string exponent = t.substr(e + 2);
            exponent.erase(0, std::min(exponent.find_first_not_of('0'), exponent.size() - 1));
            t = t.substr(0, e) + (t[e + 1] == '-' ? "E-" : "E") + exponent;
        }
        if (auto dot = t.find('.'); dot != std::string::npos)
            t.replace(dot, 1, ",");
        return t;
    };
    TFormatSettings s;
    s.DecimalSeparator = ",";
    std::vector<double> values = {0.0, -0.0, 0.1, 1.0 / 3, -2.5, 1e15, 1e16, 999999999999999.5, 99999999999999.99,
                                  123456789012345678.0, 1e-4, 1e-5, 0.000123456789012345678, 1e21, 1e100, 1e-300,
                                  5e-324, -2.2250738585072014e-308, 1.7976931348623157e308};
    std::mt19937_64 random(7);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t bits = random();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v))
            values.push_back(i % 2 ? v : static_cast<double>(static_cast<std::int64_t>(bits >> 4)) / (1 << (i % 30)));
        // Sixteen digits ending in 5: half way between two 15-digit texts.
        const std::string halfWay = std::to_string(100000000000000ull + bits % 900000000000000ull) + "5e"
            + std::to_string(static_cast<int>(bits >> 58) - 32);
        values.push_back(std::strtod(halfWay.c_str(), nullptr));
        values.push_back(1.0 / (i + 1));
    }
    for (double v : values)
        ASSERT_EQ(FloatToStr(v, s), reference(v)) << v;
    EXPECT_EQ(FloatToStr(std::nan(""), s), "NAN");
    EXPECT_EQ(FloatToStr(-HUGE_VAL, s), "-INF");
}

TEST(FormatSettingsTest, TextToNumber)
{
    TFormatSettings fs;
    fs.DecimalSeparator = ",";
    double v = 0;
    EXPECT_TRUE(TryStrToFloat(" 2,5 ", v, fs));
    EXPECT_EQ(v, 2.5);
    EXPECT_TRUE(TryStrToFloat("2.5", v, fs));
    EXPECT_FALSE(TryStrToFloat("", v, fs));
    EXPECT_FALSE(TryStrToFloat("12abc", v, fs));
}

TEST(StringListTest, TextRule)
{
    TStringList list;
    list.SetText("a\r\nb\r\n\r\n");
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list[0], "a");
    EXPECT_EQ(list[1], "b");
    EXPECT_EQ(list[2], "");
    EXPECT_EQ(list.Text(), "a\r\nb\r\n\r\n");
    list.SetText("x\ny\rz");
    EXPECT_EQ(list.Count(), 3);
    list.SetText("");
    EXPECT_EQ(list.Count(), 0);
    EXPECT_THROW(list.Strings(0), EListError);
}

class Item : public TCollectionItem {
public:
    using TCollectionItem::TCollectionItem;
    int Value = 0;
    void Assign(const TPersistent* Source) override
    {
        if (auto* s = dynamic_cast<const Item*>(Source)) {
            Value = s->Value;
            return;
        }
        TPersistent::Assign(Source);
    }
};

TEST(CollectionTest, AddDeleteClearAndIndexErrors)
{
    TCollection c([](TCollection* owner) { return new Item(owner); });
    auto* a = static_cast<Item*>(c.Add());
    auto* b = static_cast<Item*>(c.Add());
    EXPECT_EQ(c.Count(), 2);
    EXPECT_EQ(b->Index(), 1);
    c.Delete(0);
    EXPECT_EQ(c.Count(), 1);
    EXPECT_EQ(c.Items(0), b);
    (void)a;
    try {
        c.Items(5);
        FAIL();
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (5)");
    }
    EXPECT_THROW(c.Delete(-1), EListError);
    delete b; // an item freed on its own leaves its collection
    EXPECT_EQ(c.Count(), 0);
    c.BeginUpdate();
    c.Add();
    c.EndUpdate();
    c.Clear();
    EXPECT_EQ(c.Count(), 0);
}

TEST(PersistentTest, AssignFromAnotherClassFails)
{
    TFont font;
    TStringList list;
    try {
        font.Assign(&list);
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a TFont");
    }
    EXPECT_THROW(font.Assign(nullptr), EConvertError);
}

class Watcher : public TComponent {
public:
    using TComponent::TComponent;
    TComponent* Watched = nullptr;
    int Removals = 0;
    void Watch(TComponent* c)
    {
        Watched = c;
        FreeNotification(c);
    }

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override
    {
        if (Operation == opRemove && AComponent == Watched) {
            Watched = nullptr;
            ++Removals;
        }
    }
};

TEST(ComponentTest, DestroyingAReferencedComponentClearsTheReference)
{
    TComponent owner;
    auto* watcher = new Watcher(&owner);
    auto* target = new TComponent(&owner);
    target->SetName("Target");
    EXPECT_EQ(target->Name(), "Target");
    watcher->Watch(target);
    watcher->Watch(target); // registering twice notifies once
    TComponentRef<TComponent> ref(target);
    delete target;
    EXPECT_EQ(watcher->Watched, nullptr);
    EXPECT_EQ(watcher->Removals, 1);
    EXPECT_TRUE(ref.isNull());
}

TEST(GraphicsTest, SystemColoursResolveFromTheFixedTable)
{
    EXPECT_EQ(ColorToRGB(clWindow), 0xFFFFFFu);
    EXPECT_EQ(ColorToRGB(clWindowText), 0x000000u);
    EXPECT_EQ(ColorToRGB(clRed), clRed);
    EXPECT_EQ(ColorToRGB(clSystemColor | 200), clBlack);
    TFont a, b;
    a.Style = fsBold | fsUnderline;
    a.Name = "Courier New";
    b.Assign(&a);
    EXPECT_TRUE(a == b);
    a.Name = "x";
    EXPECT_EQ(b.Name, "Courier New");
}

TEST(MessageFormatTest, PlaceholdersAreFilledOnce)
{
    EXPECT_EQ(FormatMessage("Property %s is not specified.", std::string("DataEngine")),
              "Property DataEngine is not specified.");
    EXPECT_EQ(FormatMessage("100%% of %d", 7LL), "100% of 7");
    EXPECT_EQ(FormatMessage("%s and %s", std::string("a")), "a and %s");
}

} // namespace
