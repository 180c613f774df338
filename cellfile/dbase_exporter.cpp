#include "cellfile/dbase_exporter.h"

#include "framework/exceptions.h"
#include "framework/files.h"
#include "spec/text_utils.h"

#include <shapefil.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

// shapelib reaches the file only through its hooks, which here are the pipeline's own
// stream (the temporary file beside the target): "opening" hands out that stream and
// closing leaves it to the pipeline. The hooks carry no user pointer, so the stream of
// the table being written is held for the thread; a failure is kept and raised once
// shapelib has returned, never thrown through its C frames.
namespace {

thread_local TStream* DbfStream = nullptr;
thread_local std::string DbfError;

void Fail(const std::string& Message)
{
    if (DbfError.empty())
        DbfError = Message;
}

SAFile DbfOpen(const char*, const char*)
{
    return reinterpret_cast<SAFile>(DbfStream);
}

TStream* StreamOf(SAFile File)
{
    return reinterpret_cast<TStream*>(File);
}

SAOffset DbfRead(void* Buffer, SAOffset Size, SAOffset Count, SAFile File)
{
    try {
        return static_cast<SAOffset>(StreamOf(File)->Read(Buffer, static_cast<std::int64_t>(Size * Count))) / (Size ? Size : 1);
    } catch (const Exception& e) {
        Fail(e.Message());
        return 0;
    }
}

SAOffset DbfWrite(void* Buffer, SAOffset Size, SAOffset Count, SAFile File)
{
    try {
        StreamOf(File)->WriteBuffer(Buffer, static_cast<std::int64_t>(Size * Count));
        return Count;
    } catch (const Exception& e) {
        Fail(e.Message());
        return 0;
    }
}

SAOffset DbfSeek(SAFile File, SAOffset Offset, int Whence)
{
    try {
        const TSeekOrigin origin = Whence == SEEK_SET ? soBeginning : Whence == SEEK_CUR ? soCurrent : soEnd;
        StreamOf(File)->Seek(static_cast<std::int64_t>(Offset), origin);
        return 0;
    } catch (const Exception& e) {
        Fail(e.Message());
        return static_cast<SAOffset>(-1);
    }
}

SAOffset DbfTell(SAFile File)
{
    return static_cast<SAOffset>(StreamOf(File)->Position());
}

int DbfFlush(SAFile)
{
    return 0;
}

int DbfClose(SAFile)
{
    return 0;
}

int DbfRemove(const char*)
{
    return 0;
}

void DbfErrorHook(const char* Message)
{
    Fail(Message ? Message : "dBase writer error");
}

double DbfAtof(const char* Text)
{
    return std::atof(Text);
}

// Language-driver bytes of the code pages a dBase table names in its header.
const struct {
    int CodePage;
    int Driver;
} Drivers[] = {
    {437, 0x01}, {850, 0x02}, {1252, 0x03}, {865, 0x66}, {866, 0x65}, {852, 0x64},
    {1250, 0xC8}, {1251, 0xC9}, {1253, 0xCB}, {1254, 0xCA}, {737, 0x6A}, {857, 0x6B},
};

std::string RightAligned(const std::string& Text, int Width)
{
    return std::string(static_cast<std::size_t>(std::max(0, Width - static_cast<int>(Text.size()))), ' ') + Text;
}

// A whole number's text with Decimals places after the point.
std::string Scaled(std::int64_t Units, int Decimals)
{
    if (Decimals <= 0)
        return std::to_string(Units);
    const bool negative = Units < 0;
    std::string digits = std::to_string(Units);
    if (negative)
        digits.erase(0, 1);
    if (digits.size() <= static_cast<std::size_t>(Decimals))
        digits.insert(0, static_cast<std::size_t>(Decimals) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(Decimals), ".");
    return (negative ? "-" : "") + digits;
}

} // namespace

struct TKVExportToDBase::THandle {
    DBFHandle Dbf = nullptr;
};

TKVExportToDBase::TKVExportToDBase(QObject* AOwner) : TKVExportToRecordFile(AOwner)
{
    SetTableType(teDBase);
}

TKVExportToDBase::~TKVExportToDBase()
{
    CloseTable();
}

int TKVExportToDBase::LanguageDriver(int CodePage)
{
    for (const auto& d : Drivers)
        if (d.CodePage == CodePage)
            return d.Driver;
    return 0;
}

std::string TKVExportToDBase::CodePageName(int CodePage)
{
    return CodePage == 0 ? "UTF-8" : std::to_string(CodePage);
}

