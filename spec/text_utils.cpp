#include "text_utils.h"

#include "framework/data_set.h"
#include "framework/exceptions.h"
#include "framework/files.h"

#include <QMetaProperty>
#include <QObject>
#include <QStringList>
#include <QVariant>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unordered_map>

namespace {

// ---------------------------------------------------------------------------------
// Characters of the system's text

constexpr char32_t Unmappable = 0xFFFD;

// Code points of the Windows-1252 bytes 0x80..0x9F; the rest of the upper half is
// Latin-1. Unassigned bytes give U+FFFD.
constexpr std::array<char32_t, 32> Cp1252High = {
    0x20AC, Unmappable, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, Unmappable, 0x017D, Unmappable, Unmappable, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, Unmappable, 0x017E, 0x0178,
};

char32_t Cp1252ToUnicode(unsigned char B)
{
    if (B >= 0x80 && B < 0xA0)
        return Cp1252High[B - 0x80];
    return B;
}

// The length of the valid UTF-8 sequence that starts at S[I] (1..4), with its code
// point in CodePoint; 0 when no valid multi-byte sequence starts there (overlong
// forms, surrogates and values beyond U+10FFFF are not valid).
std::size_t Utf8SequenceAt(const std::string& S, std::size_t I, char32_t& CodePoint)
{
    const unsigned char Lead = static_cast<unsigned char>(S[I]);
    if (Lead < 0x80) {
        CodePoint = Lead;
        return 1;
    }
    std::size_t Length;
    char32_t Value;
    char32_t Minimum;
    if (Lead >= 0xC2 && Lead <= 0xDF) {
        Length = 2;
        Value = Lead & 0x1F;
        Minimum = 0x80;
    } else if (Lead >= 0xE0 && Lead <= 0xEF) {
        Length = 3;
        Value = Lead & 0x0F;
        Minimum = 0x800;
    } else if (Lead >= 0xF0 && Lead <= 0xF4) {
        Length = 4;
        Value = Lead & 0x07;
        Minimum = 0x10000;
    } else {
        return 0;
    }
    if (I + Length > S.size())
        return 0;
    for (std::size_t K = 1; K < Length; ++K) {
        const unsigned char C = static_cast<unsigned char>(S[I + K]);
        if ((C & 0xC0) != 0x80)
            return 0;
        Value = (Value << 6) | (C & 0x3F);
    }
    if (Value < Minimum || Value > 0x10FFFF || (Value >= 0xD800 && Value <= 0xDFFF))
        return 0;
    CodePoint = Value;
    return Length;
}

// One character of S starting at I: a valid UTF-8 sequence, or else a single byte
// read as Windows-1252. Returns the number of bytes it takes.
std::size_t CharacterAt(const std::string& S, std::size_t I, char32_t& CodePoint)
{
    const std::size_t N = Utf8SequenceAt(S, I, CodePoint);
    if (N != 0)
        return N;
    CodePoint = Cp1252ToUnicode(static_cast<unsigned char>(S[I]));
    return 1;
}

std::size_t CharacterCount(const std::string& S)
{
    std::size_t Count = 0;
    char32_t Ignored;
    for (std::size_t I = 0; I < S.size(); I += CharacterAt(S, I, Ignored))
        ++Count;
    return Count;
}

// ---------------------------------------------------------------------------------
// OEM code pages

using TOemTable = std::unordered_map<char32_t, unsigned char>;

// The reverse of a DOS code page's upper half (0x80..0xFF), as the system's iconv
// knows it. ASCII is the same in every one of them and needs no table.
TOemTable BuildOemTable(int CodePage)
{
    const std::string Name = "CP" + std::to_string(CodePage);
    iconv_t Cd = iconv_open("UTF-32LE", Name.c_str());
    if (Cd == reinterpret_cast<iconv_t>(-1))
        throw EConvertError("The code page " + std::to_string(CodePage) + " is not supported by this system");
    TOemTable Table;
    for (int B = 0x80; B <= 0xFF; ++B) {
        char In = static_cast<char>(B);
        unsigned char Out[8] = {};
        char* InPtr = &In;
        std::size_t InLeft = 1;
        char* OutPtr = reinterpret_cast<char*>(Out);
        std::size_t OutLeft = sizeof Out;
        iconv(Cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(Cd, &InPtr, &InLeft, &OutPtr, &OutLeft) == static_cast<std::size_t>(-1) ||
            sizeof Out - OutLeft != 4)
            continue;
        const char32_t Cp = static_cast<char32_t>(Out[0] | (Out[1] << 8) | (Out[2] << 16) |
                                                  (static_cast<std::uint32_t>(Out[3]) << 24));
        Table.emplace(Cp, static_cast<unsigned char>(B)); // the first byte wins
    }
    iconv_close(Cd);
    return Table;
}

const TOemTable& OemTable(int CodePage)
{
    static std::mutex Lock;
    static std::map<int, TOemTable> Tables;
    std::lock_guard<std::mutex> Guard(Lock);
    auto It = Tables.find(CodePage);
    if (It == Tables.end())
        It = Tables.emplace(CodePage, BuildOemTable(CodePage)).first;
    return It->second;
}

std::string Lower(std::string S)
{
    for (char& C : S)
        if (C >= 'A' && C <= 'Z')
            C = static_cast<char>(C - 'A' + 'a');
    return S;
}

bool OneOf(const std::string& Value, std::initializer_list<const char*> List)
{
    for (const char* Item : List)
        if (Value == Item)
            return true;
    return false;
}

// ---------------------------------------------------------------------------------
// Table names

bool IsTableNameDelimiter(unsigned char C)
{
    if (C <= 32)
        return true;
    switch (C) {
    case 34: case 39: case 40: case 41: case 44: case 46: case 47: case 58: case 59:
    case 91: case 92: case 93: case 96: case 123: case 125:
        return true;
    default:
        return false;
    }
}

std::string ToBytes(const QString& S)
{
    const QByteArray Utf8 = S.toUtf8();
    return std::string(Utf8.constData(), static_cast<std::size_t>(Utf8.size()));
}

// The metaproperty a class publishes under Name, or an invalid one.
QMetaProperty PublishedProperty(const QObject* Object, const char* Name)
{
    const QMetaObject* Meta = Object->metaObject();
    const int Index = Meta->indexOfProperty(Name);
    return Index >= 0 ? Meta->property(Index) : QMetaProperty();
}

bool HoldsObject(const QMetaProperty& Property)
{
    return Property.isValid() && Property.metaType().flags().testFlag(QMetaType::PointerToQObject);
}

// The whole text of a published "SQL" property of a class type, every line followed
// by CR LF; empty when there is no such property.
std::string SqlText(QObject* DataSet)
{
    const QMetaProperty Sql = PublishedProperty(DataSet, "SQL");
    if (!Sql.isValid())
        return {};
    const QVariant Value = Sql.read(DataSet);
    if (HoldsObject(Sql)) {
        QObject* Lines = Value.value<QObject*>();
        if (Lines == nullptr)
            return {};
        const QMetaProperty Text = PublishedProperty(Lines, "Text");
        if (!Text.isValid())
            return {};
        const QVariant TextValue = Text.read(Lines);
        if (TextValue.metaType().id() == QMetaType::QStringList)
            return ToBytes(TextValue.toStringList().join("\r\n") + (TextValue.toStringList().isEmpty() ? "" : "\r\n"));
        return ToBytes(TextValue.toString());
    }
    if (Sql.metaType().id() == QMetaType::QStringList) {
        std::string Text;
        for (const QString& Line : Value.toStringList())
            Text += ToBytes(Line) + "\r\n";
        return Text;
    }
    return {};
}

bool NameIsFree(const std::string& Name)
{
    struct stat St {};
    return ::lstat(Name.c_str(), &St) != 0 && errno == ENOENT;
}

} // namespace

