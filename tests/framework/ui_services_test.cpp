#include "framework/qt_ui_services.h"

#include "tests/common/qt_application.h"

#include <QAbstractButton>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

namespace {

// Runs Script on the next modal box.
template <class Box>
void OnBox(std::function<void(Box&)> Script)
{
    QTimer::singleShot(0, [Script] {
        if (auto* box = qobject_cast<Box*>(QApplication::activeModalWidget()))
            Script(*box);
    });
}

} // namespace

// Enter must never replace anything: No is the question's default button.
TEST(QtUIServices, QuestionDefaultsToNo)
{
    EnsureQtApplication();
    TQtUIServices ui;
    OnBox<QMessageBox>([](QMessageBox& box) {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(&box, &enter);
    });
    EXPECT_FALSE(ui.AskYesNo("Replace?", mkWarning));
    OnBox<QMessageBox>([](QMessageBox& box) { box.button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(ui.AskYesNo("Replace?", mkWarning));
}

TEST(QtUIServices, InputQueryChangesTheValueOnlyWhenConfirmed)
{
    EnsureQtApplication();
    TQtUIServices ui;
    std::string value = "Items";
    OnBox<QInputDialog>([](QInputDialog& box) {
        EXPECT_EQ(box.windowTitle(), "Caption");
        EXPECT_EQ(box.labelText(), "Table name:");
        EXPECT_EQ(box.textValue(), "Items");
        box.setTextValue("Orders");
        box.reject();
    });
    EXPECT_FALSE(ui.InputQuery("Caption", "Table name:", value));
    EXPECT_EQ(value, "Items");
    OnBox<QInputDialog>([](QInputDialog& box) {
        box.setTextValue("Orders");
        box.accept();
    });
    EXPECT_TRUE(ui.InputQuery("Caption", "Table name:", value));
    EXPECT_EQ(value, "Orders");
}
