// Memo files byte by byte: where values go and how they end in each format,
// reuse and growth of a value, damaged and truncated files, and the memo
// file as part of its table (missing file, companions, exclusive access).
#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/byte_order.h"
#include "engine/exceptions.h"
#include "engine/memo_file.h"
#include "engine/table_file.h"
#include "tests/engine_io/memo_images.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::DbtHeader;
using test::FptHeader;
using test::MemoValue;
using test::OpenMemoFile;
using test::ReadFile;
using test::TTableImage;
using test::TTempDir;
using test::WriteFile;

std::string Slice(const std::vector<uint8_t>& bytes, size_t at, size_t n) {
  return std::string(bytes.begin() + static_cast<ptrdiff_t>(at), bytes.begin() + static_cast<ptrdiff_t>(at + n));
}

std::string Read(TMemoFile& memo, int64_t block) {
  std::string out = "stale";
  memo.ReadMemo(block, out);
  return out;
}

// A file of `header` followed by `body` bytes.
void WriteMemoFile(const std::string& path, std::vector<uint8_t> header, const std::string& body) {
  header.insert(header.end(), body.begin(), body.end());
  WriteFile(path, header);
}

TEST(MemoCreateTest, NewFileHeaderPlacesTheFirstValueAfterIt) {
  struct TCase {
    TXBaseVersion version;
    int requested;
    uint32_t nextFree;
    int blockSize;
  };
  const TCase cases[] = {
      {xBaseIV, 512, 1, 512}, {xBaseIV, 64, 8, 64},   {xBaseVII, 1024, 1, 1024},
      {xFoxPro, 64, 8, 64},   {xFoxPro, 512, 1, 512}, {xFoxPro, 2048, 1, 2048},
      // 512 / 100 rounds up: block 5 would start inside the header.
      {xBaseIV, 100, 6, 100},
      // No size requested: one block after the header, of the usual size.
      {xBaseIV, 0, 1, 512},   {xFoxPro, 0, 1, 512},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(VersionName(c.version)) + " requested " + std::to_string(c.requested));
    TTempDir dir;
    const std::string path = dir.File("new.memo");
    {
      auto memo = OpenMemoFile(path, c.version, amExclusiveCreate, c.requested);
      EXPECT_EQ(memo->BlockSize(), c.blockSize);
      EXPECT_EQ(memo->NextFreeBlock(), c.nextFree);
      // The first value lands on the first free block.
      EXPECT_EQ(memo->WriteMemo(0, 0, "abc"), c.nextFree);
    }
    const std::vector<uint8_t> bytes = ReadFile(path);
    ASSERT_GE(bytes.size(), 512u);
    if (c.version == xFoxPro) {
      EXPECT_EQ(GetBE32(bytes.data()), c.nextFree + 1);
      EXPECT_EQ((bytes[6] << 8) | bytes[7], c.blockSize);
    } else {
      EXPECT_EQ(GetLE32(bytes.data()), c.nextFree + 1);
      EXPECT_EQ(GetLE16(bytes.data() + 20), c.blockSize);
    }
    EXPECT_EQ(bytes.size(), size_t(c.nextFree + 1) * c.blockSize);
  }
}

TEST(MemoCreateTest, DbaseIiiHeaderCarriesItsVersionByte) {
  TTempDir dir;
  const std::string path = dir.File("t.dbt");
  { auto memo = OpenMemoFile(path, xBaseIII, amExclusiveCreate, 512); }
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 512u);
  EXPECT_EQ(GetLE32(bytes.data()), 1u);
  EXPECT_EQ(bytes[16], 3);
}

