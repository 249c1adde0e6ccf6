#include "app/main_form.h"

#include <algorithm>

#include <QApplication>
#include <QClipboard>
#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/code_page_menu.h"
#include "app/db_controls.h"
#include "app/db_grid.h"
#include "app/dialogs/about_box.h"
#include "app/dialogs/columns_dialog.h"
#include "app/dialogs/form_view.h"
#include "app/dialogs/field_dialogs.h"
#include "app/dialogs/index_dialogs.h"
#include "app/dialogs/locate_dialog.h"
#include "app/dialogs/new_table.h"
#include "app/dialogs/table_info.h"
#include "app/field_changes.h"
#include "platform/os_file.h"
#include "app/dialogs/memo_editor.h"
#include "app/dialogs/quick_open.h"
#include "app/dialogs/select_field.h"
#include "app/drop_down_combo.h"
#include "app/csv_export.h"
#include "app/grid_model.h"
#include "app/long_work.h"
#include "app/table_walk.h"
#include "app/ui_services.h"
#include "app/viewer_table.h"
#include "app/wheel_keys.h"
#include "engine/table_file.h"

namespace norvale {

namespace {
const QString kProduct = QStringLiteral("Norvale");
const QString kOpenFilter = QStringLiteral("DBF Files|*.DBF|All Files|*.*");

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

bool Editing(const TDataSet& table) { return table.State() == dsEdit || table.State() == dsInsert; }

bool HasIndexFiles(const TDbfTable& table) {
  const TTableIndexes* indexes = table.IndexFiles();
  return indexes && !indexes->Files().empty();
}

bool HasBlobField(const TDataSet& table) {
  for (int i = 0; i < table.FieldCount(); ++i)
    if (table.Fields(i).IsBlob()) return true;
  return false;
}
}  // namespace

// Keeps the commands and the count in step with whatever the table does,
// whoever made it do it: menus, the navigator, the grid, the memo boxes.
class TForm1::TCommandLink : public TDataLink {
 public:
  explicit TCommandLink(TForm1* form) : form_(form) {}
  void ActiveChanged() override { Changed(); }
  void DataSetChanged() override { Changed(); }
  void DataSetScrolled(int) override { form_->UpdateCommands(); }
  void RecordChanged(TField* field) override {
    if (!field) Changed();
  }

