#include "cellfile/spss_exporter.h"

#include "framework/exceptions.h"

#include <readstat.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>

namespace {

// Days from SPSS's day 0 (1582-10-14) to the suite's (1899-12-30).
constexpr double SpssEpochDays = 115859.0;

const char* const ReservedWords[] = {"ALL", "AND", "BY", "EQ", "GE", "GT", "LE", "LT", "NE", "NOT", "OR", "TO", "WITH"};

// ReadStat hands the file's bytes to the pipeline's stream; a failure is kept and
// reported when ReadStat returns, never thrown through its C frames.
struct TSink {
    TStream* Stream = nullptr;
    std::string Error;
};

ssize_t WriteBytes(const void* Data, size_t Length, void* Context)
{
    auto* sink = static_cast<TSink*>(Context);
    try {
        sink->Stream->WriteBuffer(Data, static_cast<std::int64_t>(Length));
        return static_cast<ssize_t>(Length);
    } catch (const Exception& e) {
        if (sink->Error.empty())
            sink->Error = e.Message();
        return -1;
    }
}

} // namespace

struct TKVExportToSPSS::TWriter {
    readstat_writer_t* Writer = nullptr;
    TSink Sink;
    std::vector<readstat_variable_t*> Variables;
    long Declared = 0;           // the case count the header was begun with
    std::int64_t DictionaryEnd = -1; // where the records begin, once the first is written
    ~TWriter()
    {
        if (Writer)
            readstat_writer_free(Writer);
    }
};

TKVExportToSPSS::TKVExportToSPSS(QObject* AOwner) : TKVExportToRecordFile(AOwner)
{
    SetTableType(teSPSS);
}

TKVExportToSPSS::~TKVExportToSPSS() = default;

void TKVExportToSPSS::Check(int Result, int Field) const
{
    if (Result == READSTAT_OK)
        return;
    const std::string why = FWriter && !FWriter->Sink.Error.empty()
        ? FWriter->Sink.Error
        : readstat_error_message(static_cast<readstat_error_t>(Result));
    Refuse(Field, why);
}

void TKVExportToSPSS::BeginTable(const std::vector<TRecordField>& Fields)
{
    if (Fields.empty())
        throw Exception(TargetName() + ": an SPSS file needs at least one variable");
    FWriter = std::make_unique<TWriter>();
    FWriter->Writer = readstat_writer_init();
    FWriter->Sink.Stream = FStream;
    readstat_set_data_writer(FWriter->Writer, WriteBytes);
    readstat_writer_set_compression(FWriter->Writer, READSTAT_COMPRESS_ROWS);
    FKinds.clear();
    FWidths.clear();
    std::set<std::string> used(std::begin(ReservedWords), std::end(ReservedWords));
    for (const TRecordField& f : Fields) {
        const std::string name = ValidName(f.Name, 64, "V", used);
        TKind kind = kNumber;
        const char* format = "F20.0";
        std::string decimals;
        int width = 0;
        switch (f.DataType) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint: break;
        case ftFloat: format = "F40.16"; break;
        case ftBCD:
        case ftFMTBcd:
            // A decimal shows its own scale (numeric(10,2) as F40.2); the value keeps every digit.
            decimals = "F40." + std::to_string(f.Size >= 0 && f.Size <= 16 ? f.Size : 16);
            format = decimals.c_str();
            break;
        case ftCurrency: format = "F20.4"; break;
        case ftBoolean: format = "F1.0"; break;
        case ftDate: kind = kDate; format = "DATE11"; break;
        case ftTime: kind = kDate; format = "TIME12.3"; break;
        case ftDateTime:
        case ftTimeStamp: kind = kDate; format = "DATETIME24.3"; break;
        default:
            kind = kText;
            format = nullptr;
            width = f.Size > 0 ? std::min(32767, f.Size * 4) : 255;
            break;
        }
        readstat_variable_t* v = readstat_add_variable(FWriter->Writer, name.c_str(),
                                                       kind == kText ? READSTAT_TYPE_STRING : READSTAT_TYPE_DOUBLE,
                                                       static_cast<size_t>(width));
        if (!f.Caption.empty())
            readstat_variable_set_label(v, f.Caption.c_str());
        if (format)
            readstat_variable_set_format(v, format);
        readstat_variable_set_measure(v, kind == kText ? READSTAT_MEASURE_NOMINAL : READSTAT_MEASURE_SCALE);
        FWriter->Variables.push_back(v);
        FKinds.push_back(kind);
        FWidths.push_back(width);
    }
    // A source that cannot count its records before the walk begins the file with the
    // largest count; the true one is put in when the table is whole.
    FWriter->Declared = FRecordCount >= 0 ? FRecordCount : INT_MAX;
    Check(readstat_begin_writing_sav(FWriter->Writer, &FWriter->Sink, FWriter->Declared), -1);
}

