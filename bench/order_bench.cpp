// What index order costs and saves, against baselines in the same run (1M
// benchmark records unless NORVALE_BENCH_RECORDS says otherwise):
//  - `norvale-cli dump --order NAME` against the dump in record order
//    (target: at most 3x);
//  - 10,000 random exact seeks on the NAME tag, as a mean per seek and as a
//    ratio to one `dump --where 'NAME = ...'` scan (target: a seek under
//    1/1000 of a scan).
// Medians of three runs each, warm cache.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "bench/bench_timing.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"

namespace {

namespace fs = std::filesystem;
using norvale::bench::Median;
using norvale::bench::Since;
using norvale::bench::TClock;
using norvale::bench::Timed;

}  // namespace

int main() {
  norvale::gen::TTempBenchTable bench(1000000);
  const std::string table = bench.Path();
  const std::string cli = NORVALE_CLI;
  std::vector<std::string> names;
  {
    norvale::TDbfFile file;
    file.SetFileName(table);
    file.SetMode(norvale::amExclusiveOpen);
    file.Open();
    norvale::TTableIndexes indexes(file);
    indexes.AttachIndex("NAME", "NAME", 0, true);
    const norvale::TDbfFieldDef* name = file.FieldDefByName("NAME");
    std::vector<uint8_t> record(static_cast<size_t>(file.RecordLength()));
    std::mt19937_64 random(7);
    for (int i = 0; i < 10000; ++i) {
      const int64_t recNo = 1 + static_cast<int64_t>(random() % static_cast<uint64_t>(file.RecordsInFile()));
      file.ReadRecord(recNo, record.data());
      names.emplace_back(reinterpret_cast<const char*>(record.data() + name->Offset()), name->Size());
    }
  }

  std::vector<double> plain, ordered, scans, seeks;
  // A name that is not in the table: the scan reads every record.
  const std::string where = "NAME = \"Nobody Atall\"";
  for (int run = 0; run < 3; ++run) {
    plain.push_back(Timed(cli + " dump '" + table + "' --format csv > /dev/null"));
    ordered.push_back(Timed(cli + " dump '" + table + "' --format csv --order NAME > /dev/null"));
    scans.push_back(Timed(cli + " dump '" + table + "' --format csv --where '" + where + "' > /dev/null"));
    norvale::TDbfFile file;
    file.SetFileName(table);
    file.SetMode(norvale::amReadOnly);
    file.Open();
    norvale::TTableIndexes indexes(file);
    indexes.OpenProduction();
    int tag = -1;
    norvale::TIndexFile* index = indexes.Find("NAME", &tag);
    index->SelectTag(tag);
    int found = 0;
    const auto start = TClock::now();
    for (const std::string& n : names) found += index->SeekKey(index->SearchKey(n), norvale::smEqual) ? 1 : 0;
    seeks.push_back(Since(start) / static_cast<double>(names.size()));
    if (found != static_cast<int>(names.size())) std::fprintf(stderr, "warning: %d of the names found\n", found);
  }
  const char* records = std::getenv("NORVALE_BENCH_RECORDS") ? std::getenv("NORVALE_BENCH_RECORDS") : "1000000";
  std::printf("%s records: dump %.3f s, dump --order NAME %.3f s, ratio %.2f (target at most 3)\n", records,
              Median(plain), Median(ordered), Median(ordered) / Median(plain));
  std::printf("%s records: seek on NAME %.2f us (mean of 10000), --where scan %.3f s, ratio 1/%.0f (target under 1/1000)\n",
              records, Median(seeks) * 1e6, Median(scans), Median(scans) / Median(seeks));
  return 0;
}