TEST(MemoLayoutTest, DbaseIvValueOf504FitsOneBlockAnd505TakesTwo) {
  TTempDir dir;
  const std::string path = dir.File("t.dbt");
  WriteFile(path, DbtHeader(1, 512));
  const std::string v504 = MemoValue(504, true, 1), v505 = MemoValue(505, true, 2);
  {
    auto memo = OpenMemoFile(path, xBaseIV, amExclusiveOpen);
    EXPECT_EQ(memo->WriteMemo(0, 0, v504), 1);
    EXPECT_EQ(memo->NextFreeBlock(), 2);
    EXPECT_EQ(memo->WriteMemo(0, 0, v505), 2);
    EXPECT_EQ(memo->NextFreeBlock(), 4);
    EXPECT_FALSE(memo->WriteError());
  }
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 4u * 512);
  EXPECT_EQ(GetLE32(bytes.data()), 4u);
  EXPECT_EQ(Slice(bytes, 512, 4), std::string("\xFF\xFF\x08\x00", 4));
  EXPECT_EQ(GetLE32(bytes.data() + 516), 512u);
  EXPECT_EQ(Slice(bytes, 520, 504), v504);
  EXPECT_EQ(GetLE32(bytes.data() + 1024 + 4), 513u);
  EXPECT_EQ(Slice(bytes, 1032, 505), v505);
  EXPECT_EQ(Slice(bytes, 1032 + 505, 2048 - 1032 - 505), std::string(2048 - 1032 - 505, ' '));

  auto memo = OpenMemoFile(path, xBaseIV, amReadOnly);
  EXPECT_EQ(Read(*memo, 1), v504);
  EXPECT_EQ(Read(*memo, 2), v505);
}

TEST(MemoLayoutTest, DbaseIiiValueOf510FillsOneBlockAnd511TakesTwo) {
  TTempDir dir;
  const std::string path = dir.File("t.dbt");
  WriteFile(path, DbtHeader(1, 0));
  const std::string v510 = MemoValue(510, false, 3), v511 = MemoValue(511, false, 4);
  {
    auto memo = OpenMemoFile(path, xBaseIII, amExclusiveOpen);
    EXPECT_EQ(memo->WriteMemo(0, 0, v510), 1);
    EXPECT_EQ(memo->WriteMemo(0, 0, v511), 2);
    EXPECT_EQ(memo->NextFreeBlock(), 4);
  }
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 4u * 512);
  EXPECT_EQ(Slice(bytes, 512, 510), v510);
  EXPECT_EQ(Slice(bytes, 1022, 2), "\x1A\x1A");
  EXPECT_EQ(Slice(bytes, 1024, 511), v511);
  EXPECT_EQ(bytes[1535], 0x1A);  // last byte of the first block
  EXPECT_EQ(bytes[1536], 0x1A);  // first byte of the second
  EXPECT_EQ(Slice(bytes, 1537, 511), std::string(511, ' '));

  auto memo = OpenMemoFile(path, xBaseIII, amReadOnly);
  EXPECT_EQ(Read(*memo, 1), v510);
  EXPECT_EQ(Read(*memo, 2), v511);
}

TEST(MemoLayoutTest, FoxProBlockHeaderIsBigEndianTypeAndLength) {
  TTempDir dir;
  const std::string path = dir.File("t.fpt");
  WriteFile(path, FptHeader(8, 64));
  const std::string value = MemoValue(100, true, 5);
  {
    auto memo = OpenMemoFile(path, xFoxPro, amExclusiveOpen);
    EXPECT_EQ(memo->WriteMemo(0, 0, value), 8);
    EXPECT_EQ(memo->NextFreeBlock(), 10);  // 8 + 100 bytes take two blocks of 64
  }
  const std::vector<uint8_t> bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 640u);
  EXPECT_EQ(GetBE32(bytes.data()), 10u);
  EXPECT_EQ(GetBE32(bytes.data() + 512), 1u);
  EXPECT_EQ(GetBE32(bytes.data() + 516), 100u);
  EXPECT_EQ(Slice(bytes, 520, 100), value);
  EXPECT_EQ(Slice(bytes, 620, 20), std::string(20, ' '));
}

