// The picture export's engine handlers and settings, called directly.

#include "app/picture_export_job.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/streams.h"
#include "framework/ui_services.h"
#include "tests/support/test_pictures.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <filesystem>
#include <sys/stat.h>

namespace {

class PictureJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        job.FormCreate(nullptr);
    }

    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }

    // The value the handler gives for a column named FieldName on the current row;
    // unassigned when it gives none.
    Variant ValueFor(const std::string& FieldName)
    {
        TKVEColumns columns(nullptr);
        TKVEColumn* column = columns.Add();
        column->FieldName = FieldName;
        Variant value;
        job.KVEVirtualDataEngine1GetValue(job.KVEVirtualDataEngine1, column, value);
        return value;
    }

    void UseFiles(const std::vector<std::string>& files)
    {
        for (const auto& f : files)
            job.PictureFiles()->Add(f);
        job.KVEVirtualDataEngine1First(nullptr);
    }

    QTemporaryDir dir;
    TPictureExportJob job;
};

TEST_F(PictureJobTest, StoredSettingsAndStartUp)
{
    TKVExportToWord& w = *job.KVExportToWord1;
    EXPECT_EQ(w.DataEngine(), job.KVEVirtualDataEngine1);
    EXPECT_EQ(w.ColumnSource, csDataEngine);
    EXPECT_EQ(w.Columns().Count(), 0);
    EXPECT_EQ(w.FileName(), ProgramFolder() + "tabrix.doc");
    EXPECT_TRUE(w.AddTitle);
    EXPECT_TRUE(w.AnimatedStatus);
    EXPECT_EQ(w.CharacterSet, csANSI_WINDOWS);
    EXPECT_FALSE(w.SelectedRecord);
    EXPECT_FALSE(w.BlankIfZero);
    EXPECT_FALSE(w.RightToLeft);
    EXPECT_EQ(w.ActionAfterExport, aeNone);
    EXPECT_EQ(w.Options, DefaultOptions);
    EXPECT_EQ(w.ExportStyle().Style(), esNormal);
    EXPECT_EQ(w.ExportStyle().OddColor, TColor(0));
    EXPECT_EQ(w.ExportStyle().EvenColor, TColor(0));
    EXPECT_EQ(w.Statistic().TotalCount, 0);
    EXPECT_EQ(w.Statistic().Result, erInProgress);
    const TKVEDataFormats& f = w.DataFormats();
    EXPECT_EQ(f.DateSeparator, "/");
    EXPECT_EQ(f.TimeSeparator, ":");
    EXPECT_TRUE(f.FourDigitYear);
    EXPECT_TRUE(f.LeadingZerosInDate);
    EXPECT_EQ(f.ThousandSeparator, "\xC2\xA0");
    EXPECT_EQ(f.DecimalSeparator, ",");
    EXPECT_EQ(f.CurrencyString, "\xD1\x80.");
    EXPECT_EQ(f.BooleanTrue, "True");
    EXPECT_EQ(f.BooleanFalse, "False");
    EXPECT_FALSE(f.UseRegionalSettings);

    ASSERT_NE(job.PictureFiles(), nullptr);
    EXPECT_EQ(job.PictureFiles()->Count(), 0);
    job.FormDestroy(nullptr);
    EXPECT_EQ(job.PictureFiles(), nullptr);
    int count = -1;
    job.KVEVirtualDataEngine1Count(nullptr, count);
    EXPECT_EQ(count, 0) << "no list counts as no rows";
}

TEST_F(PictureJobTest, HeaderTextGivesThreeLines)
{
    TStringList header;
    header.SetText(TPictureExportJob::HeaderText());
    ASSERT_EQ(header.Count(), 3);
    EXPECT_EQ(header[0], "Tabrix suite: https://tabrix.example.org");
    EXPECT_EQ(header[1], "Picture exporting");
    EXPECT_EQ(header[2], "");
}

TEST_F(PictureJobTest, FileNameIsTheLastPathComponent)
{
    // Only "/" ends a folder: "\\" and ":" belong to the name.
    UseFiles({"/deep/er/still/deeper/pic.bmp", "/pics/shot 12:30.bmp", "/pics/a\\b.bmp", "plain.bmp"});
    const char* expected[] = {"pic.bmp", "shot 12:30.bmp", "a\\b.bmp", "plain.bmp"};
    bool abort = false;
    for (const char* name : expected) {
        Variant value = ValueFor("FileName");
        EXPECT_EQ(value.VarType(), varString);
        EXPECT_EQ(value.AsString(), name);
        job.KVEVirtualDataEngine1Next(nullptr, abort);
    }
}

