#include "studio/studio_window.h"

#include "framework/db_grid.h"
#include "framework/exceptions.h"
#include "framework/file_dialog.h"
#include "framework/sql_data_set.h"
#include "framework/sql_source.h"
#include "framework/ui_services.h"
#include "studio/connection_dialog.h"
#include "studio/grid_columns.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>
#include <algorithm>

namespace {

QSettings StudioSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, "Tabrix", "tabrix-studio");
}

constexpr int ItemKindRole = Qt::UserRole; // 0: a heading, 1: a table or view

} // namespace

QIcon StudioIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 16.0;
        p.setPen(QPen(QColor(0x2e, 0x5c, 0x8a), u));
        p.setBrush(QColor(0xf4, 0xf7, 0xfb));
        p.drawRect(QRectF(1 * u, 2 * u, 10 * u, 11 * u));
        p.setBrush(QColor(0x2e, 0x5c, 0x8a));
        p.drawRect(QRectF(1 * u, 2 * u, 10 * u, 3 * u));
        for (qreal y : {7.5, 10.0})
            p.drawLine(QPointF(1 * u, y * u), QPointF(11 * u, y * u));
        p.drawLine(QPointF(6 * u, 2 * u), QPointF(6 * u, 13 * u));
        p.setPen(QPen(QColor(0xd9, 0x6c, 0x1e), 1.6 * u, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(8 * u, 11 * u), QPointF(15 * u, 11 * u));
        p.drawPolyline(QPolygonF({QPointF(12.5 * u, 8.5 * u), QPointF(15 * u, 11 * u), QPointF(12.5 * u, 13.5 * u)}));
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

TfrmStudio::TfrmStudio(QWidget* Parent)
    : QMainWindow(Parent)
    , FDataSource(new TDataSource(this))
{
    setObjectName("frmStudio");
    setWindowIcon(StudioIcon());
    setAcceptDrops(true);
    resize(1000, 680);
    CreateActions();
    CreateWidgets();
    CreateMenus();
    UpdateState();
}

TfrmStudio::~TfrmStudio()
{
    ClearGrid();
}

// ---------------------------------------------------------------------------
// Building the window

void TfrmStudio::CreateActions()
{
    auto make = [this](const QString& Text, QStyle::StandardPixmap Icon, const QList<QKeySequence>& Keys,
                       void (TfrmStudio::*Slot)()) {
        auto* a = new QAction(Text, this);
        if (Icon != QStyle::SP_CustomBase)
            a->setIcon(style()->standardIcon(Icon));
        a->setShortcuts(Keys);
        connect(a, &QAction::triggered, this, Slot);
        return a;
    };
    actOpen = make(tr("&Open Database..."), QStyle::SP_DialogOpenButton, {QKeySequence::Open}, &TfrmStudio::OpenFile);
    actOpen->setStatusTip(tr("Open an SQLite database file"));
    actConnect = make(tr("&Connect to PostgreSQL..."), QStyle::SP_DriveNetIcon, {QKeySequence("Ctrl+Shift+O")},
                      &TfrmStudio::Connect);
    actClose = make(tr("&Close Database"), QStyle::SP_CustomBase, {QKeySequence::Close}, &TfrmStudio::CloseSource);
    actQuit = new QAction(tr("&Quit"), this);
    actQuit->setShortcuts({QKeySequence::Quit, QKeySequence("Ctrl+Q")});
    connect(actQuit, &QAction::triggered, this, &QWidget::close);
    actRunQuery = new QAction(style()->standardIcon(QStyle::SP_MediaPlay), tr("&Run Query"), this);
    actRunQuery->setShortcuts({QKeySequence("F5"), QKeySequence("Ctrl+Return")});
    connect(actRunQuery, &QAction::triggered, this, [this] { RunQuery(FQuery->toPlainText().toStdString()); });
    actExport = make(tr("&Export..."), QStyle::SP_DialogSaveButton, {QKeySequence("Ctrl+E")}, &TfrmStudio::ExportGrid);
    actExport->setStatusTip(tr("Export the grid's visible columns, all rows or the selected ones"));
    actRepeatExport = make(tr("&Repeat Export"), QStyle::SP_BrowserReload, {QKeySequence("Ctrl+Shift+E")},
                           &TfrmStudio::RepeatExport);
    actRepeatExport->setStatusTip(tr("Export again with the last settings, without asking"));
    actLoadSpec = make(tr("&Load Specification..."), QStyle::SP_FileDialogContentsView, {QKeySequence("Ctrl+L")},
                       &TfrmStudio::LoadSpecification);
    actSaveSpec = make(tr("&Save Specification..."), QStyle::SP_FileDialogDetailedView, {QKeySequence("Ctrl+Shift+S")},
                       &TfrmStudio::SaveSpecification);
    actShowAllColumns = new QAction(tr("Show &All Columns"), this);
    connect(actShowAllColumns, &QAction::triggered, this, [this] {
        for (int i = 0; i < FGrid->Columns().Count(); ++i)
            if (!FGrid->Columns()[i]->Visible())
                SetGridColumnVisible(*FGrid, i, true);
    });
    actAbout = new QAction(tr("&About Tabrix Studio"), this);
    connect(actAbout, &QAction::triggered, this, [this] {
        QMessageBox::about(this, tr("About Tabrix Studio"),
                           tr("<b>Tabrix Studio %1</b><p>Browse a table or a query of an SQLite or PostgreSQL "
                              "database and export it with the Tabrix export suite.</p>")
                               .arg(QCoreApplication::applicationVersion()));
    });
    grpAfterExport = new QActionGroup(this);
    const std::pair<QString, TActionAfterExport> after[] = {
        {tr("Do &Nothing"), aeNone}, {tr("&Open the File"), aeOpenView}, {tr("&Mail the File"), aeEMail}};
    for (const auto& [text, action] : after) {
        QAction* a = grpAfterExport->addAction(text);
        a->setCheckable(true);
        a->setData(static_cast<int>(action));
    }
    SetAfterExportChoice(aeNone);
}

void TfrmStudio::CreateWidgets()
{
    FObjects = new QListWidget;
    FObjects->setObjectName("lstObjects");
    connect(FObjects, &QListWidget::itemActivated, this, &TfrmStudio::ObjectActivated);

    FQuery = new QPlainTextEdit;
    FQuery->setObjectName("edQuery");
    FQuery->setPlaceholderText(tr("SELECT ... (F5 or Ctrl+Enter runs it)"));
    FQuery->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    FHistory = new QComboBox;
    FHistory->setObjectName("cbHistory");
    FHistory->setPlaceholderText(tr("Queries run in this session"));
    FHistory->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    connect(FHistory, &QComboBox::activated, this, &TfrmStudio::HistoryChosen);
    auto* run = new QPushButton(actRunQuery->icon(), tr("&Run"));
    connect(run, &QPushButton::clicked, actRunQuery, &QAction::trigger);
    auto* queryBar = new QHBoxLayout;
    queryBar->addWidget(FHistory, 1);
    queryBar->addWidget(run);
    auto* queryPane = new QWidget;
    auto* queryLayout = new QVBoxLayout(queryPane);
    queryLayout->setContentsMargins(0, 0, 0, 0);
    queryLayout->addWidget(FQuery);
    queryLayout->addLayout(queryBar);

    FGrid = new TDBGrid;
    FGrid->setObjectName("grdData");
    FGrid->SetDataSource(FDataSource);
    FGrid->SetShowMemoText(true);
    FGrid->horizontalHeader()->setSectionsMovable(true);
    FGrid->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    FGrid->verticalHeader()->setDefaultSectionSize(FGrid->fontMetrics().height() + 6);
    FGrid->installEventFilter(this);
    connect(FGrid->horizontalHeader(), &QHeaderView::sectionMoved, this, [this] {
        // After the header has finished moving the section.
        QMetaObject::invokeMethod(this, [this] { TakeHeaderOrder(*FGrid); }, Qt::QueuedConnection);
    });
    connect(FGrid->horizontalHeader(), &QHeaderView::customContextMenuRequested, this, [this](const QPoint& At) {
        FillColumnsMenu();
        FColumnsMenu->popup(FGrid->horizontalHeader()->mapToGlobal(At));
    });

    auto* right = new QSplitter(Qt::Vertical);
    right->addWidget(queryPane);
    right->addWidget(FGrid);
    right->setStretchFactor(1, 4);
    right->setSizes({110, 570});
    auto* main = new QSplitter(Qt::Horizontal);
    main->addWidget(FObjects);
    main->addWidget(right);
    main->setStretchFactor(1, 4);
    main->setSizes({220, 780});
    setCentralWidget(main);

    FRows = new QLabel;
    statusBar()->addPermanentWidget(FRows);
}

void TfrmStudio::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(actOpen);
    file->addAction(actConnect);
    FRecentMenu = file->addMenu(tr("Open &Recent"));
    connect(FRecentMenu, &QMenu::aboutToShow, this, &TfrmStudio::FillRecentMenu);
    FillRecentMenu();
    file->addAction(actClose);
    file->addSeparator();
    file->addAction(actQuit);

    QMenu* query = menuBar()->addMenu(tr("&Query"));
    query->addAction(actRunQuery);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    FColumnsMenu = view->addMenu(tr("&Columns"));
    connect(FColumnsMenu, &QMenu::aboutToShow, this, &TfrmStudio::FillColumnsMenu);
    view->addAction(actShowAllColumns);

    QMenu* exp = menuBar()->addMenu(tr("&Export"));
    exp->addAction(actExport);
    exp->addAction(actRepeatExport);
    exp->addSeparator();
    exp->addAction(actLoadSpec);
    exp->addAction(actSaveSpec);
    exp->addSeparator();
    QMenu* after = exp->addMenu(tr("&After Export"));
    after->addActions(grpAfterExport->actions());

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(actAbout);

    QToolBar* bar = addToolBar(tr("Main"));
    bar->setObjectName("tbMain");
    bar->addAction(actOpen);
    bar->addAction(actConnect);
    bar->addSeparator();
    bar->addAction(actRunQuery);
    bar->addAction(actExport);
    bar->addSeparator();
    bar->addAction(actLoadSpec);
    bar->addAction(actSaveSpec);
}

