#include "app/grid_model.h"

#include <QColor>

#include "app/ui_services.h"
#include "app/viewer_table.h"
#include "dataset/cursor.h"
#include "dataset/table_filter.h"
#include "engine/table_file.h"
#include "index/index_file.h"

namespace norvale {

namespace {
const QColor kEvenRowColour(238, 243, 247);
const QColor kDeletedColour(128, 0, 0);

struct TBusy {
  explicit TBusy(int& counter) : counter_(counter) { ++counter_; }
  ~TBusy() { --counter_; }
  int& counter_;
};
}  // namespace

bool IsNumericType(TFieldType type) {
  switch (type) {
    case ftSmallint:
    case ftInteger:
    case ftWord:
    case ftFloat:
    case ftCurrency:
    case ftBCD:
    case ftAutoInc:
    case ftLargeint:
      return true;
    default:
      return false;
  }
}

class TDbfGridModel::TLink : public TDataLink {
 public:
  explicit TLink(TDbfGridModel* model) : model_(model) {}
  void ActiveChanged() override { model_->Sync(); }
  void EditingChanged() override {
    model_->Sync();
    model_->RepaintRow(model_->CurrentRow());
  }
  void DataSetChanged() override {
    model_->Sync();
    model_->RepaintAll();
    emit model_->CurrentMoved(model_->CurrentRow());
  }
  void DataSetScrolled(int) override {
    model_->Sync();
    emit model_->CurrentMoved(model_->CurrentRow());
  }
  void RecordChanged(TField*) override {
    model_->Sync();
    model_->RepaintRow(model_->CurrentRow());
  }
  void LayoutChanged() override { model_->Reset(); }

