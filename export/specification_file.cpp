#include "export/specification_file.h"

#include "export/message_table.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/streams.h"
#include "framework/ui_services.h"
#include "framework/utf8.h"


#include <QCoreApplication>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace {

constexpr std::array<const char*, teLDIF + 1> TableTypeNames = {
    "Paradox", "DBase", "Text", "HTML", "XLS", "Excel", "Word", "SYLK", "DIF", "WKS",
    "Quattro", "SQL", "XML", "Access", "Clipboard", "RTF", "SPSS", "PDF", "LDIF"};

// The options a set can hold: bits 0..soExportBlankValues.
constexpr std::uint16_t OptionBits = (1u << (soExportBlankValues + 1)) - 1;

// The columns Map0 .. Map150 are always looked at, gaps allowed; beyond them the
// first missing entry ends the list.
constexpr int AlwaysScannedMaps = 150;

std::string LowerAscii(std::string S)
{
    for (char& c : S)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return S;
}

// Without the blanks and control characters at both ends.
std::string Trim(const std::string& S)
{
    std::size_t first = 0, last = S.size();
    while (first < last && static_cast<unsigned char>(S[first]) <= ' ')
        ++first;
    while (last > first && static_cast<unsigned char>(S[last - 1]) <= ' ')
        --last;
    return S.substr(first, last - first);
}

std::string Flag(bool Value)
{
    return Value ? "1" : "0";
}

// Colours as signed decimal, so system colours come out negative.
std::string ColorText(TColor Value)
{
    return std::to_string(static_cast<std::int32_t>(Value));
}

std::optional<std::int32_t> ParseInt(const std::string& Text)
{
    std::string_view s = Text;
    if (!s.empty() && s.front() == '+')
        s.remove_prefix(1);
    std::int32_t value = 0;
    const char* end = s.data() + s.size();
    auto [ptr, ec] = std::from_chars(s.data(), end, value);
    if (s.empty() || ec != std::errc() || ptr != end)
        return std::nullopt;
    return value;
}

// An ordinal kept to its byte; a value outside the enumeration keeps the current one.
template <typename Enum>
void ApplyOrdinal(const std::string& Text, Enum Max, Enum& Target)
{
    if (auto value = ParseInt(Text)) {
        const auto byte = static_cast<std::uint8_t>(*value & 0xFF);
        if (byte <= Max)
            Target = static_cast<Enum>(byte);
    }
}

void ApplyInt(const std::string& Text, int& Target)
{
    if (auto value = ParseInt(Text))
        Target = *value;
}

void ApplyColor(const std::string& Text, TColor& Target)
{
    if (auto value = ParseInt(Text))
        Target = static_cast<TColor>(*value);
}

// The text's key-value lines. Lines end at CR LF, CR or LF; a line's key is the part
// before its first "=", compared without regard to letter case; of two lines with
// the same key the first counts. Sections play no part.
//
// Values are read one by one: a value that is valid UTF-8 stays as it is, and only
// the bytes outside valid UTF-8 sequences are read as Windows-1252, so one foreign
// byte in a file name does not change how the rest of the file is read. File names
// are bytes and are taken as they stand (FileBytes).
class TSpecificationText {
public:
    explicit TSpecificationText(const std::string& Text)
    {
        std::size_t start = 0;
        while (start < Text.size()) {
            std::size_t end = Text.find_first_of("\r\n", start);
            if (end == std::string::npos)
                end = Text.size();
            const std::string_view line(Text.data() + start, end - start);
            const auto equals = line.find('=');
            if (equals != std::string_view::npos)
                FValues.try_emplace(LowerAscii(std::string(line.substr(0, equals))), line.substr(equals + 1));
            start = end + 1;
            if (end + 1 < Text.size() && Text[end] == '\r' && Text[end + 1] == '\n')
                ++start;
        }
    }

    // The value as text, untrimmed; empty when no line has the key.
    std::string Value(const std::string& Key) const { return Utf8OrWindows1252(FileBytes(Key)); }
    // The value's bytes as the file holds them.
    std::string FileBytes(const std::string& Key) const
    {
        auto it = FValues.find(LowerAscii(Key));
        return it == FValues.end() ? std::string() : it->second;
    }

