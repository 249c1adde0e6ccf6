#include "tests/fuzz/import_fuzz.h"

#include <fstream>
#include <memory>
#include <vector>

#include "app/export/export_value.h"
#include "app/export/import_source.h"
#include "app/export/table_import.h"
#include "dataset/dbf_table.h"

namespace norvale::fuzz {

namespace {

void Write(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Reads every row, and converts each to the table's fields as the first
// pass of an import does.
void ReadAll(TDbfTable& table, const std::function<std::unique_ptr<TImportSource>()>& open) {
  try {
    std::unique_ptr<TImportSource> source = open();
    std::vector<std::string> fields;
    for (int i = 0; i < table.FieldCount(); ++i) fields.push_back(table.Fields(i).FieldName());
    const std::vector<int> mapping = MatchColumns(source->ColumnNames(), fields);
    CheckImport(table, *source, mapping);
  } catch (const EExportError&) {
    // A source refused with its reason is the sound outcome for bad bytes.
  }
}

}  // namespace

void FuzzImport(const std::string& table, const std::string& dir, const uint8_t* data, size_t size) {
  TDbfTable target;
  target.SetReadOnly(true);
  target.SetTableName(table);
  target.Open();
  const std::string csv = dir + "/fuzz.csv", xlsx = dir + "/fuzz.xlsx";
  Write(csv, data, size);
  Write(xlsx, data, size);
  TCsvImportOptions plain;
  TCsvImportOptions tabs;
  tabs.separator = '\t';
  tabs.quote = '\0';
  tabs.header = false;
  tabs.encoding = "windows-1252";
  TCsvImportOptions semicolons;
  semicolons.separator = ';';
  semicolons.quote = '\'';
  semicolons.encoding = "UTF-16LE";
  for (const TCsvImportOptions* options : {&plain, &tabs, &semicolons})
    ReadAll(target, [&] { return OpenCsvSource(csv, *options); });
  ReadAll(target, [&] { return OpenXlsxSource(xlsx); });
}

}  // namespace norvale::fuzz