struct TFormat {
  const char* name;
  TXBaseVersion version;
  bool fox;
  uint16_t blockSize;
};

void PrintTo(const TFormat& c, std::ostream* os) { *os << c.name; }

class MemoRewriteTest : public ::testing::TestWithParam<TFormat> {
 protected:
  void SetUp() override {
    const TFormat& f = GetParam();
    path_ = dir_.File(f.fox ? "t.fpt" : "t.dbt");
    const uint32_t first = 512 / f.blockSize;
    WriteFile(path_, f.fox ? FptHeader(first, f.blockSize) : DbtHeader(first, f.blockSize));
    memo_ = OpenMemoFile(path_, f.version, amExclusiveOpen);
  }
  std::string Value(size_t n, unsigned seed) { return MemoValue(n, GetParam().version != xBaseIII, seed, true); }

  TTempDir dir_;
  std::string path_;
  std::unique_ptr<TMemoFile> memo_;
};

TEST_P(MemoRewriteTest, NoLongerValueReusesItsBlocksALongerOneIsAppended) {
  const std::string first = Value(1000, 1);
  const int64_t block = memo_->WriteMemo(0, 0, first);
  const int64_t next = memo_->NextFreeBlock();
  ASSERT_GT(block, 0);

  for (const size_t n : {size_t(1000), size_t(900), size_t(1)}) {
    SCOPED_TRACE(n);
    const std::string shorter = Value(n, unsigned(n));
    EXPECT_EQ(memo_->WriteMemo(block, 1000, shorter), block);
    EXPECT_EQ(memo_->NextFreeBlock(), next);
    // Nothing of the longer value before it shows behind the new end.
    EXPECT_EQ(Read(*memo_, block), shorter);
  }

  const std::string longer = Value(3000, 7);
  const int64_t moved = memo_->WriteMemo(block, 1, longer);
  EXPECT_EQ(moved, next);
  EXPECT_GT(memo_->NextFreeBlock(), next);
  EXPECT_EQ(Read(*memo_, moved), longer);

  // An empty value takes no block and writes nothing.
  const auto size = std::filesystem::file_size(path_);
  EXPECT_EQ(memo_->WriteMemo(moved, 3000, ""), 0);
  EXPECT_EQ(std::filesystem::file_size(path_), size);
  EXPECT_FALSE(memo_->WriteError());
}

