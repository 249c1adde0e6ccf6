#include "tests/fuzz/index_fuzz.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "index/index_file.h"

namespace norvale::fuzz {

void FuzzIndex(const std::string& table, const std::string& dir, const std::string& indexName, const uint8_t* data,
               size_t size) {
  namespace fs = std::filesystem;
  const std::string copy = dir + "/fuzz.dbf";
  fs::copy_file(table, copy, fs::copy_options::overwrite_existing);
  {
    std::ofstream out(dir + "/" + indexName, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  TDbfFile file;
  file.SetFileName(copy);
  file.SetMode(amExclusiveOpen);
  file.SetDetectCodePage(false);
  try {
    file.Open();
  } catch (const Exception&) {
    return;  // the table is the table fuzzer's business
  }
  if (file.GiveUp()) return;
  {
    TIndexFile index(&file);
    index.SetFileName(dir + "/" + indexName);
    index.SetMode(amExclusiveOpen);
    try {
      index.Open();
      for (int tag = 0; tag < index.TagCount(); ++tag) {
        int64_t visited = 0;
        index.ForEachEntry(tag, [&visited](std::string_view, uint32_t) { return ++visited < 100000; });
        // Walks both ways, seeks and positions meet the same damage.
        index.SelectTag(tag);
        index.MoveFirst();
        for (int i = 0; i < 2000 && index.MoveNext(); ++i) {
        }
        index.MoveLast();
        for (int i = 0; i < 2000 && index.MovePrior(); ++i) {
        }
        const std::string key = index.CurrentKey();
        index.SeekKey(index.SearchKey(std::string_view("M")), smGreaterOrEqual);
        index.SeekPrefix("A");
        index.SetIndexPosition(index.EstimatedCount() / 2);
        index.GetIndexPosition();
        index.GotoRecord(1);
        index.SetKeyRange(index.SearchKey(std::string_view("B")), index.SearchKey(std::string_view("D")));
        index.MoveFirst();
        for (int i = 0; i < 200 && index.MoveNext(); ++i) {
        }
        index.ClearKeyRange();
      }
      file.AddIndex(&index);
      std::vector<uint8_t> record(static_cast<size_t>(file.RecordLength()), ' ');
      if (file.RecordsInFile() > 0) file.ReadRecord(1, record.data());
      record[0] = ' ';
      file.AppendRecord(record.data());
      for (int tag = 0; tag < index.TagCount(); ++tag) index.ForEachEntry(tag, [](std::string_view, uint32_t) {
        return true;
      });
    } catch (const Exception&) {
      // Refused with a message: what a damaged index must give.
    }
    file.RemoveIndex(&index);
    try {
      index.Close();
    } catch (const Exception&) {
    }
  }
  try {
    file.Close();
  } catch (const Exception&) {
  }
}

}  // namespace norvale::fuzz