 private:
  void Changed() {
    form_->UpdateStatusLabels();
    form_->UpdateCommands();
  }
  TForm1* form_;
};

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      dbf1_(std::make_unique<TViewerTable>()),
      dataSource1_(std::make_unique<TDataSource>()) {
  setObjectName(QStringLiteral("Form1"));
  dbf1_->SetTableLevel(4);
  dbf1_->SetTableName("new.dbf");
  dbf1_->SetFilePath("");
  dbf1_->AfterScroll = [this](TDataSet&) { UpdateRecordLabel(); };
  // A filter typed before the first table opens must select what it
  // selects after: letter case is ignored from the start.
  dbf1_->SetFilterOptions(foCaseInsensitive);
  dataSource1_->SetDataSet(dbf1_.get());

  setWindowTitle(kProduct);
  setFont(QFont(QStringLiteral("Verdana"), 8));
  resize(kWidth, kHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - QPoint(kWidth / 2, kHeight / 2));

  BuildMenus();
  BuildToolBar();
  BuildCentre();
  BuildStatusArea();

  // The version is set by the creation handler, before the command line.
  versionText_ = QStringLiteral("1.70");
  versionLabel_->setText(QStringLiteral("Version ") + versionText_);

  // The other windows, each made once and kept hidden until a command.
  aboutBox_ = new TAboutBox(versionText_, dbf1_.get(), this);
  selectField_ = new TSelectFieldDialog(grid_, this);
  quickOpen_ = new TQuickOpenDialog(this);
  columnsDialog_ = new TColumnsDialog(grid_, dbf1_.get(), this);
  formView_ = new TFormView(dataSource1_.get(), this);
  memoEditor_ = new TMemoEditor(dataSource1_.get(), this);
  locateDialog_ = new TLocateDialog(grid_, dbf1_.get(), this);
  tableInfo_ = new TTableInfoDialog(dbf1_.get(), this);
  createIndex_ = new TCreateIndexDialog(this, dbf1_.get(), this);
  addField_ = new TAddFieldDialog(this, dbf1_.get(), this);
  newTable_ = new TNewTableDialog(this, this);
  alterField_ = new TFieldChangeDialog(TFieldChangeDialog::fcAlter, this, dbf1_.get(), this);
  renameField_ = new TFieldChangeDialog(TFieldChangeDialog::fcRename, this, dbf1_.get(), this);
  removeField_ = new TRemoveFieldDialog(this, dbf1_.get(), this);
  indexes_ = new TIndexesDialog(this, dbf1_.get(), this);
  setTableType_ = new TSetTableTypeDialog(
      dbf1_.get(), [this](uint8_t byte) { return WriteTableType(byte); }, this);
  connect(model_, &TDbfGridModel::FilterFailed, this, [this](const QString& message) { FilterFailedLater(message); });

  qApp->installEventFilter(new TWheelToKeys(this));
  InstallTableHandlers();
  commandLink_ = std::make_unique<TCommandLink>(this);
  commandLink_->SetDataSource(dataSource1_.get());
  UpdateCommands();
}

TForm1::~TForm1() {
  commandLink_->SetDataSource(nullptr);
  // The grid, the navigator, the memo boxes and the windows hold data links
  // into DataSource1, a member that would die before QWidget's destructor
  // got round to them: they go first.
  std::unique_ptr<QWidget> centre(takeCentralWidget());
  centre.reset();
  std::unique_ptr<QObject> owned[] = {std::unique_ptr<QObject>(model_),       std::unique_ptr<QObject>(formView_),
                                      std::unique_ptr<QObject>(memoEditor_),  std::unique_ptr<QObject>(aboutBox_),
                                      std::unique_ptr<QObject>(columnsDialog_), std::unique_ptr<QObject>(selectField_),
                                      std::unique_ptr<QObject>(quickOpen_),
                                      std::unique_ptr<QObject>(locateDialog_)};
  for (auto& object : owned) object.reset();
  dataSource1_->SetDataSet(nullptr);
}

QAction* TForm1::AddCommand(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& key,
                            std::function<void()> handler) {
  auto* action = new QAction(caption, this);
  action->setObjectName(name);
  if (!key.isEmpty()) action->setShortcut(key);
  connect(action, &QAction::triggered, this, [this, handler = std::move(handler)] { RunGuarded(this, handler); });
  if (menu) menu->addAction(action);
  return action;
}


QAction* TForm1::Action(const QString& name) const { return findChild<QAction*>(name); }

void TForm1::BuildMenus() {
  auto cmd = [this](QMenu* menu, const char* name, const char* caption, QKeySequence key, void (TForm1::*f)()) {
    return AddCommand(menu, QString::fromUtf8(name), QString::fromUtf8(caption), key, [this, f] { (this->*f)(); });
  };

  QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
  AddCommand(file, QStringLiteral("FileNewTable"), QStringLiteral("New Table"), {}, [this] { ShowNewTable(false); });
  cmd(file, "FileOpen", "Open", Qt::Key_F2, &TForm1::OpenCommand);
  // Quick Open has no visible entry; its key belongs to the window.
  addAction(cmd(nullptr, "FileQuickOpen", "Quick Open", Qt::Key_F4, &TForm1::QuickOpenCommand));
  cmd(file, "FileClose", "Close", {}, &TForm1::CloseCommand);
  file->addSeparator();
  cmd(file, "FileImport", "Import", {}, &TForm1::ImportCommand);
  cmd(file, "FileExport", "Export", {}, &TForm1::ExportCommand);
  cmd(file, "FileExportCsv", "Export to CSV", {}, &TForm1::ExportToCsv);
  file->addSeparator();
  cmd(file, "FilePrint", "Print", QKeySequence(Qt::CTRL | Qt::Key_P), &TForm1::PrintCommand);
  cmd(file, "FilePrintPreview", "Print Preview", {}, &TForm1::PrintPreviewCommand);
  file->addSeparator();
  AddCommand(file, QStringLiteral("FileExit"), QStringLiteral("Exit"), Qt::Key_F10, [this] { close(); });

  QMenu* edit = menuBar()->addMenu(QStringLiteral("Edit"));
  cmd(edit, "EditFirst", "First", {}, &TForm1::EditFirst);
  cmd(edit, "EditPrevious", "Previous", {}, &TForm1::EditPrior);
  cmd(edit, "EditNext", "Next", {}, &TForm1::EditNext);
  cmd(edit, "EditLast", "Last", {}, &TForm1::EditLast);
  edit->addSeparator();
  cmd(edit, "EditInsert", "Insert", {}, &TForm1::EditInsert);
  cmd(edit, "EditDelete", "Delete", {}, &TForm1::EditDelete);
  cmd(edit, "EditSave", "Save", {}, &TForm1::EditSave);
  cmd(edit, "EditCancel", "Cancel", {}, &TForm1::EditCancel);
  edit->addSeparator();
  QAction* editMemo = cmd(edit, "EditMemo", "View / Edit Memo Field", {}, &TForm1::ViewEditMemo);

  QMenu* search = menuBar()->addMenu(QStringLiteral("Search"));
  cmd(search, "SearchValue", "Search Value", Qt::Key_F3, &TForm1::SearchValue);
  cmd(search, "SearchApplyFilter", "Apply Filter", {}, &TForm1::ApplyFilter);
  cmd(search, "SearchCancelFilter", "Cancel Filter", {}, &TForm1::CancelFilter);

  QMenu* view = menuBar()->addMenu(QStringLiteral("View"));
  QAction* columns = cmd(view, "ViewColumns", "Show / Hide Columns", Qt::Key_F8, &TForm1::ShowHideColumns);
  QAction* gotoColumn = cmd(view, "ViewGotoColumn", "Goto Column", Qt::Key_F6, &TForm1::GotoColumn);
  cmd(view, "ViewResizeAll", "Resize All Column Widths", {}, &TForm1::ResizeAllColumnWidths);
  view->addSeparator();
  showToolbar_ = cmd(view, "ViewShowToolbar", "Show Toolbar", {}, &TForm1::ToggleToolbar);
  showToolbar_->setCheckable(true);
  showToolbar_->setChecked(true);
  showStatusbar_ = cmd(view, "ViewShowStatusbar", "Show Statusbar", {}, &TForm1::ToggleStatusbar);
  showStatusbar_->setCheckable(true);
  showStatusbar_->setChecked(true);
  view->addSeparator();
  cmd(view, "ViewChangeFont", "Change Font", {}, &TForm1::ChangeFont);
  QAction* formView = cmd(view, "ViewFormView", "Form View", Qt::Key_F12, &TForm1::FormViewCommand);
  showDeleted_ = cmd(view, "ViewShowDeleted", "Show Deleted", {}, &TForm1::ToggleShowDeleted);
  showDeleted_->setCheckable(true);
  cmd(view, "ViewChangeIndex", "Change Index", {}, &TForm1::ChangeIndex);
  // The orders the table offers, production tags included, a click away.
  orderMenu_ = view->addMenu(QStringLiteral("Index Order"));
  orderMenu_->setObjectName(QStringLiteral("ViewIndexOrder"));
  connect(orderMenu_, &QMenu::aboutToShow, this, [this] { FillOrderMenu(); });
  codePageMenu_ = new TCodePageMenu(QStringLiteral("Code Page"), this, [this](int codePage) {
    RunGuarded(this, [this, codePage] { ReadInCodePage(codePage); });
  });
  view->addMenu(codePageMenu_);
  connect(codePageMenu_, &QMenu::aboutToShow, this, [this] {
    codePageMenu_->ShowCurrent(dbf1_->Active() ? dbf1_->CodePage() : 0, !shownInfo_ || shownInfo_->CodePage == 0);
  });
  cmd(view, "ViewFont", "Font", {}, &TForm1::FontCommand);
  view->addSeparator();
  cmd(view, "ViewEnlarge", "Enlarge", {}, &TForm1::Enlarge);
  cmd(view, "ViewReduce", "Reduce", {}, &TForm1::Reduce);

  QMenu* record = menuBar()->addMenu(QStringLiteral("Record"));
  cmd(record, "RecordUndelete", "Undelete Record", {}, &TForm1::UndeleteRecord);
  record->addSeparator();
  cmd(record, "RecordCount", "Record Count", {}, &TForm1::RecordCountCommand);
  cmd(record, "RecordVisualCount", "Visual Count (Count only displayed)", {}, &TForm1::VisualCountCommand);
  cmd(record, "RecordSize", "Record Size", {}, &TForm1::RecordSizeCommand);

  QMenu* column = menuBar()->addMenu(QStringLiteral("Column"));
  cmd(column, "ColumnAddField", "Add Field", {}, &TForm1::ShowAddField);
  cmd(column, "ColumnRemoveField", "Remove Field", {}, &TForm1::ShowRemoveField);

  QMenu* table = menuBar()->addMenu(QStringLiteral("Table"));
  AddCommand(table, QStringLiteral("TableNewTable"), QStringLiteral("New Table"), {}, [this] { ShowNewTable(true); });
  table->addSeparator();
  cmd(table, "TableAddField", "Add Field", {}, &TForm1::ShowAddField);
  cmd(table, "TableAlterField", "Alter Field", {}, &TForm1::ShowAlterField);
  cmd(table, "TableDeleteField", "Delete Field", {}, &TForm1::ShowRemoveField);
  cmd(table, "TableRenameField", "Rename Field", {}, &TForm1::ShowRenameField);
  table->addSeparator();
  cmd(table, "TableInfo", "Table Info", Qt::Key_F7, &TForm1::TableInfoCommand);
  cmd(table, "TableSetTableType", "Set Table Type", {}, &TForm1::SetTableTypeCommand);
  cmd(table, "TableSetCodePage", "Set Code Page", {}, &TForm1::SetCodePageCommand);
  table->addSeparator();
  cmd(table, "TablePack", "Pack Table (Remove Deleted Records)", {}, &TForm1::PackCommand);
  cmd(table, "TableZap", "Zap (Wipe Table)", {}, &TForm1::ZapCommand);

  QMenu* index = menuBar()->addMenu(QStringLiteral("Index"));
  cmd(index, "IndexCreate", "Create Index", {}, &TForm1::ShowCreateIndex);
  cmd(index, "IndexReindex", "Reindex (Regenerate Indexes)", {}, &TForm1::ReindexCommand);
  cmd(index, "IndexShow", "Show Indexes", {}, &TForm1::ShowIndexes);

  QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
  AddCommand(help, QStringLiteral("HelpForum"), QStringLiteral("Forum"), {},
             [this] { OpenHelpPage(this, QUrl(HelpPageUrl(QStringLiteral("community.html#forum")))); });
  cmd(help, "HelpAbout", "About", {}, &TForm1::AboutCommand);

  gridMenu_ = new QMenu(this);
  gridMenu_->addAction(columns);
  gridMenu_->addAction(gotoColumn);
  gridMenu_->addSeparator();
  gridMenu_->addAction(formView);
  cmd(gridMenu_, "GridPrintRecord", "Print Record", {}, &TForm1::PrintRecordCommand);
  gridMenu_->addSeparator();
  gridMenu_->addAction(editMemo);
  // The grid's entry has the short caption; it is the same command.
  AddCommand(gridMenu_, QStringLiteral("GridVisualCount"), QStringLiteral("Visual Count"), {},
             [this] { VisualCountCommand(); });
  gridMenu_->addSeparator();
  cmd(gridMenu_, "GridCopyColumn", "Copy Column to clipboard", {}, &TForm1::CopyColumn);
  cmd(gridMenu_, "GridCopyRow", "Copy Row to Clipboard", {}, &TForm1::CopyRow);
  cmd(gridMenu_, "GridCopyValue", "Copy Field Value to Clipbaord", {}, &TForm1::CopyFieldValue);
  cmd(gridMenu_, "GridIsDeleted", "Is Deleted", {}, &TForm1::IsDeletedCommand);
}

void TForm1::BuildToolBar() {
  coolBar_ = addToolBar(QStringLiteral("Tools"));
  coolBar_->setObjectName(QStringLiteral("CoolBar1"));
  coolBar_->setMovable(false);
  coolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  coolBar_->setIconSize(QSize(24, 24));
  QStyle* s = style();
  struct TButton {
    const char* caption;
    QStyle::StandardPixmap icon;
    const char* action;  // the command it runs
    const char* name;
  };
  const TButton buttons[] = {
      {"Open", QStyle::SP_DialogOpenButton, "FileOpen", "ToolOpen"},
      {"Form ", QStyle::SP_FileDialogDetailedView, nullptr, "ToolForm"},
      {"Search ", QStyle::SP_FileDialogContentsView, "SearchValue", "ToolSearch"},
      {"Table Info", QStyle::SP_MessageBoxInformation, "TableInfo", "ToolTableInfo"},
      {"Indexes", QStyle::SP_FileDialogListView, "IndexShow", "ToolIndexes"},
      {"Add Index", QStyle::SP_FileDialogNewFolder, "IndexCreate", "ToolAddIndex"},
      {"New ", QStyle::SP_FileIcon, "TableNewTable", "ToolNew"},
      {"Add Field", QStyle::SP_ArrowRight, "TableAddField", "ToolAddField"},
      {"Alter Field", QStyle::SP_BrowserReload, "TableAlterField", "ToolAlterField"},
      {"Delete", QStyle::SP_TrashIcon, "TableDeleteField", "ToolDelete"},
      {"Rename", QStyle::SP_FileLinkIcon, "TableRenameField", "ToolRename"},
      {"Columns", QStyle::SP_FileDialogDetailedView, "ViewColumns", "ToolColumns"},
      {"Resize All", QStyle::SP_MediaSeekForward, "ViewResizeAll", "ToolResizeAll"},
      {"Export", QStyle::SP_DialogSaveButton, "FileExport", "ToolExport"},
      {"Import", QStyle::SP_ArrowDown, "FileImport", "ToolImport"},
      {"Print", QStyle::SP_FileDialogInfoView, "FilePrintPreview", "ToolPrint"},
      {"Exit ", QStyle::SP_DialogCloseButton, "FileExit", "ToolExit"},
  };
  for (const TButton& b : buttons) {
    QAction* action = nullptr;
    const QString name = QString::fromUtf8(b.name);
    if (name == QLatin1String("ToolForm")) {
      action = AddCommand(nullptr, name, QString::fromUtf8(b.caption), {}, [this] { FormCommand(); });
    } else {
      QAction* source = Action(QString::fromUtf8(b.action));
      action = AddCommand(nullptr, name, QString::fromUtf8(b.caption), {}, [source] { source->trigger(); });
      connect(source, &QAction::changed, action, [source, action] { action->setEnabled(source->isEnabled()); });
    }
    action->setIcon(s->standardIcon(b.icon));
    if (name == QLatin1String("ToolColumns")) action->setToolTip(QStringLiteral("Show / Hide Columns"));
    coolBar_->addAction(action);
  }
}

void TForm1::BuildCentre() {
  auto* centre = new QWidget(this);
  auto* layout = new QVBoxLayout(centre);
  layout->setContentsMargins(6, 4, 6, 2);
  layout->setSpacing(4);

  tabs_ = new QTabBar(centre);
  tabs_->setObjectName(QStringLiteral("TabControl1"));
  tabs_->setExpanding(false);
  tabs_->setDocumentMode(true);
  tabs_->setContextMenuPolicy(Qt::CustomContextMenu);
  auto* tabMenu = new QMenu(this);
  tabMenu->addAction(QStringLiteral("Close"), this, [this] { RunGuarded(this, [this] { CloseCommand(); }); });
  connect(tabs_, &QWidget::customContextMenuRequested, this, [this, tabMenu](const QPoint& at) {
    const int under = tabs_->tabAt(at);
    if (under >= 0 && under != tabs_->currentIndex()) tabs_->setCurrentIndex(under);
    tabMenu->popup(tabs_->mapToGlobal(at));
  });
  connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
    if (quietTabs_ || index < 0) return;
    RunGuarded(this, [this, index] { TabSwitch(index); });
  });
  layout->addWidget(tabs_);

  auto* bar = new QHBoxLayout;
  bar->setSpacing(4);
  bar->addWidget(new QLabel(QStringLiteral("Filter"), centre));
  filterEdit_ = new QLineEdit(centre);
  filterEdit_->setObjectName(QStringLiteral("Edit2"));
  filterEdit_->setPlaceholderText(QStringLiteral("CITY = 'Berlin' AND AMOUNT > 100"));
  filterEdit_->setClearButtonEnabled(true);
  filterEdit_->setMinimumWidth(260);
  // Enter applies the filter and goes no further (no dialog default button
  // to trigger, no beep).
  connect(filterEdit_, &QLineEdit::returnPressed, this, [this] {
    if (dbf1_->Active()) RunGuarded(this, [this] { ApplyFilter(); });
  });
  bar->addWidget(filterEdit_, 1);
  const struct {
    const char* name;
    const char* caption;
    const char* action;  // the command the button runs
    const char* tip;
  } filterButtons[] = {{"SpeedButton1", "Apply Filter", "SearchApplyFilter", "Show only the records the filter accepts"},
                       {"SpeedButton3", "Cancel Filter", "SearchCancelFilter", "Show every record again"},
                       {"SpeedButton2", "?", "SearchFilterHelp", "How to write a filter"}};
  AddCommand(nullptr, QStringLiteral("SearchFilterHelp"), QStringLiteral("?"), {}, [this] { FilterHelp(); });
  for (const auto& fb : filterButtons) {
    auto* button = new QToolButton(centre);
    button->setObjectName(QString::fromUtf8(fb.name));
    QAction* action = Action(QString::fromUtf8(fb.action));
    button->setDefaultAction(action);
    action->setToolTip(QString::fromUtf8(fb.tip));
    bar->addWidget(button);
  }
  fileNameEdit_ = new QLineEdit(centre);
  fileNameEdit_->setObjectName(QStringLiteral("Edit1"));
  fileNameEdit_->hide();
  bar->addSpacing(16);
  navigator_ = new TDBNavigator(centre);
  navigator_->setObjectName(QStringLiteral("DBNavigator1"));
  navigator_->SetDataSource(dataSource1_.get());
  bar->addWidget(navigator_);
  bar->addSpacing(16);
  memoCheck_ = new QCheckBox(QStringLiteral("Show field panel"), centre);
  memoCheck_->setObjectName(QStringLiteral("CheckBox1"));
  bar->addWidget(memoCheck_);
  layout->addLayout(bar);

  splitter_ = new QSplitter(Qt::Horizontal, centre);
  grid_ = new TDBGrid(splitter_);
  grid_->setObjectName(QStringLiteral("DBGrid1"));
  grid_->setFont(QFont(QStringLiteral("Tahoma"), 8));
  grid_->horizontalHeader()->setFont(QFont(QStringLiteral("Verdana"), 8));
  model_ = new TDbfGridModel(dbf1_.get(), dataSource1_.get(), this);
  model_->SetBaseFont(grid_->font());
  grid_->SetGridModel(model_);
  grid_->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(grid_, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { gridMenu_->popup(grid_->viewport()->mapToGlobal(at)); });

  memoPanel_ = new QWidget(splitter_);
  memoPanel_->setObjectName(QStringLiteral("MemoPanel"));
  auto* panel = new QVBoxLayout(memoPanel_);
  panel->setContentsMargins(4, 0, 0, 0);
  panel->addWidget(new QLabel(QStringLiteral("Memo Field"), memoPanel_));
  memoCombo_ = new TDropDownCombo(memoPanel_);
  memoCombo_->setObjectName(QStringLiteral("ComboBox1"));
  memoCombo_->OnDropDown = [this] {
    memoCombo_->clear();
    if (!dbf1_->Active()) return;
    for (int i = 0; i < dbf1_->FieldCount(); ++i)
      if (dbf1_->Fields(i).IsTextBlob()) memoCombo_->addItem(Utf8(dbf1_->Fields(i).FieldName()));
  };
  connect(memoCombo_, &QComboBox::textActivated, this,
          [this](const QString& name) { panelMemo_->SetDataField(name.toStdString()); });
  panel->addWidget(memoCombo_);
  panelMemo_ = new TDBMemo(memoPanel_);
  panelMemo_->setObjectName(QStringLiteral("DBMemo1"));
  panelMemo_->SetDataSource(dataSource1_.get());
  panel->addWidget(panelMemo_, 1);
  memoPanel_->hide();
  splitter_->setStretchFactor(0, 3);
  splitter_->setStretchFactor(1, 1);
  connect(memoCheck_, &QCheckBox::toggled, memoPanel_, &QWidget::setVisible);
  layout->addWidget(splitter_, 1);
  setCentralWidget(centre);
}

