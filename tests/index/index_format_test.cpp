// The bytes of new index files, against the numbers of the format.
#include <gtest/gtest.h>

#include "engine/byte_order.h"
#include "index/index_keys.h"
#include "tests/index/index_test_tables.h"

namespace norvale::test {
namespace {

std::vector<uint8_t> Bytes(const std::string& hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 3) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}

TEST(IndexFormat, DecimalFormOfNumbers) {
  uint8_t key[12];
  DecimalFromInteger(123, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 12), Bytes("37 11 12 30 00 00 00 00 00 00 00 00 "));
  DecimalFromInteger(-5, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 12), Bytes("35 89 50 00 00 00 00 00 00 00 00 00 "));
  DecimalFromDouble(0.5, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 12), Bytes("34 09 50 00 00 00 00 00 00 00 00 00 "));
  DecimalFromInteger(0, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 12), Bytes("34 01 00 00 00 00 00 00 00 00 00 00 "));
  DecimalFromInteger(100, key);
  EXPECT_EQ(key[0], 0x37);
  EXPECT_EQ(key[1], 9);
  EXPECT_EQ(key[2], 0x10);
}

TEST(IndexFormat, DecimalOrderIncludingLongIntegers) {
  uint8_t a[12], b[12];
  const double order[] = {-1e6, -1, -0.05, 0, 0.05, 1, 12.5, 1e9};
  for (size_t i = 0; i + 1 < std::size(order); ++i) {
    DecimalFromDouble(order[i], a);
    DecimalFromDouble(order[i + 1], b);
    EXPECT_LT(CompareDecimal(a, b, 12), 0) << order[i] << " vs " << order[i + 1];
    EXPECT_GT(CompareDecimal(b, a, 12), 0);
  }
  // Values differing only past the 16th digit stay apart.
  DecimalFromInteger(1234567890123456781LL, a);
  DecimalFromInteger(1234567890123456782LL, b);
  EXPECT_LT(CompareDecimal(a, b, 12), 0);
  DecimalFromInteger(-1234567890123456781LL, a);
  DecimalFromInteger(-1234567890123456782LL, b);
  EXPECT_GT(CompareDecimal(a, b, 12), 0);
}

TEST(IndexFormat, NewMultipleIndexFileAndFirstTag) {
  TIndexedTable t({{"NAME", 'C', 10}, {"QTY", 'N', 5}});
  t.image.languageId = 0;
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx", false);
  mdx.Flush();
  EXPECT_EQ(ReadFile(t.dir.File("t.mdx")).size(), 2048u);
  mdx.CreateTag("NAME", "byname", 0);
  mdx.CreateTag("QTY", "QTY", ixPrimary);
  mdx.Flush();
  const auto bytes = ReadFile(t.dir.File("t.mdx"));
  const uint8_t* h = bytes.data();
  EXPECT_EQ(h[0], 2);
  EXPECT_EQ(h[26], 32);
  EXPECT_EQ(GetLE16(h + 28), 2);
  EXPECT_EQ(h[529], 1);
  const uint8_t* entry = h + 512 + 32;
  EXPECT_EQ(GetLE32(entry), 4u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(entry + 4)), "BYNAME");
  EXPECT_EQ(entry[15], 0x10);
  EXPECT_EQ(entry[19], 2);
  EXPECT_EQ(entry[20], 'C');
  const uint8_t* tag = h + 4 * 512;
  EXPECT_EQ(GetLE32(tag), 6u);  // root
  EXPECT_EQ(tag[8], 0x10);
  EXPECT_EQ(GetLE16(tag + 12), 10);
  EXPECT_EQ(GetLE16(tag + 18), 16);
  EXPECT_EQ(GetLE16(tag + 14), 63);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(tag + 24)), "NAME");
  const uint8_t* num = h + GetLE32(h + 512 + 64) * 512;
  EXPECT_EQ(GetLE16(num + 12), 12);
  EXPECT_EQ(GetLE16(num + 18), 16);
  EXPECT_EQ(GetLE16(num + 14), 63);
  EXPECT_EQ(num[8], 0x60);
  EXPECT_EQ(num[23], 0x21);
  EXPECT_EQ(GetLE32(h + 32), 12u);  // header 4, root 6, header 8, root 10
  EXPECT_EQ(bytes.size(), 12u * 512);
}

