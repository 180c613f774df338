#pragma once
// The main window of tabrix-studio under the offscreen platform, with boxes recorded
// instead of shown and the recent-files settings in a folder of the test's own; files
// written by an export read back by Python's csv module.

#include "framework/db_grid.h"
#include "framework/ui_services.h"
#include "studio/studio_window.h"
#include "tests/common/qt_application.h"
#include "tests/common/temp_folder.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

// Standard output of a shell command.
inline std::string Shell(const std::string& Command)
{
    std::string out;
    if (FILE* p = popen(Command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = fread(buffer, 1, sizeof buffer, p))
            out.append(buffer, n);
        pclose(p);
    }
    return out;
}

// The rows of a CSV file as Python's csv module reads them, one line per row with the
// fields joined by '|'.
inline std::string CsvRows(const std::string& File)
{
    return Shell("/usr/bin/python3 -c 'import csv,sys\n"
                 "for r in csv.reader(open(sys.argv[1], newline=\"\", encoding=\"utf-8\")): print(\"|\".join(r))' '"
                 + File + "'");
}

class StudioTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureQtApplication();
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromStdString(Dir.Path));
        Boxes.ForceHasGui = 1;
        Window = std::make_unique<TfrmStudio>();
        Window->show();
        Activate(*Window);
    }
    void TearDown() override { Window.reset(); }

    // Runs Action (which opens a modal dialog) with Drive answering that dialog.
    template <class Dialog>
    void WithDialog(const std::function<void(Dialog&)>& Drive, const std::function<void()>& Action)
    {
        bool driven = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr) << "no dialog came up";
            driven = true;
            Drive(*dialog);
        });
        Action();
        EXPECT_TRUE(driven);
    }

    TempDir Dir{"tabrix_studio"};
    TRecordingUIServices Boxes;
    TUIServicesScope Scope{&Boxes};
    std::unique_ptr<TfrmStudio> Window;
};
