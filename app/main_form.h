// TForm1: the main window. It owns the one table object Dbf1, the data
// source that binds it to the grid, the navigator and the memo boxes, the
// tab strip with one TDBFInfo record per tab, and every command of the menus
// and the tool bar.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <QAction>
#include <QMainWindow>
#include <QString>

#include "app/db_grid.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QSplitter;
class QTabBar;
class QToolBar;
class QToolButton;

namespace norvale {

class TAboutBox;
class TCodePageMenu;
class TColumnsDialog;
class TDBMemo;
class TDBNavigator;
class TDataSource;
class TField;
class TDbfGridModel;
class TDropDownCombo;
class TFormView;
class TImportWizard;
class TLocateDialog;
class TMemoEditor;
class TQuickOpenDialog;
class TSelectFieldDialog;
class TSetTableTypeDialog;
class TAddFieldDialog;
class TNewTableDialog;
class TFieldChangeDialog;
class TRemoveFieldDialog;
class TDbfFieldDefs;
class TCreateIndexDialog;
class TIndexesDialog;
class TTableInfoDialog;
class TViewerTable;

// What the main window remembers of a tab.
struct TDBFInfo {
  QString Path;
  // The filter last applied successfully on the tab.
  QString FilterText;
  // The file-name part of Path; the tab's caption.
  QString FileName;
  // Where the user left the tab, put back when it is selected again: the
  // physical number of the current record (0 for none) and the grid's look.
  int64_t RecNo = 0;
  TGridView View;
  // The code page the person chose to read the tab's table in; 0 lets the
  // table say (its driver, its .cpg) or its text be examined.
  int CodePage = 0;
};

class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  static constexpr int kMaxTabs = 256;
  static constexpr int kWidth = 1121;
  static constexpr int kHeight = 731;

  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // The start-up arguments after the program name: a table path, then
  // optionally "/FULL".
  void HandleCommandLine(const QStringList& args);

  // Re-points Dbf1 at `path` with the filter box's filter; false (after the
  // message) when the table does not open.
  bool OpenTable(const QString& path, int codePage = 0);

  // --- commands, as the menus, keys and buttons run them
  void OpenCommand();
  // Opens `path` in a new tab, as Open does once a file is chosen.
  void OpenInNewTab(const QString& path);
  // The new table designer; `clearFields` starts with an empty list.
  void ShowNewTable(bool clearFields);
  // Creates the table the designer laid out and opens it in a new tab;
  // asks before replacing a file and refuses one another program has open.
  bool CreateNewTable(const QString& path, int level, const TDbfFieldDefs& defs);
  void CloseCommand();
  void QuickOpenCommand();
  void TabSwitch(int index);
  void EditFirst();
  void EditPrior();
  void EditNext();
  void EditLast();
  void EditInsert();
  void EditDelete();
  void EditSave();
  void EditCancel();
  void ViewEditMemo();
  void ToggleShowDeleted();
  void IsDeletedCommand();
  void UndeleteRecord();
  void ShowHideColumns();
  void GotoColumn();
  void FormViewCommand();
  void FormCommand();
  void ResizeAllColumnWidths();
  void ToggleToolbar();
  void ToggleStatusbar();
  void ChangeFont();
  void FontCommand();
  void Enlarge();
  void Reduce();
  void AboutCommand();
  // --- filter and search
  void ApplyFilter();
  void CancelFilter();
  void FilterHelp();
  void SearchValue();
  void ChangeIndex();
  // Shows the table in the order of index `name` (record order for "").
  void SelectOrder(const QString& name);
  // --- maintenance, counts, clipboard, CSV
  void PackCommand();
  void ZapCommand();
  void ReindexCommand();
  void RecordCountCommand();
  void VisualCountCommand();
  void RecordSizeCommand();
  void CopyColumn();
  void CopyRow();
  void CopyFieldValue();
  void ExportToCsv();
  // --- export, import and the reports (main_form_output.cpp, main_form_import.cpp)
  void ExportCommand();
  void ImportCommand();
  void PrintCommand();
  void PrintPreviewCommand();
  void PrintRecordCommand();
  // --- index windows and the work they ask for
  void ShowCreateIndex();
  void ShowIndexes();
  // Creates index `name` (a tag, or an .NDX file) on `expression`, with the
  // table to itself; asks before building an existing one anew. False
  // (after saying why) when refused, failed or not confirmed.
  bool CreateIndex(const QString& name, const QString& expression, bool descending);
  // Deletes index `name` after a question; false when not deleted.
  bool RemoveIndex(const QString& name);
  // Builds every open index anew; false when it failed or was cancelled.
  bool RegenerateIndexes();
  void ShowAddField();
  void ShowAlterField();
  void ShowRenameField();
  void ShowRemoveField();
  // --- field changes; each checks its input first and says what it refuses
  bool AddField(const QString& name, const QString& typeName, const QString& sizeText);
  bool AlterField(const QString& field, const QString& typeName, const QString& sizeText);
  bool RenameField(const QString& field, const QString& newName);
  // After a question; false when not removed.
  bool RemoveField(const QString& field);
  // --- table information
  void TableInfoCommand();
  void SetTableTypeCommand();
  // Writes `byte` as the shown table's version byte, after a question, with
  // the table closed; shows it again after. True when written.
  bool WriteTableType(uint8_t byte);
  // Reads the shown table again in `codePage` (0: automatic; -1 asks for
  // one) without the person reopening it.
  void ReadInCodePage(int codePage);
  // Writes the code page the table is read in into its header, after a
  // question; reopens it exclusively for that.
  void SetCodePageCommand();

