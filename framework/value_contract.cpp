#include "framework/value_contract.h"

#include "framework/data_set.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Day number (0001-01-01 is 1) of 1899-12-30, the serial's day 0.
constexpr std::int64_t SerialEpochDay = 693594;

std::int64_t FloorDiv(std::int64_t A, std::int64_t B)
{
    const std::int64_t q = A / B;
    return (A % B != 0 && ((A < 0) != (B < 0))) ? q - 1 : q;
}

// The serial day (days since 1899-12-30) where each epoch's day 0 falls.
std::int64_t EpochOffset(TDateEpoch Epoch)
{
    switch (Epoch) {
    case epSerial:
    case epLotus1900: return 0;
    case epMac1904: return 1462;
    case epGregorian: return DayNumber(1582, 10, 14) - SerialEpochDay;
    case epYearOne: return -SerialEpochDay;
    case epUnix: return 25569;
    }
    return 0;
}

// The texts below are written into a buffer of their longest size and copied once: a
// date cell is the most common cell of an export.
char* PutDigits(char* Out, int Value, int Count)
{
    for (int k = Count - 1; k >= 0; --k, Value /= 10)
        Out[k] = static_cast<char>('0' + Value % 10);
    return Out + Count;
}

char* PutDate(char* Out, const TDateTimeParts& P)
{
    if (P.Year >= 0 && P.Year <= 9999)
        Out = PutDigits(Out, P.Year, 4);
    else
        Out += std::snprintf(Out, 16, "%+05d", P.Year);
    *Out++ = '-';
    Out = PutDigits(Out, P.Month, 2);
    *Out++ = '-';
    return PutDigits(Out, P.Day, 2);
}

char* PutTime(char* Out, const TDateTimeParts& P)
{
    Out = PutDigits(Out, P.Hour, 2);
    *Out++ = ':';
    Out = PutDigits(Out, P.Minute, 2);
    *Out++ = ':';
    Out = PutDigits(Out, P.Second, 2);
    if (P.Microsecond == 0)
        return Out;
    *Out++ = '.';
    return P.Microsecond % 1000 == 0 ? PutDigits(Out, P.Microsecond / 1000, 3) : PutDigits(Out, P.Microsecond, 6);
}

} // namespace

std::int64_t DayNumber(int Year, int Month, int Day)
{
    std::int64_t y = Year - (Month <= 2);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + 719163;
}

void CivilDate(std::int64_t DayNumber, int& Year, int& Month, int& Day)
{
    const std::int64_t z = DayNumber - 719163 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    Day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    Month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    Year = static_cast<int>(yoe + era * 400 + (Month <= 2));
}

std::int64_t SerialStep(double Serial)
{
    const double days = std::fabs(Serial);
    return days < 65536.0 ? 1 : days < 524288.0 ? 10 : days < 8388608.0 ? 100 : 1000;
}

std::int64_t SerialMicroseconds(double Serial, TTimeUnit Unit)
{
    if (!std::isfinite(Serial))
        Serial = 0;
    // Beyond the years any calendar of ours shows; keeps the products below in range.
    Serial = std::clamp(Serial, -1e8, 1e8);
    const double day = std::trunc(Serial);
    const double fraction = std::fabs(Serial - day);
    const std::int64_t unit = std::max<std::int64_t>(Unit, SerialStep(Serial));
    const std::int64_t time = std::llround(fraction * (static_cast<double>(MicrosecondsPerDay) / static_cast<double>(unit))) * unit;
    return static_cast<std::int64_t>(day) * MicrosecondsPerDay + time;
}

TDateTimeParts PartsOfMicroseconds(std::int64_t Microseconds)
{
    TDateTimeParts p;
    const std::int64_t day = FloorDiv(Microseconds, MicrosecondsPerDay);
    std::int64_t time = Microseconds - day * MicrosecondsPerDay;
    const std::int64_t number = day + SerialEpochDay;
    CivilDate(number, p.Year, p.Month, p.Day);
    p.Weekday = static_cast<int>(((number % 7) + 7) % 7);
    p.Microsecond = static_cast<int>(time % 1000000);
    time /= 1000000;
    p.Second = static_cast<int>(time % 60);
    p.Minute = static_cast<int>(time / 60 % 60);
    p.Hour = static_cast<int>(time / 3600);
    return p;
}

TDateTimeParts DateTimeParts(double Serial, TTimeUnit Unit)
{
    return PartsOfMicroseconds(SerialMicroseconds(Serial, Unit));
}