void TForm1::BuildStatusArea() {
  QStatusBar* bar = statusBar();
  bar->setSizeGripEnabled(true);
  auto label = [bar](const char* name, const char* text, int minWidth) {
    auto* l = new QLabel(QString::fromUtf8(text), bar);
    l->setObjectName(QString::fromUtf8(name));
    l->setMinimumWidth(minWidth);
    l->setContentsMargins(6, 0, 6, 0);
    bar->addWidget(l);
    return l;
  };
  countLabel_ = label("Label2", "Count: ", 140);
  indexLabel_ = label("Label3", "Index: ", 160);
  recordLabel_ = label("Label7", "Record: ", 140);
  versionLabel_ = label("Label6", "Version ", 100);
  codePageLabel_ = label("CodePageLabel", "", 0);
  readOnlyLabel_ = label("ReadOnlyLabel", "read-only", 0);
  readOnlyLabel_->setStyleSheet(QStringLiteral("color: rgb(128,0,0); font-weight: bold;"));
  readOnlyLabel_->hide();
  auto link = [this, bar](const char* name, const QString& text, const QString& page) {
    auto* l = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(HelpPageUrl(page), text), bar);
    l->setObjectName(QString::fromUtf8(name));
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    l->setContentsMargins(6, 0, 6, 0);
    connect(l, &QLabel::linkActivated, this, [this](const QString& url) { OpenHelpPage(this, QUrl(url)); });
    bar->addPermanentWidget(l);
    return l;
  };
  homeLink_ = link("HomeLink", QStringLiteral("Norvale home page"), QStringLiteral("index.html"));
  socialLink_ = link("SocialLink", QStringLiteral("Norvale community"), QStringLiteral("community.html"));
}

// ---------------------------------------------------------------- start-up

void TForm1::HandleCommandLine(const QStringList& args) {
  if (args.isEmpty() || !QFileInfo(args[0]).isFile()) return;
  // The table object resolves names against its own FilePath, so the path is
  // made absolute against the directory the program was started in.
  const QString path = QFileInfo(args[0]).absoluteFilePath();
  try {
    dbf1_->Close();
    dbf1_->SetExclusive(false);
    dbf1_->SetTableName(path.toStdString());
    dbf1_->SetChosenCodePage(0);
    dbf1_->Open();
  } catch (...) {
    ShowExceptionBox(this, std::current_exception());
    return;
  }
  shownInfo_ = AddTab(path);
  shownPath_ = path;
  ++openSerial_;
  UpdateCaption();
  UpdateStatusLabels();
  UpdateRecordLabel();
  UpdateCommands();
  if (args.size() >= 2 && args[1].toUpper() == QLatin1String("/FULL")) {
    coolBar_->hide();
    showToolbar_->setChecked(false);
    showStatusbar_->setChecked(false);
    statusBar()->hide();
    setWindowState(windowState() | Qt::WindowMaximized);
  }
}

// ---------------------------------------------------------------- tabs and opening

