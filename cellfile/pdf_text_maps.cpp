#include "cellfile/pdf_text_maps.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <string_view>

namespace {

int HexDigits(std::string_view Text, std::size_t At)
{
    if (At + 4 > Text.size())
        return -1;
    int value = 0;
    for (std::size_t i = At; i < At + 4; ++i) {
        const char c = Text[i];
        const int digit = c >= '0' && c <= '9' ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

void PutHexDigits(std::string& Text, std::size_t At, int Value)
{
    static const char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 4; ++i)
        Text[At + static_cast<std::size_t>(i)] = digits[(Value >> (12 - 4 * i)) & 0xF];
}

// The end of a PDF file as Qt's writer leaves it, from the last page on (the fonts, their
// glyph-to-text maps, the cross-reference table, the trailer), with the changes made to
// it; the objects after a change that alters a length move, and the table moves with them.
class TPdfTail {
public:
    TPdfTail(std::string& Text, long long Start) : FText(Text), FStart(Start) {}

    void Replace(std::size_t At, std::size_t Erase, std::string Insert)
    {
        FEdits.push_back({At, Erase, std::move(Insert)});
    }

    // Makes the changes; none when the table is not as Qt writes it.
    void Apply()
    {
        if (FEdits.empty())
            return;
        std::string& text = FText;
        const std::size_t table = text.rfind("\nxref\n0 ");
        const std::size_t trailer = text.rfind("\nstartxref\n");
        if (table == std::string::npos || trailer == std::string::npos || trailer < table)
            return;
        std::size_t at = table + 8;
        std::size_t count = 0;
        for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])); ++at)
            count = count * 10 + static_cast<std::size_t>(text[at] - '0');
        if (at >= text.size() || text[at] != '\n' || at + 1 + 20 * count > trailer)
            return;
        std::sort(FEdits.begin(), FEdits.end(), [](const TEdit& A, const TEdit& B) { return A.At < B.At; });
        for (std::size_t i = 0; i < FEdits.size(); ++i)
            if (FEdits[i].At + FEdits[i].Erase > table || (i > 0 && FEdits[i - 1].At + FEdits[i - 1].Erase > FEdits[i].At))
                return;
        // Where what began at file offset Offset begins after the changes.
        const auto moved = [this](long long Offset) {
            long long shift = 0;
            for (const TEdit& edit : FEdits)
                if (FStart + static_cast<long long>(edit.At + edit.Erase) <= Offset)
                    shift += static_cast<long long>(edit.Insert.size()) - static_cast<long long>(edit.Erase);
            return Offset + shift;
        };
        for (std::size_t entry = at + 1; entry < at + 1 + 20 * count; entry += 20) {
            if (text[entry + 17] != 'n')
                continue;
            const long long offset = std::stoll(text.substr(entry, 10));
            if (offset < FStart)
                continue;
            char digits[16];
            std::snprintf(digits, sizeof digits, "%010lld", moved(offset));
            text.replace(entry, 10, digits, 10);
        }
        std::size_t number = trailer + 11, end = number;
        while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end])))
            ++end;
        text.replace(number, end - number, std::to_string(moved(FStart + static_cast<long long>(table) + 1)));
        for (auto edit = FEdits.rbegin(); edit != FEdits.rend(); ++edit)
            text.replace(edit->At, edit->Erase, edit->Insert);
    }

private:
    struct TEdit {
        std::size_t At, Erase;
        std::string Insert;
    };
    std::string& FText;
    long long FStart;
    std::vector<TEdit> FEdits;
};

// The ranges of a glyph-to-text map as Qt's writer writes them ("<first> <last>
// [<text> ...]", "<first> <last> <text>"), or nothing when Map is otherwise. With
// Stray, each block of ranges after the first begins with as many stray bytes as the
// block before it held: Qt (6.4) empties its buffer of ranges under a stream that keeps
// its position, so a map of more than a hundred ranges is unreadable from the second
// block on.
std::optional<std::vector<std::string_view>> ReadRanges(std::string_view Map, bool Stray)
{
    constexpr std::string_view head = "endcodespacerange\n", begin = " beginbfrange\n", end = "endbfrange\n";
    std::size_t at = Map.find(head);
    if (at == std::string_view::npos)
        return std::nullopt;
    at += head.size();
    std::vector<std::string_view> ranges;
    std::size_t before = 0;
    while (Map.compare(at, 7, "endcmap") != 0) {
        std::size_t count = 0, digits = at;
        for (; digits < Map.size() && std::isdigit(static_cast<unsigned char>(Map[digits])); ++digits)
            count = count * 10 + static_cast<std::size_t>(Map[digits] - '0');
        if (digits == at || Map.compare(digits, begin.size(), begin) != 0)
            return std::nullopt;
        const std::size_t block = digits + begin.size(), from = block + (Stray ? before : 0);
        const std::size_t to = from <= Map.size() ? Map.find(end, from) : std::string_view::npos;
        if (to == std::string_view::npos)
            return std::nullopt;
        std::size_t lines = 0;
        for (std::size_t line = from; line < to;) {
            const std::size_t eol = Map.find('\n', line);
            const std::string_view range = Map.substr(line, eol - line);
            if (range.size() < 20 || range.front() != '<'
                || range.find_first_not_of("<>[] 0123456789ABCDEFabcdef") != std::string_view::npos)
                return std::nullopt;
            ranges.push_back(range);
            ++lines;
            line = eol + 1;
        }
        if (lines != count)
            return std::nullopt;
        before = to - block;
        at = to + end.size();
    }
    return ranges;
}

