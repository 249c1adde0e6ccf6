// bench_gen N OUT.dbf [--seed S]: writes a table of N records for the
// benchmarks, in the layout every benchmark script assumes:
//   ID N(9,0), NAME C(30), CITY C(20), AMOUNT N(12,2), BORN D, ACTIVE L, NOTE C(60)
// About 3% of the records are deleted. Generation runs at disk speed, so
// tables of millions of records take seconds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "bench/bench_table.h"

namespace norvale::gen {
namespace {

[[noreturn]] void Usage() {
  std::fprintf(stderr, "usage: bench_gen N OUT.dbf [--seed S]\n");
  std::exit(2);
}

uint64_t ParseCount(const char* text) {
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (!end || *end || text[0] == '-' || v > 0xFFFFFFFFull) Usage();
  return v;
}

}  // namespace
}  // namespace norvale::gen

int main(int argc, char** argv) {
  using namespace norvale::gen;
  if (argc != 3 && argc != 5) Usage();
  uint64_t seed = kBenchSeed;
  if (argc == 5) {
    if (std::strcmp(argv[3], "--seed") != 0) Usage();
    seed = ParseCount(argv[4]);
  }
  try {
    WriteBenchTable(ParseCount(argv[1]), argv[2], seed);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_gen: %s\n", e.what());
    return 1;
  }
  return 0;
}
