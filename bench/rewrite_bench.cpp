// What pack and restructure cost against copying the table with cp(1), in
// the same run (1M benchmark records, about 3% deleted, unless
// NORVALE_BENCH_RECORDS says otherwise):
//  - pack (targets: at most 3x cp);
//  - restructure adding one field (target: at most 4x cp).
// Each run starts from a fresh copy; medians of three, warm cache. Both
// operations sync what they wrote, as a crash-safe swap must; cp does not.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "bench/bench_timing.h"
#include "engine/table_file.h"
#include "index/table_rewrite.h"

namespace {

namespace fs = std::filesystem;
using norvale::bench::Median;
using norvale::bench::Since;
using norvale::bench::TClock;
using norvale::bench::Timed;

norvale::TDbfFieldDefs WithOneMore(const std::string& path) {
  norvale::TDbfFile file;
  file.SetFileName(path);
  file.SetMode(norvale::amReadOnly);
  file.Open();
  norvale::TDbfFieldDefs defs(file.Version());
  for (int i = 0; i < file.FieldDefs().Count(); ++i) {
    norvale::TDbfFieldDef& d = defs.Add();
    d.Assign(file.FieldDefs().Item(i));
    d.SetCopyFrom(i);
  }
  norvale::TDbfFieldDef& extra = defs.Add();
  extra.SetFieldName("EXTRA");
  extra.SetNativeFieldType('C');
  extra.SetSize(10);
  return defs;
}

}  // namespace

int main() {
  norvale::gen::TTempBenchTable bench(1000000);
  const std::string table = bench.Path();
  const std::string dir = fs::path(table).parent_path().string();
  const std::string work = dir + "/work.dbf";
  const norvale::TDbfFieldDefs defs = WithOneMore(table);
  std::vector<double> copies, synced, packs, restructures;
  for (int run = 0; run < 3; ++run) {
    fs::remove(dir + "/copy.dbf");
    copies.push_back(Timed("cp '" + table + "' '" + dir + "/copy.dbf'"));
    fs::remove(dir + "/copy.dbf");
    // The same copy made durable, as the rewrites make theirs.
    synced.push_back(Timed("cp '" + table + "' '" + dir + "/copy.dbf' && sync '" + dir + "/copy.dbf'"));
    for (int which = 0; which < 2; ++which) {
      for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind("work", 0) == 0) fs::remove(e.path());
      fs::copy_file(table, work);
      const auto start = TClock::now();
      if (which == 0)
        norvale::PackTable(work);
      else
        norvale::RestructureTable(work, defs, false);
      (which == 0 ? packs : restructures).push_back(Since(start));
    }
  }
  const char* records = std::getenv("NORVALE_BENCH_RECORDS") ? std::getenv("NORVALE_BENCH_RECORDS") : "1000000";
  std::printf("%s records: cp %.3f s, pack %.3f s, ratio %.2f (target at most 3)\n", records, Median(copies),
              Median(packs), Median(packs) / Median(copies));
  std::printf("%s records: restructure adding a field %.3f s, ratio %.2f (target at most 4)\n", records,
              Median(restructures), Median(restructures) / Median(copies));
  std::printf("%s records: cp with a sync of the copy %.3f s; pack %.2fx, restructure %.2fx that\n", records,
              Median(synced), Median(packs) / Median(synced), Median(restructures) / Median(synced));
  return 0;
}
