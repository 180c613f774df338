#include "framework/exceptions.h"
#include "framework/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include "tests/common/temp_folder.h"

namespace {

} // namespace

TEST(FileNames, OnlySlashEndsAFolder)
{
    // On POSIX systems "\\" and ":" are ordinary letters of a name.
    struct Case {
        const char* Name;
        const char* Path;
        const char* File;
        const char* Ext;
    } const Cases[] = {
        {"/home/u/report.doc", "/home/u/", "report.doc", ".doc"},
        {"/pics/shot 12:30.bmp", "/pics/", "shot 12:30.bmp", ".bmp"},
        {"a\\b.bmp", "", "a\\b.bmp", ".bmp"},
        {"C:\\out\\report.doc", "", "C:\\out\\report.doc", ".doc"},
        {"/a/b/", "/a/b/", "", ""},
        {"/my.folder/readme", "/my.folder/", "readme", ""},
        {"x.1:2", "", "x.1:2", ".1:2"},
        {"archive.tar.gz", "", "archive.tar.gz", ".gz"},
        {"name.", "", "name.", "."},
    };
    for (const Case& C : Cases) {
        EXPECT_EQ(ExtractFilePath(C.Name), C.Path) << C.Name;
        EXPECT_EQ(ExtractFileName(C.Name), C.File) << C.Name;
        EXPECT_EQ(ExtractFileExt(C.Name), C.Ext) << C.Name;
    }
    EXPECT_EQ(ChangeFileExt("/tmp/KVE1A.tmp", ".bmp"), "/tmp/KVE1A.bmp");
    EXPECT_EQ(ChangeFileExt("/tmp/KVE1A.tmp", ""), "/tmp/KVE1A");
    EXPECT_EQ(ChangeFileExt("/my.dir/noext", ".kve"), "/my.dir/noext.kve");
    EXPECT_EQ(ChangeFileExt("a.b.c", ".d"), "a.b.d");
}

TEST(FileNames, TrailingDelimiter)
{
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("/tmp/"), "/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiter("dir\\"), "dir\\/");
    EXPECT_EQ(IncludeTrailingPathDelimiter(""), "");
    EXPECT_EQ(ExcludeTrailingPathDelimiter("/tmp//"), "/tmp");
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

TEST(Files, NewFileIsExclusiveAndPrivate)
{
    TempDir Dir;
    const std::string Target = Dir / "outside.txt";
    const std::string Planted = Dir / "KVE1.bmp";
    WriteStringToFile(Target, "keep");
    ASSERT_EQ(::symlink(Target.c_str(), Planted.c_str()), 0);
    // Neither a link planted under the name nor an existing file is written through.
    EXPECT_THROW(WriteStringToNewFile(Planted, "picture"), EFCreateError);
    EXPECT_THROW(WriteStringToNewFile(Target, "picture"), EFCreateError);
    EXPECT_EQ(ReadFileToString(Target), "keep");

    const std::string Fresh = Dir / "fresh.bmp";
    WriteStringToNewFile(Fresh, std::string("a\0b", 3));
    EXPECT_EQ(ReadFileToString(Fresh), std::string("a\0b", 3));
    struct stat St {};
    ASSERT_EQ(::stat(Fresh.c_str(), &St), 0);
    EXPECT_EQ(St.st_mode & 07777, 0600u);
}

TEST(Files, RegularFilesAreReadWithoutBlocking)
{
    TempDir Dir;
    WriteStringToFile(Dir / "a.bin", std::string("x\0y", 3));
    EXPECT_EQ(ReadRegularFile(Dir / "a.bin", 3), std::string("x\0y", 3));
    ASSERT_EQ(::mkfifo((Dir / "pipe").c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> Refused = {
        {Dir / "a.bin", "larger than 2 bytes"},
        {Dir / "pipe", "not a regular file"}, // returns at once: no writer is awaited
        {Dir.Path, "It is a folder"},
        {Dir / "missing", "Cannot open file"},
    };
    for (const auto& [Name, Cause] : Refused) {
        try {
            ReadRegularFile(Name, Name == Dir / "a.bin" ? 2 : 100);
            ADD_FAILURE() << Name;
        } catch (const EFOpenError& E) {
            EXPECT_NE(E.Message().find(Cause), std::string::npos) << E.Message();
        }
    }
}

TEST(TempFiles, AnonymousFilesLeaveNoNameAndListedFilesAreRemoved)
{
    TempDir Dir;
    const int Fd = CreateAnonymousFile(Dir.Path);
    ASSERT_GE(Fd, 0);
    ASSERT_EQ(::write(Fd, "abc", 3), 3);
    EXPECT_EQ(ReadFileToString(HandleFileName(Fd)), "abc");
    EXPECT_EQ(FolderEntries(Dir.Path), (std::set<std::string>{".", ".."}));
    ::close(Fd);

    // A listed file is removed; one that took a listed name later is not.
    WriteStringToFile(Dir / "listed", "");
    WriteStringToFile(Dir / "replaced", "");
    RegisterTemporaryFile(Dir / "listed");
    RegisterTemporaryFile(Dir / "replaced");
    WriteStringToFile(Dir / "other", "");
    ASSERT_EQ(::rename((Dir / "other").c_str(), (Dir / "replaced").c_str()), 0);
    RemoveTemporaryFiles();
    EXPECT_FALSE(FileExists(Dir / "listed"));
    EXPECT_TRUE(FileExists(Dir / "replaced"));
}