TEST(IndexFormat, NewSingleIndexFiles) {
  TIndexedTable t({{"NAME", 'C', 10}, {"QTY", 'N', 5}});
  t.Open();
  TIndexFile& c = t.Index("c.ndx", false);
  c.CreateTag("NAME", "", 0);
  TIndexFile& n = t.Index("n.ndx", false);
  n.CreateTag("QTY", "", ixDescending);
  c.Flush();
  n.Flush();
  const auto cb = ReadFile(t.dir.File("c.ndx"));
  ASSERT_EQ(cb.size(), 1024u);
  EXPECT_EQ(GetLE32(cb.data()), 1u);
  EXPECT_EQ(GetLE32(cb.data() + 4), 2u);
  EXPECT_EQ(GetLE16(cb.data() + 10), 0x5800);
  EXPECT_EQ(GetLE16(cb.data() + 18), 20);
  EXPECT_EQ(GetLE16(cb.data() + 14), 25);
  const auto nb = ReadFile(t.dir.File("n.ndx"));
  EXPECT_EQ(GetLE16(nb.data() + 12), 8);
  EXPECT_EQ(GetLE16(nb.data() + 18), 16);
  EXPECT_EQ(GetLE16(nb.data() + 14), 31);
  EXPECT_EQ(GetLE16(nb.data() + 16), 1);
  EXPECT_EQ(nb[8], 0x08);
}

TEST(IndexFormat, RefusedKeyTypesAndFullTagTable) {
  TIndexedTable t({{"NAME", 'C', 10}, {"BORN", 'D', 8}, {"OK", 'L', 1}});
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx", false);
  EXPECT_EQ(Message([&] { mdx.CreateTag("BORN", "B", 0); }), "Invalid index type: can only be string or float.");
  EXPECT_EQ(Message([&] { mdx.CreateTag("OK", "B", 0); }), "Invalid index type: can only be string or float.");
  EXPECT_EQ(mdx.TagCount(), 0);
  for (int i = 0; i < 47; ++i) mdx.CreateTag("NAME", "T" + std::to_string(i), 0);
  EXPECT_EQ(Message([&] { mdx.CreateTag("NAME", "X", 0); }), "Can not create index: too many indexes in file.");
}

TEST(IndexFormat, RemovingTheFirstOfThreeTags) {
  TIndexedTable t({{"NAME", 'C', 10}});
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx", false);
  mdx.CreateTag("NAME", "A", 0);
  mdx.CreateTag("NAME", "B", 0);
  mdx.CreateTag("NAME", "C", 0);
  mdx.DeleteTag("a");
  mdx.Flush();
  const auto bytes = ReadFile(t.dir.File("t.mdx"));
  EXPECT_EQ(GetLE16(bytes.data() + 28), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 544 + 4)), "B");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 576 + 4)), "C");
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 608, bytes.begin() + 640), std::vector<uint8_t>(32, 0));
  EXPECT_EQ(mdx.IndexOfTag("c"), 1);
}

TEST(IndexFormat, LevelSevenTagTableFollowsItsEntrySize) {
  TIndexedTable t({{"NAME", 'C', 10}}, 0x04);
  t.Open();
  TIndexFile& mdx = t.Index("t.mdx", false);
  ASSERT_EQ(mdx.Level(), 7);
  const std::string longName = "A_TAG_NAME_OF_THIRTY_TWO_LETTERS";
  mdx.CreateTag("NAME", longName, 0);
  mdx.Flush();
  const auto bytes = ReadFile(t.dir.File("t.mdx"));
  const int size = bytes[26];
  EXPECT_GE(size, 43);
  EXPECT_EQ(bytes[0], 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data() + 512 + size + 4)), longName);
  int made = 1;
  while (Message([&] { mdx.CreateTag("NAME", "T" + std::to_string(made), 0); }) == "(no error)") ++made;
  EXPECT_EQ(made, 1536 / size - 1);
}

}  // namespace
}  // namespace norvale::test
