// What walking a filtered table through the table object costs, against
// norvale-cli dump --where of the same condition to /dev/null, measured in
// the same run on the benchmark table (1M records unless
// NORVALE_BENCH_RECORDS says otherwise): First, then Next to the end with
// Filtered on, counting the records. Both judge the records with the same
// filter; the dump also writes the ones that pass, the walk fills the
// dataset's record window. Target: the walk at most 1.5x the dump. Medians
// of three runs each, warm cache.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "bench/bench_timing.h"
#include "dataset/dbf_table.h"

namespace {

using norvale::bench::Median;
using norvale::bench::Since;
using norvale::bench::TClock;

constexpr const char* kCondition = "NAME = 'J*' AND AMOUNT > 5000 AND DTOS(BORN) >= '19700101'";

double Walk(const std::string& path, long* count) {
  const auto start = TClock::now();
  norvale::TDbfTable table;
  table.SetTableName(path);
  table.SetReadOnly(true);
  // The command line tool compares text without case.
  table.SetFilterOptions(norvale::foCaseInsensitive);
  table.SetFilter(kCondition);
  table.SetFiltered(true);
  table.Open();
  long n = 0;
  for (table.First(); !table.Eof(); table.Next()) ++n;
  *count = n;
  return Since(start);
}

double Dump(const std::string& path) {
  const std::string command =
      std::string(NORVALE_CLI) + " dump '" + path + "' --where \"" + kCondition + "\" > /dev/null";
  const auto start = TClock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "warning: %s failed\n", command.c_str());
  return Since(start);
}

long DumpCount(const std::string& path) {
  const std::string command =
      std::string(NORVALE_CLI) + " dump '" + path + "' --format csv --where \"" + kCondition + "\" | wc -l";
  FILE* pipe = popen(command.c_str(), "r");
  long lines = 0;
  if (!pipe || std::fscanf(pipe, "%ld", &lines) != 1) lines = 0;
  if (pipe) pclose(pipe);
  return lines - 1;  // the header line
}

}  // namespace

int main() {
  norvale::gen::TTempBenchTable table(1000000);
  std::vector<double> walks, dumps;
  long count = 0;
  for (int run = 0; run < 3; ++run) {
    dumps.push_back(Dump(table.Path()));
    walks.push_back(Walk(table.Path(), &count));
  }
  const long dumped = DumpCount(table.Path());
  std::printf(
      "%s\n%s records, %ld pass (dump: %ld): dump --where %.3f s, table walk %.3f s, ratio %.2f "
      "(target at most 1.5)\n",
      kCondition, std::getenv("NORVALE_BENCH_RECORDS") ? std::getenv("NORVALE_BENCH_RECORDS") : "1000000", count,
      dumped, Median(dumps), Median(walks), Median(walks) / Median(dumps));
  return count == dumped ? 0 : 1;
}