TEST_P(MemoRewriteTest, ValuesOfEverySizeAroundTheBlockReadBack) {
  std::vector<std::pair<int64_t, std::string>> stored;
  for (size_t n : {1, 2, 7, 8, 9, 62, 63, 64, 65, 502, 503, 504, 505, 510, 511, 512, 513, 70000}) {
    stored.emplace_back(0, Value(n, unsigned(n)));
    stored.back().first = memo_->WriteMemo(0, 0, stored.back().second);
  }
  memo_->Close();
  memo_ = OpenMemoFile(path_, GetParam().version, amReadOnly);
  for (const auto& [block, value] : stored) EXPECT_EQ(Read(*memo_, block), value) << value.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Formats, MemoRewriteTest,
                         ::testing::Values(TFormat{"dBASE_III", xBaseIII, false, 512},
                                           TFormat{"dBASE_IV", xBaseIV, false, 512},
                                           TFormat{"dBASE_7_blocks_of_64", xBaseVII, false, 64},
                                           TFormat{"FoxPro_blocks_of_64", xFoxPro, true, 64},
                                           TFormat{"FoxPro", xFoxPro, true, 512}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(MemoReadTest, DbaseIiiValueEndsOnlyAtATerminatorPairOrTheFileEnd) {
  struct TCase {
    const char* what;
    std::string body;  // from block 1 on
    std::string expected;
  };
  // Splits of the terminator land on block ends and on 64 KiB, where a
  // reader may cut the file into pieces.
  const std::string full(511, 'x'), full64k(65535, 'x');
  const TCase cases[] = {
      {"lone 1A inside the text", "abc\x1A" "def\x1A\x1A   tail\x1A\x1A", "abc\x1A" "def"},
      {"1A then 00 ends it", std::string("ab\x1A\0cd", 6), "ab"},
      {"lone 1A at a block end", full + "\x1Ayz\x1A\x1A", full + "\x1Ayz"},
      {"pair split over two blocks", full + "\x1A\x1A" "after", full},
      {"1A 00 split over two blocks", full + "\x1A" + std::string(1, '\0') + "after", full},
      {"pair split at 64 KiB", full64k + "\x1A\x1A" "after", full64k},
      {"1A 00 split at 64 KiB", full64k + "\x1A" + std::string(1, '\0') + "after", full64k},
      {"lone 1A at 64 KiB", full64k + "\x1Ayz\x1A\x1A", full64k + "\x1Ayz"},
      {"no terminator: up to the end of the file", "hello  ", "hello  "},
      {"terminator right at the start", "\x1A\x1Arest", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TTempDir dir;
    const std::string path = dir.File("t.dbt");
    WriteMemoFile(path, DbtHeader(9, 0), c.body);
    auto memo = OpenMemoFile(path, xBaseIII, amReadOnly);
    EXPECT_EQ(Read(*memo, 1), c.expected);
  }
}

TEST(MemoReadTest, DamagedAndTruncatedFilesGiveShorterValuesOnly) {
  TTempDir dir;
  // FoxPro: a length of 4 GiB in a file of 1.5 KiB, a value cut by the end of
  // the file, a block header cut by it.
  {
    const std::string path = dir.File("damaged.fpt");
    std::string body(1024, 'a');
    PutBE32(reinterpret_cast<uint8_t*>(&body[0]) + 4, 0xFFFFFFFFu);
    const std::string cut("\0\0\0\x01\0\0\x03\xE8" "only a few bytes", 24);  // claims 1000 bytes
    WriteMemoFile(path, FptHeader(4, 512), body + cut);
    auto memo = OpenMemoFile(path, xFoxPro, amReadOnly);
    std::string value;
    memo->ReadMemo(1, value);
    EXPECT_EQ(value, body.substr(8) + cut);
    EXPECT_LT(value.capacity(), size_t(1) << 20) << "memory taken for the length the block claims";
    EXPECT_EQ(Read(*memo, 3), "only a few bytes");
    memo.reset();
    WriteMemoFile(path, FptHeader(2, 512), std::string("\0\0\0\x01\0", 5));
    memo = OpenMemoFile(path, xFoxPro, amReadOnly);
    EXPECT_EQ(Read(*memo, 1), "");
  }
  // dBASE IV: lengths beyond the file and below the block header's own 8.
  {
    const std::string path = dir.File("damaged.dbt");
    std::string body(std::string("\xFF\xFF\x08\x00", 4) + std::string("\xFF\xFF\xFF\xFF", 4) + "abc");
    body.resize(512, ' ');
    body += std::string("\xFF\xFF\x08\x00\x03\x00\x00\x00", 8) + "xyz";
    WriteMemoFile(path, DbtHeader(3, 512), body);
    auto memo = OpenMemoFile(path, xBaseIV, amReadOnly);
    EXPECT_EQ(Read(*memo, 1), body.substr(8));
    EXPECT_EQ(Read(*memo, 2), "");
    // Block numbers outside the file, negative, or large enough to overflow
    // an offset, read as empty values.
    for (const int64_t block : {int64_t(0), int64_t(-1), int64_t(3), int64_t(4000000000), INT64_MAX / 2, INT64_MAX})
      EXPECT_EQ(Read(*memo, block), "") << block;
  }
  // Files shorter than their header, down to no bytes at all.
  for (const size_t size : {size_t(0), size_t(100), size_t(512)}) {
    const std::string path = dir.File("short.fpt");
    WriteFile(path, std::vector<uint8_t>(size, 0));
    auto memo = OpenMemoFile(path, xFoxPro, amExclusiveOpen);
    EXPECT_EQ(memo->BlockSize(), 512);
    EXPECT_EQ(Read(*memo, 1), "") << size;
    // Appending still starts after the header.
    EXPECT_EQ(memo->WriteMemo(0, 0, "new"), 1) << size;
    EXPECT_EQ(Read(*memo, 1), "new");
  }
}

TEST(MemoOpenTest, HeaderWithoutBlockSizeIsTakenAs512) {
  for (const bool fox : {true, false}) {
    SCOPED_TRACE(fox ? "FoxPro" : "dBASE IV");
    TTempDir dir;
    const std::string path = dir.File(fox ? "t.fpt" : "t.dbt");
    const std::string body = fox ? std::string("\0\0\0\x01\0\0\0\x05" "hello", 13)
                                 : std::string("\xFF\xFF\x08\x00\x0D\0\0\0" "hello", 13);
    WriteMemoFile(path, fox ? FptHeader(2, 0) : DbtHeader(2, 0), body);
    const TXBaseVersion version = fox ? xFoxPro : xBaseIV;

    // Read-only: repaired in memory, the file stays as it is.
    auto memo = OpenMemoFile(path, version, amReadOnly);
    EXPECT_EQ(memo->BlockSize(), 512);
    EXPECT_EQ(Read(*memo, 1), "hello");
    EXPECT_FALSE(memo->WriteError());
    memo.reset();
    EXPECT_EQ(ReadFile(path)[fox ? 6 : 21], 0);

    memo = OpenMemoFile(path, version, amExclusiveOpen);
    EXPECT_EQ(memo->WriteMemo(0, 0, "next"), 2);
    memo.reset();
    const std::vector<uint8_t> bytes = ReadFile(path);
    EXPECT_EQ(fox ? (bytes[6] << 8 | bytes[7]) : GetLE16(bytes.data() + 20), 512);
  }
}

TEST(MemoAppendTest, HeaderBehindTheFileNeverHandsOutUsedBlocks) {
  for (const uint32_t nextFree : {0u, 1u, 2u}) {
    SCOPED_TRACE(nextFree);
    TTempDir dir;
    const std::string path = dir.File("t.dbt");
    std::string old = std::string("\xFF\xFF\x08\x00", 4) + std::string(4, '\0') + MemoValue(700, false, 9);
    PutLE32(reinterpret_cast<uint8_t*>(&old[4]), 708);
    WriteMemoFile(path, DbtHeader(nextFree, 512), old);  // blocks 1 and 2, the second cut short
    auto memo = OpenMemoFile(path, xBaseIV, amExclusiveOpen);
    EXPECT_EQ(memo->WriteMemo(0, 0, "new value"), 3);
    EXPECT_EQ(memo->NextFreeBlock(), 4);
    EXPECT_EQ(Read(*memo, 1), old.substr(8));
    EXPECT_EQ(Read(*memo, 3), "new value");
  }
}

TEST(MemoAppendTest, DamagedOldBlockNumberIsNotWrittenTo) {
  TTempDir dir;
  const std::string path = dir.File("t.fpt");
  WriteFile(path, FptHeader(8, 64));
  auto memo = OpenMemoFile(path, xFoxPro, amExclusiveOpen);
  // Block 2 lies in the header, the others far past the end of the file.
  EXPECT_EQ(memo->WriteMemo(2, 50, "short"), 8);
  EXPECT_EQ(memo->WriteMemo(4000000000, 50, "short"), 9);
  EXPECT_EQ(memo->WriteMemo(INT64_MAX, 50, "short"), 10);
  memo.reset();
  const std::vector<uint8_t> bytes = ReadFile(path);
  EXPECT_EQ(bytes.size(), 11u * 64);
  EXPECT_EQ(GetBE32(bytes.data()), 11u);
  EXPECT_EQ(Slice(bytes, 128, 64), std::string(64, '\0'));
}

TEST(MemoAppendTest, NoBlockNumberBeyond32BitsIsHandedOut) {
  TTempDir dir;
  const std::string path = dir.File("t.dbt");
  WriteFile(path, DbtHeader(0xFFFFFFFFu, 512));
  auto memo = OpenMemoFile(path, xBaseIV, amExclusiveOpen);
  EXPECT_EQ(memo->WriteMemo(0, 0, "value"), 0);
  EXPECT_TRUE(memo->WriteError());
  memo.reset();
  EXPECT_EQ(ReadFile(path), DbtHeader(0xFFFFFFFFu, 512));
}

TEST(MemoAppendTest, ReadOnlyFileSetsTheWriteErrorFlag) {
  TTempDir dir;
  const std::string path = dir.File("t.dbt");
  WriteFile(path, DbtHeader(1, 512));
  auto memo = OpenMemoFile(path, xBaseIV, amReadOnly);
  memo->WriteMemo(0, 0, "value");
  EXPECT_TRUE(memo->WriteError());
  EXPECT_EQ(ReadFile(path).size(), 512u);
}

// The memo file as part of its table.

TTableImage MemoTable(uint8_t versionByte, int memoLength = 10) {
  TTableImage image;
  image.versionByte = versionByte;
  image.fields = {{"NAME", 'C', 8}, {"NOTE", 'M', memoLength}};
  image.records = {image.Record({"one", "         1"})};
  return image;
}

std::unique_ptr<TDbfFile> OpenTable(const std::string& path, TPagedFileMode mode) {
  auto table = std::make_unique<TDbfFile>();
  table->SetFileName(path);
  table->SetMode(mode);
  table->Open();
  return table;
}

TEST(MemoTableTest, MissingMemoFileReadsEmptyAndRefusesValues) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  WriteFile(path, MemoTable(0x83).Bytes());
  auto table = OpenTable(path, amSharedOpen);
  TMemoFile* memo = table->MemoFile();
  ASSERT_NE(memo, nullptr);
  EXPECT_NE(dynamic_cast<TNullMemoFile*>(memo), nullptr);
  EXPECT_EQ(Read(*memo, 1), "");
  EXPECT_EQ(memo->WriteMemo(1, 0, ""), 0);  // clearing a value needs no file
  try {
    memo->WriteMemo(0, 0, "text");
    ADD_FAILURE() << "no error";
  } catch (const EDbfError& e) {
    EXPECT_STREQ(e.what(), ("Memo file \"" + dir.File("t.dbt") + "\" is missing: the value cannot be stored.").c_str());
  }
  table.reset();
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.dbt")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("t.DBT")));
}

TEST(MemoTableTest, MemoFileOfTheTableIsFoundAndFollowsItsMode) {
  struct TCase {
    uint8_t versionByte;
    const char* table;
    const char* memo;
    bool fox;
  };
  const TCase cases[] = {{0x83, "T.DBF", "t.dbt", false},
                         {0x8B, "t.dbf", "T.DBT", false},
                         {0xF5, "T.DBF", "T.FPT", true}};
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.memo);
    TTempDir dir;
    WriteFile(dir.File(c.table), MemoTable(c.versionByte).Bytes());
    WriteMemoFile(dir.File(c.memo), c.fox ? FptHeader(2, 512) : DbtHeader(2, 512),
                  c.fox ? std::string("\0\0\0\x01\0\0\0\x04" "memo", 12) : std::string("memo\x1A\x1A", 6));
    for (const TPagedFileMode mode : {amReadOnly, amSharedOpen, amExclusiveOpen}) {
      auto table = OpenTable(dir.File(c.table), mode);
      TMemoFile* memo = table->MemoFile();
      ASSERT_NE(memo, nullptr);
      EXPECT_EQ(dynamic_cast<TFoxProMemoFile*>(memo) != nullptr, c.fox);
      EXPECT_EQ(dynamic_cast<TDbaseMemoFile*>(memo) != nullptr, !c.fox);
      EXPECT_EQ(memo->FileName(), dir.File(c.memo));
      EXPECT_EQ(memo->Mode(), mode);
      EXPECT_EQ(memo->Version(), table->Version());
      int32_t block = 0;
      const TDbfFieldDef* note = table->FieldDefByName("NOTE");
      std::vector<uint8_t> record(static_cast<size_t>(table->RecordLength()));
      table->ReadPage(1, record.data());
      ASSERT_TRUE(table->DecodeField(*note, ftInteger, false, &block, record.data()));
      EXPECT_EQ(Read(*memo, block), "memo");
      table->Close();
      EXPECT_EQ(table->MemoFile(), nullptr);
    }
  }
  // Without memo fields there is no memo file, even when one lies beside.
  TTempDir dir;
  TTableImage plain;
  plain.fields = {{"NAME", 'C', 8}};
  WriteFile(dir.File("p.dbf"), plain.Bytes());
  WriteFile(dir.File("p.dbt"), DbtHeader(1, 512));
  EXPECT_EQ(OpenTable(dir.File("p.dbf"), amSharedOpen)->MemoFile(), nullptr);
}

