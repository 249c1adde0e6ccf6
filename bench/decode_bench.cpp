// Decode throughput of the field codec: every field of every record of a
// generated benchmark table, read in blocks the way the CLI dump reads them.
//
// Figures are reported against a baseline measured in the same run, reading
// the same blocks and looking only at each record's deletion flag, so the
// ratio says what decoding costs on top of getting the bytes. The ratios use
// CPU time, which other work on a shared machine disturbs less than the
// clock does.
//
// The table has NORVALE_BENCH_RECORDS records (default 200000) and lives in
// a temporary directory for the length of the run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "dataset/dbf_table.h"
#include "engine/table_file.h"

namespace norvale {
namespace {

constexpr int64_t kBlockBytes = 1 << 20;

struct TBenchTable {
  gen::TTempBenchTable source{200000};
  TDbfFile file;

  TBenchTable() {
    file.SetFileName(source.Path());
    file.SetMode(amReadOnly);
    file.Open();
  }
  ~TBenchTable() { file.Close(); }
};

TBenchTable& Table() {
  static TBenchTable table;
  return table;
}

// Calls `perRecord` for each record, read in blocks of about a megabyte.
template <typename F>
void ForEachRecord(TDbfFile& file, std::vector<uint8_t>& block, F&& perRecord) {
  const int length = file.RecordLength();
  const int64_t count = file.RecordCount();
  const int64_t perBlock = std::max<int64_t>(1, kBlockBytes / length);
  block.resize(static_cast<size_t>(perBlock * length));
  for (int64_t first = 1; first <= count;) {
    const int64_t got = file.ReadPages(first, std::min(perBlock, count - first + 1), block.data());
    if (got <= 0) break;
    for (int64_t i = 0; i < got; ++i) perRecord(block.data() + i * length);
    first += got;
  }
}

// The request a viewer makes of each field: its own logical type, dates as
// day numbers.
struct TRequest {
  const TDbfFieldDef* field;
  TFieldType type;
  bool native;
};

std::vector<TRequest> Requests(const TDbfFile& file) {
  std::vector<TRequest> out;
  for (int i = 0; i < file.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = file.FieldDefs().Item(i);
    out.push_back({&f, f.FieldType(), f.FieldType() == ftDate});
  }
  return out;
}

void SetRates(benchmark::State& state, int64_t records, int64_t bytes) {
  state.SetItemsProcessed(state.iterations() * records);
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["records/s"] =
      benchmark::Counter(static_cast<double>(records), benchmark::Counter::kIsIterationInvariantRate);
}

void BM_ReadBlocks(benchmark::State& state) {
  TDbfFile& file = Table().file;
  std::vector<uint8_t> block;
  for (auto _ : state) {
    int64_t deleted = 0;
    ForEachRecord(file, block, [&](const uint8_t* record) { deleted += record[0] == '*'; });
    benchmark::DoNotOptimize(deleted);
  }
  SetRates(state, file.RecordCount(), file.RecordCount() * file.RecordLength());
}

void BM_DecodeAllFields(benchmark::State& state) {
  TDbfFile& file = Table().file;
  const TFieldCodec& codec = file.Codec();
  const std::vector<TRequest> requests = Requests(file);
  std::vector<uint8_t> block;
  char text[256];
  union {
    int16_t i16;
    int32_t i32;
    int64_t i64;
    double d;
  } value;
  for (auto _ : state) {
    int64_t present = 0;
    ForEachRecord(file, block, [&](const uint8_t* record) {
      for (const TRequest& r : requests) {
        void* dst = r.type == ftString ? static_cast<void*>(text) : static_cast<void*>(&value);
        present += codec.Decode(*r.field, r.type, r.native, dst, record);
        benchmark::DoNotOptimize(value);
        benchmark::DoNotOptimize(text[0]);
      }
    });
    benchmark::DoNotOptimize(present);
  }
  SetRates(state, file.RecordCount(), file.RecordCount() * file.RecordLength());
}

// One field at a time, to see which encoding dominates the total.
void BM_DecodeField(benchmark::State& state) {
  TDbfFile& file = Table().file;
  const TFieldCodec& codec = file.Codec();
  const TRequest r = Requests(file).at(static_cast<size_t>(state.range(0)));
  state.SetLabel(r.field->FieldName() + " " + FieldTypeName(r.type));
  std::vector<uint8_t> block;
  char text[256];
  union {
    int32_t i32;
    double d;
    int64_t i64;
  } value;
  for (auto _ : state) {
    int64_t present = 0;
    ForEachRecord(file, block, [&](const uint8_t* record) {
      void* dst = r.type == ftString ? static_cast<void*>(text) : static_cast<void*>(&value);
      present += codec.Decode(*r.field, r.type, r.native, dst, record);
      benchmark::DoNotOptimize(value);
      benchmark::DoNotOptimize(text[0]);
    });
    benchmark::DoNotOptimize(present);
  }
  SetRates(state, file.RecordCount(), file.RecordCount() * r.field->Size());
}

// What the viewer and the tools pay: the table object walking the records
// one Next at a time and every field read as text.
void BM_DatasetWalkAsText(benchmark::State& state) {
  TDbfTable table;
  table.SetTableName(Table().file.FileName());
  table.SetReadOnly(true);
  table.SetShowDeleted(true);
  table.Open();
  std::vector<TField*> fields;
  for (int i = 0; i < table.FieldCount(); ++i) fields.push_back(&table.Fields(i));
  int64_t records = 0;
  std::string text;
  for (auto _ : state) {
    size_t characters = 0;
    records = 0;
    for (table.First(); !table.Eof(); table.Next()) {
      for (TField* f : fields) {
        f->GetText(text);
        characters += text.size();
      }
      ++records;
    }
    benchmark::DoNotOptimize(characters);
  }
  SetRates(state, records, records * Table().file.RecordLength());
}

BENCHMARK(BM_ReadBlocks)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DatasetWalkAsText)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeAllFields)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeField)->DenseRange(0, 6)->Unit(benchmark::kMillisecond);

// Console output as usual, plus the ratio of every benchmark to the
// block-reading baseline once all have run.
class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred)
        times_[run.benchmark_name()] = run.GetAdjustedCPUTime();
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto base = times_.find("BM_ReadBlocks");
    if (base == times_.end() || base->second <= 0) return;
    std::printf("\nCPU time relative to BM_ReadBlocks (same blocks, deletion flag only):\n");
    for (const auto& [name, time] : times_) std::printf("  %-28s %8.2fx\n", name.c_str(), time / base->second);
    const auto decode = times_.find("BM_DecodeAllFields");
    const auto walk = times_.find("BM_DatasetWalkAsText");
    if (decode != times_.end() && walk != times_.end() && decode->second > 0)
      std::printf("\nDataset walk (Next, every field as text) / raw decode loop: %.2fx\n", walk->second / decode->second);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace
}  // namespace norvale

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  norvale::Table();  // generate before the first timing
  std::printf("Table: %u records of %d bytes\n", norvale::Table().file.RecordCount(),
              norvale::Table().file.RecordLength());
  norvale::TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