void TForm1::SelectTabQuietly(int index) {
  ++quietTabs_;
  tabs_->setCurrentIndex(index);
  --quietTabs_;
}

void TForm1::InstallTableHandlers() {
  dbf1_->OnOpenReadOnly = [this](TDbfTable& table, TReadOnlyCause cause, const std::string& message,
                                 bool& editAnyway) {
    const QString file = QFileInfo(Utf8(table.PhysicalTableName())).fileName();
    const QString why = Utf8(message);
    // The table's message names the counts or the index file and says what
    // opening read-only means; the box frames it.
    if (cause == rcUnmaintainedIndex) {
      editAnyway = Ui().Confirm(this, QStringLiteral("%1\n\nEdit the table anyway?").arg(why));
    } else if (cause == rcSizeMismatch) {
      Ui().ShowMessage(this, QStringLiteral("The size of %1 does not match its header.\n\n%2").arg(file, why));
    } else {
      Ui().ShowMessage(this, why);
    }
  };
  dbf1_->OnUnstorableText = [this](TDbfTable& table, const TField&, const std::string& characters,
                                   bool& storeAnyway) {
    storeAnyway = Ui().Confirm(this, QStringLiteral("The characters \"%1\" cannot be stored in code page %2. "
                                                    "Store them as \"?\"?")
                                         .arg(Utf8(characters))
                                         .arg(table.CodePage()));
  };
}

void TForm1::UnbindPanelMemo() {
  panelMemo_->FlushText();
  panelMemo_->SetDataField("");
  panelMemo_->SetDataSource(nullptr);
  panelMemo_->SetDataSource(dataSource1_.get());
  memoCombo_->clear();
}

void TForm1::UpdateStatusLabels() {
  QString index = QStringLiteral("Index: ");
  QString count = QStringLiteral("Count: ");
  const bool active = dbf1_->Active();
  if (active) {
    index += Utf8(dbf1_->IndexName());
    count += QString::number(dbf1_->RecordCount());
  }
  indexLabel_->setText(index);
  countLabel_->setText(count);
  if (active) {
    codePageLabel_->setText(QStringLiteral("Code page %1: %2")
                                .arg(dbf1_->CodePage())
                                .arg(Utf8(dbf1_->CodePageSourceText())));
    codePageLabel_->setToolTip(CodePageTitle(dbf1_->CodePage()));
  } else {
    codePageLabel_->clear();
    codePageLabel_->setToolTip(QString());
  }
  const bool readOnly = active && !dbf1_->CanModify();
  readOnlyLabel_->setVisible(readOnly);
  readOnlyLabel_->setToolTip(readOnly ? Utf8(dbf1_->ReadOnlyReason()) : QString());
}

void TForm1::UpdateRecordLabel() {
  recordLabel_->setText(QStringLiteral("Record: ") + QString::number(dbf1_->Active() ? dbf1_->RecNo() : 0));
}

void TForm1::UpdateCaption() {
  if (!dbf1_->Active()) {
    setWindowTitle(kProduct);
    return;
  }
  QString caption = kProduct + QStringLiteral(" - ") + shownPath_;
  if (!dbf1_->CanModify()) caption += QStringLiteral(" (read-only)");
  setWindowTitle(caption);
}

void TForm1::UpdateCommands() {
  const bool active = dbf1_->Active();
  const bool writable = active && dbf1_->CanModify();
  const bool editing = active && Editing(*dbf1_);
  const bool records = active && !dbf1_->IsEmpty();
  const bool onDeleted = writable && records && dbf1_->State() != dsInsert && dbf1_->IsDeleted();
  const struct {
    const char* name;
    bool enabled;
  } rules[] = {
      {"FileClose", tabs_->count() > 0},
      {"EditFirst", records && !dbf1_->Bof()},
      {"EditPrevious", records && !dbf1_->Bof()},
      {"EditNext", records && !dbf1_->Eof()},
      {"EditLast", records && !dbf1_->Eof()},
      {"EditInsert", writable},
      {"EditDelete", writable && records},
      {"EditSave", editing},
      {"EditCancel", editing},
      {"EditMemo", active && HasBlobField(*dbf1_)},
      {"RecordUndelete", onDeleted},
      {"GridIsDeleted", records},
      {"ToolForm", active},
      {"ViewFormView", active},
      {"ViewColumns", active},
      {"ViewGotoColumn", active},
      {"ViewResizeAll", active},
      {"TableSetCodePage", writable},
      {"TableInfo", active},
      {"IndexCreate", writable},
      {"ColumnAddField", writable},
      {"ColumnRemoveField", writable},
      {"TableAddField", writable},
      {"TableAlterField", writable},
      {"TableDeleteField", writable},
      {"TableRenameField", writable},
      {"IndexShow", active},
      {"TableSetTableType", writable},
      {"SearchValue", records},
      {"SearchApplyFilter", active},
      {"SearchCancelFilter", active},
      {"ViewChangeIndex", active},
      {"RecordCount", active},
      {"RecordVisualCount", active},
      {"GridVisualCount", active},
      {"RecordSize", active},
      {"TablePack", writable},
      {"TableZap", writable},
      {"IndexReindex", writable && HasIndexFiles(*dbf1_)},
      {"GridCopyColumn", records},
      {"GridCopyRow", records},
      {"GridCopyValue", records},
      {"FileExportCsv", active},
      {"FileExport", active},
      {"FileImport", writable},
      {"FilePrint", active},
      {"FilePrintPreview", active},
      {"GridPrintRecord", records},
  };
  for (const auto& rule : rules) Action(QString::fromUtf8(rule.name))->setEnabled(rule.enabled);
  codePageMenu_->setEnabled(active);
  orderMenu_->setEnabled(active);
}

TDBFInfo* TForm1::AddTab(const QString& path) {
  const int n = tabs_->count();
  if (n >= kMaxTabs) {
    Ui().ShowError(this, QStringLiteral("Too many tables open (256)."));
    return nullptr;
  }
  auto record = std::make_unique<TDBFInfo>();
  record->Path = path;
  record->FileName = QFileInfo(path).fileName();
  TDBFInfo* added = record.get();
  slots_[static_cast<size_t>(n)] = added;
  records_.push_back(std::move(record));
  ++quietTabs_;
  tabs_->addTab(added->FileName);
  tabs_->setCurrentIndex(n);
  --quietTabs_;
  return added;
}

void TForm1::SaveTabState() {
  if (!shownInfo_ || !dbf1_->Active()) return;
  shownInfo_->RecNo = dbf1_->CurrentRecNo();
  shownInfo_->View = grid_->SaveView();
}

void TForm1::RestoreTabState(const TDBFInfo& record) {
  if (record.RecNo > 0) {
    try {
      dbf1_->GotoBookmark(TDbfTable::MakeBookmark(record.RecNo));
    } catch (const std::exception&) {
      // The record went while the tab was in the background (packed away,
      // or deleted and hidden): the tab starts at the top instead.
    }
  }
  grid_->RestoreView(record.View);
}

void TForm1::BuildFormView() {
  formView_->Build(grid_, dbf1_.get());
  formSerial_ = openSerial_;
}

void TForm1::FollowTable(bool memoShown, bool formShown) {
  const bool active = dbf1_->Active();
  if (memoShown && active) {
    memoEditor_->FollowTable();
  } else {
    memoEditor_->close();
  }
  if (formShown && active) {
    BuildFormView();
  } else {
    formView_->close();
  }
  // The index windows stay open and show the table now shown.
  if (indexes_->isVisible()) indexes_->Refresh();
  if (createIndex_->isVisible()) createIndex_->Prepare();
  if (addField_->isVisible()) addField_->Prepare();
  if (renameField_->isVisible()) renameField_->Prepare();
  if (removeField_->isVisible()) removeField_->Prepare();
}

bool TForm1::OpenTable(const QString& path, int codePage) {
  bool opened = false;
  // The windows over the grid are told where they stand once the new table
  // is open; until then they must not hold on to the old one's fields.
  const bool memoShown = memoEditor_->isVisible();
  const bool formShown = formView_->isVisible();
  memoEditor_->Unbind();
  if (formShown) formView_->RemoveEditors();
  try {
    dbf1_->Close();
    dbf1_->SetExclusive(false);
    dbf1_->SetTableName(path.toStdString());
    dbf1_->SetChosenCodePage(codePage);
    dbf1_->SetFiltered(false);
    const QString filter = filterEdit_->text();
    dbf1_->SetFilter(filter.toStdString());
    if (!filter.isEmpty()) dbf1_->SetFiltered(true);
    dbf1_->Open();
    opened = true;
    ++openSerial_;
  } catch (const std::exception& e) {
    Ui().ShowError(this, QStringLiteral("Error openning DBF File with: ") + QString::fromUtf8(e.what()));
  }
  shownPath_ = path;
  UpdateCaption();
  UpdateStatusLabels();
  UpdateRecordLabel();
  UpdateCommands();
  FollowTable(memoShown, formShown);
  return opened;
}

bool TForm1::ShowTab(int index) {
  TDBFInfo* record = slots_[static_cast<size_t>(index)];
  filterEdit_->setText(record->FilterText);
  fileNameEdit_->setText(record->FileName);
  const bool opened = OpenTable(record->Path, record->CodePage);
  shownInfo_ = opened ? record : nullptr;
  if (opened) RestoreTabState(*record);
  return opened;
}