void TfrmStudio::UpdateState()
{
    const bool open = FSource.Active();
    const bool rows = FDataSet && FDataSet->Active();
    actClose->setEnabled(open);
    actRunQuery->setEnabled(open);
    actExport->setEnabled(rows);
    actRepeatExport->setEnabled(rows && FExported);
    actShowAllColumns->setEnabled(rows);
    setWindowTitle(open ? QString::fromStdString(FSource.Name()) + " - Tabrix Studio" : QString("Tabrix Studio"));
    FRows->setText(rows ? tr("%L1 rows").arg(FGrid->model()->rowCount()) : QString());
}

// ---------------------------------------------------------------------------
// Sources

bool TfrmStudio::OpenSource(const std::string& Source, const QString& Password)
{
    CloseSource();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        FSource.Open(Source, Password);
    } catch (const Exception& e) {
        QApplication::restoreOverrideCursor();
        Failure("Cannot open " + SourceDisplayName(Source), e.Message(),
                IsPostgresUri(Source) ? "Check the host, port, database, user and password, and that the server "
                                        "is running, then connect again (File > Connect to PostgreSQL)."
                                      : "Choose an SQLite database file (File > Open Database), or connect to a "
                                        "PostgreSQL database (File > Connect to PostgreSQL).");
        UpdateState();
        return false;
    }
    auto heading = [this](const QString& Text) {
        auto* item = new QListWidgetItem(Text, FObjects);
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
        item->setFlags(Qt::ItemIsEnabled);
        item->setData(ItemKindRole, 0);
    };
    auto names = [this](const std::vector<std::string>& Names, QStyle::StandardPixmap Icon) {
        for (const std::string& n : Names) {
            auto* item = new QListWidgetItem(style()->standardIcon(Icon), QString::fromStdString(n), FObjects);
            item->setData(ItemKindRole, 1);
        }
    };
    heading(tr("Tables"));
    names(FSource.Tables(), QStyle::SP_FileIcon);
    heading(tr("Views"));
    names(FSource.Views(), QStyle::SP_FileLinkIcon);
    QApplication::restoreOverrideCursor();
    RememberSource(FSource.Name());
    statusBar()->showMessage(tr("Opened %1 (read-only)").arg(QString::fromStdString(FSource.Name())), 5000);
    UpdateState();
    return true;
}

