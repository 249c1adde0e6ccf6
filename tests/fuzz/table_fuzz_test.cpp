// A bounded, deterministic mutation run over the corpus under the sanitizers.
// Mutations aim at what the reader trusts: header lengths, counts, descriptor
// bytes, record flags, and cuts at every size.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "tests/fuzz/table_fuzz.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::vector<uint8_t>> Seeds() {
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& e : fs::recursive_directory_iterator(fs::path(SourceDir()) / "tests/data/corpus/files")) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".dbf" && fs::file_size(e.path()) < 200000) seeds.push_back(ReadFile(e.path().string()));
  }
  return seeds;
}

void Mutate(std::vector<uint8_t>& b, std::mt19937& rng) {
  if (b.empty()) return;
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  static constexpr uint8_t kInteresting[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x0D, 0x1A, 0x20, 0x2A, 0x30, 0x31,
                                             0x7F, 0x80, 0x8B, 0x8C, 0xF5, 0xFE, 0xFF, '+', '@', 'I', 'O',
                                             'T', 'Y', 'B', 'M', 'G', 'N', 'C', '0'};
  const int rounds = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < rounds; ++i) {
    // Most of the damage goes to the header, where the reader decides sizes.
    const size_t span = std::min<size_t>(b.size(), rng() % 3 ? 600 : b.size());
    switch (rng() % 6) {
      case 0: b[pick(span)] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 1: b[pick(span)] = kInteresting[pick(sizeof kInteresting)]; break;
      case 2: {  // a 16-bit length or count field set to an edge value
        static constexpr size_t kFields[] = {4, 6, 8, 10};
        const uint16_t v[] = {0, 1, 32, 33, 68, 0xFFFF, static_cast<uint16_t>(rng())};
        const size_t at = kFields[pick(4)];
        const uint16_t value = v[pick(7)];
        if (at + 1 < b.size()) b[at] = static_cast<uint8_t>(value), b[at + 1] = static_cast<uint8_t>(value >> 8);
        break;
      }
      case 3: b.resize(pick(b.size() + 1)); break;
      case 4: {  // descriptor length or decimals byte
        const size_t d = 32 + 32 * pick(8) + 16 + pick(2);
        if (d < b.size()) b[d] = static_cast<uint8_t>(rng());
        break;
      }
      default: b.push_back(static_cast<uint8_t>(rng())); break;
    }
    if (b.empty()) return;
  }
}

TEST(TableFuzz, MutatedCorpusTablesOpenOrFailCleanly) {
  const auto seeds = Seeds();
  ASSERT_FALSE(seeds.empty());
  std::mt19937 rng(20261208);
  const char* env = std::getenv("NORVALE_FUZZ_ITERATIONS");
  const int iterations = env ? std::atoi(env) : 20000;
  for (int i = 0; i < iterations; ++i) {
    std::vector<uint8_t> bytes = seeds[static_cast<size_t>(rng() % seeds.size())];
    Mutate(bytes, rng);
    SCOPED_TRACE("iteration " + std::to_string(i));
    fuzz::FuzzTable(bytes.data(), bytes.size());
  }
}

TEST(TableFuzz, EveryPrefixOfEveryTable) {
  // Cuts inside the header, a descriptor, a record and the end-of-file byte.
  for (const auto& seed : Seeds()) {
    const size_t limit = std::min<size_t>(seed.size(), 1200);
    for (size_t n = 0; n <= limit; ++n) fuzz::FuzzTable(seed.data(), n);
  }
}

}  // namespace
}  // namespace norvale::test