void TKVExportToDBase::BeginTable(const std::vector<TRecordField>& Fields)
{
    const int bytesPerCharacter = CodePage == 0 ? 4 : 1;
    FDbf.clear();
    std::set<std::string> used;
    std::vector<std::string> names;
    int recordLength = 1;
    for (const TRecordField& f : Fields) {
        TDbfField d;
        d.Source = f.DataType;
        switch (f.DataType) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc: d = {'N', 11, 0, f.DataType}; break;
        case ftLargeint: d = {'N', 20, 0, f.DataType}; break;
        case ftFloat: d = {'F', 24, 0, f.DataType}; break;
        case ftCurrency: d = {'N', 20, 4, f.DataType}; break;
        case ftBCD:
        case ftFMTBcd: d = {'N', 20, std::clamp(f.Size, 0, 15), f.DataType}; break;
        case ftBoolean: d = {'L', 1, 0, f.DataType}; break;
        case ftDate: d = {'D', 8, 0, f.DataType}; break;
        case ftDateTime:
        case ftTimeStamp: d = {'C', 26, 0, f.DataType}; break;
        case ftTime: d = {'C', 15, 0, f.DataType}; break;
        case ftGraphic: d = {'C', 1, 0, f.DataType}; break;
        default: d = {'C', f.Size > 0 ? std::min(254, f.Size * bytesPerCharacter) : 254, 0, f.DataType}; break;
        }
        FDbf.push_back(d);
        names.push_back(ValidName(f.Name, 10, "F", used));
        recordLength += d.Width;
    }
    if (Fields.empty())
        throw Exception(TargetName() + ": a dBase table needs at least one field");
    if (Fields.size() > 255)
        throw Exception(TargetName() + ": a dBase table holds at most 255 fields; " + std::to_string(Fields.size())
                        + " columns are visible");
    if (recordLength > 65535)
        throw Exception(TargetName() + ": a dBase record holds at most 65535 bytes; these fields take "
                        + std::to_string(recordLength));
    if (CodePage != 0)
        StrToOem("", CodePage); // a code page the system cannot convert to is refused now

    FHandle = std::make_unique<THandle>();
    SAHooks hooks{};
    hooks.FOpen = DbfOpen;
    hooks.FRead = DbfRead;
    hooks.FWrite = DbfWrite;
    hooks.FSeek = DbfSeek;
    hooks.FTell = DbfTell;
    hooks.FFlush = DbfFlush;
    hooks.FClose = DbfClose;
    hooks.Remove = DbfRemove;
    hooks.Error = DbfErrorHook;
    hooks.Atof = DbfAtof;
    DbfStream = FStream;
    DbfError.clear();
    FHandle->Dbf = DBFCreateLL((TargetName() + ".dbf").c_str(), nullptr, &hooks);
    if (!FHandle->Dbf)
        throw Exception(TargetName() + ": cannot create the dBase table: " + DbfError);
    FHandle->Dbf->iLanguageDriver = LanguageDriver(CodePage);
    for (std::size_t i = 0; i < FDbf.size(); ++i)
        if (DBFAddNativeFieldType(FHandle->Dbf, names[i].c_str(), FDbf[i].Type, FDbf[i].Width, FDbf[i].Decimals) < 0)
            throw Exception(TargetName() + ": cannot add the field " + names[i] + ": " + DbfError);
    FRecord = 0;

    FCodePageFile = std::make_unique<TFileReplacement>(ChangeFileExt(TargetName(), ".cpg"));
    const std::string name = CodePageName(CodePage) + "\n";
    if (::write(FCodePageFile->Handle(), name.data(), name.size()) != static_cast<ssize_t>(name.size()))
        throw EFCreateError(FCodePageFile->Target() + ": " + std::strerror(errno));
}

std::string TKVExportToDBase::Stored(const std::string& Utf8, int Field)
{
    if (Utf8.find('\0') != std::string::npos)
        Refuse(Field, "a dBase text cannot hold a NUL byte");
    if (!Utf8.empty() && Utf8.back() == ' ')
        Count("texts ended in blanks, which dBase pads its fields with; readers drop them", Field);
    if (CodePage == 0)
        return Utf8;
    const std::string converted = StrToOem(Utf8, CodePage);
    if (std::count(converted.begin(), converted.end(), '?') > std::count(Utf8.begin(), Utf8.end(), '?'))
        Count("texts held characters code page " + std::to_string(CodePage) + " has no form for; they became \"?\"",
              Field);
    return converted;
}

