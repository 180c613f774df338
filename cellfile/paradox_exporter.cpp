#include "cellfile/paradox_exporter.h"

#include "framework/exceptions.h"
#include "framework/files.h"
#include "spec/text_utils.h"

extern "C" {
#include <paradox.h>
}

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <unistd.h>

// pxlib writes to a C stream, and for every record it seeks and reads back parts of the
// block it fills, a few hundred small reads a record. That stream is a cookie stream over
// a TTailCache: the last few megabytes of the table in memory, where those reads land, and
// the rest in a file without a name in the temporary folder, so that memory stays flat
// however large the table grows. The whole table is then copied to the pipeline's own
// stream (the temporary file beside the target) when it is complete. pxlib reports
// failures through its error handler, whose first message is kept and raised once pxlib
// has returned.
namespace {

// A stream whose first and last bytes are held in memory and the others in a file without
// a name; reads and writes anywhere work, those at the start (the table's header, which
// pxlib updates for every record) and near the end cost no system call.
class TTailCache : public TStream {
public:
    TTailCache() : FHandle(CreateAnonymousFile()) {}
    ~TTailCache() override { ::close(FHandle); }

    std::int64_t Read(void* Buffer, std::int64_t Count) override
    {
        const std::int64_t n = std::max<std::int64_t>(0, std::min(Count, Size() - FPosition));
        Transfer(static_cast<char*>(Buffer), n, false);
        return n;
    }
    std::int64_t Write(const void* Buffer, std::int64_t Count) override
    {
        if (FPosition + Count > Size())
            FTail.resize(static_cast<std::size_t>(FPosition + Count - FSpilled), '\0');
        Transfer(const_cast<char*>(static_cast<const char*>(Buffer)), Count, true);
        Spill();
        return Count;
    }
    std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override
    {
        const std::int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : Size();
        if (base + Offset < 0)
            throw EStreamError("Seek before the start of the Paradox table");
        FPosition = base + Offset;
        return FPosition;
    }
    void SetSize(std::int64_t NewSize) override
    {
        if (NewSize < FSpilled)
            throw EStreamError("The Paradox table cannot be cut into its written part");
        FTail.resize(static_cast<std::size_t>(NewSize - FSpilled), '\0');
    }
    std::int64_t Size() override { return FSpilled + static_cast<std::int64_t>(FTail.size()); }

    // Writes the whole content to Target, a piece at a time.
    void CopyTo(TStream& Target)
    {
        Target.WriteBuffer(FHead.data(), static_cast<std::int64_t>(FHead.size()));
        std::string piece(1 << 20, '\0');
        for (std::int64_t at = static_cast<std::int64_t>(FHead.size()); at < FSpilled;) {
            const std::int64_t n = std::min<std::int64_t>(static_cast<std::int64_t>(piece.size()), FSpilled - at);
            FPosition = at;
            Transfer(piece.data(), n, false);
            Target.WriteBuffer(piece.data(), n);
            at += n;
        }
        Target.WriteBuffer(FTail.data(), static_cast<std::int64_t>(FTail.size()));
    }

private:
    // The bytes kept in memory: a Paradox block is at most 32 KB, and pxlib reads back
    // only the block it fills and the header.
    static constexpr std::size_t Kept = 4 << 20;
    // The bytes kept in memory at the start: the header (at most a few blocks).
    static constexpr std::size_t HeadSize = 64 << 10;

    // Moves Count bytes between Buffer and the stream at the position (which it advances):
    // the part before the tail through the file, the rest in memory.
    void Transfer(char* Buffer, std::int64_t Count, bool Writing)
    {
        while (Count > 0 && FPosition < static_cast<std::int64_t>(FHead.size())) {
            const std::int64_t n = std::min(Count, static_cast<std::int64_t>(FHead.size()) - FPosition);
            if (Writing)
                std::memcpy(FHead.data() + FPosition, Buffer, static_cast<std::size_t>(n));
            else
                std::memcpy(Buffer, FHead.data() + FPosition, static_cast<std::size_t>(n));
            Buffer += n;
            Count -= n;
            FPosition += n;
        }
        while (Count > 0 && FPosition < FSpilled) {
            const std::int64_t n = std::min(Count, FSpilled - FPosition);
            const ssize_t done = Writing ? ::pwrite(FHandle, Buffer, static_cast<std::size_t>(n), FPosition)
                                         : ::pread(FHandle, Buffer, static_cast<std::size_t>(n), FPosition);
            if (done <= 0)
                throw EStreamError(std::string("Cannot ") + (Writing ? "write" : "read")
                                   + " the Paradox table's temporary file: " + std::strerror(errno));
            Buffer += done;
            Count -= done;
            FPosition += done;
        }
        if (Count <= 0)
            return;
        char* tail = FTail.data() + (FPosition - FSpilled);
        if (Writing)
            std::memcpy(tail, Buffer, static_cast<std::size_t>(Count));
        else
            std::memcpy(Buffer, tail, static_cast<std::size_t>(Count));
        FPosition += Count;
    }