 private:
  TDbfGridModel* model_;
};

TDbfGridModel::TDbfGridModel(TViewerTable* table, TDataSource* source, QObject* parent)
    : QAbstractTableModel(parent), table_(table), link_(std::make_unique<TLink>(this)), rows_(*table) {
  scanTimer_.setInterval(0);
  connect(&scanTimer_, &QTimer::timeout, this, &TDbfGridModel::ScanStep);
  table_->OnRecordDeleted = [this](int64_t recNo) { pendingDeleted_.push_back(recNo); };
  // A new record joins the rows through the count check in Sync; in index
  // order any written key may have moved its record.
  table_->OnRecordPosted = [this](int64_t, bool) {
    if (rows_.Ordered()) orderStale_ = true;
  };
  link_->SetDataSource(source);
  Sync();
}

TDbfGridModel::~TDbfGridModel() {
  link_->SetDataSource(nullptr);
  table_->OnRecordDeleted = nullptr;
  table_->OnRecordPosted = nullptr;
}

int64_t TDbfGridModel::FileRecords() const {
  // The records the file holds now, whatever the order: another program
  // may have appended since the header was read.
  TDbfFile* file = table_->DbfFile();
  return file ? file->RecordsInFile() : 0;
}

std::string TDbfGridModel::RowsKey() const {
  if (!table_->Active()) return {};
  std::string key = table_->IndexName();
  key += '\0';
  if (table_->Filtered()) {
    key += table_->Filter();
    key += '\0';
    key += std::to_string(table_->FilterOptions());
  }
  return key;
}

std::unique_ptr<std::vector<uint32_t>> TDbfGridModel::IndexOrder() const {
  TIndexCursor* cursor = table_->IndexCursor();
  if (!cursor) return nullptr;
  auto order = std::make_unique<std::vector<uint32_t>>();
  order->reserve(static_cast<size_t>(FileRecords()));
  cursor->Index()->ForEachEntry(cursor->Tag(), [&](std::string_view, uint32_t recNo) {
    order->push_back(recNo);
    return true;
  });
  return order;
}

void TDbfGridModel::Guarded(const std::function<void()>& scan) {
  if (scanFailed_) return;
  try {
    scan();
  } catch (const std::exception& e) {
    // The table meets the same record and says so itself when it walks;
    // the view stops here and tells its owner once.
    scanFailed_ = true;
    scanTimer_.stop();
    const QString message = QString::fromUtf8(e.what());
    QTimer::singleShot(0, this, [this, message] { emit FilterFailed(message); });
  }
}

void TDbfGridModel::Reset() {
  TBusy busy(busy_);
  // While the same table stays open with the same fields (a new filter or
  // order, a pack), only the rows are replaced: a model reset would also
  // make the grid forget its hidden, moved and sized columns.
  const bool columnsKept = active_ && table_->Active() && fieldCount_ == table_->FieldCount();
  if (columnsKept) {
    const int old = rowCount();
    if (old > 0) beginRemoveRows(QModelIndex(), 0, old - 1);
    shownRows_ = 0;
    insertRow_ = -1;
    rows_.Clear();
    if (old > 0) endRemoveRows();
  } else {
    beginResetModel();
  }
  pendingDeleted_.clear();
  insertRow_ = -1;
  orderStale_ = false;
  scanFailed_ = false;
  active_ = table_->Active();
  rowsKey_ = RowsKey();
  file_ = table_->DbfFile();
  filter_.reset();
  if (active_) {
    fieldCount_ = table_->FieldCount();
    if (table_->Filtered() && !table_->Filter().empty()) {
      filter_ = std::make_unique<TTableFilter>(table_->DbfFile());
      try {
        filter_->Compile(table_->Filter(), (table_->FilterOptions() & foCaseInsensitive) != 0,
                         (table_->FilterOptions() & foNoPartialCompare) == 0);
      } catch (const std::exception&) {
        // The table took this text, so it compiles; should it not, the rows
        // are not restricted and the table's own walk reports it.
        filter_.reset();
      }
    }
    std::unique_ptr<std::vector<uint32_t>> order;
    try {
      order = IndexOrder();
    } catch (const std::exception&) {
      // A damaged index: the table reports it when it walks the order.
      order = std::make_unique<std::vector<uint32_t>>();
    }
    rows_.Reset(FileRecords(), table_->ShowDeleted(), filter_.get(), order.get());
    Guarded([&] {
      rows_.StepFor(scanStep_);
      const int64_t current = table_->CurrentRecNo();
      if (current > 0 && !rows_.Judged(current)) rows_.ScanThrough(current);
      if (table_->State() == dsInsert && table_->Appending())
        while (!rows_.Complete()) rows_.StepFor(scanStep_);
    });
    const int shown = static_cast<int>(rows_.Count());
    const int insertRow = table_->State() == dsInsert ? (table_->Appending() ? shown : 0) : -1;
    const int rows = shown + (insertRow >= 0 ? 1 : 0);
    if (columnsKept && rows > 0) beginInsertRows(QModelIndex(), 0, rows - 1);
    shownRows_ = shown;
    insertRow_ = insertRow;
    if (columnsKept && rows > 0) endInsertRows();
  } else {
    fieldCount_ = 0;
    rows_.Clear();
    shownRows_ = 0;
  }
  lastCurrentRow_ = 0;
  if (!columnsKept) endResetModel();
  StartScan();
}

void TDbfGridModel::StartScan() {
  if (active_ && !scanFailed_ && (!rows_.Complete() || rows_.Count() > shownRows_)) {
    scanTimer_.start();
  } else {
    scanTimer_.stop();
  }
}

void TDbfGridModel::ShowScannedRows() {
  const int added = static_cast<int>(rows_.Count()) - shownRows_;
  if (added <= 0) return;
  // Where map row shownRows_ lands among the model's rows (see MapRowOf).
  const int first = shownRows_ + (insertRow_ >= 0 && shownRows_ >= insertRow_ ? 1 : 0);
  beginInsertRows(QModelIndex(), first, first + added - 1);
  shownRows_ += added;
  endInsertRows();
}

void TDbfGridModel::ScanStep() {
  if (!active_ || !table_->Active()) {
    scanTimer_.stop();
    return;
  }
  if (table_->DbfFile() != file_) {
    Reset();
    return;
  }
  TBusy busy(busy_);
  Guarded([&] { rows_.StepFor(scanStep_); });
  // Each insertion costs the views time in proportion to all their rows
  // (tens of milliseconds at ten million), so found rows join in growing
  // batches, a quarter more at a time, and all of them at the end.
  const int64_t waiting = rows_.Count() - shownRows_;
  if (rows_.Complete() || waiting * 4 >= shownRows_) ShowScannedRows();
  StartScan();
}

void TDbfGridModel::ScanThrough(int64_t recNo) {
  if (recNo <= 0) return;
  if (!rows_.Judged(recNo)) Guarded([&] { rows_.ScanThrough(recNo); });
  const int64_t row = rows_.RowOf(recNo);
  if (rows_.Count() > shownRows_ && (row < 0 || row >= shownRows_)) ShowScannedRows();
  StartScan();
}

void TDbfGridModel::Sync() {
  table_->ForgetStoredRecord();
  if (table_->Active() != active_ ||
      (active_ && (rows_.ShowDeleted() != table_->ShowDeleted() || fieldCount_ != table_->FieldCount() ||
                   rowsKey_ != RowsKey() || file_ != table_->DbfFile() || (orderStale_ && table_->State() == dsBrowse)))) {
    Reset();
    return;
  }
  if (!active_) return;
  TBusy busy(busy_);
  const bool inserting = table_->State() == dsInsert;
  if (!inserting && insertRow_ >= 0) {
    beginRemoveRows(QModelIndex(), insertRow_, insertRow_);
    insertRow_ = -1;
    endRemoveRows();
  }
  for (int64_t recNo : pendingDeleted_) {
    if (rows_.ShowDeleted() || rows_.RowOf(recNo) < 0) continue;
    const int row = MapRowOf(recNo);
    if (row < 0) {
      // Found by the scan, not shown yet.
      rows_.Remove(recNo);
      continue;
    }
    beginRemoveRows(QModelIndex(), row, row);
    rows_.Remove(recNo);
    --shownRows_;
    endRemoveRows();
  }
  pendingDeleted_.clear();
  const int64_t count = FileRecords();
  if (count != rows_.RecordCount() && rows_.Ordered()) {
    // New records land among the old ones in key order.
    Reset();
    return;
  }
  if (count > rows_.RecordCount()) {
    // Records the table (or, shared, another program) appended: only their
    // flags are read, now when the scan is done, else when it gets there.
    const bool wasComplete = rows_.Complete();
    rows_.Extend(count);
    if (wasComplete) ScanThrough(count);
  } else if (count < rows_.RecordCount()) {
    Reset();
    return;
  }
  // A current record beyond the scan (the last one, a bookmark, an append)
  // needs its row now.
  ScanThrough(inserting && table_->Appending() ? rows_.RecordCount() : table_->CurrentRecNo());
  if (inserting && insertRow_ < 0) {
    const int total = shownRows_;
    const int at = table_->Appending() ? total : std::clamp(lastCurrentRow_, 0, total);
    beginInsertRows(QModelIndex(), at, at);
    insertRow_ = at;
    endInsertRows();
  }
  const int current = CurrentRow();
  if (current >= 0 && !inserting) lastCurrentRow_ = current;
}

void TDbfGridModel::RepaintAll() {
  if (rowCount() > 0 && columnCount() > 0)
    emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
  emit headerDataChanged(Qt::Vertical, 0, std::max(0, rowCount() - 1));
}

void TDbfGridModel::RepaintRow(int row) {
  if (row < 0 || row >= rowCount() || columnCount() == 0) return;
  emit dataChanged(index(row, 0), index(row, columnCount() - 1));
  emit headerDataChanged(Qt::Vertical, row, row);
}

int TDbfGridModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || !active_) return 0;
  return shownRows_ + (insertRow_ >= 0 ? 1 : 0);
}

int TDbfGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : fieldCount_; }

int TDbfGridModel::MapRowOf(int64_t recNo) const {
  const int64_t row = rows_.RowOf(recNo);
  if (row < 0 || row >= shownRows_) return -1;
  return static_cast<int>(insertRow_ >= 0 && row >= insertRow_ ? row + 1 : row);
}

int64_t TDbfGridModel::RecNoOfRow(int row) const {
  if (insertRow_ >= 0) {
    if (row == insertRow_) return 0;
    if (row > insertRow_) --row;
  }
  return row < shownRows_ ? rows_.RecNoAt(row) : 0;
}

int TDbfGridModel::CurrentRow() const {
  if (!active_ || !table_->Active()) return -1;
  if (table_->State() == dsInsert) return insertRow_;
  return MapRowOf(table_->CurrentRecNo());
}

bool TDbfGridModel::RowIsLive(int row) const {
  // The current record shows what its buffer holds, edits included.
  const TDataSetState state = table_->State();
  return (state == dsEdit || state == dsInsert) && row == CurrentRow();
}

QString TDbfGridModel::FieldText(int column) const {
  TField& field = table_->Fields(column);
  if (field.IsBlob()) {
    const bool set = !field.IsNull();
    if (field.IsTextBlob()) return set ? QStringLiteral("(MEMO)") : QStringLiteral("(memo)");
    return set ? QStringLiteral("(BLOB)") : QStringLiteral("(blob)");
  }
  std::string text;
  field.GetText(text);
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QVariant TDbfGridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || !active_ || index.column() >= fieldCount_) return {};
  const int row = index.row();
  const int64_t recNo = RecNoOfRow(row);
  switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole: {
      QString text;
      try {
        if (RowIsLive(row)) {
          text = FieldText(index.column());
        } else {
          table_->ReadStoredRecord(recNo, [&] { text = FieldText(index.column()); });
        }
      } catch (const std::exception& e) {
        // A value the table cannot decode shows its error in the cell; a
        // box per painted cell would make the grid unusable.
        text = QString::fromUtf8(e.what());
      }
      if (role == Qt::DisplayRole) text.replace(QLatin1Char('\n'), QLatin1Char(' '));
      return text;
    }
    case Qt::BackgroundRole:
      if (recNo % 2 == 0) return kEvenRowColour;
      return {};
    case Qt::ForegroundRole:
    case Qt::FontRole: {
      const bool deleted = RowIsLive(row) ? table_->IsDeleted() && table_->State() != dsInsert
                                          : table_->StoredRecordDeleted(recNo);
      if (!deleted) return {};
      if (role == Qt::ForegroundRole) return kDeletedColour;
      QFont font = baseFont_;
      font.setStrikeOut(true);
      return font;
    }
    case Qt::TextAlignmentRole:
      if (IsNumericType(table_->Fields(index.column()).DataType()))
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
      return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
      return {};
  }
}