// ---------------------------------------------------------------------------------

std::string GetFileNameByGraphic(const std::string& FileName, int Index, TGraphicKind Kind, bool Enhanced)
{
    std::string Extension = ".bmp";
    if (Kind == gkMetafile)
        Extension = Enhanced ? ".emf" : ".wmf";
    else if (Kind == gkIcon)
        Extension = ".ico";

    if (!FileName.empty())
        return ExtractFilePath(FileName) + "img" + std::to_string(Index) + Extension;

    // The reserved .tmp name is given up again at once; the name with the picture's
    // extension is only handed out when nothing of that name exists, so the caller
    // never overwrites (or writes through a link to) somebody else's file.
    for (int Attempt = 0; Attempt < 100; ++Attempt) {
        const std::string Reserved = CreateTempFileName("KVE");
        DeleteFile(Reserved);
        const std::string Name = ChangeFileExt(Reserved, "") + Extension;
        if (NameIsFree(Name))
            return Name;
    }
    throw EFCreateError::CannotCreate(GetTempFolder() + "KVE*" + Extension, "No free temporary file name");
}

std::string GetFileNameByGraphic(const std::string& FileName, int Index, const TPicture* Picture)
{
    if (Picture == nullptr)
        return GetFileNameByGraphic(FileName, Index, gkNone);
    return GetFileNameByGraphic(FileName, Index, Picture->Kind(), Picture->Enhanced());
}