    // Puts all but the last Kept bytes into the file once twice that is held.
    void Spill()
    {
        if (FTail.size() < 2 * Kept)
            return;
        const std::size_t n = FTail.size() - Kept;
        std::size_t done = 0;
        if (FSpilled == 0) {
            FHead.assign(FTail, 0, HeadSize);
            done = HeadSize;
        }
        while (done < n) {
            const ssize_t w = ::pwrite(FHandle, FTail.data() + done, n - done, FSpilled + static_cast<off_t>(done));
            if (w <= 0)
                throw EStreamError(std::string("Cannot write the Paradox table's temporary file: ")
                                   + std::strerror(errno));
            done += static_cast<std::size_t>(w);
        }
        FTail.erase(0, n);
        FSpilled += static_cast<std::int64_t>(n);
    }

    int FHandle;
    std::string FHead; // [0, HeadSize) once anything is spilled
    std::string FTail;
    std::int64_t FSpilled = 0;
    std::int64_t FPosition = 0;
};

ssize_t CookieRead(void* Cookie, char* Buffer, size_t Size)
{
    try {
        return static_cast<ssize_t>(static_cast<TStream*>(Cookie)->Read(Buffer, static_cast<std::int64_t>(Size)));
    } catch (...) {
        return -1;
    }
}

ssize_t CookieWrite(void* Cookie, const char* Buffer, size_t Size)
{
    try {
        static_cast<TStream*>(Cookie)->WriteBuffer(Buffer, static_cast<std::int64_t>(Size));
        return static_cast<ssize_t>(Size);
    } catch (...) {
        return -1;
    }
}

int CookieSeek(void* Cookie, off64_t* Position, int Whence)
{
    try {
        const TSeekOrigin origin = Whence == SEEK_SET ? soBeginning : Whence == SEEK_CUR ? soCurrent : soEnd;
        *Position = static_cast<off64_t>(static_cast<TStream*>(Cookie)->Seek(*Position, origin));
        return 0;
    } catch (...) {
        return -1;
    }
}

int CookieClose(void*)
{
    return 0;
}

void KeepError(pxdoc_t*, int, const char* Message, void* Data)
{
    auto* error = static_cast<std::string*>(Data);
    if (error->empty())
        *error = Message ? Message : "Paradox writer error";
}

} // namespace

struct TKVExportToParadox::TTable {
    pxdoc_t* Doc = nullptr;
    TTailCache Memory;
    FILE* File = nullptr;
    std::string Error;
    std::vector<int> Offsets;
    std::vector<char> Record;
    long long MaxRecords = 0; // what FMaxBlocks hold
    ~TTable()
    {
        if (Doc) {
            PX_close(Doc);
            PX_delete(Doc);
        }
        if (File)
            std::fclose(File);
    }
};

TKVExportToParadox::TKVExportToParadox(QObject* AOwner) : TKVExportToRecordFile(AOwner)
{
    SetTableType(teParadox);
}

TKVExportToParadox::~TKVExportToParadox() = default;

