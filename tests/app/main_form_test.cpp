// The main window under the offscreen platform, with the picture dialog answered by
// the test and the written documents read back by LibreOffice.

#include "app/application.h"
#include "app/main_form.h"
#include "framework/exceptions.h"
#include "framework/files.h"
#include "framework/qt_ui_services.h"
#include "tests/common/qt_application.h"
#include "tests/support/libreoffice_reader.h"
#include "tests/support/test_pictures.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <pugixml.hpp>

#include <filesystem>
#include <optional>

namespace {

using Choice = std::optional<std::vector<std::string>>;

// The embedded images of a document as LibreOffice reads them, decoded.
std::vector<QImage> EmbeddedImages(const LoDocument& doc)
{
    std::vector<QImage> images;
    pugi::xml_document xml;
    if (!xml.load_string(doc.Xml.c_str()))
        return images;
    for (const pugi::xpath_node& node : xml.select_nodes("//*[local-name()='binary-data']")) {
        QByteArray data = QByteArray::fromBase64(QByteArray(node.node().child_value()));
        images.push_back(QImage::fromData(data));
    }
    return images;
}

bool SamePixels(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return false;
    QImage x = a.convertToFormat(QImage::Format_RGB32);
    QImage y = b.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); ++row)
        for (int col = 0; col < x.width(); ++col)
            if ((x.pixel(col, row) & 0xFFFFFF) != (y.pixel(col, row) & 0xFFFFFF))
                return false;
    return true;
}

class MainFormTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureQtApplication();
        ASSERT_TRUE(dir.isValid());
        form = std::make_unique<TfrmMain>();
        form->OpenPictureDialog1->Chooser = [this](TOpenPictureDialog&) { return next; };
        form->KVExportToWord1->OnBeforeExecute = [this](TPersistent*) { ++runs; };
    }

    void TearDown() override { form.reset(); }

    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }

    // Clicks Export with the dialog answering Answer.
    void ClickExport(Choice Answer)
    {
        next = std::move(Answer);
        form->btnExport->click();
    }

    std::vector<std::string> Listed() const { return form->PictureFiles()->Lines(); }

    static bool HaveLibreOffice()
    {
        static const bool available = LibreOfficeAvailable();
        return available;
    }

    TRecordingUIServices ui;
    TUIServicesScope scope{&ui};
    QTemporaryDir dir;
    std::unique_ptr<TfrmMain> form;
    Choice next;
    int runs = 0;
};

TEST_F(MainFormTest, WindowAndDialogSettings)
{
    EXPECT_EQ(form->windowTitle().toStdString(), "Tabrix: save the bmp-file  to MS Word");
    EXPECT_FALSE(form->windowIcon().isNull());
    EXPECT_EQ(form->font().pixelSize(), 11);

    EXPECT_EQ(form->pnlAction->height(), 41);
    form->show();
    EXPECT_EQ(form->frameGeometry().size(), QSize(376, 95)) << "376 x 95 is the outer size, frame included";
    EXPECT_EQ(form->pnlAction->geometry().top(), 0);
    EXPECT_EQ(form->pnlAction->width(), form->width()) << "the panel spans the window's top";

    EXPECT_EQ(form->lblURL->parentWidget(), form->pnlAction);
    EXPECT_EQ(form->lblURL->pos(), QPoint(32, 16));
    EXPECT_EQ(form->lblURL->text().toStdString(), "https://tabrix.example.org");
    EXPECT_TRUE(form->lblURL->font().underline());
    EXPECT_EQ(form->lblURL->palette().color(form->lblURL->foregroundRole()), QColor(Qt::blue));
    EXPECT_EQ(form->lblURL->cursor().shape(), Qt::PointingHandCursor);

    EXPECT_EQ(form->btnExport->parentWidget(), form->pnlAction);
    EXPECT_EQ(form->btnExport->geometry(), QRect(264, 8, 75, 25));
    EXPECT_EQ(form->btnExport->text().toStdString(), "Export");
    QWidget* first = form->nextInFocusChain();
    while (first != form.get() && !(first->focusPolicy() & Qt::TabFocus))
        first = first->nextInFocusChain();
    EXPECT_EQ(first, form->btnExport) << "the button is first in tab order";

    const TOpenPictureDialog& d = *form->OpenPictureDialog1;
    EXPECT_EQ(d.DefaultExt, "bmp");
    EXPECT_EQ(d.InitialDir, ProgramFolder());
    EXPECT_TRUE(d.Filter.empty());
    EXPECT_EQ(d.Options, ofHideReadOnly | ofAllowMultiSelect | ofPathMustExist | ofFileMustExist | ofEnableSizing);

    EXPECT_EQ(form->KVExportToWord1->FileName(), ProgramFolder() + "tabrix.doc");
    EXPECT_EQ(form->KVExportToWord1->DataEngine(), form->KVEVirtualDataEngine1);
}