void TForm1::OpenCommand() {
  const QString chosen = Ui().ChooseOpenFile(this, kOpenFilter);
  if (chosen.isEmpty()) return;
  OpenInNewTab(chosen);
}

void TForm1::OpenInNewTab(const QString& chosen) {
  const int previous = tabs_->currentIndex();
  const int n = tabs_->count();
  SaveTabState();
  if (!AddTab(chosen)) return;
  UnbindPanelMemo();
  if (ShowTab(n)) return;
  ++quietTabs_;
  tabs_->removeTab(n);
  --quietTabs_;
  // The tab strip cannot show "no tab selected" while it has tabs, so the
  // tab that was selected before gets its table back.
  if (previous >= 0 && previous < tabs_->count()) {
    SelectTabQuietly(previous);
    TabSwitch(previous);
  }
  UpdateCommands();
}

void TForm1::TabSwitch(int index) {
  if (index < 0 || index >= tabs_->count()) return;
  SaveTabState();
  UnbindPanelMemo();
  ShowTab(index);
}

void TForm1::CloseCommand() {
  const int closed = tabs_->currentIndex();
  if (closed == -1) return;
  const int n = tabs_->count();
  for (int k = closed; k + 1 < n; ++k) slots_[static_cast<size_t>(k)] = slots_[static_cast<size_t>(k + 1)];
  filterEdit_->setText(slots_[static_cast<size_t>(closed)]->FilterText);
  shownInfo_ = nullptr;
  ++quietTabs_;
  tabs_->removeTab(closed);
  --quietTabs_;
  dbf1_->Close();
  if (tabs_->count() > 0) {
    // The tab strip has selected a neighbour; it shows its table, as when
    // the user selects it.
    TabSwitch(tabs_->currentIndex());
  } else {
    setWindowTitle(kProduct);
    UpdateStatusLabels();
    UpdateRecordLabel();
    FollowTable(false, false);
  }
  UpdateCommands();
}

void TForm1::QuickOpenCommand() {
  if (Ui().ExecDialog(*quickOpen_) != QDialog::Accepted) return;
  const QString name = quickOpen_->Edit1()->text();
  // A wrong name must not cost the user the table on screen, so the name is
  // tried on a table object of its own first. It resolves a bare name where
  // Dbf1 would.
  QString path;
  try {
    TDbfTable probe;
    probe.SetFilePath(dbf1_->FilePath());
    probe.SetReadOnly(true);
    probe.SetTableName(name.toStdString());
    probe.Open();
    path = Utf8(probe.PhysicalTableName());
  } catch (const std::exception& e) {
    Ui().ShowError(this, QStringLiteral("Error openning DBF File with: ") + QString::fromUtf8(e.what()));
    return;
  }
  const int current = tabs_->currentIndex();
  if (current < 0) {
    if (!AddTab(path)) return;
    if (!ShowTab(tabs_->currentIndex())) CloseCommand();
    return;
  }
  SaveTabState();
  TDBFInfo* record = slots_[static_cast<size_t>(current)];
  const TDBFInfo before = *record;
  UnbindPanelMemo();
  // Another table in the tab: where the old one was left means nothing now.
  TDBFInfo renamed;
  renamed.Path = path;
  renamed.FilterText = record->FilterText;
  renamed.FileName = QFileInfo(path).fileName();
  *record = renamed;
  tabs_->setTabText(current, record->FileName);
  if (ShowTab(current)) return;
  // The probe opened it, the real open did not (another program holds it
  // exclusively, say): the tab goes back to what it showed.
  *record = before;
  tabs_->setTabText(current, record->FileName);
  ShowTab(current);
}

// ---------------------------------------------------------------- record commands

void TForm1::EditFirst() { dbf1_->First(); }
void TForm1::EditPrior() { dbf1_->Prior(); }
void TForm1::EditNext() { dbf1_->Next(); }
void TForm1::EditLast() { dbf1_->Last(); }
void TForm1::EditInsert() { dbf1_->Insert(); }
void TForm1::EditDelete() { dbf1_->Delete(); }

void TForm1::EditSave() {
  if (dbf1_->State() == dsEdit || dbf1_->State() == dsInsert) dbf1_->Post();
}

void TForm1::EditCancel() { dbf1_->Cancel(); }

void TForm1::ViewEditMemo() {
  QString field;
  if (QAbstractItemModel* model = grid_->model(); model && model->columnCount() > 0)
    field = model->headerData(grid_->SelectedColumn(), Qt::Horizontal).toString();
  if (!memoEditor_->BindField(field.toStdString())) {
    Ui().ShowMessage(this, QStringLiteral("This table has no memo field."));
    return;
  }
  if (memoEditor_->isHidden()) memoEditor_->move(frameGeometry().center() - memoEditor_->rect().center());
  memoEditor_->show();
  memoEditor_->raise();
}

void TForm1::ToggleShowDeleted() {
  // The action has already flipped its check mark.
  dbf1_->SetShowDeleted(showDeleted_->isChecked());
}

void TForm1::IsDeletedCommand() {
  Ui().ShowMessage(this, dbf1_->IsDeleted() ? QStringLiteral("Deleted") : QStringLiteral("Not deleted"));
}

void TForm1::UndeleteRecord() { dbf1_->Undelete(); }

// ---------------------------------------------------------------- view commands

void TForm1::ShowHideColumns() { Ui().ExecDialog(*columnsDialog_); }

void TForm1::GotoColumn() { Ui().ExecDialog(*selectField_); }

void TForm1::FormViewCommand() {
  if (!dbf1_->Active()) return;
  // An empty form is no view of anything: it is built when it was closed
  // since, or built for another table.
  if (!formView_->HasEditors() || formSerial_ != openSerial_) BuildFormView();
  formView_->show();
  formView_->raise();
}

void TForm1::FormCommand() {
  if (!dbf1_->Active()) return;
  BuildFormView();
  formView_->show();
  formView_->raise();
}

void TForm1::ResizeAllColumnWidths() {
  QAbstractItemModel* model = grid_->model();
  const int columns = model ? model->columnCount() : 0;
  if (columns == 0) return;
  const int width = std::max((grid_->width() - 25) / columns, 50);
  for (int c = 0; c < columns; ++c) grid_->setColumnWidth(c, width);
}

void TForm1::ToggleToolbar() { coolBar_->setVisible(showToolbar_->isChecked()); }

void TForm1::ToggleStatusbar() { statusBar()->setVisible(showStatusbar_->isChecked()); }

void TForm1::ChangeFont() {
  QFont font = grid_->font();
  if (Ui().ChooseFont(this, font)) grid_->setFont(font);
}

void TForm1::FontCommand() {
  QFont font = grid_->font();
  if (!Ui().ChooseFont(this, font)) return;
  grid_->setFont(font);
  formView_->setFont(font);
  memoEditor_->setFont(font);
}

void TForm1::ScaleBy(int numerator, int denominator) {
  auto scaled = [&](int v) { return v * numerator / denominator; };
  auto scaleFont = [&](QWidget* w) {
    QFont f = w->font();
    if (f.pointSizeF() > 0) f.setPointSizeF(f.pointSizeF() * numerator / denominator);
    else if (f.pixelSize() > 0) f.setPixelSize(std::max(1, scaled(f.pixelSize())));
    w->setFont(f);
  };
  scaleFont(this);
  scaleFont(grid_);
  scaleFont(grid_->horizontalHeader());
  for (int c = 0; c < grid_->model()->columnCount(); ++c) grid_->setColumnWidth(c, scaled(grid_->columnWidth(c)));
  if (isMaximized() || isFullScreen()) return;
  QSize size(scaled(width()), scaled(height()));
  const QScreen* on = screen();
  if (!on) {
    resize(size);
    return;
  }
  // A window grown past its screen has its title bar or its edges out of
  // reach; it stays whole on the screen it is on.
  const QRect room = on->availableGeometry();
  const QSize frame = frameGeometry().size() - geometry().size();
  size = size.boundedTo(room.size() - frame);
  resize(size);
  const QSize outer = size + frame;
  const int x = std::clamp(pos().x(), room.left(), room.left() + room.width() - outer.width());
  const int y = std::clamp(pos().y(), room.top(), room.top() + room.height() - outer.height());
  move(x, y);
}

void TForm1::Enlarge() { ScaleBy(125, 100); }
void TForm1::Reduce() { ScaleBy(75, 100); }

void TForm1::AboutCommand() { Ui().ExecDialog(*aboutBox_); }

void TForm1::ReadInCodePage(int codePage) {
  if (!shownInfo_ || !dbf1_->Active()) return;
  if (codePage < 0) {
    QString text = QString::number(dbf1_->CodePage());
    if (!Ui().AskText(this, QStringLiteral("Code page (a number or a name: 866, cp1251, UTF-8, ISO-8859-2):"), text))
      return;
    codePage = CodePageFromText(text);
    if (codePage <= 0 || !TDbfTable::CodePageAvailable(codePage)) {
      Ui().ShowError(this, QStringLiteral("\"%1\" is not a code page this system can convert.").arg(text.trimmed()));
      return;
    }
  }
  TDBFInfo* record = shownInfo_;
  const int previous = record->CodePage;
  if (codePage == previous) return;
  SaveTabState();
  UnbindPanelMemo();
  record->CodePage = codePage;
  if (ShowTab(tabs_->currentIndex())) return;
  // The table did not open in that page: it comes back as it was read.
  record->CodePage = previous;
  ShowTab(tabs_->currentIndex());
}