void TKVExportToParadox::BeginTable(const std::vector<TRecordField>& Fields)
{
    if (Fields.empty())
        throw Exception(TargetName() + ": a Paradox table needs at least one field");
    if (Fields.size() > 255)
        throw Exception(TargetName() + ": a Paradox table holds at most 255 fields; " + std::to_string(Fields.size())
                        + " columns are visible");
    StrToOem("", CodePage); // a code page the system cannot convert to is refused now
    FTable = std::make_unique<TTable>();
    FTable->Doc = PX_new3(KeepError, nullptr, nullptr, nullptr, &FTable->Error);
    if (!FTable->Doc)
        throw Exception(TargetName() + ": cannot start the Paradox writer");
    pxdoc_t* doc = FTable->Doc;
    auto* fields = static_cast<pxfield_t*>(doc->malloc(doc, Fields.size() * sizeof(pxfield_t), "Paradox fields"));
    std::set<std::string> used;
    int recordSize = 0;
    for (std::size_t i = 0; i < Fields.size(); ++i) {
        const TRecordField& f = Fields[i];
        char type = pxfAlpha;
        int length = f.Size > 0 ? std::min(255, f.Size) : 255;
        int storage = length;
        switch (f.DataType) {
        case ftSmallint: type = pxfShort; length = storage = 2; break;
        case ftInteger:
        case ftWord:
        case ftAutoInc: type = pxfLong; length = storage = 4; break;
        case ftLargeint:
        case ftFloat:
        case ftBCD:
        case ftFMTBcd: type = pxfNumber; length = storage = 8; break;
        case ftCurrency: type = pxfCurrency; length = storage = 8; break;
        case ftBoolean: type = pxfLogical; length = storage = 1; break;
        case ftDate: type = pxfDate; length = storage = 4; break;
        case ftTime: type = pxfTime; length = storage = 4; break;
        case ftDateTime:
        case ftTimeStamp: type = pxfTimestamp; length = storage = 8; break;
        case ftGraphic: length = storage = 1; break;
        default: break;
        }
        const std::string name = ValidName(f.Name, 25, "F", used);
        fields[i].px_fname = static_cast<char*>(doc->malloc(doc, name.size() + 1, "Paradox field name"));
        std::memcpy(fields[i].px_fname, name.c_str(), name.size() + 1);
        fields[i].px_ftype = type;
        fields[i].px_flen = length;
        fields[i].px_fdc = 0;
        FTable->Offsets.push_back(recordSize);
        recordSize += storage;
    }
    if (recordSize > 4000)
        throw Exception(TargetName() + ": a Paradox record holds at most 4000 bytes; these fields take "
                        + std::to_string(recordSize));
    cookie_io_functions_t io{CookieRead, CookieWrite, CookieSeek, CookieClose};
    FTable->File = fopencookie(&FTable->Memory, "w+", io);
    if (!FTable->File)
        throw Exception(TargetName() + ": cannot open the Paradox table for writing");
    if (PX_create_fp(doc, fields, static_cast<int>(Fields.size()), FTable->File, pxfFileTypNonIndexDB) < 0)
        throw Exception(TargetName() + ": cannot create the Paradox table: " + FTable->Error);
    // pxlib sizes the blocks after the record (2 KB up to 79 bytes, 3 KB up to 139, 16 KB
    // beyond) and has no setter; no block is written yet, and the header is written again
    // when the table closes. A block holds as many whole records as fit after its 6 bytes
    // of links and size.
    doc->px_head->px_maxtablesize = BlockKilobytes;
    FTable->MaxRecords = static_cast<long long>(FMaxBlocks) * ((BlockKilobytes * 1024 - 6) / recordSize);
    const std::string table = ChangeFileExt(ExtractFileName(TargetName()), "");
    PX_set_tablename(doc, table.c_str());
    PX_set_value(doc, "codepage", static_cast<float>(CodePage));
    FTable->Record.assign(static_cast<std::size_t>(recordSize), '\0');
}

