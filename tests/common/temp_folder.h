#pragma once
// A fresh folder under the temporary folder, removed with everything in it, and the
// names a folder holds.

#include "framework/files.h"

#include <dirent.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

class TempDir {
public:
    explicit TempDir(const std::string& Prefix = "tabrix_test")
    {
        std::string Template = GetTempFolder() + Prefix + "_XXXXXX";
        Path = IncludeTrailingPathDelimiter(mkdtemp(Template.data()));
    }
    ~TempDir()
    {
        std::error_code Ignored;
        std::filesystem::remove_all(Path, Ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string operator/(const std::string& Name) const { return Path + Name; }
    std::string Path;
};

inline std::set<std::string> FolderEntries(const std::string& Folder)
{
    std::set<std::string> Names;
    if (DIR* D = opendir(Folder.c_str())) {
        while (dirent* E = readdir(D))
            Names.insert(E->d_name);
        closedir(D);
    }
    return Names;
}