void TForm1::SetCodePageCommand() {
  if (!shownInfo_ || !dbf1_->Active()) return;
  const int codePage = dbf1_->CodePage();
  const QString file = QFileInfo(shownPath_).fileName();
  if (!Ui().Confirm(this, QStringLiteral("Write code page %1 (%2) into %3?\n\nIts header (and its .cpg file, if it "
                                         "has one) will then name this code page for every program that reads it.")
                              .arg(codePage)
                              .arg(CodePageTitle(codePage), file)))
    return;
  TDBFInfo* record = shownInfo_;
  SaveTabState();
  UnbindPanelMemo();
  QString failure;
  try {
    // The header is written only by a program that has the table to itself.
    dbf1_->Close();
    dbf1_->SetExclusive(true);
    dbf1_->SetChosenCodePage(codePage);
    dbf1_->Open();
    dbf1_->SetTableCodePage(codePage);
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
  }
  try {
    dbf1_->Close();
  } catch (const std::exception& e) {
    if (failure.isEmpty()) failure = QString::fromUtf8(e.what());
  }
  dbf1_->SetExclusive(false);
  // The table names the page itself now; a failed write keeps the choice.
  if (failure.isEmpty()) record->CodePage = 0;
  ShowTab(tabs_->currentIndex());
  if (!failure.isEmpty()) Ui().ShowError(this, QStringLiteral("The code page was not written: ") + failure);
}

// ---------------------------------------------------------------- filter and search

namespace {
// Reports a table's progress to the dialog while the command runs.
struct TProgressScope {
  TProgressScope(TDbfTable& table, TLongWork& work) : table_(table) {
    table_.OnProgress = [&work](int64_t done, int64_t total) { work.Progress(done, total); };
  }
  ~TProgressScope() { table_.OnProgress = nullptr; }
  TDbfTable& table_;
};

// The busy cursor for short work that has no progress to show.
struct TWaitCursor {
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};
}  // namespace

void TForm1::RequireOpen() const {
  if (!dbf1_->Active()) throw EDbfError("Cannot perform this operation on a closed dataset");
}

void TForm1::ApplyFilter() {
  if (!dbf1_->Active()) return;
  const QString text = filterEdit_->text();
  TFilterState before{dbf1_->Filter(), dbf1_->Filtered(), shownInfo_ ? shownInfo_->FilterText : QString(),
                      shownInfo_, text.toStdString()};
  QString failure;
  bool cancelled = false;
  {
    // Finding the first record a rare condition accepts can take a while;
    // the grid finds the rest between events.
    TLongWork work(this, QStringLiteral("Filtering %1 ...").arg(QFileInfo(shownPath_).fileName()), 0);
    TProgressScope progress(*dbf1_, work);
    try {
      dbf1_->SetFilterOptions(foCaseInsensitive);
      dbf1_->SetFilter(text.toStdString());
      dbf1_->SetFiltered(true);
      countLabel_->setText(QStringLiteral("Count: ") + QString::number(dbf1_->RecordCount()));
    } catch (const EAbort&) {
      cancelled = true;
    } catch (const std::exception& e) {
      failure = QString::fromUtf8(e.what());
    }
  }
  if (cancelled || !failure.isEmpty()) {
    // A filter that fails on a record has already been taken; the one in
    // force before comes back with its state.
    previousFilter_ = before;
    RestorePreviousFilter();
    if (!failure.isEmpty()) Ui().ShowError(this, QStringLiteral("Filter error: ") + failure);
    return;
  }
  previousFilter_ = before;
  if (shownInfo_) shownInfo_->FilterText = text;
}

void TForm1::RestorePreviousFilter() {
  const TFilterState& before = previousFilter_;
  try {
    dbf1_->SetFilter(before.text);
    dbf1_->SetFiltered(before.filtered);
  } catch (const std::exception&) {
    // What was in force compiled then; should it not now, no filter is
    // better than a table that cannot be walked.
    try {
      dbf1_->SetFiltered(false);
    } catch (const std::exception&) {
    }
  }
  if (before.tab && before.tab == shownInfo_) before.tab->FilterText = before.tabText;
  UpdateStatusLabels();
}

void TForm1::FilterFailedLater(const QString& message) {
  if (!dbf1_->Active()) return;
  Ui().ShowError(this, QStringLiteral("Filter error: ") + message);
  if (previousFilter_.tab == shownInfo_ && dbf1_->Filter() == previousFilter_.applied) {
    RestorePreviousFilter();
  } else {
    // Applied at open, not by Apply Filter: there is nothing before it.
    dbf1_->SetFiltered(false);
  }
}

void TForm1::CancelFilter() {
  filterEdit_->clear();
  if (dbf1_->Active()) dbf1_->SetFiltered(false);
}

void TForm1::FilterHelp() { OpenHelpPage(this, QUrl(HelpPageUrl(QStringLiteral("filter.html")))); }

void TForm1::SearchValue() {
  if (!dbf1_->Active()) return;
  locateDialog_->FillAllFields();
  Ui().ExecDialog(*locateDialog_);
}

void TForm1::ChangeIndex() {
  const QString chosen = Ui().ChooseOpenFile(this, QStringLiteral("DBF Index|*.NDX"));
  if (chosen.isEmpty()) return;
  RequireOpen();
  dbf1_->CheckBrowseMode();
  const std::vector<std::string> before = dbf1_->GetIndexNames();
  dbf1_->OpenIndexFile(chosen.toStdString());
  std::string name;
  for (const std::string& n : dbf1_->GetIndexNames())
    if (std::find(before.begin(), before.end(), n) == before.end()) name = n;
  if (name.empty()) {
    // Open already: the file is chosen again as the order.
    const QString file = QFileInfo(chosen).fileName();
    for (const std::string& n : before)
      if (QFileInfo(Utf8(n)).fileName().compare(file, Qt::CaseInsensitive) == 0) name = n;
  }
  SelectOrder(Utf8(name));
}

void TForm1::SelectOrder(const QString& name) {
  if (!dbf1_->Active()) return;
  dbf1_->CheckBrowseMode();
  dbf1_->SetIndexName(name.toStdString());
  UpdateStatusLabels();
}

void TForm1::FillOrderMenu() {
  orderMenu_->clear();
  if (!dbf1_->Active()) return;
  const std::string current = dbf1_->IndexName();
  auto add = [this](const QString& caption, const QString& name, bool checked) {
    QAction* action = orderMenu_->addAction(caption);
    action->setCheckable(true);
    action->setChecked(checked);
    connect(action, &QAction::triggered, this, [this, name] { RunGuarded(this, [this, name] { SelectOrder(name); }); });
  };
  add(QStringLiteral("Record Order"), QString(), current.empty());
  std::vector<std::string> names;
  try {
    names = dbf1_->GetIndexNames();
  } catch (const std::exception&) {
  }
  if (!names.empty()) orderMenu_->addSeparator();
  for (const std::string& n : names) {
    const QString name = Utf8(n);
    add(QFileInfo(name).fileName(), name, n == current);
  }
}

// ---------------------------------------------------------------- maintenance

std::vector<std::string> TForm1::OpenIndexFileNames() const {
  std::vector<std::string> files;
  if (const TTableIndexes* indexes = dbf1_->IndexFiles())
    for (const auto& file : indexes->Files())
      if (!file->IsMultiple()) files.push_back(file->FileName());
  return files;
}

bool TForm1::ReopenShown(const std::vector<std::string>& indexFiles, const std::string& indexName) {
  try {
    dbf1_->Close();
    // An order of a file opened by hand exists only once the file is open
    // again.
    dbf1_->SetIndexName(std::string());
    dbf1_->Open();
    ++openSerial_;
    for (const std::string& file : indexFiles) dbf1_->OpenIndexFile(file);
    dbf1_->SetIndexName(indexName);
  } catch (const std::exception& e) {
    Ui().ShowError(this, QStringLiteral("Error openning DBF File with: ") + QString::fromUtf8(e.what()));
  }
  return dbf1_->Active();
}

bool TForm1::WithExclusiveTable(const std::function<void()>& work, bool fromTop, bool forgetView) {
  if (!shownInfo_) throw EDbfError("Cannot perform this operation on a closed dataset");
  RequireOpen();
  dbf1_->CheckBrowseMode();
  TDBFInfo* record = shownInfo_;
  SaveTabState();
  UnbindPanelMemo();
  const bool memoShown = memoEditor_->isVisible();
  const bool formShown = formView_->isVisible();
  memoEditor_->Unbind();
  if (formShown) formView_->RemoveEditors();
  std::vector<std::string> indexFiles = OpenIndexFileNames();
  std::string indexName = dbf1_->IndexName();
  QString failure;
  bool done = false;
  try {
    dbf1_->Close();
    dbf1_->SetExclusive(true);
    if (ReopenShown(indexFiles, indexName)) {
      work();
      done = true;
      // The work may have made or removed an index file, or the order
      // (work that closed the table to rewrite it keeps the ones before).
      if (dbf1_->Active()) {
        indexFiles = OpenIndexFileNames();
        indexName = dbf1_->IndexName();
      }
    }
  } catch (const EAbort&) {
    // Cancelled: the work left the table as it was.
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
  }
  try {
    dbf1_->Close();
  } catch (const std::exception& e) {
    if (failure.isEmpty()) failure = QString::fromUtf8(e.what());
  }
  dbf1_->SetExclusive(false);
  if (done && fromTop) record->RecNo = 0;
  // New fields make new columns: the old look does not fit them.
  if (done && forgetView) record->View = TGridView();
  const bool reopened = ReopenShown(indexFiles, indexName);
  shownInfo_ = reopened ? record : nullptr;
  if (reopened) RestoreTabState(*record);
  UpdateCaption();
  UpdateStatusLabels();
  UpdateRecordLabel();
  UpdateCommands();
  FollowTable(memoShown, formShown);
  if (!failure.isEmpty()) Ui().ShowError(this, failure);
  return done && failure.isEmpty() && reopened;
}