  // --- the parts other windows and the tests reach
  const QString& VersionText() const { return versionText_; }
  TViewerTable* Dbf1() const { return dbf1_.get(); }
  TDataSource* DataSource1() const { return dataSource1_.get(); }
  TDbfGridModel* GridModel() const { return model_; }
  TDBGrid* DBGrid1() const { return grid_; }
  QTabBar* TabControl1() const { return tabs_; }
  // The tab table: slot k holds the record of tab k (null when never used).
  TDBFInfo* TabInfo(int slot) const { return slots_.at(static_cast<size_t>(slot)); }
  QLineEdit* Edit2() const { return filterEdit_; }
  QLineEdit* Edit1() const { return fileNameEdit_; }
  QLabel* Label2() const { return countLabel_; }
  QLabel* Label3() const { return indexLabel_; }
  QLabel* Label7() const { return recordLabel_; }
  QLabel* Label6() const { return versionLabel_; }
  // The code page the table is read in and where it came from.
  QLabel* CodePageLabel() const { return codePageLabel_; }
  TCodePageMenu* CodePageMenu() const { return codePageMenu_; }
  // Shown in the status area while the open table cannot be written.
  QLabel* ReadOnlyLabel() const { return readOnlyLabel_; }
  QToolBar* CoolBar1() const { return coolBar_; }
  TDBNavigator* DBNavigator1() const { return navigator_; }
  QCheckBox* CheckBox1() const { return memoCheck_; }
  QWidget* MemoPanel() const { return memoPanel_; }
  TDropDownCombo* MemoFieldCombo() const { return memoCombo_; }
  TDBMemo* PanelMemo() const { return panelMemo_; }
  TFormView* FormView() const { return formView_; }
  TMemoEditor* MemoEditor() const { return memoEditor_; }
  TColumnsDialog* ColumnsDialog() const { return columnsDialog_; }
  TSelectFieldDialog* SelectFieldDialog() const { return selectField_; }
  TQuickOpenDialog* QuickOpenDialog() const { return quickOpen_; }
  TAboutBox* AboutBox() const { return aboutBox_; }
  TLocateDialog* LocateDialog() const { return locateDialog_; }
  TTableInfoDialog* TableInfoDialog() const { return tableInfo_; }
  TCreateIndexDialog* CreateIndexDialog() const { return createIndex_; }
  TIndexesDialog* IndexesDialog() const { return indexes_; }
  TAddFieldDialog* AddFieldDialog() const { return addField_; }
  TNewTableDialog* NewTableDialog() const { return newTable_; }
  TFieldChangeDialog* AlterFieldDialog() const { return alterField_; }
  TFieldChangeDialog* RenameFieldDialog() const { return renameField_; }
  TRemoveFieldDialog* RemoveFieldDialog() const { return removeField_; }
  TSetTableTypeDialog* SetTableTypeDialog() const { return setTableType_; }
  QMenu* GridMenu() const { return gridMenu_; }
  // A menu or tool bar command by its object name ("FileOpen", "ViewShowDeleted", ...).
  QAction* Action(const QString& name) const;
  // The status area's link labels (home page, community page).
  QLabel* HomeLink() const { return homeLink_; }
  QLabel* SocialLink() const { return socialLink_; }