TEST_F(PictureJobTest, GraphicIsTheWholeFileWithNulBytes)
{
    const std::string file = TABRIX_TEST_DATA "/black_nul_10x10.bmp";
    const std::string bytes = ReadWholeFile(file);
    ASSERT_NE(bytes.find('\0'), std::string::npos);
    UseFiles({file});
    Variant value = ValueFor("Graphic");
    EXPECT_EQ(value.VarType(), varString);
    EXPECT_EQ(value.StringRef().size(), bytes.size());
    EXPECT_TRUE(value.StringRef() == bytes);

    // Bytes that are no whole bitmap are refused here, naming their file.
    WriteWholeFile(Path("empty.bmp"), "");
    WriteWholeFile(Path("cut.bmp"), bytes.substr(0, 100));
    job.PictureFiles()->Clear();
    UseFiles({Path("empty.bmp"), Path("cut.bmp")});
    for (const char* cause : {"the data is not a Windows bitmap", "the pixel data is cut short"}) {
        try {
            ValueFor("Graphic");
            ADD_FAILURE() << cause;
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message().rfind("Bitmap image is not valid: " + job.PictureFiles()->Strings(job.RowIndex()) + ": ", 0), 0u) << e.Message();
            EXPECT_NE(e.Message().find(cause), std::string::npos) << e.Message();
        }
        bool abort = false;
        job.KVEVirtualDataEngine1Next(nullptr, abort);
    }
}

TEST_F(PictureJobTest, FieldNamesCompareWithLetterCase)
{
    UseFiles({TABRIX_TEST_DATA "/red_16x8.bmp"});
    for (const char* name : {"filename", "FILENAME", "Filename", "graphic", "GRAPHIC", "Graphic ", "", "Other"})
        EXPECT_TRUE(ValueFor(name).IsEmpty()) << name;

    // No column: the value is left as it was.
    Variant value(42);
    job.KVEVirtualDataEngine1GetValue(nullptr, nullptr, value);
    EXPECT_EQ(value.AsInteger(), 42);
}

TEST_F(PictureJobTest, UnreadablePictureFilesRaiseFileErrors)
{
    UseFiles({Path("gone.bmp")});
    try {
        ValueFor("Graphic");
        FAIL() << "a missing file must not give a value";
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message().find("Cannot open file"), std::string::npos) << e.Message();
        EXPECT_NE(e.Message().find("gone.bmp"), std::string::npos) << e.Message();
    }
    // The name alone needs no file.
    EXPECT_EQ(ValueFor("FileName").AsString(), "gone.bmp");

    // A folder is refused at once.
    job.PictureFiles()->Clear();
    UseFiles({dir.path().toStdString()});
    EXPECT_THROW(ValueFor("Graphic"), EFOpenError);

    // A named pipe would block the read forever; it is refused as well.
    const std::string fifo = Path("pipe.bmp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    job.PictureFiles()->Clear();
    UseFiles({fifo});
    EXPECT_THROW(ValueFor("Graphic"), EFOpenError);

    // Rows outside the list are a list error, not a stray read.
    job.PictureFiles()->Clear();
    UseFiles({TABRIX_TEST_DATA "/red_16x8.bmp"});
    bool abort = false;
    job.KVEVirtualDataEngine1Next(nullptr, abort);
    EXPECT_THROW(ValueFor("FileName"), EListError);
    EXPECT_THROW(ValueFor("Graphic"), EListError);
}

TEST_F(PictureJobTest, OthersMayReadButNotWriteWhileThePictureIsRead)
{
    const std::string file = Path("shared.bmp");
    WriteWholeFile(file, ReadWholeFile(TABRIX_TEST_DATA "/red_16x8.bmp"));
    UseFiles({file});
    {
        // Another reader that denies writing does not stop us.
        TFileStream reader(file, fmOpenRead | fmShareDenyWrite);
        EXPECT_EQ(ValueFor("Graphic").StringRef().size(), static_cast<std::size_t>(FileSizeOf(file)));
    }
    {
        // A writer holding the file exclusively does.
        TFileStream writer(file, fmOpenReadWrite | fmShareExclusive);
        EXPECT_THROW(ValueFor("Graphic"), EFOpenError);
    }
    EXPECT_FALSE(ValueFor("Graphic").StringRef().empty());
}

} // namespace