bool TForm1::WithExclusiveProgress(const QString& label, const std::function<void()>& work, bool fromTop) {
  return WithExclusiveTable(
      [&] {
        TLongWork progressDialog(this, label, dbf1_->DbfFile()->RecordCount());
        TProgressScope progress(*dbf1_, progressDialog);
        work();
      },
      fromTop);
}

void TForm1::PackCommand() {
  if (!dbf1_->Active() || !Ui().Confirm(this, QStringLiteral("Pack Table?"))) return;
  WithExclusiveProgress(QStringLiteral("Packing %1 ...").arg(QFileInfo(shownPath_).fileName()), [this] { dbf1_->Pack(); },
                        true);
}

void TForm1::ZapCommand() {
  if (!dbf1_->Active() || !Ui().Confirm(this, QStringLiteral("Zap Table (Delete all)?"))) return;
  WithExclusiveTable(
      [this] {
        TLongWork work(this, QStringLiteral("Emptying %1 ...").arg(QFileInfo(shownPath_).fileName()), 0);
        work.Uncancellable();
        dbf1_->Zap();
      },
      true);
}

void TForm1::ReindexCommand() {
  if (!dbf1_->Active() || !Ui().Confirm(this, QStringLiteral("Reindex?"))) return;
  RegenerateIndexes();
}

// ---------------------------------------------------------------- counts

void TForm1::RecordCountCommand() {
  RequireOpen();
  Ui().ShowMessage(this, QStringLiteral("Count: ") + QString::number(dbf1_->RecordCount()));
}

void TForm1::VisualCountCommand() {
  RequireOpen();
  dbf1_->CheckBrowseMode();
  int64_t count = 0;
  {
    TLongWork work(this, QStringLiteral("Counting the records shown ..."), 0);
    std::unique_ptr<TDbfTable> walker = OpenWalker(*dbf1_);
    count = WalkVisible(*walker, work);
  }
  Ui().ShowMessage(this, QStringLiteral("Count=") + QString::number(count));
}

void TForm1::RecordSizeCommand() {
  RequireOpen();
  Ui().ShowMessage(this, QStringLiteral("Size: ") + QString::number(dbf1_->DbfFile()->RecordSize()));
}

// ---------------------------------------------------------------- clipboard and CSV

QString TForm1::FieldValueText(TField& field) const {
  std::string text;
  field.GetText(text);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return Utf8(text);
}

void TForm1::CopyColumn() {
  RequireOpen();
  const std::string name = dbf1_->Fields(grid_->SelectedColumn()).FieldName();
  dbf1_->CheckBrowseMode();
  QString lines;
  {
    TLongWork work(this, QStringLiteral("Copying %1 ...").arg(Utf8(name)), 0);
    std::unique_ptr<TDbfTable> walker = OpenWalker(*dbf1_);
    TField& field = walker->FieldByName(name);
    WalkVisible(*walker, work, [&] { lines += FieldValueText(field) + QStringLiteral("\r\n"); });
  }
  QGuiApplication::clipboard()->setText(lines);
}

void TForm1::CopyRow() {
  RequireOpen();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  QString lines;
  for (int column : grid_->ColumnsInOrder(false))
    lines += FieldValueText(dbf1_->Fields(column)) + QStringLiteral("\r\n");
  QApplication::restoreOverrideCursor();
  QGuiApplication::clipboard()->setText(lines);
}

void TForm1::CopyFieldValue() {
  RequireOpen();
  QGuiApplication::clipboard()->setText(FieldValueText(dbf1_->Fields(grid_->SelectedColumn())) +
                                        QStringLiteral("\r\n"));
}

void TForm1::ExportToCsv() {
  RequireOpen();
  const QString path = Ui().ChooseSaveFile(this, QStringLiteral("CSV Text File|*.TXT"));
  if (path.isEmpty()) return;
  std::vector<std::string> fields;
  for (int column : grid_->ColumnsInOrder(true)) fields.push_back(dbf1_->Fields(column).FieldName());
  if (fields.empty()) {
    Ui().ShowError(this, QStringLiteral("No visible columns to export."));
    return;
  }
  const QString own = OwnFileNamed(*dbf1_, path);
  if (!own.isEmpty()) {
    Ui().ShowError(this, QStringLiteral("\"%1\" is a file of the table itself; the CSV file needs another name.")
                             .arg(QFileInfo(own).fileName()));
    return;
  }
  dbf1_->CheckBrowseMode();
  {
    TLongWork work(this, QStringLiteral("Writing %1 ...").arg(QFileInfo(path).fileName()), 0);
    std::unique_ptr<TDbfTable> walker = OpenWalker(*dbf1_);
    WriteCsvFile(*walker, fields, path, work);
  }
  Ui().ShowMessage(this, QStringLiteral("Export Complete"));
}

// ---------------------------------------------------------------- table information

QString TForm1::ShownFilePath() const {
  if (!dbf1_->Active()) return QString();
  return QFileInfo(QString::fromStdString(dbf1_->PhysicalTableName())).absoluteFilePath();
}

void TForm1::TableInfoCommand() {
  tableInfo_->setWindowTitle(QStringLiteral("Table Info "));
  const QString path = ShownFilePath();
  if (tabs_->count() > 0) tableInfo_->FullPath()->setText(path);
  tableInfo_->Fill(path);
  Ui().ExecDialog(*tableInfo_);
}

void TForm1::SetTableTypeCommand() {
  setTableType_->Prepare(ShownFilePath());
  Ui().ExecDialog(*setTableType_);
}

bool TForm1::WriteTableType(uint8_t byte) {
  if (!shownInfo_ || !dbf1_->Active()) return false;
  const QString path = ShownFilePath();
  const QString file = QFileInfo(path).fileName();
  if (!Ui().Confirm(this, QStringLiteral("Set the table type of %1 to \"%2\"?\n\nOnly its first byte is written.")
                              .arg(file, VersionByteText(byte))))
    return false;
  SaveTabState();
  UnbindPanelMemo();
  QString failure;
  try {
    dbf1_->Close();
  } catch (const std::exception& e) {
    failure = QString::fromUtf8(e.what());
  }
  if (failure.isEmpty()) {
    // The table is closed; opening the file to itself keeps every other
    // program out while the byte goes in, so no one reads a header half
    // old and half new, and no one has it open to write the old byte back.
    TOsFile raw;
    if (!raw.Open(path.toStdString(), true, TShareMode::kDenyWrite, false)) {
      failure = QString::fromStdString(raw.LastError());
    } else if (raw.Size() < 32) {
      failure = QStringLiteral("Error reading: [") + file + QLatin1Char(']');
    } else if (raw.WriteAt(0, &byte, 1) != 1 || !raw.Sync()) {
      failure = QString::fromStdString(raw.LastError());
      if (failure.isEmpty()) failure = QStringLiteral("the first byte could not be written");
    }
  }
  ShowTab(tabs_->currentIndex());
  UpdateCommands();
  if (!failure.isEmpty()) {
    Ui().ShowError(this, QStringLiteral("The table type was not set: ") + failure);
    return false;
  }
  Ui().ShowMessage(this, QStringLiteral("Table type set."));
  return true;
}

// ---------------------------------------------------------------- index windows

void TForm1::ShowCreateIndex() {
  createIndex_->Prepare();
  createIndex_->show();
  createIndex_->raise();
  createIndex_->activateWindow();
}

void TForm1::ShowIndexes() {
  indexes_->show();
  indexes_->raise();
  indexes_->activateWindow();
}

bool TForm1::CreateIndex(const QString& name, const QString& expression, bool descending) {
  RequireOpen();
  if (name.isEmpty()) {
    Ui().ShowError(this, QStringLiteral("Give the index a name."));
    return false;
  }
  if (expression.isEmpty()) {
    Ui().ShowError(this, QStringLiteral("Give the index a key: a field name or an expression."));
    return false;
  }
  const bool file = name.contains(QLatin1Char('.'));
  if (file && QFileInfo(name).suffix().compare(QStringLiteral("ndx"), Qt::CaseInsensitive) != 0) {
    Ui().ShowError(this, QStringLiteral("A single-index file needs the extension .NDX."));
    return false;
  }
  if (!file && dbf1_->TableLevel() == 25) {
    Ui().ShowError(this, QStringLiteral("FoxPro tables take single-index files here: give the name the extension .NDX."));
    return false;
  }
  bool exists = false;
  if (file) {
    const QFileInfo table(ShownFilePath());
    exists = QFileInfo::exists(QFileInfo(name).isAbsolute() ? name : table.absolutePath() + QLatin1Char('/') + name);
  } else {
    for (const std::string& n : dbf1_->GetIndexNames())
      if (QString::fromStdString(n).compare(name, Qt::CaseInsensitive) == 0) exists = true;
  }
  if (exists && !Ui().Confirm(this, QStringLiteral("Index \"%1\" exists. Build it anew from \"%2\"?").arg(name, expression)))
    return false;
  const bool created = WithExclusiveProgress(
      QStringLiteral("Creating index %1 ...").arg(name),
      [&] { dbf1_->AddIndex(name.toStdString(), expression.toStdString(), descending ? ixDescending : 0); }, false);
  if (created) Ui().ShowMessage(this, QStringLiteral("Index created"));
  return created;
}

