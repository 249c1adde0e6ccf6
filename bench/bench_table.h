// The benchmark table: the one layout that bench_gen writes and the
// benchmarks decode, so their figures describe the same data.
//   ID N(9,0), NAME C(30), CITY C(20), AMOUNT N(12,2), BORN D, ACTIVE L, NOTE C(60)
// About 3% of the records are deleted; names, cities and notes include
// code page 1252 letters, and notes include commas and quotes.
#pragma once

#include <cstdint>
#include <string>

namespace norvale::gen {

inline constexpr uint64_t kBenchSeed = 20240611;

// Writes `count` records to `path`; the same seed gives the same records.
// Raises std::runtime_error when the file cannot be written.
void WriteBenchTable(uint64_t count, const std::string& path, uint64_t seed = kBenchSeed);

// A benchmark table in a fresh temporary directory, removed with it. Its
// size is NORVALE_BENCH_RECORDS records, or `defaultCount`.
class TTempBenchTable {
 public:
  explicit TTempBenchTable(uint64_t defaultCount);
  ~TTempBenchTable();
  TTempBenchTable(const TTempBenchTable&) = delete;
  TTempBenchTable& operator=(const TTempBenchTable&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

}  // namespace norvale::gen
