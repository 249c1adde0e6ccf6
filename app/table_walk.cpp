#include "app/table_walk.h"

#include "app/long_work.h"
#include "engine/table_file.h"

namespace norvale {

std::unique_ptr<TDbfTable> OpenWalker(TDbfTable& table) {
  auto walker = std::make_unique<TDbfTable>();
  walker->SetReadOnly(true);
  walker->SetTableName(table.PhysicalTableName());
  walker->SetDateTimeHandling(table.DateTimeHandling());
  // Read exactly as the grid reads it, whatever detection would say now.
  walker->SetChosenCodePage(table.CodePage());
  walker->SetShowDeleted(table.ShowDeleted());
  walker->SetFilterOptions(table.FilterOptions());
  walker->SetFilter(table.Filter());
  walker->SetFiltered(table.Filtered());
  walker->Open();
  if (TTableIndexes* indexes = table.IndexFiles())
    for (const auto& file : indexes->Files())
      if (!file->IsMultiple()) walker->OpenIndexFile(file->FileName());
  walker->SetIndexName(table.IndexName());
  walker->First();
  return walker;
}

int64_t WalkVisible(TDbfTable& walker, TLongWork& work, const std::function<void()>& visit) {
  int64_t visited = 0;
  const int64_t total = walker.RecordCount();
  // A filter passing over many records between two visible ones must not
  // keep the window waiting, nor Cancel.
  walker.OnProgress = [&](int64_t, int64_t) { work.Progress(visited, std::max(total, visited)); };
  struct TForget {
    TDbfTable& table;
    ~TForget() { table.OnProgress = nullptr; }
  } forget{walker};
  for (walker.First(); !walker.Eof(); walker.Next()) {
    if (visit) visit();
    ++visited;
    work.Progress(visited, std::max(total, visited));
  }
  return visited;
}

}  // namespace norvale
