#pragma once
// The process-wide format settings that value texts follow, and the conversions of
// numbers, money and dates to text under them.
//
// A "character" setting (separators) is held as a std::string with one character in
// the system's 8-bit text (UTF-8 here, so a no-break space is two bytes); an empty
// string means "no separator".

#include <cstdint>
#include <string>

struct TFormatSettings {
    std::string DecimalSeparator = ".";
    std::string ThousandSeparator = ",";
    std::string DateSeparator = "/";
    std::string TimeSeparator = ":";
    std::string CurrencyString = "$";
    // Date and time patterns: d dd m mm mmm mmmm yy yyyy for dates, h hh n nn s ss for
    // times; "/" and ":" stand for the date and time separator; text in quotes is copied.
    std::string ShortDateFormat = "M/d/yyyy";
    std::string LongTimeFormat = "h:nn:ss";
    int CurrencyDecimals = 2;
};

// The settings every value text of the process follows. A run swaps some of them and
// restores them when it ends.
TFormatSettings& FormatSettings();

// The settings of the system's locale (LC_ALL / LC_NUMERIC / LANG as Qt reads them).
TFormatSettings SystemFormatSettings();
// Resets the process-wide settings to the system's.
void LoadSystemFormatSettings();

// Number to text in the general format with up to 15 significant digits, with the
// decimal separator of Settings and no thousand separator ("1,5", "1E20", "-0,001").
std::string FloatToStr(double Value, const TFormatSettings& Settings = FormatSettings());
// A money amount (scaled by 10000) with CurrencyDecimals decimals, the thousand
// separator and the currency string after a blank ("1 234,50 р."; "-3.00 $").
std::string CurrToStrF(std::int64_t ScaledValue, const TFormatSettings& Settings = FormatSettings());
// A money amount as a plain number ("1234,5").
std::string CurrToStr(std::int64_t ScaledValue, const TFormatSettings& Settings = FormatSettings());

// Date-time values are days since 1899-12-30, the fraction being the time of day.
std::string FormatDateTime(const std::string& Pattern, double DateTime,
                           const TFormatSettings& Settings = FormatSettings());
// The short date, then a blank and the long time when the value has a time of day.
std::string DateTimeToStr(double DateTime, const TFormatSettings& Settings = FormatSettings());
std::string DateToStr(double DateTime, const TFormatSettings& Settings = FormatSettings());
std::string TimeToStr(double DateTime, const TFormatSettings& Settings = FormatSettings());

double EncodeDate(int Year, int Month, int Day);
// A date (whole days, negative before 1899-12-30) and a time of day (0 <= Time < 1) as
// one value. The integer part is always the day and the fraction's size the time, so
// before 1899-12-30 the time counts away from zero: 1899-12-29 06:00 is -1.25. Decoding
// follows the same rule.
double ComposeDateTime(double Date, double Time);
double EncodeTime(int Hour, int Minute, int Second, int MilliSecond = 0);
void DecodeDateTime(double DateTime, int& Year, int& Month, int& Day, int& Hour, int& Minute, int& Second,
                    int& MilliSecond);

// Text to number: accepts the decimal separator of Settings or ".", an optional sign
// and exponent, surrounding blanks. Returns false when the text is not a number.
bool TryStrToFloat(const std::string& Text, double& Value, const TFormatSettings& Settings = FormatSettings());
