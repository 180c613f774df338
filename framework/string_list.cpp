#include "string_list.h"

#include "exceptions.h"

const std::string& TStringList::Strings(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw EListError::OutOfBounds(Index);
    return FLines[static_cast<size_t>(Index)];
}

void TStringList::SetStrings(int Index, const std::string& Value)
{
    if (Index < 0 || Index >= Count())
        throw EListError::OutOfBounds(Index);
    FLines[static_cast<size_t>(Index)] = Value;
}

int TStringList::Add(const std::string& S)
{
    FLines.push_back(S);
    return Count() - 1;
}

void TStringList::Insert(int Index, const std::string& S)
{
    if (Index < 0 || Index > Count())
        throw EListError::OutOfBounds(Index);
    FLines.insert(FLines.begin() + Index, S);
}

void TStringList::Delete(int Index)
{
    if (Index < 0 || Index >= Count())
        throw EListError::OutOfBounds(Index);
    FLines.erase(FLines.begin() + Index);
}

int TStringList::IndexOf(const std::string& S) const
{
    for (int i = 0; i < Count(); ++i)
        if (FLines[static_cast<size_t>(i)] == S)
            return i;
    return -1;
}

std::string TStringList::Text() const
{
    std::string out;
    for (const auto& line : FLines) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(const std::string& Value)
{
    FLines.clear();
    size_t start = 0;
    const size_t n = Value.size();
    while (start < n) {
        size_t i = start;
        while (i < n && Value[i] != '\r' && Value[i] != '\n')
            ++i;
        FLines.emplace_back(Value, start, i - start);
        if (i < n && Value[i] == '\r')
            ++i;
        if (i < n && Value[i] == '\n')
            ++i;
        start = i;
    }
}

void TStringList::Assign(const TPersistent* Source)
{
    if (auto* source = dynamic_cast<const TStringList*>(Source)) {
        if (source != this)
            FLines = source->FLines;
        return;
    }
    TPersistent::Assign(Source);
}