void TfrmStudio::CloseSource()
{
    ClearGrid();
    FObjects->clear();
    FSource.Close();
    UpdateState();
}

void TfrmStudio::OpenFile()
{
    std::string name;
    TFileDialogRequest request;
    request.Owner = this;
    request.Filters = {{"SQLite databases", "*.db;*.sqlite;*.sqlite3;*.db3"}, {"All files", "*"}};
    request.Title = "Open Database";
    if (const std::optional<std::string> chosen = FileDialogService().Execute(request))
        OpenSource(*chosen);
}

void TfrmStudio::Connect()
{
    TfrmConnect dialog(this);
    const QStringList recent = RecentSources();
    for (const QString& r : recent)
        if (IsPostgresUri(r.toStdString())) {
            dialog.SetUri(r.toStdString());
            break;
        }
    if (dialog.exec() == QDialog::Accepted)
        OpenSource(dialog.Uri(), dialog.Password());
}

QStringList TfrmStudio::RecentSources() const
{
    return StudioSettings().value("recentSources").toStringList();
}

void TfrmStudio::RememberSource(const std::string& Name)
{
    QString entry = QString::fromStdString(Name);
    if (!IsPostgresUri(Name))
        entry = QFileInfo(entry).absoluteFilePath();
    QStringList recent = RecentSources();
    recent.removeAll(entry);
    recent.prepend(entry);
    while (recent.size() > MaxRecentSources)
        recent.removeLast();
    StudioSettings().setValue("recentSources", recent);
}