TEST_F(MainFormTest, CancellingStartsNothingAndKeepsTheList)
{
    form->KVExportToWord1->SetFileName(Path("out.doc"));
    const std::string red = TABRIX_TEST_DATA "/red_16x8.bmp";
    ClickExport(std::vector<std::string>{red});
    ASSERT_EQ(runs, 1);
    ASSERT_EQ(form->KVExportToWord1->Statistic().Result, erCompleted);
    ASSERT_TRUE(FileExists(Path("out.doc")));
    const std::string written = ReadWholeFile(Path("out.doc"));
    const std::string header = form->KVExportToWord1->Header().Text();
    const size_t boxes = ui.Boxes.size();

    std::filesystem::remove(Path("out.doc"));
    form->KVExportToWord1->Header().SetText("changed");
    ClickExport(std::nullopt);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(form->OpenPictureDialog1->ExecuteCount(), 2);
    EXPECT_EQ(Listed(), std::vector<std::string>{red});
    EXPECT_EQ(form->KVExportToWord1->Header().Text(), "changed\r\n") << "the exporter is left as it was";
    EXPECT_EQ(ui.Boxes.size(), boxes);
    EXPECT_FALSE(FileExists(Path("out.doc")));
    EXPECT_EQ(header, "Tabrix suite: https://tabrix.example.org\r\nPicture exporting\r\n\r\n");
    EXPECT_FALSE(written.empty());
}

TEST_F(MainFormTest, TwoPicturesBesideTheProgram)
{
    // Pictures a few folders deep: only the last path component is shown.
    std::filesystem::create_directories(Path("holiday/day 1"));
    const std::string first = Path("holiday/day 1/beach.bmp");
    const std::string second = Path("holiday/sunset.bmp");
    WriteTestPicture(first, 40, 30, 1);
    WriteTestPicture(second, 24, 50, 2);

    const std::string document = ProgramFolder() + "tabrix.doc";
    std::filesystem::remove(document);
    struct Cleanup {
        std::string File;
        ~Cleanup() { std::filesystem::remove(File); }
    } cleanup{document};

    ClickExport(std::vector<std::string>{first, second});
    ASSERT_EQ(form->KVExportToWord1->Statistic().Result, erCompleted)
        << (ui.Boxes.empty() ? "" : ui.Boxes.back().Text);
    EXPECT_EQ(Listed(), (std::vector<std::string>{first, second}));
    ASSERT_TRUE(FileExists(document));
    EXPECT_EQ(form->KVExportToWord1->Columns().Count(), 0) << "the run's columns are cleared again";
    EXPECT_EQ(form->KVExportToWord1->Statistic().TotalCount, 3 + 1 + 2);

    if (!HaveLibreOffice())
        GTEST_SKIP() << "LibreOffice is not available";
    LoDocument doc = ReadWithLibreOffice(document);
    ASSERT_GE(doc.Paragraphs.size(), 3u);
    EXPECT_EQ(doc.Paragraphs[0].Text, "Tabrix suite: https://tabrix.example.org");
    EXPECT_EQ(doc.Paragraphs[1].Text, "Picture exporting");
    EXPECT_EQ(doc.Paragraphs[2].Text, "");
    ASSERT_GE(doc.Outline.size(), 4u);
    EXPECT_EQ(doc.Outline[3], "table:0") << "the table follows the three header lines";

    ASSERT_EQ(doc.Tables.size(), 1u);
    const LoTable& table = doc.Tables[0];
    ASSERT_GE(table.Rows.size(), 3u);
    EXPECT_EQ(table.Cell(0, 0), "Picture filename");
    EXPECT_EQ(table.Cell(0, 1), "Picture");
    EXPECT_EQ(table.Cell(1, 0), "beach.bmp");
    EXPECT_EQ(table.Cell(2, 0), "sunset.bmp");
    EXPECT_EQ(table.Rows[1][1].Pictures, 1);
    EXPECT_EQ(table.Rows[2][1].Pictures, 1);
    for (std::size_t row = 3; row < table.Rows.size(); ++row)
        for (const LoText& cell : table.Rows[row])
            EXPECT_TRUE(cell.Text.empty() && cell.Pictures == 0) << "row " << row;

    ASSERT_EQ(doc.Pictures.size(), 2u);
    EXPECT_EQ(doc.Pictures[0].PixelWidth, 40);
    EXPECT_EQ(doc.Pictures[0].PixelHeight, 30);
    EXPECT_EQ(doc.Pictures[1].PixelWidth, 24);
    EXPECT_EQ(doc.Pictures[1].PixelHeight, 50);
    std::vector<QImage> images = EmbeddedImages(doc);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_TRUE(SamePixels(images[0], QImage(QString::fromStdString(first))));
    EXPECT_TRUE(SamePixels(images[1], QImage(QString::fromStdString(second))));
}

