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

void PutDigits(std::string& Out, int Value, int Count)
{
    char buffer[8];
    for (int k = Count - 1; k >= 0; --k, Value /= 10)
        buffer[k] = static_cast<char>('0' + Value % 10);
    Out.append(buffer, static_cast<std::size_t>(Count));
}

void PutYear(std::string& Out, int Year)
{
    if (Year >= 0 && Year <= 9999) {
        PutDigits(Out, Year, 4);
        return;
    }
    char buffer[16];
    const int n = std::snprintf(buffer, sizeof buffer, "%+05d", Year);
    Out.append(buffer, static_cast<std::size_t>(n));
}

void PutTime(std::string& Out, const TDateTimeParts& P)
{
    PutDigits(Out, P.Hour, 2);
    Out += ':';
    PutDigits(Out, P.Minute, 2);
    Out += ':';
    PutDigits(Out, P.Second, 2);
    if (P.Microsecond == 0)
        return;
    Out += '.';
    if (P.Microsecond % 1000 == 0)
        PutDigits(Out, P.Microsecond / 1000, 3);
    else
        PutDigits(Out, P.Microsecond, 6);
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
    std::string out;
    out.reserve(10);
    PutYear(out, Parts.Year);
    out += '-';
    PutDigits(out, Parts.Month, 2);
    out += '-';
    PutDigits(out, Parts.Day, 2);
    return out;
}

std::string IsoTimeText(const TDateTimeParts& Parts)
{
    std::string out;
    out.reserve(15);
    PutTime(out, Parts);
    return out;
}

std::string IsoDateTimeText(const TDateTimeParts& Parts, char Separator)
{
    std::string out;
    out.reserve(26);
    AssignIsoDateTimeText(out, Parts, Separator);
    return out;
}

void AssignIsoDateTimeText(std::string& Out, const TDateTimeParts& Parts, char Separator)
{
    Out.clear();
    PutYear(Out, Parts.Year);
    Out += '-';
    PutDigits(Out, Parts.Month, 2);
    Out += '-';
    PutDigits(Out, Parts.Day, 2);
    Out += Separator;
    PutTime(Out, Parts);
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
    return Field && !Field->IsNull()
        && IsBinaryFieldType(Field->IsBlob() ? Field->BlobType() : Field->DataType());
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