bool TForm1::RemoveIndex(const QString& name) {
  RequireOpen();
  if (!Ui().Confirm(this, QStringLiteral("Are you sure you wish to delete the Index \"") + name + QLatin1Char('"')))
    return false;
  return WithExclusiveTable(
      [&] {
        TWaitCursor busy;
        if (!dbf1_->DeleteIndex(name.toStdString()))
          throw EDbfError("There is no index \"" + name.toStdString() + "\" on this table.");
      },
      false);
}

bool TForm1::RegenerateIndexes() {
  RequireOpen();
  return WithExclusiveProgress(QStringLiteral("Rebuilding the indexes of %1 ...").arg(QFileInfo(shownPath_).fileName()),
                               [this] { dbf1_->RebuildIndexes(); }, false);
}

// ---------------------------------------------------------------- field changes

namespace {
void ShowBeside(QDialog* dialog) {
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
}
}  // namespace

void TForm1::ShowAddField() {
  addField_->Prepare();
  ShowBeside(addField_);
}

void TForm1::ShowAlterField() {
  alterField_->Prepare();
  Ui().ExecDialog(*alterField_);
}

void TForm1::ShowRenameField() {
  renameField_->Prepare();
  ShowBeside(renameField_);
}

void TForm1::ShowRemoveField() {
  removeField_->Prepare();
  ShowBeside(removeField_);
}

bool TForm1::RestructureShown(const std::function<void(TDbfFieldDefs&)>& change, const QString& done) {
  RequireOpen();
  TDbfFieldDefs defs;
  CopyFieldDefs(*dbf1_, defs);
  change(defs);
  const bool changed = WithExclusiveTable(
      [&] {
        TWaitCursor busy;
        dbf1_->Close();
        dbf1_->Restructure(defs, false);
      },
      false, true);
  if (changed && !done.isEmpty()) Ui().ShowMessage(this, done);
  return changed;
}

int TForm1::ShownFieldIndex(const QString& field) const {
  for (int i = 0; i < dbf1_->FieldCount(); ++i)
    if (QString::fromStdString(dbf1_->Fields(i).FieldName()).compare(field, Qt::CaseInsensitive) == 0) return i;
  return -1;
}

bool TForm1::AddField(const QString& name, const QString& typeName, const QString& sizeText) {
  RequireOpen();
  const int level = dbf1_->TableLevel();
  TDbfFieldDefs current;
  CopyFieldDefs(*dbf1_, current);
  QString problem = FieldNameProblem(name, level, current);
  const char letter = AddTypeLetter(typeName, level);
  if (problem.isEmpty() && letter == 0)
    problem = QStringLiteral("Invalid field type '%1' for field '%2'.").arg(typeName, name);
  const int size = problem.isEmpty() ? FieldSize(letter, sizeText, level, &problem) : 0;
  if (!problem.isEmpty()) {
    Ui().ShowError(this, problem);
    return false;
  }
  return RestructureShown(
      [&](TDbfFieldDefs& defs) {
        TDbfFieldDef& added = defs.Add();
        added.SetFieldName(name.toUpper().toStdString());
        added.SetNativeFieldType(letter);
        added.SetSize(size);
      },
      QStringLiteral("New field added"));
}

bool TForm1::AlterField(const QString& field, const QString& typeName, const QString& sizeText) {
  RequireOpen();
  const int at = ShownFieldIndex(field);
  if (at < 0) return false;
  const TFieldType type = AlterType(typeName);
  if (type == ftUnknown) {
    Ui().ShowError(this, QStringLiteral("Invalid field type '%1' for field '%2'.").arg(typeName, field));
    return false;
  }
  TDbfFieldDefs probe;
  CopyFieldDefs(*dbf1_, probe);
  TDbfFieldDef& def = probe.Item(at);
  const int oldSize = def.Size();
  const char oldLetter = def.NativeFieldType();
  def.SetFieldType(type);  // raises when the level has no letter for it
  QString problem;
  const int size = FieldSize(def.NativeFieldType(), sizeText, dbf1_->TableLevel(), &problem);
  if (!problem.isEmpty()) {
    Ui().ShowError(this, problem);
    return false;
  }
  if (oldLetter == 'C' && def.NativeFieldType() == 'C' && size < oldSize) {
    // Text is never cut on the way: a value that does not fit stops the
    // rewrite, so the person hears of it here, counted, before anything.
    const int64_t cut = ValuesLongerThan(*dbf1_, field, size);
    if (cut > 0) {
      Ui().ShowError(this, QStringLiteral("%1 of the values of %2 are longer than %3 characters and would be cut; "
                                          "the field stays as it is.")
                               .arg(cut)
                               .arg(field)
                               .arg(size));
      return false;
    }
    if (!Ui().Confirm(this, QStringLiteral("Make %1 %2 characters wide? No value is longer.").arg(field).arg(size)))
      return false;
  }
  return RestructureShown(
      [&](TDbfFieldDefs& defs) {
        TDbfFieldDef& changed = defs.Item(at);
        changed.SetFieldType(type);
        changed.SetSize(size);
      },
      QStringLiteral("Field altered"));
}

bool TForm1::RenameField(const QString& field, const QString& newName) {
  RequireOpen();
  const int at = ShownFieldIndex(field);
  if (at < 0) return false;
  TDbfFieldDefs current;
  CopyFieldDefs(*dbf1_, current);
  QString problem = FieldNameProblem(newName, dbf1_->TableLevel(), current, at);
  const QStringList indexes = IndexesUsingField(*dbf1_, field);
  if (problem.isEmpty() && !indexes.isEmpty())
    problem = QStringLiteral("The index %1 uses the field %2: remove the index first.").arg(indexes.front(), field);
  if (!problem.isEmpty()) {
    Ui().ShowError(this, problem);
    return false;
  }
  return RestructureShown([&](TDbfFieldDefs& defs) { defs.Item(at).SetFieldName(newName.toUpper().toStdString()); },
                          QStringLiteral("Field Renamed"));
}

bool TForm1::RemoveField(const QString& field) {
  RequireOpen();
  const int at = ShownFieldIndex(field);
  if (at < 0) return false;
  QString problem;
  if (dbf1_->FieldCount() <= 1) problem = QStringLiteral("A table needs at least one field: %1 stays.").arg(field);
  const QStringList indexes = IndexesUsingField(*dbf1_, field);
  if (problem.isEmpty() && !indexes.isEmpty())
    problem = QStringLiteral("The index %1 uses the field %2: remove the index first.").arg(indexes.front(), field);
  if (!problem.isEmpty()) {
    Ui().ShowError(this, problem);
    return false;
  }
  if (!Ui().Confirm(this, QStringLiteral("Are you sure you wish to delete the field column"))) return false;
  return RestructureShown(
      [&](TDbfFieldDefs& defs) {
        // Every field but that one, each from its own old field.
        const TDbfFieldDefs& native = *dbf1_->NativeFieldDefs();
        defs.Clear();
        for (int i = 0; i < native.Count(); ++i) {
          if (i == at) continue;
          TDbfFieldDef& kept = defs.Add();
          kept.Assign(native.Item(i));
          kept.SetCopyFrom(i);
        }
      },
      QString());
}

// ---------------------------------------------------------------- new table

void TForm1::ShowNewTable(bool clearFields) {
  if (clearFields) newTable_->ClearFields();
  Ui().ExecDialog(*newTable_);
}

bool TForm1::CreateNewTable(const QString& path, int level, const TDbfFieldDefs& defs) {
  // The table is shown in a tab of its own; with none free it is not made.
  if (tabs_->count() >= kMaxTabs) {
    Ui().ShowError(this, QStringLiteral("Too many tables open (256)."));
    return false;
  }
  const QFileInfo target(path);
  const QString name = target.fileName();
  if (target.exists()) {
    if (dbf1_->Active() && target.absoluteFilePath() == ShownFilePath()) {
      Ui().ShowError(this, QStringLiteral("%1 is the table shown here; close it before making a new table of that name.")
                               .arg(name));
      return false;
    }
    if (!Ui().Confirm(this, QStringLiteral("%1 exists. Replace it with a new, empty table?").arg(name))) return false;
    // Another program that has it open keeps it.
    TOsFile probe;
    if (!probe.Open(path.toStdString(), true, TShareMode::kDenyWrite, false)) {
      Ui().ShowError(this, QStringLiteral("%1 was not replaced: %2").arg(name, QString::fromStdString(probe.LastError())));
      return false;
    }
  }
  try {
    TDbfTable table;
    table.SetTableName(path.toStdString());
    table.SetTableLevel(level);
    table.CreateTable(&defs);
  } catch (const std::exception& e) {
    Ui().ShowError(this, QStringLiteral("The table was not created: ") + QString::fromUtf8(e.what()));
    return false;
  }
  OpenInNewTab(target.absoluteFilePath());
  return true;
}

}  // namespace norvale