// A font's PostScript name (name 6 of its naming table), as Qt's writer names it.
QString PostScriptName(const QRawFont& Font)
{
    const QByteArray table = Font.fontTable("name");
    const auto number = [&table](int At) {
        return At >= 0 && At + 2 <= table.size()
                   ? static_cast<int>(static_cast<uchar>(table[At])) << 8 | static_cast<uchar>(table[At + 1])
                   : -1;
    };
    const int count = number(2), strings = number(4);
    for (int i = 0; i < count; ++i) {
        const int record = 6 + 12 * i, platform = number(record), length = number(record + 8);
        const int at = strings + number(record + 10);
        if (number(record + 6) != 6 || length < 0 || at < 0 || at + length > table.size())
            continue;
        if (platform == 1)
            return QString::fromLatin1(table.constData() + at, length);
        QString name;
        for (int k = 0; k + 1 < length; k += 2)
            name += QChar(static_cast<char16_t>(number(at + k)));
        return name;
    }
    return QString();
}

// Qt's writer tells a reader which character each embedded glyph stands for by the
// lowest code point the font draws with it. CJK fonts draw a Kangxi radical with the
// glyph of its ideograph (U+2F47 and U+65E5 alike), so the ideograph would be copied,
// searched and extracted as the radical. In Range, a character the table never held is
// replaced by the held character that is its compatibility form or whose compatibility
// form it is.
class TTextMender {
public:
    explicit TTextMender(const std::vector<bool>& Held) : FHeld(Held) {}

    // Glyphs, the held characters drawn with them in the map's font, when known.
    void Mend(std::string& Range, const TGlyphs* Glyphs)
    {
        // "<first> <last> [<text> ...]", or "<first> <last> <text>" for one glyph (for
        // more, the glyphs after the first stand for the characters after its).
        std::vector<std::size_t> tokens; // where the hex digits of each <...> begin
        for (std::size_t at = Range.find('<'); at != std::string::npos; at = Range.find('<', at + 1))
            tokens.push_back(at + 1);
        if (tokens.size() < 3
            || (Range.find('[') == std::string::npos && Range.compare(tokens[0], 4, Range, tokens[1], 4) != 0))
            return;
        for (std::size_t k = 2; k < tokens.size(); ++k) {
            if (tokens[k] + 4 >= Range.size() || Range[tokens[k] + 4] != '>')
                continue;
            const int held = StandsFor(HexDigits(Range, tokens[k]), Glyphs);
            if (held >= 0)
                PutHexDigits(Range, tokens[k], held);
        }
    }

private:
    int StandsFor(int Code, const TGlyphs* Glyphs)
    {
        if (Code < 0x80 || static_cast<std::size_t>(Code) >= FHeld.size() || FHeld[static_cast<std::size_t>(Code)])
            return -1;
        // The held character drawn with the glyph the font has for Code.
        if (Glyphs) {
            const QList<quint32> glyph = Glyphs->first.glyphIndexesForString(QString(QChar(char16_t(Code))));
            const auto it = glyph.size() == 1 ? Glyphs->second.find(glyph[0]) : Glyphs->second.end();
            if (it != Glyphs->second.end() && FHeld[it->second])
                return it->second;
        }
        const QString form = QChar::decomposition(static_cast<char32_t>(Code));
        if (form.size() == 1 && form[0].unicode() >= 0x80 && FHeld[form[0].unicode()])
            return static_cast<int>(form[0].unicode());
        if (!FGathered) {
            for (char32_t c = 0x80; c < FHeld.size(); ++c) {
                if (!FHeld[c])
                    continue;
                const QString of = QChar::decomposition(c);
                if (of.size() == 1)
                    FHeldFormOf.emplace(of[0].unicode(), static_cast<int>(c));
            }
            FGathered = true;
        }
        const auto it = FHeldFormOf.find(Code);
        return it == FHeldFormOf.end() ? -1 : it->second;
    }

