// A bounded, deterministic mutation run over the corpus's index files under
// the sanitizers: each mutated .ndx or .mdx is opened beside its table,
// walked and appended to, and gives results or errors, never a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "tests/fuzz/index_fuzz.h"
#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

namespace fs = std::filesystem;

struct TSeed {
  std::string table;
  std::string name;  // the index file's own name
  std::vector<uint8_t> bytes;
};

std::vector<TSeed> Seeds() {
  std::vector<TSeed> seeds;
  for (const auto& e : fs::recursive_directory_iterator(fs::path(SourceDir()) / "tests/data/corpus/files")) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".ndx" && ext != ".mdx") continue;
    // The table beside it: the same base name, else the only table there.
    fs::path table;
    for (const auto& t : fs::directory_iterator(e.path().parent_path())) {
      std::string te = t.path().extension().string();
      for (char& c : te) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (te != ".dbf") continue;
      if (table.empty() || t.path().stem() == e.path().stem() ||
          e.path().stem().string().rfind(t.path().stem().string(), 0) == 0)
        table = t.path();
    }
    if (!table.empty()) seeds.push_back({table.string(), e.path().filename().string(), ReadFile(e.path().string())});
  }
  return seeds;
}

void Mutate(std::vector<uint8_t>& b, std::mt19937& rng) {
  if (b.empty()) return;
  const int rounds = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < rounds && !b.empty(); ++i) {
    const size_t at = rng() % b.size();
    switch (rng() % 5) {
      case 0: b[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
      case 1: b[at] = static_cast<uint8_t>(rng()); break;
      case 2: {  // a 32-bit page number or count at an entry-aligned place
        const size_t w = at & ~size_t{3};
        const uint32_t v[] = {0, 1, 2, 3, 4, 0xFFFFFFFFu, static_cast<uint32_t>(b.size() / 512), rng()};
        const uint32_t value = v[rng() % 8];
        for (size_t k = 0; k < 4 && w + k < b.size(); ++k) b[w + k] = static_cast<uint8_t>(value >> (8 * k));
        break;
      }
      case 3: b.resize(at); break;
      default: b.insert(b.end(), 512, static_cast<uint8_t>(rng())); break;
    }
  }
}

TEST(IndexFuzz, MutatedCorpusIndexesOpenOrFailCleanly) {
  const std::vector<TSeed> seeds = Seeds();
  ASSERT_GE(seeds.size(), 5u);
  std::mt19937 rng(20261209);
  TTempDir dir;
  for (int i = 0; i < 1500; ++i) {
    const TSeed& seed = seeds[static_cast<size_t>(i) % seeds.size()];
    std::vector<uint8_t> bytes = seed.bytes;
    Mutate(bytes, rng);
    fuzz::FuzzIndex(seed.table, dir.Path(), seed.name, bytes.data(), bytes.size());
  }
}

}  // namespace
}  // namespace norvale::test