std::string TKVExportToDBase::FieldText(int Field, const Variant& Value)
{
    const TDbfField& d = FDbf[static_cast<std::size_t>(Field)];
    std::string text;
    switch (d.Type) {
    case 'L': text = Value.AsBoolean() ? "T" : "F"; break;
    case 'D': {
        const TDateTimeParts p = DateTimeParts(Value.AsDateTime());
        if (p.Year < 1 || p.Year > 9999)
            Refuse(Field, "the year " + std::to_string(p.Year) + " is outside the 1..9999 a dBase date holds");
        char buf[16];
        std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.Year, p.Month, p.Day);
        text = buf;
        break;
    }
    case 'N':
    case 'F':
        if (Value.VarType() == varCurrency) {
            text = Scaled(Value.AsScaledCurrency(), 4);
        } else if (Value.VarType() == varString) {
            // A decimal the source keeps as text goes with its own digits.
            text = Value.StringRef();
            char* end = nullptr;
            std::strtod(text.c_str(), &end);
            if (text.empty() || end != text.c_str() + text.size() || text.find_first_of("xXnN") != std::string::npos)
                Refuse(Field, "the text " + text + " is not a number");
        } else if (Value.VarType() == varInteger || Value.VarType() == varBoolean) {
            text = Scaled(Value.AsInteger(), 0);
            if (d.Decimals > 0)
                text += "." + std::string(static_cast<std::size_t>(d.Decimals), '0');
        } else {
            const double v = Value.AsDouble();
            if (!std::isfinite(v))
                Refuse(Field, "dBase numbers cannot hold " + ExactDouble(v));
            if (d.Decimals > 0) {
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.*f", d.Decimals, v);
                text = buf;
                if (std::strtod(buf, nullptr) != v)
                    text = ExactDouble(v); // more digits than the declared scale: all of them
            } else {
                text = ExactDouble(v);
            }
        }
        if (static_cast<int>(text.size()) > d.Width)
            Refuse(Field, "the number " + text + " does not fit the field's " + std::to_string(d.Width) + " places");
        return RightAligned(text, d.Width);
    default:
        switch (d.Source) {
        case ftDateTime:
        case ftTimeStamp:
        case ftTime: {
            const TDateTimeParts p = DateTimeParts(Value.AsDateTime());
            text = d.Source == ftTime ? IsoTimeText(p) : IsoDateTimeText(p);
            break;
        }
        default: text = Stored(ExactValueText(Value), Field); break;
        }
        if (static_cast<int>(text.size()) > d.Width)
            Refuse(Field, "the text of " + std::to_string(text.size()) + " bytes does not fit the field's "
                              + std::to_string(d.Width));
        return text + std::string(static_cast<std::size_t>(d.Width) - text.size(), ' ');
    }
    return text;
}

void TKVExportToDBase::WriteRecord(int, const std::vector<Variant>& Values)
{
    DbfStream = FStream;
    for (std::size_t i = 0; i < Values.size() && i < FDbf.size(); ++i) {
        const int field = static_cast<int>(i);
        int done;
        if (Values[i].IsNull() || Values[i].IsEmpty()) {
            if (FDbf[i].Type == 'C' && FDbf[i].Source != ftGraphic)
                Count("null texts were written as empty texts, which dBase cannot tell apart", field);
            // Blanks, which dBase readers take as no value (shapelib's "*" filler
            // means a number too wide in dBase itself).
            const std::string blank(static_cast<std::size_t>(FDbf[i].Width), ' ');
            done = DBFWriteAttributeDirectly(FHandle->Dbf, FRecord, field, const_cast<char*>(blank.data()));
        } else {
            std::string text = FieldText(field, Values[i]);
            done = DBFWriteAttributeDirectly(FHandle->Dbf, FRecord, field, text.data());
        }
        if (!done || !DbfError.empty())
            Refuse(field, "cannot write the value: " + (DbfError.empty() ? std::string("dBase writer error") : DbfError));
    }
    ++FRecord;
}

void TKVExportToDBase::EndTable()
{
    DbfStream = FStream;
    DBFHandle dbf = FHandle->Dbf;
    FHandle->Dbf = nullptr;
    DBFClose(dbf);
    if (!DbfError.empty())
        throw Exception(TargetName() + ": " + DbfError);
    FCodePageFile->Commit();
    FCodePageFile.reset();
}

void TKVExportToDBase::CloseTable()
{
    if (FHandle && FHandle->Dbf) {
        DbfStream = FStream;
        DBFClose(FHandle->Dbf);
    }
    FHandle.reset();
    FCodePageFile.reset();
    DbfError.clear();
}