std::string GetFileNameByGraphic(const std::string& FileName, int Index, const TPicture& Picture)
{
    return GetFileNameByGraphic(FileName, Index, &Picture);
}

QObject* GetPropAsSelectedList(QObject* Component)
{
    if (Component == nullptr || !Component->isWidgetType())
        return nullptr;
    const QMetaProperty Property = PublishedProperty(Component, "SelectedRows");
    if (!HoldsObject(Property))
        return nullptr;
    return Property.read(Component).value<QObject*>();
}

std::string TblName(QObject* DataSet)
{
    if (DataSet == nullptr)
        return {};
    std::string Name;
    const QMetaProperty TableName = PublishedProperty(DataSet, "TableName");
    if (TableName.isValid())
        Name = ToBytes(TableName.read(DataSet).toString());
    if (Name.empty()) {
        std::string Text = SqlText(DataSet);
        const std::size_t From = Text.find("FROM ");
        if (From != std::string::npos)
            Text.erase(0, From + 5);
        std::size_t End = 0;
        while (End < Text.size() && !IsTableNameDelimiter(static_cast<unsigned char>(Text[End])))
            ++End;
        Name = Text.substr(0, End);
    }
    const std::size_t Dot = Name.find('.');
    if (Dot != std::string::npos)
        Name.erase(Dot);
    return Name;
}

std::string ReplaceHTMLSystemChars(const std::string& S)
{
    std::string Result;
    Result.reserve(S.size() + S.size() / 8);
    std::size_t I = 0;
    while (I < S.size()) {
        char32_t Cp = 0;
        std::size_t N = Utf8SequenceAt(S, I, Cp);
        if (N == 0) {
            // A byte outside any UTF-8 sequence: a Windows-1252 character.
            N = 1;
            Cp = Cp1252ToUnicode(static_cast<unsigned char>(S[I]));
        }
        const char* Entity = nullptr;
        switch (Cp) {
        case 10: Entity = "&car;"; break;
        case 13: Entity = "&ret;"; break;
        case '"': Entity = "&quot;"; break;
        case '&': Entity = "&amp;"; break;
        case '\'': Entity = "&apos;"; break;
        case '<': Entity = "&lt;"; break;
        case '>': Entity = "&gt;"; break;
        case '|': Entity = "&brvbar;"; break;
        case 0x2122: Entity = "&trade;"; break;
        case 0xA9: Entity = "&copy;"; break;
        case 0xB0: Entity = "&deg;"; break;
        case 0xB1: Entity = "&plusmn;"; break;
        case 0xB6: Entity = "&para;"; break;
        default: break;
        }
        if (Entity != nullptr)
            Result += Entity;
        else
            Result.append(S, I, N);
        I += N;
    }
    return Result;
}