TEST_F(MainFormTest, BitmapWithNulBytesArrivesWhole)
{
    const std::string nul = TABRIX_TEST_DATA "/black_nul_10x10.bmp";
    const std::string red = TABRIX_TEST_DATA "/red_16x8.bmp";
    form->KVExportToWord1->SetFileName(Path("nul.docx"));
    ClickExport(std::vector<std::string>{nul, red});
    ASSERT_EQ(form->KVExportToWord1->Statistic().Result, erCompleted);

    if (!HaveLibreOffice())
        GTEST_SKIP() << "LibreOffice is not available";
    LoDocument doc = ReadWithLibreOffice(Path("nul.docx"));
    ASSERT_EQ(doc.Tables.size(), 1u);
    EXPECT_EQ(doc.Tables[0].Cell(1, 0), "black_nul_10x10.bmp");
    ASSERT_EQ(doc.Pictures.size(), 2u);
    EXPECT_EQ(doc.Pictures[0].PixelWidth, 10);
    EXPECT_EQ(doc.Pictures[0].PixelHeight, 10);
    std::vector<QImage> images = EmbeddedImages(doc);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_TRUE(SamePixels(images[0], QImage(QString::fromStdString(nul))));
    EXPECT_TRUE(SamePixels(images[1], QImage(QString::fromStdString(red))));
}

