// Tables and index files for the index tests: a table written by hand,
// opened exclusively, with index files beside it.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/table_file.h"
#include "index/index_file.h"
#include "tests/support/test_support.h"

namespace norvale::test {

struct TIndexedTable {
  TTempDir dir;
  TTableImage image;
  // Declared first so that the table, which tells its indexes when it
  // closes, goes before them.
  std::vector<std::unique_ptr<TIndexFile>> indexes;
  std::unique_ptr<TDbfFile> table;

  explicit TIndexedTable(std::vector<TFieldSpec> fields, uint8_t versionByte = 0x03) {
    image.versionByte = versionByte;
    image.fields = std::move(fields);
  }
  void AddRecord(const std::vector<std::string>& values, bool deleted = false) {
    image.records.push_back(image.Record(values, deleted));
  }
  std::string Path() const { return dir.File("t.dbf"); }
  // Writes the table and opens it exclusively.
  TDbfFile& Open() {
    WriteFile(Path(), image.Bytes());
    table = std::make_unique<TDbfFile>();
    table->SetFileName(Path());
    table->SetMode(amExclusiveOpen);
    table->Open();
    return *table;
  }
  // Creates (or opens, when the file exists) an index file beside the table
  // and registers it with the table so that appends reach it.
  TIndexFile& Index(const std::string& name, bool attach = true) {
    auto file = std::make_unique<TIndexFile>(table.get());
    file->SetFileName(dir.File(name));
    file->SetMode(amExclusiveOpen);
    file->SetAutoCreate(true);
    file->Open();
    if (attach) table->AddIndex(file.get());
    indexes.push_back(std::move(file));
    return *indexes.back();
  }
  std::vector<uint8_t> Record(const std::vector<std::string>& values, bool deleted = false) const {
    const std::string r = image.Record(values, deleted);
    return std::vector<uint8_t>(r.begin(), r.end());
  }
};

// Every (key, record) of a tag in tree order.
inline std::vector<std::pair<std::string, uint32_t>> Entries(TIndexFile& file, int tag) {
  std::vector<std::pair<std::string, uint32_t>> out;
  file.ForEachEntry(tag, [&](std::string_view key, uint32_t rec) {
    out.emplace_back(std::string(key), rec);
    return true;
  });
  return out;
}

inline std::vector<uint32_t> Records(TIndexFile& file, int tag) {
  std::vector<uint32_t> out;
  for (auto& e : Entries(file, tag)) out.push_back(e.second);
  return out;
}

}  // namespace norvale::test
