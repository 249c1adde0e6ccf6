// Two programs appending memo values to one shared table at once, played by
// real processes: each value must get blocks of its own, and every record
// must find its own value whole.
#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/memo_file.h"
#include "engine/table_file.h"
#include "tests/engine_io/memo_images.h"
#include "tests/stress/stress_memos.h"
#include "tests/stress/stress_records.h"
#include "tests/stress/worker_process.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TTableImage;
using test::TTempDir;
using test::TWorkerProcess;

struct TMemoCase {
  const char* name;
  uint8_t versionByte;
  uint8_t languageId;
  TXBaseVersion version;
  int blockSize;
  int overhead;  // block header and terminator bytes around a value
};

void PrintTo(const TMemoCase& c, std::ostream* os) { *os << c.name; }

class MemoStressTest : public ::testing::TestWithParam<TMemoCase> {};

TEST_P(MemoStressTest, ConcurrentAppendersNeverShareABlock) {
  const TMemoCase& c = GetParam();
  TTempDir dir;
  const std::string path = dir.File("shared.dbf");
  TTableImage image;
  image.versionByte = c.versionByte;
  image.languageId = c.languageId;
  image.fields = {{"TAG", 'C', 1}, {"SEQ", 'N', 6}, {"PAD", 'C', stress::kPadLength}, {"NOTE", 'M', 10}};
  test::WriteFile(path, image.Bytes());
  test::OpenMemoFile(dir.File(c.version == xFoxPro ? "shared.fpt" : "shared.dbt"), c.version, amExclusiveCreate,
                     c.blockSize);

  constexpr int kPerWriter = 400;
  const std::string tags = "AB";
  std::vector<std::unique_ptr<TWorkerProcess>> workers;
  for (const char tag : tags)
    workers.push_back(std::make_unique<TWorkerProcess>(
        std::vector<std::string>{path, "shared", "memo", std::string(1, tag), std::to_string(kPerWriter)}));
  for (auto& w : workers) ASSERT_EQ(w->ReadLine(), "ready");
  for (auto& w : workers) w->Send("go");
  for (auto& w : workers) EXPECT_EQ(w->ReadLine(), "done");
  for (auto& w : workers) EXPECT_EQ(w->Wait(), 0);

  TDbfFile table;
  table.SetFileName(path);
  table.SetMode(amReadOnly);
  table.Open();
  ASSERT_EQ(table.RecordCount(), uint32_t(tags.size() * kPerWriter));
  TMemoFile* memo = table.MemoFile();
  ASSERT_NE(memo, nullptr);
  ASSERT_EQ(memo->BlockSize(), c.blockSize);

  struct TRange {
    int64_t first, end;  // blocks [first, end)
    int64_t recNo;
  };
  std::vector<TRange> ranges;
  std::map<char, std::vector<int>> seqsOf;
  std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
  std::string value;
  for (int64_t recNo = 1; recNo <= table.RecordCount(); ++recNo) {
    SCOPED_TRACE("record " + std::to_string(recNo));
    ASSERT_EQ(table.ReadPage(recNo, record.data()), table.RecordLength());
    char tag[2] = {};
    int32_t seq = 0, block = 0;
    table.DecodeField(*table.FieldDefByName("TAG"), ftString, false, tag, record.data());
    table.DecodeField(*table.FieldDefByName("SEQ"), ftInteger, false, &seq, record.data());
    table.DecodeField(*table.FieldDefByName("NOTE"), ftInteger, false, &block, record.data());
    memo->ReadMemo(block, value);
    const std::string expected = stress::MemoFor(tag[0], seq);
    EXPECT_EQ(value.size(), expected.size());
    EXPECT_TRUE(value == expected) << "writer " << tag << " value " << seq;
    seqsOf[tag[0]].push_back(seq);
    const int64_t blocks = (int64_t(expected.size()) + c.overhead + c.blockSize - 1) / c.blockSize;
    ranges.push_back({block, block + blocks, recNo});
  }
  for (const char tag : tags) {
    std::vector<int>& seqs = seqsOf[tag];
    ASSERT_EQ(seqs.size(), size_t(kPerWriter)) << "writer " << tag;
    std::sort(seqs.begin(), seqs.end());
    for (int i = 0; i < kPerWriter; ++i) EXPECT_EQ(seqs[i], i + 1) << "writer " << tag;
  }
  std::sort(ranges.begin(), ranges.end(), [](const TRange& a, const TRange& b) { return a.first < b.first; });
  EXPECT_GE(ranges.front().first * c.blockSize, TMemoFile::kHeaderSize) << "a value in the header";
  for (size_t i = 1; i < ranges.size(); ++i)
    EXPECT_LE(ranges[i - 1].end, ranges[i].first)
        << "records " << ranges[i - 1].recNo << " and " << ranges[i].recNo << " share a block";
  EXPECT_GE(memo->NextFreeBlock(), ranges.back().end) << "next free block in the header";
}

INSTANTIATE_TEST_SUITE_P(Formats, MemoStressTest,
                         ::testing::Values(TMemoCase{"dBASE_III", 0x83, 0x00, xBaseIII, 512, 2},
                                           TMemoCase{"dBASE_IV", 0x8B, 0x57, xBaseIV, 512, 8},
                                           TMemoCase{"FoxPro_blocks_of_64", 0xF5, 0x03, xFoxPro, 64, 8}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace norvale
