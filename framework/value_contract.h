#pragma once
// The exact parts of a value that every writer takes, and the tally of what a writer's
// format could not hold.
//
// A date-time value is days since 1899-12-30 with the time of day as the fraction's
// size: the integer part is the day, so before 1899-12-30 the time counts away from
// zero (1899-12-29 06:00 is -1.25). Nothing outside this file splits a serial into a
// day and a time: floor() of a negative serial gives the day before and the time
// mirrored. Here a serial becomes a count of microseconds on a continuous time line,
// rounded once to the unit a writer asks for, and the day, the time of day and the
// civil parts all come from that count, so a rounding carries into the next second,
// minute, hour and day and never back.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The unit a date-time is rounded to, in microseconds.
enum TTimeUnit : std::int64_t { tuMicrosecond = 1, tuMillisecond = 1000, tuSecond = 1000000, tuDay = 86400000000 };

constexpr std::int64_t MicrosecondsPerDay = 86400000000;

// Microseconds since 1899-12-30 00:00 on a continuous line, rounded to Unit and never
// finer than the serial holds: a double holds microseconds for days within 65,536 of the
// epoch (1720 to 2079), ten microseconds to 3335, a hundred to the year 9999.
std::int64_t SerialMicroseconds(double Serial, TTimeUnit Unit = tuMicrosecond);
// The finest step, in microseconds, that Serial's double holds exactly: its last bit is
// less than that step.
std::int64_t SerialStep(double Serial);

struct TDateTimeParts {
    int Year = 1899, Month = 12, Day = 30; // proleptic Gregorian; the year 0 is 1 BC
    int Hour = 0, Minute = 0, Second = 0;
    int Microsecond = 0;
    int Weekday = 6; // 0 Sunday .. 6 Saturday
};
TDateTimeParts DateTimeParts(double Serial, TTimeUnit Unit = tuMicrosecond);
TDateTimeParts PartsOfMicroseconds(std::int64_t Microseconds);
// The serial of civil parts (Microsecond included), by the negative-day rule.
double SerialOfParts(const TDateTimeParts& Parts);

// Days from 0001-01-01 (day 1) to a civil date, and back.
std::int64_t DayNumber(int Year, int Month, int Day);
void CivilDate(std::int64_t DayNumber, int& Year, int& Month, int& Day);

// The epochs the formats count days from.
enum TDateEpoch : std::uint8_t {
    epSerial,      // 1899-12-30 is day 0 (workbooks' 1900 system from 1900-03-01, OLE dates)
    epLotus1900,   // 1900-01-01 is day 1 and 1900-02-29 (which never was) day 60: worksheets
    epMac1904,     // 1904-01-01 is day 0: workbooks' 1904 system
    epGregorian,   // 1582-10-14 is day 0: SPSS (as seconds)
    epYearOne,     // 0001-01-01 is day 1: Paradox, Qt's and C#'s day numbers
    epUnix         // 1970-01-01 is day 0
};

// A date-time as a whole day counted from Epoch and the microsecond of that day
// (0 <= MicrosecondOfDay < MicrosecondsPerDay), rounded to Unit with carry.
struct TDayAndTime {
    std::int64_t Day = 0;
    std::int64_t MicrosecondOfDay = 0;
    double Seconds() const { return static_cast<double>(MicrosecondOfDay) / 1e6; }
    double Fraction() const { return static_cast<double>(MicrosecondOfDay) / static_cast<double>(MicrosecondsPerDay); }
};
TDayAndTime DayAndTime(double Serial, TDateEpoch Epoch, TTimeUnit Unit = tuMicrosecond);
// Whether Epoch counts Serial's day: the epochs that begin at day 1 (worksheets from
// 1900-01-01, day numbers from 0001-01-01) hold nothing before it.
bool EpochHolds(double Serial, TDateEpoch Epoch, TTimeUnit Unit = tuMicrosecond);
// Days from Epoch as one continuous number (day plus the time's fraction), the form
// worksheets and date-time numbers store: 1899-12-29 06:00 is -0.75 from epSerial.
double EpochSerial(double Serial, TDateEpoch Epoch, TTimeUnit Unit = tuMicrosecond);
// Seconds from Epoch on the same line (SPSS's seconds since 1582-10-14).
double EpochSeconds(double Serial, TDateEpoch Epoch, TTimeUnit Unit = tuMicrosecond);
// The time of day of Serial as a fraction of a day (a time-only value).
double TimeOfDay(double Serial, TTimeUnit Unit = tuMicrosecond);

// ISO 8601 texts: yyyy-mm-dd, hh:mm:ss and both with a blank between; a fraction of a
// second follows only when there is one, with 3 digits for whole milliseconds and 6
// otherwise. Years outside 0..9999 get a sign and as many digits as they need.
std::string IsoDateText(const TDateTimeParts& Parts);
std::string IsoTimeText(const TDateTimeParts& Parts);
std::string IsoDateTimeText(const TDateTimeParts& Parts, char Separator = ' ');
// IsoDateTimeText into Out, in the room Out has.
void AssignIsoDateTimeText(std::string& Out, const TDateTimeParts& Parts, char Separator = ' ');

// Whether a double holds the whole number Value exactly (|Value| <= 2^53, or a multiple of
// the power of two that a larger double keeps).
bool DoubleHoldsInteger(std::int64_t Value);

class TField;
// Whether Field's current value is bytes (not null, of a binary type), which a target
// without a binary form writes as base64.
bool HoldsBinary(const TField* Field);

// Bytes as base64 (RFC 4648, with padding, no line breaks).
std::string Base64Text(std::string_view Bytes);

// What a target could not hold as it was: one line per kind of change and column, with
// how many values and the first record (records are counted from 1, caption rows left
// out). Each writer declares its kinds in its own words ("dates before 1900-01-01 have
// no worksheet serial and were written as text"); the tally only counts them.
class TValueChanges {
public:
    // Counts one value of What in column Column (0-based; -1 for a line outside the
    // table) at record Record.
    void Count(const std::string& What, int Column, long long Record, long long Times = 1);
    bool Empty() const { return FKinds.empty(); }
    long long Total(const std::string& What) const;
    // "TARGET: N WHAT (the first at field NAME, record R)", one a kind and column, in the
    // order they first occurred, NAME from ColumnNames; the tally is empty afterwards.
    std::vector<std::string> TakeLines(const std::string& Target, const std::vector<std::string>& ColumnNames);
    void Clear() { FKinds.clear(); }

private:
    struct TKind {
        std::string What;
        int Column = -1;
        long long Count = 0;
        long long First = 0;
    };
    std::vector<TKind> FKinds;
};