bool IsNumericField(const TField* Field)
{
    if (Field == nullptr)
        return false;
    switch (Field->DataType()) {
    case ftSmallint: case ftInteger: case ftWord: case ftFloat: case ftCurrency:
    case ftBCD: case ftAutoInc: case ftLargeint:
        return true;
    default:
        return false;
    }
}

bool IsStringField(const TField* Field)
{
    if (Field == nullptr)
        return false;
    const TFieldType Type = Field->DataType();
    return Type == ftString || Type == ftMemo || Type == ftFmtMemo || Field->IsBlob();
}

int OemCodePageForLocale(const std::string& LocaleName)
{
    // "ll_CC.codeset@modifier": language and country decide.
    const std::string Name = Lower(LocaleName.substr(0, LocaleName.find_first_of(".@")));
    const std::size_t Bar = Name.find_first_of("_-");
    const std::string Language = Name.substr(0, Bar);
    const std::string Country = Bar == std::string::npos ? std::string() : Name.substr(Bar + 1);

    if (Language == "en")
        return OneOf(Country, {"gb", "ie", "au", "nz", "ca"}) ? 850 : 437;
    if (OneOf(Language, {"de", "fr", "es", "it", "nl", "pt", "sv", "da", "no", "nb", "nn", "fi", "is", "ca",
                         "eu", "gl", "af", "fo", "ga", "gd", "br", "oc", "lb", "rm", "fy", "ms", "id", "sw"}))
        return 850;
    if (OneOf(Language, {"ru", "uk", "be"}))
        return 866;
    if (OneOf(Language, {"pl", "cs", "sk", "hu", "sl", "hr", "ro", "sq", "bs"}))
        return 852;
    if (Language == "el")
        return 737;
    if (Language == "tr")
        return 857;
    if (OneOf(Language, {"lt", "lv", "et"}))
        return 775;
    if (Language == "he")
        return 862;
    return 437;
}

int OemCodePage()
{
    for (const char* Variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* Value = std::getenv(Variable);
        if (Value != nullptr && *Value != '\0')
            return OemCodePageForLocale(Value);
    }
    return 437;
}

std::string StrToOem(const std::string& S, int CodePage)
{
    if (S.empty())
        return {};
    const TOemTable& Table = OemTable(CodePage == 0 ? OemCodePage() : CodePage);
    std::string Result;
    Result.reserve(S.size());
    std::size_t I = 0;
    while (I < S.size()) {
        char32_t Cp = 0;
        I += CharacterAt(S, I, Cp);
        if (Cp < 0x80) {
            Result += static_cast<char>(Cp);
            continue;
        }
        const auto It = Table.find(Cp);
        Result += It == Table.end() ? '?' : static_cast<char>(It->second);
    }
    return Result;
}

std::string UECode(bool ToOem, const std::string& S)
{
    return ToOem ? StrToOem(S) : std::string();
}

std::string PadLSpace(const std::string& S, int Width)
{
    const std::size_t Count = CharacterCount(S);
    if (Width <= 0 || Count >= static_cast<std::size_t>(Width))
        return S;
    return std::string(static_cast<std::size_t>(Width) - Count, ' ') + S;
}

std::string PadRSpace(const std::string& S, int Width)
{
    const std::size_t Count = CharacterCount(S);
    if (Width <= 0 || Count >= static_cast<std::size_t>(Width))
        return S;
    return S + std::string(static_cast<std::size_t>(Width) - Count, ' ');
}