void TfrmStudio::FillRecentMenu()
{
    FRecentMenu->clear();
    const QStringList recent = RecentSources();
    for (int i = 0; i < recent.size(); ++i) {
        const QString source = recent[i];
        QAction* a = FRecentMenu->addAction(QString("&%1 %2").arg(i + 1).arg(source));
        connect(a, &QAction::triggered, this, [this, source] {
            if (IsPostgresUri(source.toStdString())) {
                // The password was never kept: ask for it again.
                TfrmConnect dialog(this);
                dialog.SetUri(source.toStdString());
                if (dialog.exec() == QDialog::Accepted)
                    OpenSource(dialog.Uri(), dialog.Password());
            } else {
                OpenSource(source.toStdString());
            }
        });
    }
    FRecentMenu->setEnabled(!recent.isEmpty());
}

void TfrmStudio::dragEnterEvent(QDragEnterEvent* Event)
{
    if (Event->mimeData()->hasUrls() && Event->mimeData()->urls().value(0).isLocalFile())
        Event->acceptProposedAction();
}

void TfrmStudio::dropEvent(QDropEvent* Event)
{
    const QList<QUrl> urls = Event->mimeData()->urls();
    if (urls.isEmpty() || !urls[0].isLocalFile())
        return;
    Event->acceptProposedAction();
    OpenSource(FileNameFromQString(urls[0].toLocalFile()));
}

// ---------------------------------------------------------------------------
// The grid

void TfrmStudio::ClearGrid()
{
    FDataSource->SetDataSet(nullptr);
    FGrid->Columns().Clear();
    FDataSet.reset();
    FShownName.clear();
}

bool TfrmStudio::Show(std::unique_ptr<TSQLDataSet> Data, const std::string& Title)
{
    ClearGrid();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    try {
        Data->Open();
    } catch (const Exception& e) {
        QApplication::restoreOverrideCursor();
        UpdateState();
        Failure("Cannot read " + Title, e.Message(),
                Data->SQL().empty() ? "Choose another table or view, or check that you may read this one."
                                    : "Correct the query and run it again (F5).");
        return false;
    }
    FDataSet = std::move(Data);
    FShownName = Title;
    FDataSource->SetDataSet(FDataSet.get());
    // Widths from the fields' declared sizes and the titles: no row is read for them.
    const QFontMetrics metrics = FGrid->fontMetrics();
    QHeaderView* header = FGrid->horizontalHeader();
    for (int section = 0; section < header->count(); ++section) {
        TField* f = FDataSet->Fields(section);
        const int chars = std::clamp(std::max<int>(f->DisplayWidth(), static_cast<int>(f->FieldName().size())), 6, 40);
        header->resizeSection(section, metrics.averageCharWidth() * chars + 16);
    }
    QApplication::restoreOverrideCursor();
    UpdateState();
    return true;
}

bool TfrmStudio::ShowTable(const std::string& Name)
{
    auto data = std::make_unique<TSQLDataSet>();
    data->SetConnectionName(FSource.ConnectionName());
    data->SetTableName(Name);
    return Show(std::move(data), Name);
}

bool TfrmStudio::RunQuery(const std::string& Sql)
{
    const QString text = QString::fromStdString(Sql).trimmed();
    if (text.isEmpty() || !FSource.Active())
        return false;
    const int at = FHistory->findText(text);
    if (at >= 0)
        FHistory->removeItem(at);
    FHistory->insertItem(0, text);
    while (FHistory->count() > MaxHistory)
        FHistory->removeItem(FHistory->count() - 1);
    FHistory->setCurrentIndex(0);
    if (FQuery->toPlainText().trimmed() != text)
        FQuery->setPlainText(text);
    auto data = std::make_unique<TSQLDataSet>();
    data->SetConnectionName(FSource.ConnectionName());
    data->SetSQL(text.toStdString());
    return Show(std::move(data), "query");
}