    bool Has(const std::string& Key) const { return FValues.count(LowerAscii(Key)) > 0; }
    bool Flag(const std::string& Key) const { return FileBytes(Key) == "1"; }

    // The first character of the hex-decoded value; nothing when the value decodes to
    // nothing. A character that is not UTF-8 is a single-byte Windows character.
    std::optional<std::string> HexCharacter(const std::string& Key) const
    {
        const std::string bytes = Translate(FileBytes(Key), false);
        if (bytes.empty())
            return std::nullopt;
        const std::size_t n = Utf8SequenceLength(bytes, 0);
        return Utf8OrWindows1252(std::string_view(bytes).substr(0, n ? n : 1));
    }

private:
    std::unordered_map<std::string, std::string> FValues;
};

// A separator read from a file: a NUL character is our "none", the empty text.
void ApplySeparator(const TSpecificationText& Text, const std::string& Key, std::string& Target)
{
    if (auto c = Text.HexCharacter(Key))
        Target = *c == std::string(1, '\0') ? std::string() : *c;
}

// A separator's hex form; "none" is the NUL character.
std::string HexCharacter(const std::string& Value)
{
    if (Value.empty())
        return "00";
    std::size_t n = Utf8SequenceLength(Value, 0);
    return Translate(Value.substr(0, n ? n : 1), true);
}

// Alignment, background colour, font name, character set, font colour, size, style.
std::string LookText(TAlignment Alignment, TColor Color, const TFont& Font)
{
    return std::to_string(Alignment) + "," + ColorText(Color) + "," + Font.Name + "," + std::to_string(Font.Charset)
           + "," + ColorText(Font.Color) + "," + std::to_string(Font.Size) + "," + std::to_string(Font.Style);
}

// Applies the fields of a look that stand before a comma (the seventh is what
// follows the sixth comma); empty fields and numbers that do not parse, or that are
// outside their range, change nothing.
void ApplyLook(const std::string& Value, TAlignment& Alignment, TColor& Color, TFont& Font)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (fields.size() < 6) {
        const auto comma = Value.find(',', start);
        if (comma == std::string::npos)
            break;
        fields.push_back(Value.substr(start, comma - start));
        start = comma + 1;
    }
    if (fields.size() == 6)
        fields.push_back(Value.substr(start));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string field = Trim(fields[i]);
        if (field.empty())
            continue;
        switch (i) {
        case 0: ApplyOrdinal(field, taCenter, Alignment); break;
        case 1: ApplyColor(field, Color); break;
        case 2: Font.Name = field; break;
        case 3:
            if (auto v = ParseInt(field))
                Font.Charset = *v & 0xFF;
            break;
        case 4: ApplyColor(field, Font.Color); break;
        case 5: ApplyInt(field, Font.Size); break;
        case 6:
            if (auto v = ParseInt(field))
                Font.Style = static_cast<TFontStyles>(*v & (fsBold | fsItalic | fsUnderline | fsStrikeOut));
            break;
        }
    }
}

std::string ApplicationTitle()
{
    std::string title = QCoreApplication::applicationName().toStdString();
    if (title.empty()) {
        std::error_code ec;
        title = std::filesystem::read_symlink("/proc/self/exe", ec).filename().string();
    }
    return title;
}

// Folder + base name + ".kve": the base name is the export file's, so that a
// specification is proposed beside its siblings under a recognisable name.
std::string ProposedSpecificationName(const std::string& Folder, const std::string& ExportFile)
{
    std::string base = ChangeFileExt(ExtractFileName(ExportFile), "");
    return (base.empty() ? Folder : IncludeTrailingPathDelimiter(Folder)) + base + ".kve";
}

} // namespace

std::string TableTypeName(TTableTypeExport Value)
{
    return Value <= teLDIF ? TableTypeNames[Value] : "";
}

int TableTypeByName(const std::string& Name)
{
    const std::string lower = LowerAscii(Name);
    for (std::size_t i = 0; i < TableTypeNames.size(); ++i)
        if (LowerAscii(TableTypeNames[i]) == lower)
            return static_cast<int>(i);
    return -1;
}

