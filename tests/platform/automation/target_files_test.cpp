// Every kind of document and workbook target is written the one way: a temporary file
// beside the target, written through the descriptor that created it, renamed into place.

#include "platform/automation/automation.h"
#include "framework/files.h"
#include "tests/common/temp_folder.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const Kinds[] = {".docx", ".doc", ".xlsx", ".xls"};

void Save(const std::string& file)
{
    const std::string ext = ExtractFileExt(file);
    if (ext == ".docx" || ext == ".doc") {
        AutomationValue app = CreateAutomationObject("Word.Application");
        AutomationValue name = file;
        try {
            app.Call("Documents").Call("Add").Call("SaveAs", {ByRef(name)});
        } catch (...) {
            app.Call("Quit");
            throw;
        }
        app.Call("Quit");
    } else {
        AutomationValue app = CreateAutomationObject("Excel.Application");
        app.Call("WorkBooks").Call("Add");
        try {
            app.Call("ActiveWorkbook").Call("SaveAs", {file});
        } catch (...) {
            app.Call("Quit");
            throw;
        }
        app.Call("Quit");
    }
}

struct stat StatOf(const std::string& file)
{
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
    return st;
}

std::string Outside;

// An attacker's move in a shared folder: the temporary file is swapped for a link to a
// file elsewhere.
void PlantLink(const std::string& temp)
{
    ::unlink(temp.c_str());
    ASSERT_EQ(::symlink(Outside.c_str(), temp.c_str()), 0);
}

} // namespace

TEST(TargetFiles, ModesFollowTheUmaskOrTheReplacedFileAndLongNamesFit)
{
    const bool root = ::geteuid() == 0;
    for (const mode_t mask : {mode_t{022}, mode_t{077}}) {
        const mode_t before = ::umask(mask);
        TempDir dir;
        for (const char* ext : Kinds) {
            const std::string file = dir / (std::string("new") + ext);
            Save(file);
            EXPECT_EQ(StatOf(file).st_mode & 07777, 0666 & ~mask) << ext << " umask " << mask;

            // A replaced file keeps its mode, read-only included, and its owner.
            ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
            if (root) {
                ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
            }
            Save(file);
            const struct stat st = StatOf(file);
            EXPECT_EQ(st.st_mode & 07777, 0444u) << ext << " umask " << mask;
            if (root) {
                EXPECT_EQ(st.st_uid, 65534u) << ext;
                EXPECT_EQ(st.st_gid, 65534u) << ext;
            }

            // The longest name the folder takes.
            const std::string longest = dir / (std::string(255 - std::string(ext).size(), 'n') + ext);
            Save(longest);
            EXPECT_GT(StatOf(longest).st_size, 0) << ext;
        }
        ::umask(before);
        EXPECT_EQ(FolderEntries(dir.Path).size(), 2 + 2 * std::size(Kinds)) << "temporary files left"; // . and ..
    }
}

TEST(TargetFiles, ALinkPlantedForTheTemporaryFileIsNeverWrittenThrough)
{
    TempDir dir, elsewhere;
    Outside = elsewhere / "precious";
    WriteStringToFile(Outside, "keep");
    TFileReplacement::CreatedHook = PlantLink;
    for (const char* ext : Kinds) {
        const std::string file = dir / (std::string("target") + ext);
        EXPECT_THROW(Save(file), Exception) << ext;
        EXPECT_FALSE(FileExists(file)) << ext;
    }
    TFileReplacement::CreatedHook = nullptr;
    EXPECT_EQ(ReadFileToString(Outside), "keep");
}

namespace {

// Opens File as a merge does, writes a cell or a paragraph and saves it under its name.
void Merge(const std::string& file)
{
    const std::string ext = ExtractFileExt(file);
    const bool word = ext == ".docx" || ext == ".doc";
    AutomationValue app = CreateAutomationObject(word ? "Word.Application" : "Excel.Application");
    try {
        if (word) {
            AutomationValue doc = app.Call("Documents").Call("Open", {file});
            doc.Call("Content").Call("InsertAfter", {std::string("merged")});
            doc.Call("SaveAs", {file});
        } else {
            AutomationValue book = app.Call("WorkBooks").Call("Open", {file});
            book.Get("ActiveSheet").Get("Cells", {1, 1}).Put("Value", std::string("merged"));
            book.Call("SaveAs", {file});
        }
    } catch (...) {
        app.Call("Quit");
        throw;
    }
    app.Call("Quit");
}

std::string Swapped;

// Another program replaces the target while the merge is under way.
void ReplaceTarget(const std::string& temp)
{
    const std::string target = ExtractFilePath(temp) + "target" + ExtractFileExt(Swapped);
    WriteStringToFile(target + ".other", ReadFileToString(Swapped));
    ASSERT_EQ(::rename((target + ".other").c_str(), target.c_str()), 0);
}

// A second merge into the file starts while the first has it open.
void MergeAgain(const std::string& temp)
{
    Merge(ExtractFilePath(temp) + "target" + ExtractFileExt(Swapped));
}

} // namespace

TEST(TargetFiles, AMergeNeverReplacesAFileOtherThanTheOneItOpened)
{
    const struct {
        void (*During)(const std::string&);
        const char* Refusal;
    } Cases[] = {
        {ReplaceTarget, "changed while it was open"},
        {MergeAgain, "is being merged into by another run"},
    };
    for (const auto& c : Cases)
        for (const char* ext : Kinds) {
            TempDir dir;
            const std::string file = dir / (std::string("target") + ext);
            Swapped = dir / (std::string("swapped") + ext);
            Save(file);
            Save(Swapped);
            const std::string before = ReadFileToString(file);
            TFileReplacement::CreatedHook = c.During;
            try {
                Merge(file);
                ADD_FAILURE() << ext << ": the merge was saved";
            } catch (const Exception& e) {
                EXPECT_NE(e.Message().find(c.Refusal), std::string::npos) << ext << ": " << e.Message();
            }
            TFileReplacement::CreatedHook = nullptr;
            // The file under the name is the other program's, or the one both merges opened.
            EXPECT_EQ(ReadFileToString(file), c.During == ReplaceTarget ? ReadFileToString(Swapped) : before) << ext;
            EXPECT_EQ(FolderEntries(dir.Path).size(), 4u) << ext << ": temporary files left";
        }
}
