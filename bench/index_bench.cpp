// What indexes cost, against baselines measured in the same run:
//  - building a tag on NAME C(30) of the benchmark table (1M records unless
//    NORVALE_BENCH_RECORDS says otherwise) against `LC_ALL=C sort` of the
//    same names, written to a file beforehand (target: at most 2x);
//  - the same build on 100k records against GDAL's CREATE INDEX, when
//    ogrinfo is installed;
//  - 100,000 appends through the table object with two maintained tags
//    against the same appends without indexes (target: at most 3x).
// Medians of three runs each, warm cache.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "bench/bench_timing.h"
#include "dataset/dbf_table.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"

namespace {

namespace fs = std::filesystem;
using norvale::bench::Median;
using norvale::bench::Since;
using norvale::bench::TClock;
using norvale::bench::Timed;

void RemoveIndexes(const std::string& table) {
  fs::path mdx = table;
  mdx.replace_extension(".mdx");
  fs::remove(mdx);
  // The header's production flag goes with it.
  std::fstream f(table, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(28);
  f.put('\0');
}

double BuildNameTag(const std::string& table) {
  RemoveIndexes(table);
  const auto start = TClock::now();
  norvale::TDbfFile file;
  file.SetFileName(table);
  file.SetMode(norvale::amExclusiveOpen);
  file.Open();
  norvale::TTableIndexes indexes(file);
  indexes.AttachIndex("NAME", "NAME", 0, true);
  return Since(start);
}

// The names as the table stores them, one per line.
void WriteNames(const std::string& table, const std::string& out) {
  norvale::TDbfFile file;
  file.SetFileName(table);
  file.SetMode(norvale::amReadOnly);
  file.Open();
  const norvale::TDbfFieldDef* name = file.FieldDefByName("NAME");
  std::ofstream names(out, std::ios::binary);
  std::vector<uint8_t> buffer(static_cast<size_t>(file.RecordLength()) * 4096);
  for (int64_t first = 1; first <= file.RecordsInFile(); first += 4096) {
    const int64_t got = file.ReadRecords(first, 4096, buffer.data());
    for (int64_t r = 0; r < got; ++r) {
      names.write(reinterpret_cast<const char*>(buffer.data() + r * file.RecordLength() + name->Offset()),
                  name->Size());
      names.put('\n');
    }
  }
}

double Appends(const std::string& dir, bool indexed, int count) {
  const std::string path = dir + (indexed ? "/indexed.dbf" : "/plain.dbf");
  norvale::gen::WriteBenchTable(0, path);
  if (indexed) {
    norvale::TDbfFile file;
    file.SetFileName(path);
    file.SetMode(norvale::amExclusiveOpen);
    file.Open();
    norvale::TTableIndexes indexes(file);
    indexes.AttachIndex("NAME", "NAME", 0, true);
    indexes.AttachIndex("AMOUNT", "AMOUNT", 0, true);
  }
  norvale::TDbfTable table;
  table.SetTableName(path);
  table.SetExclusive(true);
  table.Open();
  const auto start = TClock::now();
  char name[32];
  for (int i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "Name %07d", (i * 7919) % count);
    table.Append();
    table.FieldByName("NAME").SetAsString(name);
    table.FieldByName("AMOUNT").SetAsFloat(((i * 104729) % 1000000) / 100.0);
    table.Post();
  }
  const double seconds = Since(start);
  table.Close();
  return seconds;
}

}  // namespace

int main() {
  norvale::gen::TTempBenchTable table(1000000);
  const std::string dir = fs::path(table.Path()).parent_path().string();
  const std::string names = dir + "/names.txt";
  WriteNames(table.Path(), names);

  std::vector<double> sorts, builds;
  for (int run = 0; run < 3; ++run) {
    sorts.push_back(Timed("LC_ALL=C sort '" + names + "' > /dev/null"));
    builds.push_back(BuildNameTag(table.Path()));
  }
  std::printf("NAME C(30), %s records: LC_ALL=C sort %.3f s, index build %.3f s, ratio %.2f (target at most 2)\n",
              std::getenv("NORVALE_BENCH_RECORDS") ? std::getenv("NORVALE_BENCH_RECORDS") : "1000000",
              Median(sorts), Median(builds), Median(builds) / Median(sorts));

  if (std::system("command -v ogrinfo >/dev/null 2>&1") == 0) {
    const std::string small = dir + "/small.dbf";
    norvale::gen::WriteBenchTable(100000, small);
    std::vector<double> ours, gdal;
    for (int run = 0; run < 3; ++run) {
      ours.push_back(BuildNameTag(small));
      fs::remove(dir + "/small.ind");
      fs::remove(dir + "/small.idm");
      gdal.push_back(Timed("ogrinfo -q '" + small + "' -sql 'CREATE INDEX ON small USING NAME' > /dev/null 2>&1"));
    }
    std::printf("NAME C(30), 100000 records: index build %.3f s, GDAL CREATE INDEX %.3f s, ratio %.3f\n",
                Median(ours), Median(gdal), Median(ours) / Median(gdal));
  }

  const int appends = std::getenv("NORVALE_BENCH_APPENDS") ? std::atoi(std::getenv("NORVALE_BENCH_APPENDS")) : 100000;
  std::vector<double> plain, indexed;
  for (int run = 0; run < 3; ++run) {
    plain.push_back(Appends(dir, false, appends));
    indexed.push_back(Appends(dir, true, appends));
  }
  std::printf("%d appends: without indexes %.3f s, with two tags %.3f s, ratio %.2f (target at most 3)\n", appends,
              Median(plain), Median(indexed), Median(indexed) / Median(plain));
  return 0;
}
