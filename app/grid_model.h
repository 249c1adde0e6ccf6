// TDbfGridModel: the grid's view of the main window's table.
//
// A Qt table model that asks the table for every value it shows and keeps
// none: rows are the records the table shows, in its order (record number
// or the current index) and through its filter (through TLiveRows, so a
// million records cost one pass over the deletion flags, and the filter
// decodes only what it tests; the pass runs in steps between events, the
// rows growing as it goes, so the first screen shows at once), columns are
// the table's fields. The
// current record of the table is the grid's current row. An edit typed
// into a cell edits the current record, which the table posts when the
// grid moves to another row; a record being inserted shows as an extra row
// where it was started.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <functional>

#include <QAbstractTableModel>
#include <QFont>
#include <QTimer>

#include "dataset/dataset.h"
#include "dataset/live_rows.h"

namespace norvale {

class TTableFilter;
class TViewerTable;

// Types whose values are numbers, right-aligned and made of digits.
bool IsNumericType(TFieldType type);

class TDbfGridModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  TDbfGridModel(TViewerTable* table, TDataSource* source, QObject* parent = nullptr);
  ~TDbfGridModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

  TViewerTable* Table() const { return table_; }
  // The row of the table's current record; -1 when there is none.
  int CurrentRow() const;
  // Makes the record of `row` current (posting an edit of the record left).
  // Raises what the table raises.
  void GotoRow(int row);
  // Record number of `row`; 0 for the row of a new record.
  int64_t RecNoOfRow(int row) const;
  // True while the model is changing rows in answer to the table, when a
  // view must not move the table.
  bool Busy() const { return busy_ > 0; }
  // The font deleted rows are struck out in.
  void SetBaseFont(const QFont& font) { baseFont_ = font; }
  // How long one step of the live-row scan may run before events are
  // served again (at least one block is read per step whatever it says).
  void SetScanStep(std::chrono::microseconds step) { scanStep_ = step; }
  // True while the live-row scan still runs between events (the rows are
  // not all known, or not all shown, yet).
  bool Scanning() const { return scanTimer_.isActive(); }

 signals:
  // The table's current record moved (or the rows changed around it).
  void CurrentMoved(int row);
  // The filter failed on a record while the rows were found; the rows stop
  // at the records judged before it.
  void FilterFailed(const QString& message);

 private:
  class TLink;
  friend class TLink;

  void Reset();
  // What the rows were found for: the order and the filter. A change of
  // either means finding them anew.
  std::string RowsKey() const;
  // The entries of the current index in key order; null in record order.
  std::unique_ptr<std::vector<uint32_t>> IndexOrder() const;
  // Runs a step of the row scan; a filter that fails stops the scan and
  // says so once.
  void Guarded(const std::function<void()>& scan);
  int64_t FileRecords() const;
  // Brings the rows in line with the table after any change it told of.
  void Sync();
  void RepaintAll();
  void RepaintRow(int row);
  bool RowIsLive(int row) const;
  QString FieldText(int column) const;
  int MapRowOf(int64_t recNo) const;
  // One step of the live-row scan, from the scan timer.
  void ScanStep();
  // Scans through record `recNo` at once and shows the rows up to it, for
  // a current record the scan has not reached or not shown yet.
  void ScanThrough(int64_t recNo);
  // Makes the rows the scan found since the last call rows of the model.
  void ShowScannedRows();
  // Keeps the scan timer running while rows are unknown or unshown.
  void StartScan();

  TViewerTable* table_;
  std::unique_ptr<TLink> link_;
  TLiveRows rows_;
  // The table's filter, compiled for the scan (null without a filter).
  std::unique_ptr<TTableFilter> filter_;
  std::string rowsKey_;
  // The table file the rows and the filter were made for; the table takes
  // up a new one after a pack or a zap.
  const void* file_ = nullptr;
  // A record was written while in index order: its key may have moved it.
  bool orderStale_ = false;
  bool scanFailed_ = false;
  // The rows of rows_ the views know of; the scan runs ahead of them until
  // ShowScannedRows tells the views of a batch.
  int shownRows_ = 0;
  QTimer scanTimer_;
  // Short enough that input and painting wait no longer than a frame; the
  // first step, at open, also finds the first screen.
  std::chrono::microseconds scanStep_{4000};
  bool active_ = false;
  int fieldCount_ = 0;
  int insertRow_ = -1;
  int lastCurrentRow_ = 0;
  int busy_ = 0;
  std::vector<int64_t> pendingDeleted_;
  QFont baseFont_;
};

}  // namespace norvale