QVariant TDbfGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
  if (orientation == Qt::Horizontal) {
    if (!active_ || section < 0 || section >= fieldCount_) return {};
    return QString::fromStdString(table_->Fields(section).FieldName());
  }
  if (section != CurrentRow()) return QString();
  switch (table_->State()) {
    case dsEdit:
      return QStringLiteral("\u270E");
    case dsInsert:
      return QStringLiteral("*");
    default:
      return QStringLiteral("\u25B6");
  }
}

Qt::ItemFlags TDbfGridModel::flags(const QModelIndex& index) const {
  if (!index.isValid() || !active_ || index.column() >= fieldCount_) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  const TField& field = table_->Fields(index.column());
  if (table_->CanModify() && !field.ReadOnly() && !field.IsBlob()) flags |= Qt::ItemIsEditable;
  return flags;
}

void TDbfGridModel::GotoRow(int row) {
  if (!table_->Active() || row < 0 || row >= rowCount() || row == CurrentRow()) return;
  const int64_t recNo = RecNoOfRow(row);
  if (recNo <= 0) return;
  table_->GotoBookmark(TDbfTable::MakeBookmark(recNo));
}

bool TDbfGridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable)) return false;
  return RunGuarded(nullptr, [&] {
    GotoRow(index.row());
    TField& field = table_->Fields(index.column());
    const std::string text = value.toString().toStdString();
    std::string old;
    field.GetText(old);
    // Leaving a cell unchanged is no edit: the record is not locked for it.
    if (table_->State() == dsBrowse && old == text) return;
    if (table_->State() == dsBrowse) table_->Edit();
    field.SetAsString(text);
  });
}

}  // namespace norvale