std::string SpecificationFileFilter()
{
    return strESpecCaption + "|*.KVE|" + strAllFiles;
}

namespace {

bool IsHexText(const std::string& Value)
{
    if (Value.size() % 2 != 0)
        return false;
    for (char c : Value)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

std::string SpecificationTextProblem(const std::string& Text)
{
    bool common = false;
    std::size_t start = 0;
    while (start < Text.size() && !common) {
        std::size_t end = Text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = Text.size();
        common = LowerAscii(Trim(Text.substr(start, end - start))) == "[common]";
        start = end + 1;
    }
    if (!common)
        return "it has no [Common] section";
    const TSpecificationText text(SpecificationTextToUtf8(Text));
    const auto bad = [](const std::string& Key, const std::string& Value, const std::string& What) {
        return "the value of " + Key + " ('" + Value + "') is not " + What;
    };
    // Ordinals with their highest value; -1 for plain integers.
    const std::pair<const char*, int> integers[] = {
        {"Options", -1},         {"CharacterSet", csASCII_MSDOS}, {"ActionAfterExport", aeEMail},
        {"Style", esWheat},      {"OddColor", -1},                {"EvenColor", -1},
        {"Layout", elTabularForm}, {"DateOrder", doMYD}};
    for (const auto& [key, max] : integers) {
        const std::string value = text.Value(key);
        if (value.empty())
            continue;
        const auto number = ParseInt(value);
        if (!number)
            return bad(key, value, "a whole number");
        if (max >= 0 && (*number < 0 || *number > max))
            return bad(key, value, "from 0 to " + std::to_string(max));
    }
    for (const char* key : {"AddTitle", "BlankIfZero", "SelectedRecord", "ExportIfEmpty", "OpenDialog", "Fixed",
                            "FourDigitYear", "LeadingZerosInDate", "UseRegionalSettings"}) {
        const std::string value = text.Value(key);
        if (!value.empty() && value != "0" && value != "1")
            return bad(key, value, "0 or 1");
    }
    for (const char* key : {"FieldDelimiter", "TextQualifier", "RecordSeparator", "DateSeparator", "TimeSeparator",
                            "ThousandSeparator", "DecimalSeparator"}) {
        const std::string value = text.Value(key);
        if (!IsHexText(value))
            return bad(key, value, "characters written as pairs of hexadecimal digits");
    }
    if (const std::string type = text.Value("TableType"); !type.empty() && TableTypeByName(type) < 0)
        return bad("TableType", type, "a known table type");
    for (int n = 0; n <= AlwaysScannedMaps || text.Has("Map" + std::to_string(n)); ++n) {
        const std::string width = text.Value("Width" + std::to_string(n));
        if (!width.empty() && !ParseInt(width))
            return bad("Width" + std::to_string(n), width, "a whole number");
    }
    return {};
}

bool SpecificationTextHasKey(const std::string& Text, const std::string& Key)
{
    return TSpecificationText(Text).Has(Key);
}

std::string SpecificationTextToUtf8(const std::string& Text)
{
    return Utf8OrWindows1252(Text);
}

// ---------------------------------------------------------------------------------
// Writing

void TKVExportBaseComponent::SaveSpecificationToStream(TStream& Stream, const std::string& SpecificationName)
{
    // Every line is made before the first is written, so a value that cannot be kept
    // stops the save with nothing written.
    std::vector<std::string> writes;
    auto line = [&](const std::string& Text) { writes.push_back(Text + "\r\n"); };
    auto section = [&](const char* Name) { line(std::string("\r\n") + Name); };
    // A text value with the key it is stored under. The file has no escape: a line
    // break would end the value there and the rest would be read as lines of their
    // own, setting keys, so such a value is refused.
    auto checked = [](const std::string& Key, const std::string& Value) -> const std::string& {
        if (Value.find_first_of("\r\n") != std::string::npos)
            throw Exception("Cannot save the specification: the value of " + Key
                            + " holds a line break, which a specification file cannot keep");
        return Value;
    };
    auto text = [&](const std::string& Key, const std::string& Value) { line(Key + "=" + checked(Key, Value)); };

    line("[Common]");
    // Only for people reading the file; no reader takes it.
    std::string app = ApplicationTitle();
    std::replace_if(app.begin(), app.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    line("App=" + app);
    line("Description=Tabrix: specification");
    text("Specification", SpecificationName);
    line("TableType=" + TableTypeName(TableType()));
    line("AddTitle=" + Flag(AddTitle));
    line("BlankIfZero=" + Flag(BlankIfZero));
    text("SourceFileName", FileName());
    line("SelectedRecord=" + Flag(SelectedRecord));
    text("TableName", TableName);
    line("CharacterSet=" + std::to_string(CharacterSet));
    line("SourceFileName=" + FileName());
    line("Options=" + std::to_string(Options.Bits()));
    line("ExportIfEmpty=" + Flag(ExportIfEmpty));
    line("ActionAfterExport=" + std::to_string(ActionAfterExport));

    section("[ExportStyle]");
    line("Style=" + std::to_string(ExportStyle().Style()));
    line("OddColor=" + ColorText(ExportStyle().OddColor));
    line("EvenColor=" + ColorText(ExportStyle().EvenColor));
    line("Layout=" + std::to_string(Layout));

    section("[SendTo]");
    text("Recipient", SendTo().EMailRecipient);
    text("Subject", SendTo().EMailSubject);
    line("OpenDialog=" + Flag(SendTo().EMailOpenBeforeSend));

    section("[Mappings]");
    const int count = Columns().Count();
    line("Count=" + std::to_string(count));
    const int version = MappingVersion();
    int visible = 0;
    for (int i = 0; i < count; ++i) {
        const TKVEColumn& column = *Columns()[i];
        std::string mapping;
        if (column.Visible) {
            if (version == 1)
                mapping = strTextFieldName + std::to_string(visible) + "-" + std::to_string(column.Width);
            else if (version == 2)
                mapping = strField + std::to_string(visible);
            else
                mapping = column.Title().Caption;
            ++visible;
        }
        const std::string key = "Map" + std::to_string(i);
        text(key, checked(key, column.FieldName) + " = " + checked(key, mapping));
    }
    if (count > 0) {
        std::string columns = "\r\n[COLUMNS]\r\n";
        for (int i = 0; i < count; ++i) {
            const TKVEColumn& column = *Columns()[i];
            const std::string n = std::to_string(i);
            columns += "Col" + n + "=" + checked("Col" + n, LookText(column.Alignment, column.Color, column.Font()))
                       + "\r\n";
            columns += "ColTitle" + n + "="
                       + checked("ColTitle" + n, LookText(column.Title().Alignment, column.Title().Color,
                                                          column.Title().Font()))
                       + "\r\n";
            columns += "Width" + n + "=" + std::to_string(column.Width) + "\r\n";
        }
        writes.push_back(std::move(columns));
    }

    section("[Header]");
    line("Count=" + std::to_string(Header().Count()));
    for (int i = 0; i < Header().Count(); ++i)
        text("Header" + std::to_string(i), Header()[i]);

    section("[Footer]");
    line("Count=" + std::to_string(Footer().Count()));
    for (int i = 0; i < Footer().Count(); ++i)
        text("Footer" + std::to_string(i), Footer()[i]);

    section("[Text]");
    line("FieldDelimiter=" + HexCharacter(FieldDelimiter));
    line("TextQualifier=" + HexCharacter(TextQualifier));
    line("RecordSeparator=" + Translate(RecordSeparator, true));
    line("Fixed=" + Flag(Fixed));
    int rowFirst = Header().Count();
    if (AddTitle)
        rowFirst += Options.Contains(soBlankRowAfterCaptions) ? 2 : 1;
    line("RowFirst=" + std::to_string(rowFirst));
    line("RowLast=2147483647");

    const TKVEDataFormats& formats = DataFormats();
    section("[DataFormat]");
    line("DateOrder=" + std::to_string(formats.DateOrder));
    line("DateSeparator=" + HexCharacter(formats.DateSeparator));
    line("TimeSeparator=" + HexCharacter(formats.TimeSeparator));
    line("ThousandSeparator=" + HexCharacter(formats.ThousandSeparator));
    line("DecimalSeparator=" + HexCharacter(formats.DecimalSeparator));
    text("CurrencyString", formats.CurrencyString);
    line("FourDigitYear=" + Flag(formats.FourDigitYear));
    line("LeadingZerosInDate=" + Flag(formats.LeadingZerosInDate));
    text("CustomDateTimeFormat", formats.CustomDateTimeFormat);
    text("BooleanTrue", formats.BooleanTrue);
    text("BooleanFalse", formats.BooleanFalse);
    line("UseRegionalSettings=" + Flag(formats.UseRegionalSettings));

    for (const std::string& bytes : writes)
        Stream.WriteString(bytes);
}

// ---------------------------------------------------------------------------------
// Reading

void TKVExportBaseComponent::LoadSpecificationFromStream(TStream& Stream)
{
    const TSpecificationText text(Stream.ReadToEnd());

    SetFileName(text.FileBytes("SourceFileName"));
    TableName = text.Value("TableName");
    if (auto options = ParseInt(text.Value("Options")))
        Options = TKVOptions(static_cast<std::uint16_t>(*options & OptionBits));
    ExportIfEmpty = text.Flag("ExportIfEmpty");
    AddTitle = text.Flag("AddTitle");
    BlankIfZero = text.Flag("BlankIfZero");
    SelectedRecord = text.Flag("SelectedRecord");
    ApplyOrdinal(text.Value("CharacterSet"), csASCII_MSDOS, CharacterSet);
    ApplyOrdinal(text.Value("ActionAfterExport"), aeEMail, ActionAfterExport);
    // A missing or unknown type counts as the current one and is applied as a named
    // one is, so the file name takes its extension either way: what a save writes
    // then loads to the same settings.
    const int tableType = TableTypeByName(text.Value("TableType"));
    SetTableType(tableType >= 0 ? static_cast<TTableTypeExport>(tableType) : TableType());

    TKVEStyle style = ExportStyle().Style();
    ApplyOrdinal(text.Value("Style"), esWheat, style);
    ExportStyle().SetStyle(style);
    ApplyColor(text.Value("OddColor"), ExportStyle().OddColor);
    ApplyColor(text.Value("EvenColor"), ExportStyle().EvenColor);
    ApplyOrdinal(text.Value("Layout"), elTabularForm, Layout);

    SendTo().EMailRecipient = text.Value("Recipient");
    SendTo().EMailSubject = text.Value("Subject");
    SendTo().EMailOpenBeforeSend = text.Flag("OpenDialog");

    Columns().Clear();
    for (int n = 0;; ++n) {
        const std::string index = std::to_string(n);
        const std::string map = text.Value("Map" + index);
        std::string fieldName, caption;
        const auto equals = map.find(" = ");
        if (equals != std::string::npos) {
            fieldName = Trim(map.substr(0, equals));
            caption = Trim(map.substr(equals + 3));
            // A field name that ends in " =" once its control characters are trimmed
            // ("a =\x01") is written as "a = = ...", which splits before its "=": read
            // it now as it will be read then.
            while (fieldName.ends_with(" =")) {
                fieldName = Trim(fieldName.substr(0, fieldName.size() - 2));
                caption = Trim("= " + caption);
            }
        } else {
            fieldName = Trim(map);
            // "Price =" is "Price = " with its trailing blank lost (as editors that
            // trim lines leave it); read as a field name, the writer's " = " after it
            // would split it differently on the next load.
            if (fieldName.ends_with(" ="))
                fieldName = Trim(fieldName.substr(0, fieldName.size() - 2));
        }
        // An entry without a field name or a mapping name (" = ", or only blanks) is
        // no column, as the writer's " = " for such a column is read as none.
        if (fieldName.empty() && caption.empty()) {
            if (n > AlwaysScannedMaps)
                break;
            continue;
        }
        TKVEColumn& column = *Columns().Add();
        column.FieldName = fieldName;
        column.Title().Caption = caption;
        if (column.Title().Caption.empty()) {
            column.Title().Caption = column.FieldName;
            column.Visible = false;
        }
        ApplyLook(text.Value("Col" + index), column.Alignment, column.Color, column.Font());
        ApplyLook(text.Value("ColTitle" + index), column.Title().Alignment, column.Title().Color,
                  column.Title().Font());
        ApplyInt(text.Value("Width" + index), column.Width);
    }

    Header().Clear();
    for (int n = 0;; ++n) {
        std::string value = text.Value("Header" + std::to_string(n));
        if (value.empty())
            break;
        Header().Add(value);
    }
    Footer().Clear();
    for (int n = 0;; ++n) {
        std::string value = text.Value("Footer" + std::to_string(n));
        if (value.empty())
            break;
        Footer().Add(value);
    }

    if (auto delimiter = text.HexCharacter("FieldDelimiter"))
        FieldDelimiter = *delimiter;
    ApplySeparator(text, "TextQualifier", TextQualifier);
    RecordSeparator = Translate(text.Value("RecordSeparator"), false);
    Fixed = text.Flag("Fixed");

    TKVEDataFormats& formats = DataFormats();
    ApplyOrdinal(text.Value("DateOrder"), doMYD, formats.DateOrder);
    ApplySeparator(text, "DateSeparator", formats.DateSeparator);
    ApplySeparator(text, "TimeSeparator", formats.TimeSeparator);
    ApplySeparator(text, "ThousandSeparator", formats.ThousandSeparator);
    ApplySeparator(text, "DecimalSeparator", formats.DecimalSeparator);
    formats.CurrencyString = text.Value("CurrencyString");
    formats.FourDigitYear = text.Flag("FourDigitYear");
    formats.LeadingZerosInDate = text.Flag("LeadingZerosInDate");
    formats.CustomDateTimeFormat = text.Value("CustomDateTimeFormat");
    formats.UseRegionalSettings = text.Flag("UseRegionalSettings");
    formats.BooleanTrue = text.Value("BooleanTrue");
    formats.BooleanFalse = text.Value("BooleanFalse");
}

// ---------------------------------------------------------------------------------
// Files and dialogs

void TKVExportBaseComponent::SaveSpecification(const std::string& SpecificationName, const std::string& FileName,
                                               bool ShowDialog)
{
    std::string specName = SpecificationName;
    std::string fileName = FileName;
    // Without a window system no dialog can be shown: the names passed in stand.
    if (ShowDialog && UIServices().HasGui() && WindowMakers().NameAndFile) {
        TNameAndFileQuery query;
        query.Caption = strESpecCaption;
        query.NameLabel = strESpecCaption;
        query.Name = specName.empty() ? strESpecCaption : specName;
        query.FileLabel = strFileName;
        const std::string folder = SpecificationDir.empty() ? ProgramFolder() : SpecificationDir;
        query.FileName = fileName.empty() ? ProposedSpecificationName(folder, this->FileName()) : fileName;
        query.OkCaption = strBtnOk;
        query.CancelCaption = strBtnCancel;
        query.FileFilter = SpecificationFileFilter();
        if (WindowMakers().NameAndFile(query)) {
            fileName = query.FileName;
            specName = query.Name;
        }
    }
    if (fileName.empty() || specName.empty())
        return;
    if (OnBeforeSaveSpecification)
        OnBeforeSaveSpecification(this, fileName);
    TStringStream text;
    SaveSpecificationToStream(text, specName);
    ReplaceFileWith(fileName, text.DataString());
    if (OnAfterSaveSpecification)
        OnAfterSaveSpecification(this, fileName);
}

void TKVExportBaseComponent::LoadSpecification(const std::string& FileName)
{
    std::string fileName = FileName;
    if (fileName.empty()) {
        if (!WindowMakers().OpenFileName || !WindowMakers().OpenFileName("kve", SpecificationFileFilter(), fileName))
            return;
    }
    if (fileName.empty() || !FileExists(fileName))
        return;
    if (OnBeforeLoadSpecification)
        OnBeforeLoadSpecification(this, fileName);
    // Read whole and only from a regular file: a named pipe or a device given as a
    // specification is refused at once instead of waiting or reading without end.
    TStringStream text(ReadRegularFile(fileName, SpecificationMaxFileSize));
    LoadSpecificationFromStream(text);
    if (OnAfterLoadSpecification)
        OnAfterLoadSpecification(this, fileName);
}