TEST_F(MainFormTest, UnreadableOrForeignPicturesFailTheRun)
{
    const std::string earlier = "an earlier document";
    const std::string out = Path("out.doc");
    WriteWholeFile(out, earlier);
    form->KVExportToWord1->SetFileName(out);

    // A chosen file deleted before the export.
    const std::string deleted = Path("deleted.bmp");
    WriteWholeFile(deleted, ReadWholeFile(TABRIX_TEST_DATA "/red_16x8.bmp"));
    next = std::vector<std::string>{TABRIX_TEST_DATA "/red_16x8.bmp", deleted};
    form->OpenPictureDialog1->Chooser = [&](TOpenPictureDialog&) {
        std::filesystem::remove(deleted);
        return next;
    };
    form->btnExport->click();
    EXPECT_EQ(form->KVExportToWord1->Statistic().Result, erFailed);
    ASSERT_FALSE(ui.Boxes.empty());
    EXPECT_EQ(ui.Boxes.back().Text.rfind("Error of data export.: Cannot open file", 0), 0u) << ui.Boxes.back().Text;
    EXPECT_NE(ui.Boxes.back().Text.find("deleted.bmp"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(out), earlier) << "a failed run does not replace the document";

    // A file that is not a bitmap.
    form->OpenPictureDialog1->Chooser = [this](TOpenPictureDialog&) { return next; };
    ui.Boxes.clear();
    ClickExport(std::vector<std::string>{TABRIX_TEST_DATA "/not_a_bitmap.bmp"});
    EXPECT_EQ(form->KVExportToWord1->Statistic().Result, erFailed);
    ASSERT_EQ(ui.Boxes.size(), 1u);
    EXPECT_EQ(ui.Boxes[0].Text.rfind("Error of data export.: ", 0), 0u) << ui.Boxes[0].Text;
    EXPECT_NE(ui.Boxes[0].Text.find("bitmap"), std::string::npos) << ui.Boxes[0].Text;
    EXPECT_EQ(ReadWholeFile(out), earlier);

    // The window is usable again afterwards.
    ClickExport(std::vector<std::string>{TABRIX_TEST_DATA "/gradient_40x30.bmp"});
    EXPECT_EQ(form->KVExportToWord1->Statistic().Result, erCompleted);
    EXPECT_NE(ReadWholeFile(out), earlier);
}

TEST_F(MainFormTest, NoSecondExportWhileOneRuns)
{
    form->KVExportToWord1->SetFileName(Path("busy.doc"));
    const std::vector<std::string> files{TABRIX_TEST_DATA "/red_16x8.bmp", TABRIX_TEST_DATA "/gradient_40x30.bmp"};
    bool buttonWasOff = false;
    bool nestedRaised = false;
    // In the middle of the run (where the progress window lets clicks through) the
    // user clicks Export again.
    form->KVExportToWord1->OnProgress = [&](TPersistent*, int CurValue, int MaxValue, bool&) {
        if (CurValue != 1 || MaxValue != 2)
            return;
        buttonWasOff = !form->btnExport->isEnabled();
        form->btnExport->click();
        form->btnExportClick(nullptr);
        try {
            form->ExportPictures({TABRIX_TEST_DATA "/black_nul_10x10.bmp"});
        } catch (const Exception&) {
            nestedRaised = true;
        }
    };
    ClickExport(files);
    EXPECT_TRUE(buttonWasOff);
    EXPECT_TRUE(nestedRaised);
    EXPECT_EQ(form->OpenPictureDialog1->ExecuteCount(), 1) << "no dialog while the export runs";
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(form->KVExportToWord1->Statistic().Result, erCompleted);
    EXPECT_EQ(Listed(), files);
    EXPECT_TRUE(form->btnExport->isEnabled()) << "the button is back after the run";
    EXPECT_FALSE(form->Running());

    // Also after a failed run.
    ClickExport(std::vector<std::string>{Path("missing.bmp")});
    EXPECT_EQ(form->KVExportToWord1->Statistic().Result, erFailed);
    EXPECT_TRUE(form->btnExport->isEnabled());
    EXPECT_FALSE(form->Running());
}

TEST_F(MainFormTest, ErrorBoxOfARunGoesOverItsProgressWindow)
{
    // The real message boxes: a box without a parent would sit under the progress
    // window, which stays on top.
    TQtUIServices qt;
    TUIServicesScope real{&qt};
    form->KVExportToWord1->SetFileName(Path("out.doc"));
    std::vector<std::string> owners;
    QTimer answer;
    answer.setInterval(0);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            owners.push_back(box->parentWidget() ? box->parentWidget()->objectName().toStdString() : "");
            box->done(QMessageBox::Ok);
        }
    });
    answer.start();
    form->show();
    ClickExport(std::vector<std::string>{TABRIX_TEST_DATA "/not_a_bitmap.bmp"});
    EXPECT_EQ(form->KVExportToWord1->Statistic().Result, erFailed);
    EXPECT_EQ(owners, std::vector<std::string>{"frmKVEProcess"});
}

TEST_F(MainFormTest, ClosingTheWindowDuringARunCancelsItAndClosesAfterwards)
{
    form->KVExportToWord1->SetFileName(Path("closed.doc"));
    form->show();
    bool openDuringRun = false;
    form->KVExportToWord1->OnProgress = [&](TPersistent*, int CurValue, int MaxValue, bool&) {
        if (CurValue == 1 && MaxValue == 2) {
            form->close();
            openDuringRun = form->isVisible();
        }
    };
    ClickExport(std::vector<std::string>{TABRIX_TEST_DATA "/red_16x8.bmp", TABRIX_TEST_DATA "/gradient_40x30.bmp"});
    EXPECT_TRUE(openDuringRun) << "the window stays until the run has closed";
    EXPECT_EQ(form->KVExportToWord1->Statistic().Result, erCanceled);
    EXPECT_FALSE(form->isVisible()) << "then it closes, and with the last window the program ends";
}

TEST_F(MainFormTest, ExceptionDisplayShowsTheMessage)
{
    GuardedCall([] { throw EFOpenError("Cannot open file x"); });
    GuardedCall([] { throw 7; });
    ASSERT_EQ(ui.Boxes.size(), 2u);
    EXPECT_EQ(ui.Boxes[0].Text, "Cannot open file x");
    EXPECT_EQ(ui.Boxes[0].Kind, mkError);
    EXPECT_EQ(ui.Boxes[1].Text, "") << "any other thrown object shows an empty message";

    // A click handler that throws is shown and the window goes on.
    form->OpenPictureDialog1->Chooser = [](TOpenPictureDialog&) -> Choice { throw Exception("dialog broke"); };
    form->btnExport->click();
    ASSERT_EQ(ui.Boxes.size(), 3u);
    EXPECT_EQ(ui.Boxes[2].Text, "dialog broke");
    EXPECT_EQ(runs, 0);
}

} // namespace
