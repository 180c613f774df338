#pragma once
// An ordered list of byte strings with the line-text rule of the suite.

#include "persistent.h"

#include <string>
#include <vector>

class TStringList : public TPersistent {
public:
    int Count() const { return static_cast<int>(FLines.size()); }
    // The line at Index; outside 0..Count-1 raises EListError.
    const std::string& Strings(int Index) const;
    void SetStrings(int Index, const std::string& Value);
    const std::string& operator[](int Index) const { return Strings(Index); }

    int Add(const std::string& S);
    void Insert(int Index, const std::string& S);
    void Delete(int Index);
    void Clear() { FLines.clear(); }
    int IndexOf(const std::string& S) const;

    // Every line followed by CR LF.
    std::string Text() const;
    // Splits at CR LF, LF or CR; a line break at the very end adds no empty line,
    // so "a" CR LF "b" CR LF CR LF gives the three lines "a", "b", "".
    void SetText(const std::string& Value);

    const std::vector<std::string>& Lines() const { return FLines; }

    void Assign(const TPersistent* Source) override;

private:
    std::vector<std::string> FLines;
};
