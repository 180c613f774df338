// From the setup dialog to a written file: a user picks Text and a semicolon in the
// dialog and confirms, the factory turns the choice into an exporter in one call, and
// Python's csv module reads back what it wrote; the workbook (XLS) and RTF choices write
// files that xlrd and pandoc read.

#include "export/export_dialog.h"
#include "framework/data_set.h"
#include "framework/ui_services.h"
#include "office/exporter_factory.h"
#include "tests/common/awkward_texts.h"
#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <fstream>

namespace {

TEST(SetupDialogExportTest, ChoiceBecomesAnExporterThatWritesIt)
{
    EnsureQtApplication();
    TempDir dir{"tabrix_setup"};
    TExportChoice choice;
    choice.FileName = dir / "out.doc";
    choice.TableType = teWord;
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<TfrmExportDlg*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        for (int i = 0; i < dialog->rgTableType->Count(); ++i)
            if (dialog->rgTableType->Tag(i) == teText)
                dialog->rgTableType->Button(i)->click();
        dialog->rgSeparator->Button(1)->click(); // "Semicolon"
        dialog->btnOk->click();
    });
    ASSERT_TRUE(SetExportParam(nullptr, choice.FileName, choice.TableName, choice.TableType, choice.CharacterSet,
                               choice.Separator, choice.AddTitle, choice.Fixed, choice.BlankIfZero,
                               choice.SelectedRecord, AllFormats));
    ASSERT_EQ(choice.TableType, teText);
    ASSERT_EQ(choice.Separator, ';');

    TRecordingUIServices ui;
    ui.ForceHasGui = 0;
    TUIServicesScope scope{&ui};
    TMemoryDataSet ds;
    ds.AddField("Text", ftString, 40);
    ds.AddField("No", ftInteger);
    const std::vector<std::string> texts = {"007", "=1+1", "Zoë Ünïcödé", "🎉 emoji", "say 'hi'"};
    for (std::size_t i = 0; i < texts.size(); ++i)
        ds.AppendRecord({Variant(texts[i]), Variant(static_cast<int>(i))});
    ds.First();
    auto exporter = CreateExporterForChoice(choice);
    ASSERT_TRUE(exporter);
    ExportQuietlyFrom(*exporter, ds);
    exporter->Execute();
    ASSERT_EQ(exporter->Statistic().Result, erCompleted);

    std::ofstream(dir / "read.py") << "import sys, csv\n"
                                      "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
                                      "    for row in csv.reader(f, delimiter=';'):\n"
                                      "        print('|'.join(row))\n";
    std::string expected = "Text|No\n";
    for (std::size_t i = 0; i < texts.size(); ++i)
        expected += texts[i] + "|" + std::to_string(i) + "\n";
    EXPECT_EQ(Shell("/usr/bin/python3 '" + dir / "read.py" + "' '" + dir / "out.TXT" + "'"), expected);
}

// The direct .xls and RTF writers behind the dialog's XLS and RTF choices.
TEST(SetupDialogExportTest, XlsAndRtfChoicesWriteTheirFiles)
{
    EnsureQtApplication();
    TempDir dir{"tabrix_setup"};
    TRecordingUIServices ui;
    ui.ForceHasGui = 0;
    TUIServicesScope scope{&ui};
    const struct {
        TTableTypeExport Type;
        std::string File, Reader;
    } cases[] = {
        {teXLS, "out.XLS",
         "/usr/bin/python3 -c 'import sys, xlrd; s = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0); "
         "print(s.cell_value(1, 0), s.cell_value(2, 1))'"},
        {teRTF, "out.RTF", "pandoc -f rtf -t plain"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File);
        TExportChoice choice;
        choice.FileName = dir / "out";
        QTimer::singleShot(0, [&c] {
            auto* dialog = qobject_cast<TfrmExportDlg*>(QApplication::activeModalWidget());
            ASSERT_TRUE(dialog);
            for (int i = 0; i < dialog->rgTableType->Count(); ++i)
                if (dialog->rgTableType->Tag(i) == c.Type)
                    dialog->rgTableType->Button(i)->click();
            dialog->btnOk->click();
        });
        ASSERT_TRUE(SetExportParam(nullptr, choice.FileName, choice.TableName, choice.TableType, choice.CharacterSet,
                                   choice.Separator, choice.AddTitle, choice.Fixed, choice.BlankIfZero,
                                   choice.SelectedRecord, AllFormats));
        ASSERT_EQ(choice.TableType, c.Type);
        TMemoryDataSet ds;
        ds.AddField("Text", ftString, 40);
        ds.AddField("No", ftFloat);
        ds.AppendRecord({Variant("Zoë"), Variant(0.5)});
        ds.AppendRecord({Variant("🎉"), Variant(0.1 + 0.2)});
        ds.First();
        auto exporter = CreateExporterForChoice(choice);
        ASSERT_TRUE(exporter);
        ExportQuietlyFrom(*exporter, ds);
        exporter->Execute();
        ASSERT_EQ(exporter->Statistic().Result, erCompleted);
        const std::string read = Shell(c.Reader + " '" + dir / c.File + "'");
        EXPECT_NE(read.find(c.Type == teXLS ? "Zoë 0.30000000000000004" : "Zoë"), std::string::npos) << read;
    }
}

} // namespace
