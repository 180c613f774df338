#pragma once
// The main window of tabrix-studio: a database (an SQLite file or a PostgreSQL
// database, read-only), the list of its tables and views, a query editor with the
// queries run in this session, and the suite's data grid showing the chosen table or
// query. The grid reads the rows it shows on demand, so a table of any length opens at
// once and scrolls without being loaded. The person arranges the grid's columns
// (drag a header, hide or show through View > Columns) and selects rows; the export
// takes them as shown.

#include "studio/grid_export.h"
#include "studio/source_database.h"

#include <QMainWindow>
#include <QStringList>
#include <memory>
#include <string>

class QAction;
class QActionGroup;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPlainTextEdit;
class TDataSource;
class TDBGrid;
class TSQLDataSet;

class TfrmStudio : public QMainWindow {
    Q_OBJECT
public:
    // The most sources the recent-files menu keeps.
    static constexpr int MaxRecentSources = 8;
    // The most queries the history keeps.
    static constexpr int MaxHistory = 20;
    // Above this many rows "select all" is refused: selecting means reading every row.
    static constexpr int MaxSelectAllRows = 100000;

    explicit TfrmStudio(QWidget* Parent = nullptr);
    ~TfrmStudio() override;

    // Opens an SQLite file or a PostgreSQL URI; on failure shows why in a box and
    // returns false, with nothing open.
    bool OpenSource(const std::string& Source, const QString& Password = {});
    void CloseSource();
    // Shows a table or view of the open database in the grid; false (after a box) when
    // it cannot be read.
    bool ShowTable(const std::string& Name);
    // Runs a query and shows its rows; the query joins the history.
    bool RunQuery(const std::string& Sql);
    // The setup dialog and the export of the grid.
    void ExportGrid();

    TDBGrid* Grid() const { return FGrid; }
    TGridExport& Export() { return FExport; }
    const TStudioSource& Source() const { return FSource; }
    QListWidget* ObjectList() const { return FObjects; }
    QPlainTextEdit* QueryEditor() const { return FQuery; }
    QComboBox* History() const { return FHistory; }
    // Sources opened lately, the latest first (PostgreSQL URIs without passwords).
    QStringList RecentSources() const;

    QAction* actOpen;
    QAction* actConnect;
    QAction* actClose;
    QAction* actQuit;
    QAction* actRunQuery;
    QAction* actExport;
    QAction* actRepeatExport;
    QAction* actLoadSpec;
    QAction* actSaveSpec;
    QAction* actShowAllColumns;
    QAction* actAbout;
    QActionGroup* grpAfterExport; // data: TActionAfterExport

protected:
    void dragEnterEvent(QDragEnterEvent* Event) override;
    void dropEvent(QDropEvent* Event) override;
    void closeEvent(QCloseEvent* Event) override;
    bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateWidgets();
    void OpenFile();
    void Connect();
    void ObjectActivated(QListWidgetItem* Item);
    void HistoryChosen(int Index);
    void RepeatExport();
    // With Ask the setup dialog comes first; without, the last settings are used.
    void RunExport(bool Ask);
    void LoadSpecification();
    void SaveSpecification();
    void FillColumnsMenu();
    void FillRecentMenu();
    void RememberSource(const std::string& Name);
    // Puts Data into the grid (opening it); false after a box when it cannot be read.
    bool Show(std::unique_ptr<TSQLDataSet> Data, const std::string& Title);
    void ClearGrid();
    void UpdateState();
    // Shows a failure with what to do about it.
    void Failure(const std::string& What, const std::string& Why, const std::string& Hint);
    TActionAfterExport AfterExportChoice() const;
    void SetBusy(bool Busy);
    struct TBusy {
        explicit TBusy(TfrmStudio& Window) : FWindow(Window) { FWindow.SetBusy(true); }
        ~TBusy() { FWindow.SetBusy(false); }
        TBusy(const TBusy&) = delete;
        TBusy& operator=(const TBusy&) = delete;
        TfrmStudio& FWindow;
    };
    void SetAfterExportChoice(TActionAfterExport Action);

    TStudioSource FSource{"tabrix-studio-source"};
    TGridExport FExport;
    TDataSource* FDataSource;
    std::unique_ptr<TSQLDataSet> FDataSet;
    std::string FShownName; // what the grid shows, for the export's file name
    bool FExported = false;

    TDBGrid* FGrid = nullptr;
    QListWidget* FObjects = nullptr;
    QPlainTextEdit* FQuery = nullptr;
    QComboBox* FHistory = nullptr;
    QLabel* FRows = nullptr;
    QMenu* FRecentMenu = nullptr;
    QMenu* FColumnsMenu = nullptr;
};

// The program's icon: a grid of cells with an arrow leaving it, drawn at any size.
QIcon StudioIcon();