void TKVExportToParadox::PutValue(int Field, char* Data, const Variant& Value)
{
    pxdoc_t* doc = FTable->Doc;
    pxfield_t* field = PX_get_field(doc, Field);
    const int length = field->px_flen;
    // Paradox counts days from 0001-01-01 as day 1 and times in milliseconds.
    const auto dayAndTime = [&](double DateTime) {
        if (SerialMicroseconds(DateTime) % 1000 != 0)
            Count("times had microseconds, which Paradox holds only to the millisecond; they were rounded", Field);
        const TDayAndTime t = DayAndTime(DateTime, epYearOne, tuMillisecond);
        if (t.Day < 1)
            Refuse(Field, "Paradox dates begin in the year 1");
        return t;
    };
    switch (field->px_ftype) {
    case pxfShort: PX_put_data_short(doc, Data, length, static_cast<short>(Value.AsInteger())); break;
    case pxfLong: PX_put_data_long(doc, Data, length, static_cast<int>(Value.AsInteger())); break;
    case pxfNumber:
    case pxfCurrency: {
        const double number = Value.AsDouble();
        if (Value.VarType() == varInteger && static_cast<long double>(number) != static_cast<long double>(Value.AsInteger()))
            Count("whole numbers have no exact double and were rounded to the nearest", Field);
        PX_put_data_double(doc, Data, 8, number);
        break;
    }
    case pxfLogical: PX_put_data_byte(doc, Data, 1, Value.AsBoolean() ? 1 : 0); break;
    case pxfDate: PX_put_data_long(doc, Data, 4, static_cast<int>(dayAndTime(Value.AsDateTime()).Day)); break;
    case pxfTime:
        if (SerialMicroseconds(Value.AsDateTime()) % 1000 != 0)
            Count("times had microseconds, which Paradox holds only to the millisecond; they were rounded", Field);
        PX_put_data_long(doc, Data, 4,
                         static_cast<int>(DayAndTime(Value.AsDateTime(), epSerial, tuMillisecond).MicrosecondOfDay / 1000));
        break;
    case pxfTimestamp: {
        const TDayAndTime t = dayAndTime(Value.AsDateTime());
        PX_put_data_double(doc, Data, 8,
                           static_cast<double>(t.Day) * 86400000.0 + static_cast<double>(t.MicrosecondOfDay / 1000));
        break;
    }
    default: {
        const std::string utf8 = ExactValueText(Value);
        std::string text = StrToOem(utf8, CodePage);
        if (std::count(text.begin(), text.end(), '?') > std::count(utf8.begin(), utf8.end(), '?'))
            Count("texts held characters code page " + std::to_string(CodePage) + " has no form for; they became \"?\"",
                  Field);
        if (text.find('\0') != std::string::npos)
            Refuse(Field, "a Paradox text cannot hold a NUL byte");
        if (text.empty())
            Count("empty texts were written as Paradox's blank, which reads back as null", Field);
        if (static_cast<int>(text.size()) > length)
            Refuse(Field, "the text of " + std::to_string(text.size()) + " bytes does not fit the field's "
                              + std::to_string(length));
        PX_put_data_alpha(doc, Data, length, text.data());
        break;
    }
    }
}

void TKVExportToParadox::WriteRecord(int, const std::vector<Variant>& Values)
{
    // Past the last block the header's counters would wrap and the records behind them
    // could not be found.
    if (RecordNumber() > FTable->MaxRecords) {
        const std::string most = std::to_string(FTable->MaxRecords);
        const std::string split =
            RowsPerFile > 0 ? " (a RowsPerFile of at most " + most + " splits the rows into tables that hold them)" : "";
        Refuse(-1, "a Paradox table holds at most " + std::to_string(FMaxBlocks) + " blocks (" + most + " records of "
                       + std::to_string(FTable->Record.size()) + " bytes); this record does not fit" + split);
    }
    std::fill(FTable->Record.begin(), FTable->Record.end(), '\0');
    for (std::size_t i = 0; i < Values.size(); ++i) {
        const int field = static_cast<int>(i);
        char* data = FTable->Record.data() + FTable->Offsets[i];
        if (Values[i].IsNull() || Values[i].IsEmpty())
            continue; // all bytes zero: Paradox's blank
        PutValue(field, data, Values[i]);
    }
    if (PX_put_record(FTable->Doc, FTable->Record.data()) < 0 || !FTable->Error.empty())
        Refuse(-1, "cannot write the record: " + FTable->Error);
}

void TKVExportToParadox::EndTable()
{
    PX_close(FTable->Doc);
    PX_delete(FTable->Doc);
    FTable->Doc = nullptr;
    const bool flushed = std::fflush(FTable->File) == 0;
    std::fclose(FTable->File);
    FTable->File = nullptr;
    if (!flushed || !FTable->Error.empty())
        throw Exception(TargetName() + ": cannot finish the Paradox table: " + FTable->Error);
    FTable->Memory.CopyTo(*FStream);
}

void TKVExportToParadox::CloseTable()
{
    FTable.reset();
}
