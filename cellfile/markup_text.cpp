#include "cellfile/markup_text.h"

#include "framework/utf8.h"

char32_t NextCharacter(std::string_view Text, std::size_t& At, bool& Valid)
{
    const std::size_t n = Utf8SequenceLength(Text, At);
    Valid = n > 0;
    if (!Valid) {
        ++At;
        return 0xFFFD;
    }
    const auto byte = [&](std::size_t i) { return static_cast<char32_t>(static_cast<unsigned char>(Text[At + i])); };
    char32_t c = n == 1 ? byte(0) : n == 2 ? byte(0) & 0x1F : n == 3 ? byte(0) & 0x0F : byte(0) & 0x07;
    for (std::size_t i = 1; i < n; ++i)
        c = (c << 6) | (byte(i) & 0x3F);
    At += n;
    return c;
}

std::string UniqueName(const std::string& Name, std::set<std::string>& Taken, bool IgnoreCase)
{
    const auto key = [IgnoreCase](std::string Text) {
        if (IgnoreCase)
            for (char& c : Text)
                if (c >= 'A' && c <= 'Z')
                    c = static_cast<char>(c + 32);
        return Text;
    };
    std::string name = Name;
    for (int n = 2; !Taken.insert(key(name)).second; ++n)
        name = Name + "_" + std::to_string(n);
    return name;
}

std::string LineFeedsOnly(const std::string& Text, long long& Changed)
{
    if (Text.find('\r') == std::string::npos)
        return Text;
    ++Changed;
    std::string out;
    out.reserve(Text.size());
    for (std::size_t i = 0; i < Text.size(); ++i) {
        if (Text[i] != '\r')
            out += Text[i];
        else if (i + 1 >= Text.size() || Text[i + 1] != '\n')
            out += '\n';
    }
    return out;
}
