#include "framework/exceptions.h"
#include "framework/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include "tests/common/temp_folder.h"

namespace {

} // namespace

TEST(FileNames, TakeApartWindowsAndNativeNames)
{
    EXPECT_EQ(ExtractFilePath("C:\\out\\report.doc"), "C:\\out\\");
    EXPECT_EQ(ExtractFilePath("/home/u/report.doc"), "/home/u/");
    EXPECT_EQ(ExtractFilePath("C:report.doc"), "C:");
    EXPECT_EQ(ExtractFilePath("dir/sub\\x.txt"), "dir/sub\\");
    EXPECT_EQ(ExtractFilePath("report.doc"), "");

    EXPECT_EQ(ExtractFileName("C:\\out\\report.doc"), "report.doc");
    EXPECT_EQ(ExtractFileName("/a/b/"), "");
    EXPECT_EQ(ExtractFileName("D:x.bmp"), "x.bmp");
    EXPECT_EQ(ExtractFileName("plain"), "plain");

    EXPECT_EQ(ExtractFileExt("C:\\out\\report.doc"), ".doc");
    EXPECT_EQ(ExtractFileExt("archive.tar.gz"), ".gz");
    EXPECT_EQ(ExtractFileExt("C:\\my.folder\\readme"), "");
    EXPECT_EQ(ExtractFileExt("/my.folder/readme"), "");
    EXPECT_EQ(ExtractFileExt("name."), ".");

    EXPECT_EQ(ChangeFileExt("C:\\out\\KVE1A.tmp", ".bmp"), "C:\\out\\KVE1A.bmp");
    EXPECT_EQ(ChangeFileExt("/tmp/KVE1A.tmp", ""), "/tmp/KVE1A");
    EXPECT_EQ(ChangeFileExt("/my.dir/noext", ".kve"), "/my.dir/noext.kve");
    EXPECT_EQ(ChangeFileExt("a.b.c", ".d"), "a.b.d");
}

TEST(FileNames, TrailingDelimiterFollowsThePathsOwnStyle)
{
    EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\out"), "C:\\out\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter("C:\\out\\"), "C:\\out\\");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("rel"), "rel/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp//"), "/tmp");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("C:\\out\\"), "C:\\out");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/"), "/");
}

TEST(Files, ExistsDeleteAndSize)
{
    TempDir Dir;
    const std::string Name = Dir / "f.txt";
    EXPECT_FALSE(FileExists(Name));
    EXPECT_FALSE(DeleteFile(Name));
    WriteStringToFile(Name, std::string("12\0" "45", 5));
    EXPECT_TRUE(FileExists(Name));
    EXPECT_EQ(FileSizeOf(Name), 5);
    EXPECT_FALSE(FileExists(Dir.Path)); // a folder is not a file
    EXPECT_TRUE(DirectoryExists(Dir.Path));
    EXPECT_FALSE(DeleteFile(Dir.Path));
    // A NUL inside a name would name another file; such a name names none.
    EXPECT_FALSE(FileExists(Name + std::string(1, '\0') + "x"));
    EXPECT_FALSE(DeleteFile(Name + std::string(1, '\0') + "x"));
    EXPECT_TRUE(FileExists(Name));
    EXPECT_TRUE(DeleteFile(Name));
    EXPECT_FALSE(FileExists(Name));
    EXPECT_EQ(FileSizeOf(Name), -1);
}

TEST(Files, ReadFileToStringWholeWithNulAndClearErrors)
{
    TempDir Dir;
    std::string Content;
    for (int I = 0; I < 300000; ++I)
        Content += static_cast<char>(I % 256);
    WriteStringToFile(Dir / "big.bin", Content);
    EXPECT_EQ(ReadFileToString(Dir / "big.bin"), Content);

    WriteStringToFile(Dir / "empty.bin", "");
    EXPECT_EQ(ReadFileToString(Dir / "empty.bin"), "");

    try {
        ReadFileToString(Dir / "absent.bmp");
        FAIL() << "no error";
    } catch (const EFOpenError& E) {
        EXPECT_EQ(E.Message(), "Cannot open file \"" + (Dir / "absent.bmp") + "\". No such file or directory");
    }
    if (geteuid() != 0) {
        WriteStringToFile(Dir / "secret", "x");
        chmod((Dir / "secret").c_str(), 0);
        try {
            ReadFileToString(Dir / "secret");
            FAIL() << "no error";
        } catch (const EFOpenError& E) {
            EXPECT_NE(E.Message().find("Permission denied"), std::string::npos);
        }
    }
}

TEST(Files, WriteStringToFileFailureLeavesNoPartialFile)
{
    TempDir Dir;
    EXPECT_THROW(WriteStringToFile(Dir / "no/such/dir.txt", "x"), EFCreateError);
    EXPECT_EQ(FolderEntries(Dir.Path).size(), 2u); // "." and ".."
}

TEST(TempFiles, TempFolderFollowsTmpdir)
{
    TempDir Dir;
    const char* Old = std::getenv("TMPDIR");
    const std::string Saved = Old ? Old : "";
    setenv("TMPDIR", Dir.Path.c_str(), 1);
    EXPECT_EQ(GetTempFolder(), Dir.Path);
    setenv("TMPDIR", (Dir / "not-there").c_str(), 1);
    EXPECT_EQ(GetTempFolder(), "/tmp/");
    if (Old)
        setenv("TMPDIR", Saved.c_str(), 1);
    else
        unsetenv("TMPDIR");
}

TEST(TempFiles, CreateTempFileNameMakesUniqueEmptyFiles)
{
    TempDir Dir;
    std::set<std::string> Names;
    for (int I = 0; I < 200; ++I) {
        const std::string Name = CreateTempFileName("KVE", Dir.Path);
        EXPECT_TRUE(Names.insert(Name).second) << Name;
        EXPECT_EQ(ExtractFilePath(Name), Dir.Path);
        const std::string Base = ExtractFileName(Name);
        ASSERT_EQ(Base.substr(0, 3), "KVE");
        EXPECT_EQ(ExtractFileExt(Base), ".tmp");
        const std::string Digits = Base.substr(3, Base.size() - 7);
        EXPECT_FALSE(Digits.empty());
        EXPECT_EQ(Digits.find_first_not_of("0123456789ABCDEF"), std::string::npos) << Base;
        EXPECT_EQ(FileSizeOf(Name), 0);
    }
    EXPECT_EQ(FolderEntries(Dir.Path).size(), 202u);
    EXPECT_THROW(CreateTempFileName("KVE", Dir / "missing"), EFCreateError);

    // Without a folder the temporary folder is used.
    const std::string InTemp = CreateTempFileName("KVE");
    EXPECT_EQ(ExtractFilePath(InTemp), GetTempFolder());
    EXPECT_TRUE(DeleteFile(InTemp));
}
