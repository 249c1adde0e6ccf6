// What the GUI tests share: answered dialogs and small tables.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QStringList>
#include <QTabBar>
#include <QUrl>

#include "app/main_form.h"
#include "app/ui_services.h"
#include "dataset/dbf_table.h"
#include "tests/support/test_support.h"

namespace norvale::test {

// Answers every box and dialog from the test's script and keeps a log of
// what the viewer showed ("error: ...", "message: ...", "confirm: ...").
class TScriptedUi : public TUiServices {
 public:
  QStringList log;
  QStringList files;  // answers of the file dialog, in turn; empty = cancel
  QStringList texts;  // answers of text questions, in turn; empty = cancel
  QStringList saveFiles;  // answers of the save dialog, in turn; empty = cancel
  QStringList saveFilters;  // the filters the save dialog was shown with
  QList<int> saveTypes;     // the type chosen with each save answer, from 1; 1 when none is left
  QString printTo;          // the PDF file the print dialog "prints" to; empty = cancel
  int printDialogs = 0;
  // Called each time long work serves the window; may press Cancel.
  std::function<void(QProgressDialog&, int64_t)> onProgress;
  int progressServed = 0;
  bool confirmAnswer = true;
  std::function<int(QDialog&)> onDialog;
  QList<QUrl> urls;
  bool urlsOpen = true;  // false: the desktop has no browser

  void ShowError(QWidget*, const QString& text) override { log << QStringLiteral("error: ") + text; }
  void ShowMessage(QWidget*, const QString& text) override { log << QStringLiteral("message: ") + text; }
  bool Confirm(QWidget*, const QString& text) override {
    log << QStringLiteral("confirm: ") + text;
    return confirmAnswer;
  }
  bool AskText(QWidget*, const QString& label, QString& value) override {
    log << QStringLiteral("ask: ") + label;
    if (texts.isEmpty()) return false;
    value = texts.takeFirst();
    return true;
  }
  QString ChooseOpenFile(QWidget*, const QString&) override { return files.isEmpty() ? QString() : files.takeFirst(); }
  QString ChooseSaveFile(QWidget*, const QString& filter) override {
    saveFilters << filter;
    return saveFiles.isEmpty() ? QString() : saveFiles.takeFirst();
  }
  QString ChooseSaveFileType(QWidget*, const QString& filter, int& type) override {
    saveFilters << filter;
    type = saveTypes.isEmpty() ? 1 : saveTypes.takeFirst();
    return saveFiles.isEmpty() ? QString() : saveFiles.takeFirst();
  }
  bool SetUpPrinter(QWidget*, QPrinter& printer) override {
    ++printDialogs;
    if (printTo.isEmpty()) return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(printTo);
    return true;
  }
  void ServeProgress(QProgressDialog& dialog, int64_t done) override {
    ++progressServed;
    if (onProgress) onProgress(dialog, done);
  }
  bool ChooseFont(QWidget*, QFont&) override { return false; }
  int ExecDialog(QDialog& dialog) override { return onDialog ? onDialog(dialog) : QDialog::Rejected; }
  bool OpenUrl(const QUrl& url) override {
    urls << url;
    return urlsOpen;
  }
};

// A fresh main window with answered dialogs; the services go back after.
struct TFixture {
  TScriptedUi* ui;
  std::unique_ptr<TUiServices> previous;
  std::unique_ptr<TForm1> form;
  TFixture() {
    auto scripted = std::make_unique<TScriptedUi>();
    ui = scripted.get();
    previous = SetUi(std::move(scripted));
    form = std::make_unique<TForm1>();
  }
  ~TFixture() {
    form.reset();
    SetUi(std::move(previous));
  }
  void Open(const std::string& path) {
    ui->files << QString::fromStdString(path);
    form->Action(QStringLiteral("FileOpen"))->trigger();
  }
  QAction* Command(const char* name) const { return form->Action(QString::fromUtf8(name)); }
  bool Enabled(const char* name) const { return Command(name)->isEnabled(); }
  QString TabText(int i) const { return form->TabControl1()->tabText(i); }
  int Tabs() const { return form->TabControl1()->count(); }
};

// Whether record `recNo` carries the deletion mark in the file's bytes,
// read without the engine.
inline bool StoredDeleted(const std::string& path, int recNo) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  const int header = bytes[8] | (bytes[9] << 8);
  const int size = bytes[10] | (bytes[11] << 8);
  return bytes.at(static_cast<size_t>(header + (recNo - 1) * size)) == '*';
}

// A field of record `recNo` as the file holds it, read by a table object of
// its own.
inline std::string StoredValue(const std::string& path, int recNo, const char* field) {
  TDbfTable table;
  table.SetTableName(path);
  table.Open();
  table.SetRecNo(recNo);
  return table.FieldByName(field).AsString();
}

// people.dbf: NAME C(10), AGE N(3); records "ann" 30, "bob" 40 (deleted
// when `deletedSecond`), "cy" 50.
inline std::string WritePeople(const TTempDir& dir, const std::string& name = "people.dbf",
                               bool deletedSecond = false) {
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}};
  t.records.push_back(t.Record({"ann", " 30"}));
  t.records.push_back(t.Record({"bob", " 40"}, deletedSecond));
  t.records.push_back(t.Record({"cy", " 50"}));
  WriteFile(dir.File(name), t.Bytes());
  return dir.File(name);
}

// A table of `columns` character fields and one record.
inline std::string WriteWide(const TTempDir& dir, int columns) {
  TTableImage t;
  std::vector<std::string> values;
  for (int i = 0; i < columns; ++i) {
    t.fields.push_back({"F" + std::to_string(i), 'C', 4});
    values.push_back("v");
  }
  t.records.push_back(t.Record(values));
  const std::string path = dir.File("wide" + std::to_string(columns) + ".dbf");
  WriteFile(path, t.Bytes());
  return path;
}

// memo.dbf: NAME C(8), NOTES M, N N(4), two records without memo text, and
// an empty dBASE IV memo file beside it.
inline std::string WriteMemoTable(const TTempDir& dir) {
  TTableImage t;
  t.versionByte = 0x8B;
  t.fields = {{"NAME", 'C', 8}, {"NOTES", 'M', 10}, {"N", 'N', 4}};
  t.records.push_back(t.Record({"first", "", "1"}));
  t.records.push_back(t.Record({"second", "", "2"}));
  WriteFile(dir.File("memo.dbf"), t.Bytes());
  std::vector<uint8_t> memo(512, 0);
  memo[0] = 1;   // next free block
  memo[21] = 2;  // block size 512
  WriteFile(dir.File("memo.dbt"), memo);
  return dir.File("memo.dbf");
}

}  // namespace norvale::test
