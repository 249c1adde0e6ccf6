// A bounded, deterministic mutation run over import sources under the
// sanitizers: CSV text and XLSX workbooks of our own exporters, mutated, are
// read and checked against a table, and give rows or errors, never a crash.
#include <gtest/gtest.h>

#include <random>

#include "app/export/text_writers.h"
#include "app/export/xlsx_writer.h"
#include "tests/fuzz/import_fuzz.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

std::vector<TExportColumn> Columns() {
  return {{"NAME", TExportKind::Text, 'C', 10, 0, 0},
          {"AGE", TExportKind::Integer, 'N', 3, 0, 0},
          {"BORN", TExportKind::Date, 'D', 8, 0, 0},
          {"OK", TExportKind::Logical, 'L', 1, 0, 0}};
}

// Seeds: what our own writers make of a few rows.
template <typename TWriter>
std::vector<uint8_t> Seed(const TTempDir& dir, const std::string& name, bool titleLine) {
  TExportSettings settings;
  settings.titleLine = titleLine;
  settings.title = "seed";
  const std::string path = dir.File(name);
  TWriter writer(path, settings);
  writer.Begin(Columns());
  for (int i = 0; i < 12; ++i) {
    TExportRow row(4);
    row[0].text = i % 3 ? "name \"" + std::to_string(i) + "\", more" : "x\r\ny";
    row[1].text = std::to_string(i * 7);
    row[1].integer = i * 7;
    row[1].number = i * 7;
    row[2].year = 1990 + i, row[2].month = 1 + i % 12, row[2].day = 1 + i;
    row[3].logical = i % 2;
    row[3].text = i % 2 ? "T" : "F";
    if (i == 5) row[2].null = true;
    writer.Row(row);
  }
  writer.Finish();
  return ReadFile(path);
}

void Mutate(std::vector<uint8_t>& b, std::mt19937& rng) {
  const int rounds = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < rounds && !b.empty(); ++i) {
    const size_t at = rng() % b.size();
    switch (rng() % 6) {
      case 0: b[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 1: b[at] = static_cast<uint8_t>(rng()); break;
      case 2: b.resize(at); break;
      case 3: {  // a 32-bit size or offset, as zip headers hold them
        const uint32_t v[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, static_cast<uint32_t>(b.size()), rng()};
        const uint32_t value = v[rng() % 6];
        for (size_t k = 0; k < 4 && at + k < b.size(); ++k) b[at + k] = static_cast<uint8_t>(value >> (8 * k));
        break;
      }
      case 4: b.insert(b.begin() + static_cast<long>(at), static_cast<uint8_t>("\",;\t\r\n'\x00\xC3"[rng() % 9])); break;
      default: b.erase(b.begin() + static_cast<long>(at)); break;
    }
  }
}

TEST(ImportFuzz, MutatedSourcesReadOrFailCleanly) {
  TTempDir dir;
  TTableImage t;
  t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
  t.records.push_back(t.Record({"ann", " 30", "19900101", "T"}));
  WriteFile(dir.File("target.dbf"), t.Bytes());
  const std::vector<std::vector<uint8_t>> seeds{Seed<TCsvWriter>(dir, "seed.csv", true),
                                                Seed<TTextWriter>(dir, "seed.txt", false),
                                                Seed<TXlsxWriter>(dir, "seed.xlsx", true)};
  std::mt19937 rng(20261209);
  for (int i = 0; i < 1200; ++i) {
    std::vector<uint8_t> bytes = seeds[static_cast<size_t>(i) % seeds.size()];
    Mutate(bytes, rng);
    fuzz::FuzzImport(dir.File("target.dbf"), dir.Path(), bytes.data(), bytes.size());
  }
}

}  // namespace
}  // namespace norvale::test
