// Damaged index files raise an error that names the file and says to
// regenerate it; none crashes or loops.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "engine/byte_order.h"
#include "tests/index/index_test_tables.h"

namespace norvale::test {
namespace {

// A table of 200 records with a two-level .mdx tag and a .ndx, both flushed.
struct TDamageFixture {
  TIndexedTable t{{{"NAME", 'C', 20}}};
  std::vector<uint8_t> mdx, ndx;
  TDamageFixture() {
    for (int i = 0; i < 200; ++i) t.AddRecord({"name" + std::to_string(i)});
    t.Open();
    TIndexFile& m = t.Index("t.mdx", false);
    m.CreateTag("NAME", "N", 0);
    m.RebuildTag(0);
    TIndexFile& n = t.Index("t.ndx", false);
    n.CreateTag("NAME", "", 0);
    n.RebuildTag(0);
    m.Close();
    n.Close();
    mdx = ReadFile(t.dir.File("t.mdx"));
    ndx = ReadFile(t.dir.File("t.ndx"));
  }
  // Opens the damaged bytes and walks, appends and removes; the message of
  // the first error.
  std::string Use(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFile(t.dir.File(name), bytes);
    return Message([&] {
      TIndexFile file(t.table.get());
      file.SetFileName(t.dir.File(name));
      file.SetMode(amExclusiveOpen);
      file.Open();
      for (int tag = 0; tag < file.TagCount(); ++tag) Entries(file, tag);
      auto r = t.Record({"zzz"});
      file.AddRecordKey(500, r.data());
      file.RemoveRecordKey(500, r.data());
    });
  }
};

void ExpectDamaged(const std::string& message, const std::string& file, const std::string& what) {
  EXPECT_EQ(message.rfind("Index file \"" + file + "\" is damaged (", 0), 0u) << message;
  EXPECT_NE(message.find(what), std::string::npos) << message;
  EXPECT_NE(message.find("regenerate the index."), std::string::npos) << message;
}

TEST(IndexDamage, SoundFilesPassTheSameUse) {
  TDamageFixture f;
  EXPECT_EQ(f.Use("t.mdx", f.mdx), "(no error)");
  EXPECT_EQ(f.Use("t.ndx", f.ndx), "(no error)");
}

TEST(IndexDamage, PageNumbersOutsideOrInsideTheHeader) {
  TDamageFixture f;
  const uint32_t tagHeader = GetLE32(f.mdx.data() + 512 + 32);
  auto bytes = f.mdx;
  PutLE32(bytes.data() + tagHeader * 512, 100000);  // root far beyond the end
  ExpectDamaged(f.Use("t.mdx", bytes), "t.mdx", "page 100000 lies outside the file");
  bytes = f.mdx;
  PutLE32(bytes.data() + tagHeader * 512, 2);
  ExpectDamaged(f.Use("t.mdx", bytes), "t.mdx", "inside the header");
  bytes = f.ndx;
  PutLE32(bytes.data(), 0);
  ExpectDamaged(f.Use("t.ndx", bytes), "t.ndx", "page 0 lies inside the header");
  bytes = f.mdx;
  PutLE32(bytes.data() + 512 + 32, 9999);  // tag header page
  ExpectDamaged(f.Use("t.mdx", bytes), "t.mdx", "tag header page 9999");
}

TEST(IndexDamage, LoopsAndCounts) {
  TDamageFixture f;
  const uint32_t root = GetLE32(f.ndx.data());
  auto bytes = f.ndx;
  // The root's first child is the root itself.
  PutLE32(bytes.data() + root * 512 + 4, root);
  ExpectDamaged(f.Use("t.ndx", bytes), "t.ndx", "met twice");
  bytes = f.ndx;
  PutLE32(bytes.data() + root * 512, 5000);
  ExpectDamaged(f.Use("t.ndx", bytes), "t.ndx", "entries");
}

TEST(IndexDamage, HeaderFieldsTheHeaderCannotHold) {
  TDamageFixture f;
  auto bytes = f.mdx;
  PutLE16(bytes.data() + 28, 60);
  ExpectDamaged(f.Use("t.mdx", bytes), "t.mdx", "60 tags where the header holds 47");
  bytes = f.mdx;
  bytes[26] = 8;
  ExpectDamaged(f.Use("t.mdx", bytes), "t.mdx", "tag entries of 8 bytes");
  bytes = f.ndx;
  PutLE16(bytes.data() + 12, 300);
  ExpectDamaged(f.Use("t.ndx", bytes), "t.ndx", "key length 300");
  // Entry size and maximum that disagree with the key length are worked out
  // again, and the file stays usable.
  bytes = f.ndx;
  PutLE16(bytes.data() + 14, 200);
  EXPECT_EQ(f.Use("t.ndx", bytes), "(no error)");
}

TEST(IndexDamage, RandomByteDamageOnlyEverRaises) {
  TDamageFixture f;
  std::mt19937 rng(3);
  int sound = 0, damaged = 0;
  for (int i = 0; i < 300; ++i) {
    const bool multiple = i % 2;
    auto bytes = multiple ? f.mdx : f.ndx;
    for (int k = 0; k < 1 + static_cast<int>(rng() % 6); ++k) bytes[rng() % bytes.size()] = static_cast<uint8_t>(rng());
    const std::string m = f.Use(multiple ? "t.mdx" : "t.ndx", bytes);
    // Any result or error will do; the sanitizers watch for the rest.
    if (m == "(no error)")
      ++sound;
    else if (m.find("regenerate the index.") != std::string::npos)
      ++damaged;
  }
  // Both outcomes must be common, or the run exercised only one side.
  EXPECT_GT(sound, 20);
  EXPECT_GT(damaged, 5);
}

}  // namespace
}  // namespace norvale::test
