// A host program: a window with a table of orders in a data grid, a dataset engine over
// the table and the spreadsheet exporter, and a button that writes the table into a
// workbook. With --export FILE it presses the button itself, prints the result and
// quits (the test command runs it that way, offscreen).

#include <tabrix/engine/db_data_engine.h>
#include <tabrix/framework/data_set.h>
#include <tabrix/framework/db_grid.h>
#include <tabrix/framework/ui_services.h>
#include <tabrix/office/excel_exporter.h>
#include <tabrix/version.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstring>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    std::string target = "orders.xlsx";
    bool unattended = false;
    if (argc == 3 && std::strcmp(argv[1], "--export") == 0) {
        target = argv[2];
        unattended = true;
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Orders - Tabrix " TABRIX_VERSION));
    auto* layout = new QVBoxLayout(&window);

    // The table: a dataset in memory, shown by the suite's data grid.
    auto* orders = new TMemoryDataSet(&window);
    orders->AddField("Id", ftInteger);
    orders->AddField("Customer", ftString, 40);
    orders->AddField("Total", ftFloat);
    orders->AppendRecord({1, "Ada Lovelace", 12.5});
    orders->AppendRecord({2, "Charles Babbage", 1234.75});
    orders->AppendRecord({3, "Grace Hopper", 99.0});
    auto* source = new TDataSource(&window);
    source->SetDataSet(orders);
    auto* grid = new TDBGrid(&window);
    grid->SetDataSource(source);
    layout->addWidget(grid);

    // The components placed on the window: the engine reads the dataset, the exporter
    // writes what the engine gives into a workbook.
    auto* engine = new TKVEDatasetDataEngine(&window);
    engine->SetDataset(orders);
    auto* exporter = new TKVExportToExcel(&window);
    exporter->ColumnSource = csDataEngine;
    exporter->SetDataEngine(engine);
    exporter->SetFileName(target);

    auto* status = new QLabel(QString::fromStdString("Export to " + target), &window);
    auto* button = new QPushButton(QStringLiteral("Export"), &window);
    layout->addWidget(status);
    layout->addWidget(button);
    QObject::connect(button, &QPushButton::clicked, [&] {
        exporter->Execute();
        const bool done = exporter->Statistic().Result == erCompleted;
        status->setText(done ? QStringLiteral("Written") : QStringLiteral("Not written"));
        if (unattended) {
            std::cout << (done ? "written " : "failed ") << target << "\n";
            app.exit(done ? 0 : 1);
        }
    });

    if (unattended) {
        // Boxes are written to standard error instead of waiting for a click, and the
        // run shows no progress window.
        static TConsoleUIServices console;
        SetUIServices(&console);
        exporter->AnimatedStatus = false;
        QTimer::singleShot(0, button, &QPushButton::click);
    }
    window.show();
    return app.exec();
}
