// Filter throughput of the expression engine against a hand-written loop.
//
// The filter NAME = 'A*' AND AMOUNT > 5000 AND DTOS(BORN) >= '19700101' runs
// with a table filter's settings (text trimmed and converted to UTF-8,
// wildcards, no case) over the records of a generated benchmark table held
// in memory. The baselines, timed in the same iterations, work straight on
// the record bytes: "hand" decodes the three fields of every record (the
// name trimmed, the amount parsed, the date read as a number) and then tests
// them; "hand_lazy" stops at the first test that fails, which for nine
// records in ten is a look at the name's first byte. All must accept the
// same records. Reported: records/s of each and the ratios to the filter.
//
// The table has NORVALE_BENCH_RECORDS records (default 1000000).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "engine/table_file.h"
#include "expr/table_parser.h"

namespace norvale {
namespace {

constexpr const char* kFilter = "NAME = 'A*' AND AMOUNT > 5000 AND DTOS(BORN) >= '19700101'";

struct TBenchRecords {
  gen::TTempBenchTable source{1000000};
  TDbfFile file;
  std::vector<uint8_t> bytes;  // every record, one after another
  int64_t count = 0;
  int length = 0;

  TBenchRecords() {
    file.SetFileName(source.Path());
    file.SetMode(amReadOnly);
    file.Open();
    count = file.RecordCount();
    length = file.RecordLength();
    bytes.resize(static_cast<size_t>(count * length));
    if (file.ReadPages(1, count, bytes.data()) != count) throw std::runtime_error("short read");
  }
  ~TBenchRecords() { file.Close(); }
};

TBenchRecords& Records() {
  static TBenchRecords records;
  return records;
}

// The same test written by hand for this table's layout: NAME C(30) begins
// with "A" or "a"; AMOUNT N(12,2) as text is above 5000; BORN D as yyyymmdd
// is not before 19700101 (a blank date is day 0, which is).
struct THandFilter {
  int name, amount, born;

  explicit THandFilter(const TDbfFile& file) {
    name = file.FieldDefs().Item(1).Offset();
    amount = file.FieldDefs().Item(3).Offset();
    born = file.FieldDefs().Item(4).Offset();
  }

  static double ParseAmount(const char* p, int size) {
    int i = 0;
    while (i < size && p[i] == ' ') ++i;
    bool negative = false;
    if (i < size && (p[i] == '-' || p[i] == '+')) negative = p[i++] == '-';
    int64_t whole = 0;
    while (i < size && p[i] >= '0' && p[i] <= '9') whole = whole * 10 + (p[i++] - '0');
    int64_t fraction = 0, scale = 1;
    if (i < size && p[i] == '.') {
      ++i;
      while (i < size && p[i] >= '0' && p[i] <= '9') {
        fraction = fraction * 10 + (p[i++] - '0');
        scale *= 10;
      }
    }
    const double v = double(whole) + double(fraction) / double(scale);
    return negative ? -v : v;
  }

  static int ParseDate(const char* p) {
    int v = 0;
    for (int i = 0; i < 8; ++i) {
      if (p[i] < '0' || p[i] > '9') return 18991230;  // blank or damaged: day 0
      v = v * 10 + (p[i] - '0');
    }
    return v;
  }

  bool AcceptDecoded(const uint8_t* record) const {
    const char* r = reinterpret_cast<const char*>(record);
    int nameLength = 30;
    while (nameLength > 0 && r[name + nameLength - 1] == ' ') --nameLength;
    const bool nameMatches = nameLength > 0 && (r[name] == 'A' || r[name] == 'a');
    const double value = ParseAmount(r + amount, 12);
    const int date = ParseDate(r + born);
    return nameMatches & (value > 5000) & (date >= 19700101);
  }

  bool AcceptLazy(const uint8_t* record) const {
    const char* r = reinterpret_cast<const char*>(record);
    const char first = r[name];
    if (first != 'A' && first != 'a') return false;
    if (!(ParseAmount(r + amount, 12) > 5000)) return false;
    return std::memcmp(r + born, "19700101", 8) >= 0;
  }
};

void BM_FilterAgainstHandLoop(benchmark::State& state) {
  TBenchRecords& records = Records();
  TDbfParser parser(&records.file);
  parser.SetRawStrings(false);
  parser.SetPartialCompare(true);
  parser.ParseExpression(kFilter);
  const THandFilter hand(records.file);
  double exprSeconds = 0, handSeconds = 0, lazySeconds = 0;
  int64_t exprAccepted = 0, handAccepted = 0, lazyAccepted = 0;
  for (auto _ : state) {
    exprAccepted = handAccepted = lazyAccepted = 0;
    auto t0 = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < records.count; ++i) {
      const uint8_t* record = records.bytes.data() + i * records.length;
      if (record[0] != '*') handAccepted += hand.AcceptDecoded(record);
    }
    auto t1 = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < records.count; ++i) {
      const uint8_t* record = records.bytes.data() + i * records.length;
      if (record[0] != '*') lazyAccepted += hand.AcceptLazy(record);
    }
    auto t2 = std::chrono::steady_clock::now();
    for (int64_t i = 0; i < records.count; ++i) {
      const uint8_t* record = records.bytes.data() + i * records.length;
      if (record[0] != '*') exprAccepted += parser.EvaluateRecord(record)[0] != 0;
    }
    auto t3 = std::chrono::steady_clock::now();
    handSeconds += std::chrono::duration<double>(t1 - t0).count();
    lazySeconds += std::chrono::duration<double>(t2 - t1).count();
    exprSeconds += std::chrono::duration<double>(t3 - t2).count();
    benchmark::DoNotOptimize(handAccepted);
    benchmark::DoNotOptimize(lazyAccepted);
    benchmark::DoNotOptimize(exprAccepted);
  }
  if (exprAccepted != handAccepted || exprAccepted != lazyAccepted) {
    state.SkipWithError("the filter and the hand loop accept different records");
    return;
  }
  const double n = double(records.count) * double(state.iterations());
  state.counters["expr_records_per_s"] = n / exprSeconds;
  state.counters["hand_records_per_s"] = n / handSeconds;
  state.counters["hand_lazy_records_per_s"] = n / lazySeconds;
  state.counters["ratio"] = exprSeconds / handSeconds;
  state.counters["ratio_lazy"] = exprSeconds / lazySeconds;
  state.counters["accepted"] = double(exprAccepted);
  state.SetLabel(kFilter);
}
BENCHMARK(BM_FilterAgainstHandLoop)->Unit(benchmark::kMillisecond)->Repetitions(5)->MinTime(1.0);

}  // namespace
}  // namespace norvale

BENCHMARK_MAIN();