double SerialOfParts(const TDateTimeParts& Parts)
{
    const double day = static_cast<double>(DayNumber(Parts.Year, Parts.Month, Parts.Day) - SerialEpochDay);
    const double time =
        static_cast<double>((Parts.Hour * 3600LL + Parts.Minute * 60LL + Parts.Second) * 1000000LL + Parts.Microsecond)
        / static_cast<double>(MicrosecondsPerDay);
    return day < 0 ? day - time : day + time;
}

TDayAndTime DayAndTime(double Serial, TDateEpoch Epoch, TTimeUnit Unit)
{
    const std::int64_t all = SerialMicroseconds(Serial, Unit);
    TDayAndTime out;
    const std::int64_t day = FloorDiv(all, MicrosecondsPerDay);
    out.MicrosecondOfDay = all - day * MicrosecondsPerDay;
    out.Day = day - EpochOffset(Epoch);
    // Worksheets count 1900-02-29, which never was: days before it are one lower.
    if (Epoch == epLotus1900 && day <= 60)
        --out.Day;
    return out;
}

bool EpochHolds(double Serial, TDateEpoch Epoch, TTimeUnit Unit)
{
    if (Epoch != epLotus1900 && Epoch != epYearOne)
        return true;
    return DayAndTime(Serial, Epoch, Unit).Day >= 1;
}

double EpochSerial(double Serial, TDateEpoch Epoch, TTimeUnit Unit)
{
    const TDayAndTime t = DayAndTime(Serial, Epoch, Unit);
    return static_cast<double>(t.Day) + t.Fraction();
}

double EpochSeconds(double Serial, TDateEpoch Epoch, TTimeUnit Unit)
{
    const TDayAndTime t = DayAndTime(Serial, Epoch, Unit);
    return static_cast<double>(t.Day) * 86400.0 + t.Seconds();
}

double TimeOfDay(double Serial, TTimeUnit Unit)
{
    return DayAndTime(Serial, epSerial, Unit).Fraction();
}

std::string IsoDateText(const TDateTimeParts& Parts)
{
    char buffer[32];
    return std::string(buffer, PutDate(buffer, Parts));
}

std::string IsoTimeText(const TDateTimeParts& Parts)
{
    char buffer[32];
    return std::string(buffer, PutTime(buffer, Parts));
}

std::string IsoDateTimeText(const TDateTimeParts& Parts, char Separator)
{
    std::string out;
    AssignIsoDateTimeText(out, Parts, Separator);
    return out;
}

void AssignIsoDateTimeText(std::string& Out, const TDateTimeParts& Parts, char Separator)
{
    char buffer[48];
    char* end = PutDate(buffer, Parts);
    *end++ = Separator;
    end = PutTime(end, Parts);
    Out.assign(buffer, end);
}

bool DoubleHoldsInteger(std::int64_t Value)
{
    const double d = static_cast<double>(Value);
    if (d >= 9223372036854775808.0)
        return false;
    return static_cast<std::int64_t>(d) == Value;
}

bool HoldsBinary(const TField* Field)
{
    // The type first: asking for the value costs more, and most fields hold no bytes.
    return Field && IsBinaryFieldType(Field->DataType()) && !(Field->IsBlob() && Field->BlobType() == ftGraphic)
        && !Field->IsNull();
}

std::string Base64Text(std::string_view Bytes)
{
    const QByteArray encoded =
        QByteArray::fromRawData(Bytes.data(), static_cast<qsizetype>(Bytes.size())).toBase64();
    return std::string(encoded.constData(), static_cast<std::size_t>(encoded.size()));
}

void TValueChanges::Count(const std::string& What, int Column, long long Record, long long Times)
{
    for (TKind& k : FKinds)
        if (k.What == What && k.Column == Column) {
            k.Count += Times;
            return;
        }
    FKinds.push_back({What, Column, Times, Record});
}

long long TValueChanges::Total(const std::string& What) const
{
    long long n = 0;
    for (const TKind& k : FKinds)
        if (k.What == What)
            n += k.Count;
    return n;
}

std::vector<std::string> TValueChanges::TakeLines(const std::string& Target, const std::vector<std::string>& ColumnNames)
{
    std::vector<std::string> lines;
    for (const TKind& k : FKinds) {
        const bool named = k.Column >= 0 && static_cast<std::size_t>(k.Column) < ColumnNames.size();
        std::string where = !named ? "a line outside the table"
                                   : "field " + ColumnNames[static_cast<std::size_t>(k.Column)] + ", record "
                                         + std::to_string(k.First);
        lines.push_back(Target + ": " + std::to_string(k.Count) + " " + k.What + " (the first at " + where + ")");
    }
    FKinds.clear();
    return lines;
}