TEST(MemoTableTest, MemoFileFollowsTheTableIntoExclusiveAccessOnlyWhenTheTableGetsIt) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  WriteFile(path, MemoTable(0x8B).Bytes());
  WriteFile(dir.File("t.dbt"), DbtHeader(1, 512));

  auto table = OpenTable(path, amSharedOpen);
  table->AcquireExclusive();
  ASSERT_EQ(table->Mode(), amExclusiveOpen);
  EXPECT_EQ(table->MemoFile()->Mode(), amExclusiveOpen);
  // Nobody else may open the memo file for writing now.
  EXPECT_THROW(OpenMemoFile(dir.File("t.dbt"), xBaseIV, amSharedOpen), Exception);
  const int64_t block = table->MemoFile()->WriteMemo(0, 0, "while exclusive");
  table->ReleaseExclusive();
  EXPECT_EQ(table->Mode(), amSharedOpen);
  EXPECT_EQ(table->MemoFile()->Mode(), amSharedOpen);
  EXPECT_EQ(Read(*table->MemoFile(), block), "while exclusive");

  // Another holder of the table: the table stays shared, and so does its memo.
  auto other = OpenTable(path, amSharedOpen);
  table->AcquireExclusive();
  EXPECT_EQ(table->Mode(), amSharedOpen);
  EXPECT_EQ(table->MemoFile()->Mode(), amSharedOpen);
  EXPECT_EQ(Read(*table->MemoFile(), block), "while exclusive");
  EXPECT_NO_THROW(OpenMemoFile(dir.File("t.dbt"), xBaseIV, amSharedOpen));
}

TEST(MemoTableTest, TwoSharedOpensAppendToDifferentBlocks) {
  TTempDir dir;
  const std::string path = dir.File("t.dbf");
  WriteFile(path, MemoTable(0xF5).Bytes());
  WriteFile(dir.File("t.fpt"), FptHeader(8, 64));
  auto a = OpenTable(path, amSharedOpen);
  auto b = OpenTable(path, amSharedOpen);
  std::vector<std::pair<int64_t, std::string>> stored;
  for (int i = 0; i < 20; ++i) {
    TDbfFile& t = (i % 2) ? *b : *a;
    const std::string value = MemoValue(size_t(30 + 37 * i), true, unsigned(i));
    stored.emplace_back(t.MemoFile()->WriteMemo(0, 0, value), value);
  }
  for (const auto& [block, value] : stored) EXPECT_EQ(Read(*a->MemoFile(), block), value);
}

}  // namespace
}  // namespace norvale