    const std::vector<bool>& FHeld;
    std::unordered_map<int, int> FHeldFormOf; // a character -> the held character whose form it is
    bool FGathered = false;
};

} // namespace

void MendTail(std::string& Tail, long long Start, const std::vector<bool>& Held, const std::vector<TGlyphs>& Glyphs)
{
    TPdfTail tail(Tail, Start);
    TTextMender mender(Held);
    // The font of a map: the font dictionary naming it as /ToUnicode names the font,
    // which Glyphs know by its PostScript name.
    std::vector<QString> names;
    for (const TGlyphs& glyphs : Glyphs)
        names.push_back(PostScriptName(glyphs.first));
    const auto glyphsOf = [&](std::size_t Dictionary) -> const TGlyphs* {
        const std::size_t object = Tail.rfind(" 0 obj\n", Dictionary);
        if (object == std::string::npos)
            return nullptr;
        const std::size_t number = Tail.rfind('\n', object) + 1;
        const std::size_t use = Tail.find("/ToUnicode " + Tail.substr(number, object - number) + " 0 R");
        const std::size_t font = use == std::string::npos ? use : Tail.rfind("/BaseFont /", use);
        if (font == std::string::npos || Tail.find("endobj", font) < use)
            return nullptr;
        const std::size_t from = font + 11;
        const QString name = QString::fromStdString(Tail.substr(from, Tail.find_first_of(" \n\r/>", from) - from));
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name)
                return &Glyphs[i];
        return nullptr;
    };
    constexpr std::string_view mapStart = "/CIDInit /ProcSet findresource begin", length = "<< /Length ";
    for (std::size_t map = Tail.find(mapStart); map != std::string::npos; map = Tail.find(mapStart, map + 1)) {
        const std::size_t dictionary = Tail.rfind(length, map);
        if (dictionary == std::string::npos || map < 7 || Tail.compare(map - 7, 7, "stream\n") != 0)
            continue;
        const std::size_t digits = dictionary + length.size();
        std::size_t size = 0, end = digits;
        for (; end < map && std::isdigit(static_cast<unsigned char>(Tail[end])); ++end)
            size = size * 10 + static_cast<std::size_t>(Tail[end] - '0');
        if (end == digits || end + 11 != map || Tail.compare(end, 11, " >>\nstream\n") != 0 || map + size > Tail.size())
            continue;
        const std::string_view text = std::string_view(Tail).substr(map, size);
        auto ranges = ReadRanges(text, false);
        if (!ranges)
            ranges = ReadRanges(text, true);
        if (!ranges)
            continue;
        const TGlyphs* glyphs = glyphsOf(dictionary);
        std::string mended(text.substr(0, text.find("endcodespacerange\n") + 18));
        std::string range;
        for (std::size_t i = 0; i < ranges->size(); i += 100) {
            const std::size_t count = std::min<std::size_t>(100, ranges->size() - i);
            mended += std::to_string(count) + " beginbfrange\n";
            for (std::size_t k = i; k < i + count; ++k) {
                range.assign((*ranges)[k]);
                mender.Mend(range, glyphs);
                mended += range;
                mended += '\n';
            }
            mended += "endbfrange\n";
        }
        mended += text.substr(text.rfind("endcmap"));
        tail.Replace(digits, end - digits, std::to_string(mended.size()));
        tail.Replace(map, size, std::move(mended));
    }
    // "/FontName /ABCDEF+Name" in a descriptor: the same tag before "/BaseFont /Name".
    std::map<std::string, std::string> tags; // name -> tag, empty when two tags share a name
    constexpr std::string_view fontName = "/FontName /", baseFont = "/BaseFont /";
    const auto nameAt = [&Tail](std::size_t At) {
        return Tail.substr(At, Tail.find_first_of(" \n\r/>", At) - At);
    };
    for (std::size_t at = Tail.find(fontName); at != std::string::npos; at = Tail.find(fontName, at + 1)) {
        const std::string name = nameAt(at + fontName.size());
        if (name.size() < 8 || name[6] != '+')
            continue;
        const auto [it, added] = tags.try_emplace(name.substr(7), name.substr(0, 7));
        if (!added && it->second != name.substr(0, 7))
            it->second.clear();
    }
    for (std::size_t at = Tail.find(baseFont); at != std::string::npos; at = Tail.find(baseFont, at + 1)) {
        const auto it = tags.find(nameAt(at + baseFont.size()));
        if (it != tags.end() && !it->second.empty())
            tail.Replace(at + baseFont.size(), 0, it->second);
    }
    tail.Apply();
}