void TKVExportToSPSS::WriteRecord(int, const std::vector<Variant>& Values)
{
    readstat_writer_t* w = FWriter->Writer;
    if (w->current_row >= w->row_count)
        w->row_count = INT_MAX; // more records than counted: the count is put in at the end
    Check(readstat_begin_row(w), -1);
    if (FWriter->DictionaryEnd < 0)
        FWriter->DictionaryEnd = FStream->Position(); // the first row writes the dictionary
    for (std::size_t i = 0; i < Values.size() && i < FKinds.size(); ++i) {
        const int field = static_cast<int>(i);
        const Variant& value = Values[i];
        readstat_variable_t* v = FWriter->Variables[i];
        if (value.IsNull() || value.IsEmpty()) {
            if (FKinds[i] == kText) {
                Count("null texts were written as empty texts, which SPSS cannot tell apart", field);
                Check(readstat_insert_string_value(w, v, ""), field);
            } else {
                Check(readstat_insert_missing_value(w, v), field);
            }
            continue;
        }
        switch (FKinds[i]) {
        case kNumber: {
            double number;
            if (value.VarType() == varInteger) {
                const std::int64_t whole = value.AsInteger();
                number = static_cast<double>(whole);
                if (!DoubleHoldsInteger(whole))
                    Count("whole numbers have no exact double and were rounded to the nearest", field);
            } else {
                number = value.AsDouble();
                if (number == -DBL_MAX)
                    Count("numbers were the lowest double, which SPSS keeps for its missing value; they read back "
                          "as missing", field);
            }
            Check(readstat_insert_double_value(w, v, number), field);
            break;
        }
        case kDate: {
            // Seconds since 1582-10-14, or of the day for a time, in milliseconds: a double of
            // today's seconds holds no finer steps.
            const double serial = value.AsDateTime();
            const bool time = Fields()[i].DataType == ftTime;
            const TDayAndTime t = DayAndTime(serial, time ? epSerial : epGregorian, tuMillisecond);
            if (!time && t.Day < 0)
                Refuse(field, "SPSS dates begin on 1582-10-14");
            if (SerialMicroseconds(serial) % 1000 != 0)
                Count("times had microseconds, which SPSS's seconds hold only to the millisecond; they were rounded",
                      field);
            const double seconds = time ? t.Seconds() : static_cast<double>(t.Day) * 86400.0 + t.Seconds();
            Check(readstat_insert_double_value(w, v, seconds), field);
            break;
        }
        case kText: {
            const std::string text = ExactValueText(value);
            if (text.find('\0') != std::string::npos)
                Refuse(field, "an SPSS string cannot hold a NUL byte");
            if (!text.empty() && text.back() == ' ')
                Count("texts ended in blanks, which SPSS pads its strings with; readers drop them", field);
            if (static_cast<int>(text.size()) > FWidths[i])
                Refuse(field, "the text of " + std::to_string(text.size()) + " bytes does not fit the variable's "
                                  + std::to_string(FWidths[i]));
            Check(readstat_insert_string_value(w, v, text.c_str()), field);
            break;
        }
        }
    }
    Check(readstat_end_row(w), -1);
}

void TKVExportToSPSS::EndTable()
{
    readstat_writer_t* w = FWriter->Writer;
    const int written = w->current_row;
    const bool mend = written != w->row_count;
    w->row_count = written;
    Check(readstat_end_writing(w), -1);
    if (mend)
        MendCaseCount(written);
}

void TKVExportToSPSS::MendCaseCount(int Cases)
{
    // The case count is held twice: as 32 bits at offset 80 of the file header, and as
    // 64 bits in the extension record of type 7, subtype 16, which ReadStat writes as
    // 7, 16, 8 (bytes an item), 2 (items), 1, then the count.
    const std::int64_t end = FStream->Position();
    const auto put = [this](std::int64_t At, std::int64_t Value, int Bytes) {
        unsigned char bytes[8];
        for (int i = 0; i < Bytes; ++i)
            bytes[i] = static_cast<unsigned char>(static_cast<std::uint64_t>(Value) >> (8 * i));
        FStream->Seek(At, soBeginning);
        FStream->WriteBuffer(bytes, Bytes);
    };
    put(80, Cases, 4);
    const unsigned char signature[24] = {7, 0, 0, 0, 16, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0};
    std::string head(static_cast<std::size_t>(FWriter->DictionaryEnd < 0 ? end : FWriter->DictionaryEnd), '\0');
    FStream->Seek(0, soBeginning);
    FStream->ReadBuffer(head.data(), static_cast<std::int64_t>(head.size()));
    const std::size_t at = head.find(std::string(reinterpret_cast<const char*>(signature), sizeof signature));
    if (at == std::string::npos)
        throw Exception(TargetName() + ": cannot find the SPSS file's case count to put in");
    put(static_cast<std::int64_t>(at + sizeof signature), Cases, 8);
    FStream->Seek(end, soBeginning);
}

void TKVExportToSPSS::CloseTable()
{
    FWriter.reset();
}