 private:
  void BuildMenus();
  void BuildToolBar();
  void BuildCentre();
  void BuildStatusArea();
  void InstallTableHandlers();
  QAction* AddCommand(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& key,
                      std::function<void()> handler);
  void UnbindPanelMemo();
  void UpdateStatusLabels();
  void UpdateRecordLabel();
  void UpdateCaption();
  // Enables exactly the commands that can act on the table as it is now.
  void UpdateCommands();
  // A new tab with its record, selected without the switch a user's choice
  // runs; null when the tab table is full.
  TDBFInfo* AddTab(const QString& path);
  // Shows the table of tab `index`, where the user left it.
  bool ShowTab(int index);
  void SaveTabState();
  void RestoreTabState(const TDBFInfo& record);
  // The memo and form windows follow the table just opened, or close.
  void FollowTable(bool memoShown, bool formShown);
  void BuildFormView();
  void ScaleBy(int numerator, int denominator);
  // Selects a tab without the switch a user's choice runs.
  void SelectTabQuietly(int index);
  // Runs `work` on the shown table opened exclusively, then shows it shared
  // again where it was (also when the work failed, which is then said, or
  // was cancelled). True when the work was done and the table is shown
  // again.
  bool WithExclusiveTable(const std::function<void()>& work, bool fromTop, bool forgetView = false);
  // The same, with the progress dialog `label` fed by the table's reports.
  bool WithExclusiveProgress(const QString& label, const std::function<void()>& work, bool fromTop);
  // Raises the closed-dataset error while Dbf1 is closed.
  void RequireOpen() const;
  // The grid's visible columns in column order, with their widths; false
  // (after saying so) when none is visible.
  bool ShownColumns(std::vector<std::string>& fields, std::vector<int>& widths) const;
  QString ReportTitle() const;
  // The grid report of the rows the grid shows, or the record report of the
  // current record, painted on `printer`.
  void PaintReport(QPrinter& printer, bool currentRecordOnly);
  void ShowPreview(bool currentRecordOnly);
  // Rewrites the shown table with its fields as `change` leaves a copy of
  // them; says `done` after. False when it failed (which is then said).
  bool RestructureShown(const std::function<void(TDbfFieldDefs&)>& change, const QString& done);
  int ShownFieldIndex(const QString& field) const;
  // Opens Dbf1 again as it was set (filter, order, the index files opened
  // by hand) in the access mode now set; false after the message.
  bool ReopenShown(const std::vector<std::string>& indexFiles, const std::string& indexName);
  // The single-index files open on Dbf1 beside its production index.
  std::vector<std::string> OpenIndexFileNames() const;
  // The model found a record the filter cannot judge.
  void FilterFailedLater(const QString& message);
  // Puts the filter of before the last Apply Filter back in force.
  void RestorePreviousFilter();
  void FillOrderMenu();
  QString FieldValueText(TField& field) const;
  // The absolute path of the file Dbf1 shows; empty while closed.
  QString ShownFilePath() const;

  class TCommandLink;

  QString versionText_;
  std::unique_ptr<TViewerTable> dbf1_;
  std::unique_ptr<TDataSource> dataSource1_;
  std::array<TDBFInfo*, kMaxTabs> slots_{};
  // Records live until the program ends, whatever the slots say.
  std::vector<std::unique_ptr<TDBFInfo>> records_;
  int quietTabs_ = 0;
  // The record of the tab whose table Dbf1 shows; null while none is.
  TDBFInfo* shownInfo_ = nullptr;
  QString shownPath_;
  // Counts successful opens, so the form view knows which table it was built for.
  int openSerial_ = 0;
  int formSerial_ = -1;
  std::unique_ptr<TCommandLink> commandLink_;

  TDbfGridModel* model_ = nullptr;
  TDBGrid* grid_ = nullptr;
  QTabBar* tabs_ = nullptr;
  QLineEdit* filterEdit_ = nullptr;
  QLineEdit* fileNameEdit_ = nullptr;
  QLabel* countLabel_ = nullptr;
  QLabel* indexLabel_ = nullptr;
  QLabel* recordLabel_ = nullptr;
  QLabel* versionLabel_ = nullptr;
  QLabel* readOnlyLabel_ = nullptr;
  QLabel* codePageLabel_ = nullptr;
  TCodePageMenu* codePageMenu_ = nullptr;
  QLabel* homeLink_ = nullptr;
  QLabel* socialLink_ = nullptr;
  QToolBar* coolBar_ = nullptr;
  TDBNavigator* navigator_ = nullptr;
  QCheckBox* memoCheck_ = nullptr;
  QSplitter* splitter_ = nullptr;
  QWidget* memoPanel_ = nullptr;
  TDropDownCombo* memoCombo_ = nullptr;
  TDBMemo* panelMemo_ = nullptr;
  QMenu* gridMenu_ = nullptr;
  QAction* showToolbar_ = nullptr;
  QAction* showStatusbar_ = nullptr;
  QAction* showDeleted_ = nullptr;

  TAboutBox* aboutBox_ = nullptr;
  TSelectFieldDialog* selectField_ = nullptr;
  TQuickOpenDialog* quickOpen_ = nullptr;
  TColumnsDialog* columnsDialog_ = nullptr;
  TFormView* formView_ = nullptr;
  TImportWizard* importWizard_ = nullptr;
  TMemoEditor* memoEditor_ = nullptr;
  TLocateDialog* locateDialog_ = nullptr;
  TTableInfoDialog* tableInfo_ = nullptr;
  TCreateIndexDialog* createIndex_ = nullptr;
  TIndexesDialog* indexes_ = nullptr;
  TAddFieldDialog* addField_ = nullptr;
  TNewTableDialog* newTable_ = nullptr;
  TFieldChangeDialog* alterField_ = nullptr;
  TFieldChangeDialog* renameField_ = nullptr;
  TRemoveFieldDialog* removeField_ = nullptr;
  TSetTableTypeDialog* setTableType_ = nullptr;
  QMenu* orderMenu_ = nullptr;

  // The filter in force before the last Apply Filter, put back when the
  // new one fails on a record later.
  struct TFilterState {
    std::string text;
    bool filtered = false;
    QString tabText;
    TDBFInfo* tab = nullptr;
    // The text that Apply Filter put in force.
    std::string applied;
  };
  TFilterState previousFilter_;
};

}  // namespace norvale
