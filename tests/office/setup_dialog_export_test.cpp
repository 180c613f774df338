// From the setup dialog to a written file: a user picks Text and a semicolon in the
// dialog and confirms, the factory turns the choice into an exporter in one call, and
// Python's csv module reads back what it wrote.

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

} // namespace