void TfrmStudio::ObjectActivated(QListWidgetItem* Item)
{
    if (Item && Item->data(ItemKindRole).toInt() == 1)
        ShowTable(Item->text().toStdString());
}

void TfrmStudio::HistoryChosen(int Index)
{
    if (Index >= 0)
        FQuery->setPlainText(FHistory->itemText(Index));
}

void TfrmStudio::FillColumnsMenu()
{
    FColumnsMenu->clear();
    TakeHeaderOrder(*FGrid);
    for (int i = 0; i < FGrid->Columns().Count(); ++i) {
        TColumn* c = FGrid->Columns()[i];
        QAction* a = FColumnsMenu->addAction(QString::fromStdString(c->Title().Caption()));
        a->setCheckable(true);
        a->setChecked(c->Visible());
        connect(a, &QAction::toggled, this, [this, i](bool On) { SetGridColumnVisible(*FGrid, i, On); });
    }
    FColumnsMenu->setEnabled(FGrid->Columns().Count() > 0);
}

bool TfrmStudio::eventFilter(QObject* Watched, QEvent* Event)
{
    // Selecting every row of a long table would read each of them for its bookmark.
    if (Watched == FGrid && Event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(Event)->matches(QKeySequence::SelectAll)
        && FGrid->model()->rowCount() > MaxSelectAllRows) {
        statusBar()->showMessage(tr("Select all is off above %L1 rows: export without \"Selected records only\" "
                                    "to take every row.")
                                     .arg(MaxSelectAllRows),
                                 8000);
        return true;
    }
    return QMainWindow::eventFilter(Watched, Event);
}

// ---------------------------------------------------------------------------
// Export

TActionAfterExport TfrmStudio::AfterExportChoice() const
{
    QAction* a = grpAfterExport->checkedAction();
    return a ? static_cast<TActionAfterExport>(a->data().toInt()) : aeNone;
}

void TfrmStudio::SetAfterExportChoice(TActionAfterExport Action)
{
    for (QAction* a : grpAfterExport->actions())
        a->setChecked(a->data().toInt() == Action);
}

void TfrmStudio::SetBusy(bool Busy)
{
    // While a run reads the grid's dataset nothing may replace it: the window takes
    // no command, and the progress window's Cancel is the way out.
    for (QAction* a : findChildren<QAction*>())
        a->setEnabled(!Busy);
    centralWidget()->setEnabled(!Busy);
    if (!Busy)
        UpdateState();
}

void TfrmStudio::ExportGrid()
{
    RunExport(true);
}

void TfrmStudio::RepeatExport()
{
    RunExport(false);
}

void TfrmStudio::RunExport(bool Ask)
{
    if (!FDataSet || !FDataSet->Active())
        return;
    const TBusy busy(*this);
    TakeHeaderOrder(*FGrid);
    FExport.Settings().ActionAfterExport = AfterExportChoice();
    try {
        if (!Ask)
            FExport.Run(*FGrid, FShownName);
        else if (FExport.Execute(*FGrid, FShownName))
            FExported = true;
    } catch (const Exception& e) {
        Failure("The export did not run", e.Message(), "Check the file name and the format, then export again.");
    }
}

void TfrmStudio::LoadSpecification()
{
    try {
        if (FExport.LoadSpecification()) {
            SetAfterExportChoice(FExport.Settings().ActionAfterExport);
            FExported = true;
            statusBar()->showMessage(tr("Specification loaded: the next export starts from it"), 5000);
        }
    } catch (const Exception& e) {
        Failure("Cannot load the specification", e.Message(), "Choose a specification file (.kve) saved by Tabrix.");
    }
    UpdateState();
}

void TfrmStudio::SaveSpecification()
{
    FExport.Settings().ActionAfterExport = AfterExportChoice();
    try {
        FExport.SaveSpecification();
    } catch (const Exception& e) {
        Failure("Cannot save the specification", e.Message(), "Choose a folder you may write to and save again.");
    }
}

// ---------------------------------------------------------------------------

void TfrmStudio::Failure(const std::string& What, const std::string& Why, const std::string& Hint)
{
    UIServices().MessageBox(What + ":\n" + Why + "\n\n" + Hint, mkError);
}

void TfrmStudio::closeEvent(QCloseEvent* Event)
{
    // A run under way ends first: its Cancel button is the way out.
    if (FExport.Running()) {
        Event->ignore();
        return;
    }
    QMainWindow::closeEvent(Event);
}
