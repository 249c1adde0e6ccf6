// Several programs on one table, played by real processes: concurrent
// appends, record locks, share modes, the exclusive upgrade and the lock
// field stamp as another program sees it on disk.
#include <algorithm>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "engine/byte_order.h"
#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/table_file.h"
#include "platform/os_misc.h"
#include "tests/platform/lock_probe.h"
#include "tests/stress/stress_records.h"
#include "tests/stress/worker_process.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::TFieldSpec;
using test::TTableImage;
using test::TTempDir;
using test::TWorkerProcess;

int FieldOffset(const TTableImage& image, const std::string& name) {
  int offset = 1;
  for (const TFieldSpec& f : image.fields) {
    if (f.name == name) return offset;
    offset += f.length;
  }
  return -1;
}

TTableImage TaggedTable(uint8_t versionByte = 0x03) {
  TTableImage image;
  image.versionByte = versionByte;
  if ((versionByte & 7) == 4) image.fields.push_back({"ID", '+', 4});
  image.fields.push_back({"TAG", 'C', 1});
  image.fields.push_back({"SEQ", 'N', 6});
  image.fields.push_back({"PAD", 'C', stress::kPadLength});
  return image;
}

std::unique_ptr<TWorkerProcess> Start(const std::vector<std::string>& args) {
  return std::make_unique<TWorkerProcess>(args);
}

// Opens `path` in this process; the caller plays the other program.
std::unique_ptr<TDbfFile> OpenHere(const std::string& path, TPagedFileMode mode) {
  auto table = std::make_unique<TDbfFile>();
  table->SetFileName(path);
  table->SetMode(mode);
  table->Open();
  return table;
}

struct TAppended {
  char tag;
  int seq;
  int64_t recNo;
};

// Reads every record of a table written by appenders and checks each one is
// whole; returns them in record order.
std::vector<TAppended> ReadTagged(const std::string& path, const TTableImage& image) {
  const std::vector<uint8_t> bytes = test::ReadFile(path);
  const int hl = image.HeaderLength();
  const int rl = image.RecordLength();
  const uint32_t count = GetLE32(bytes.data() + 4);
  EXPECT_EQ(bytes.size(), size_t(hl) + size_t(count) * rl + 1) << "records past the header count";
  EXPECT_EQ(bytes.back(), 0x1A) << "end-of-file byte after the last record";
  const int tagAt = FieldOffset(image, "TAG");
  const int seqAt = FieldOffset(image, "SEQ");
  const int padAt = FieldOffset(image, "PAD");
  std::vector<TAppended> out;
  for (uint32_t n = 1; n <= count && size_t(hl) + size_t(n) * rl <= bytes.size(); ++n) {
    const char* rec = reinterpret_cast<const char*>(bytes.data()) + hl + size_t(n - 1) * rl;
    const char tag = rec[tagAt];
    const int seq = std::atoi(std::string(rec + seqAt, 6).c_str());
    SCOPED_TRACE("record " + std::to_string(n));
    EXPECT_EQ(rec[0], ' ') << "deletion flag";
    EXPECT_EQ(std::string(rec + padAt, stress::kPadLength), stress::Pad(tag, seq));
    out.push_back({tag, seq, n});
  }
  return out;
}

void ExpectEachWriterComplete(const std::vector<TAppended>& records, const std::string& tags, int perWriter) {
  std::map<char, std::vector<TAppended>> byTag;
  for (const TAppended& r : records) byTag[r.tag].push_back(r);
  for (char tag : tags) {
    SCOPED_TRACE(std::string("writer ") + tag);
    const std::vector<TAppended>& mine = byTag[tag];
    ASSERT_EQ(mine.size(), size_t(perWriter));
    // One writer appends one record after another, so its own records keep
    // their order, and each of its sequence numbers appears exactly once.
    for (int i = 0; i < perWriter; ++i) EXPECT_EQ(mine[i].seq, i + 1);
  }
}

std::vector<std::string> Args(const std::string& table, const std::string& mode, std::vector<std::string> rest) {
  std::vector<std::string> args{table, mode};
  args.insert(args.end(), rest.begin(), rest.end());
  return args;
}

// Starts one appender per tag, lets them go at once and waits for all. The
// tags listed in `reopening` open the table afresh for every record.
void RunAppenders(const std::string& path, const std::string& tags, int perWriter, const std::string& reopening = "") {
  std::vector<std::unique_ptr<TWorkerProcess>> workers;
  for (char tag : tags) {
    const std::string job = reopening.find(tag) == std::string::npos ? "append" : "reopen";
    workers.push_back(Start(Args(path, "shared", {job, std::string(1, tag), std::to_string(perWriter)})));
  }
  for (auto& w : workers) ASSERT_EQ(w->ReadLine(), "ready");
  for (auto& w : workers) w->Send("go");
  for (auto& w : workers) EXPECT_EQ(w->ReadLine(), "done");
  for (auto& w : workers) EXPECT_EQ(w->Wait(), 0);
}

class MultiProcessTest : public ::testing::Test {
 protected:
  TTempDir dir_;
  std::string path_ = dir_.File("shared.dbf");
};

struct TAppendCase {
  std::string tags;
  int perWriter;
};

void PrintTo(const TAppendCase& c, std::ostream* os) { *os << c.tags.size() << " writers x " << c.perWriter; }

class ConcurrentAppendTest : public MultiProcessTest, public ::testing::WithParamInterface<TAppendCase> {};

TEST_P(ConcurrentAppendTest, EveryRecordLandsWholeUnderItsOwnNumber) {
  const TAppendCase& c = GetParam();
  TTableImage image = TaggedTable();
  for (int seq = 1; seq <= 3; ++seq)
    image.records.push_back(image.Record({"X", std::to_string(seq), stress::Pad('X', seq)}));
  test::WriteFile(path_, image.Bytes());

  RunAppenders(path_, c.tags, c.perWriter);

  const int total = 3 + int(c.tags.size()) * c.perWriter;
  const std::vector<uint8_t> bytes = test::ReadFile(path_);
  EXPECT_EQ(GetLE32(bytes.data() + 4), uint32_t(total)) << "header record count";
  const std::vector<TAppended> records = ReadTagged(path_, image);
  ASSERT_EQ(records.size(), size_t(total));
  for (int seq = 1; seq <= 3; ++seq) {
    EXPECT_EQ(records[seq - 1].tag, 'X');
    EXPECT_EQ(records[seq - 1].seq, seq);
  }
  ExpectEachWriterComplete(records, c.tags, c.perWriter);

  auto table = OpenHere(path_, amReadOnly);
  EXPECT_EQ(table->HeaderRecordCount(), uint32_t(total)) << "the header needed no correction";
}

INSTANTIATE_TEST_SUITE_P(Writers, ConcurrentAppendTest,
                         ::testing::Values(TAppendCase{"AB", 1000}, TAppendCase{"ABC", 300}),
                         [](const auto& info) { return std::to_string(info.param.tags.size()) + "Writers"; });

// A program's first change sets the count from the file's size, which may
// already hold a record that finished ahead of a slower appender's: that
// appender must not count its record a second time.
TEST_F(MultiProcessTest, CountStaysExactWhenProgramsJoinWhileOthersAppend) {
  TTableImage image = TaggedTable();
  test::WriteFile(path_, image.Bytes());
  constexpr int kPerWriter = 150;
  RunAppenders(path_, "ABCD", kPerWriter, "CD");

  const std::vector<uint8_t> bytes = test::ReadFile(path_);
  EXPECT_EQ(GetLE32(bytes.data() + 4), uint32_t(4 * kPerWriter)) << "header record count";
  const std::vector<TAppended> records = ReadTagged(path_, image);
  ASSERT_EQ(records.size(), size_t(4 * kPerWriter));
  ExpectEachWriterComplete(records, "ABCD", kPerWriter);
}

TEST_F(MultiProcessTest, AutoIncrementValuesStayDistinctAcrossAppenders) {
  TTableImage image = TaggedTable(0x04);
  std::vector<uint8_t> bytes = image.Bytes();
  constexpr uint32_t kFirst = 100;
  PutLE32(bytes.data() + 68 + 42, kFirst);  // next value of the first field
  test::WriteFile(path_, bytes);

  constexpr int kPerWriter = 600;
  RunAppenders(path_, "AB", kPerWriter);

  const std::vector<TAppended> records = ReadTagged(path_, image);
  ASSERT_EQ(records.size(), size_t(2 * kPerWriter));
  ExpectEachWriterComplete(records, "AB", kPerWriter);

  const std::vector<uint8_t> after = test::ReadFile(path_);
  const int hl = image.HeaderLength();
  const int rl = image.RecordLength();
  const int idAt = FieldOffset(image, "ID");
  std::set<uint32_t> seen;
  std::map<char, uint32_t> lastOf;
  for (const TAppended& r : records) {
    const uint8_t* rec = after.data() + hl + size_t(r.recNo - 1) * rl;
    // dBASE 7 integers: big-endian with the sign bit flipped.
    const uint32_t id = GetBE32(rec + idAt) ^ 0x80000000u;
    EXPECT_TRUE(seen.insert(id).second) << "value " << id << " given twice";
    EXPECT_GE(id, kFirst);
    EXPECT_LT(id, kFirst + 2 * kPerWriter) << "values skipped";
    EXPECT_GT(id, lastOf[r.tag]) << "writer " << r.tag << " got a smaller value later";
    lastOf[r.tag] = id;
  }
  EXPECT_EQ(GetLE32(after.data() + 68 + 42), kFirst + 2 * kPerWriter) << "next value in the descriptor";
}

TEST_F(MultiProcessTest, RecordLockedWhileAnotherProcessHoldsIt) {
  TTableImage image = TaggedTable();
  for (int seq = 1; seq <= 3; ++seq)
    image.records.push_back(image.Record({"X", std::to_string(seq), stress::Pad('X', seq)}));
  test::WriteFile(path_, image.Bytes());

  auto worker = Start(Args(path_, "shared", {"lock", "2"}));
  ASSERT_EQ(worker->ReadLine(), "locked");
  EXPECT_EQ(test::ProbeLock(path_, 0xEFFFFFFEu - 2), test::TProbe::kWriteLocked);

  auto table = OpenHere(path_, amSharedOpen);
  std::vector<uint8_t> rec(static_cast<size_t>(table->RecordLength()));
  try {
    table->LockAndReadRecord(2, rec.data());
    ADD_FAILURE() << "locked a record another process holds";
  } catch (const EDbfError& e) {
    EXPECT_STREQ(e.what(), "Record locked.");
  }
  // The neighbours and appending are not held up.
  EXPECT_NO_THROW(table->LockAndReadRecord(3, rec.data()));
  EXPECT_EQ(std::string(rec.begin() + 8, rec.end()), stress::Pad('X', 3));
  table->WriteBackRecord(3, rec.data());
  table->BlankRecord(rec.data());
  stress::FillRecord(*table, 'P', 1, rec.data());
  EXPECT_EQ(table->AppendRecord(rec.data()), 4);

  worker->Send("go");
  EXPECT_EQ(worker->ReadLine(), "released");
  EXPECT_EQ(worker->Wait(), 0);
  EXPECT_NO_THROW(table->LockAndReadRecord(2, rec.data()));
  EXPECT_EQ(std::string(rec.begin() + 8, rec.end()), stress::Pad('X', 2));
  table->WriteBackRecord(2, rec.data());
}

TEST_F(MultiProcessTest, ShareModesBetweenProcesses) {
  TTableImage image = TaggedTable();
  image.records.push_back(image.Record({"X", "1", stress::Pad('X', 1)}));
  test::WriteFile(path_, image.Bytes());

  {
    SCOPED_TRACE("other process has it open read-write");
    auto worker = Start(Args(path_, "shared", {"hold"}));
    ASSERT_EQ(worker->ReadLine(), "open");
    TDbfFile exclusive;
    exclusive.SetFileName(path_);
    exclusive.SetMode(amExclusiveOpen);
    EXPECT_THROW(exclusive.Open(), Exception);
    EXPECT_FALSE(exclusive.IsOpen());
    EXPECT_EQ(exclusive.Mode(), amExclusiveOpen);
    EXPECT_NO_THROW(OpenHere(path_, amSharedOpen));
    EXPECT_NO_THROW(OpenHere(path_, amReadOnly));
    worker->Send("go");
    EXPECT_EQ(worker->Wait(), 0);
    EXPECT_NO_THROW(exclusive.Open()) << "free again once the other program closed it";
  }
  {
    SCOPED_TRACE("other process has it open read-only");
    auto worker = Start(Args(path_, "readonly", {"hold"}));
    ASSERT_EQ(worker->ReadLine(), "open");
    auto exclusive = OpenHere(path_, amExclusiveOpen);
    EXPECT_TRUE(exclusive->IsOpen());
    auto writer = Start(Args(path_, "shared", {"hold"}));
    EXPECT_EQ(writer->ReadLine().rfind("error ", 0), 0u) << "a read-write open got past an exclusive one";
    EXPECT_EQ(writer->Wait(), 1);
    worker->Send("go");
    EXPECT_EQ(worker->Wait(), 0);
  }
  {
    SCOPED_TRACE("other process has it open exclusively");
    auto worker = Start(Args(path_, "exclusive", {"hold"}));
    ASSERT_EQ(worker->ReadLine(), "open");
    auto reader = OpenHere(path_, amReadOnly);
    std::vector<uint8_t> rec(static_cast<size_t>(reader->RecordLength()));
    EXPECT_EQ(reader->ReadPage(1, rec.data()), reader->RecordLength());
    EXPECT_EQ(rec[1], 'X');
    EXPECT_THROW(OpenHere(path_, amSharedOpen), Exception);
    EXPECT_THROW(OpenHere(path_, amExclusiveOpen), Exception);
    worker->Send("go");
    EXPECT_EQ(worker->Wait(), 0);
  }
}

TEST_F(MultiProcessTest, ExclusiveUpgradeWaitsForOtherProcessesToLeave) {
  TTableImage image = TaggedTable();
  image.records.push_back(image.Record({"X", "1", stress::Pad('X', 1)}));
  test::WriteFile(path_, image.Bytes());

  auto worker = Start(Args(path_, "shared", {"hold"}));
  ASSERT_EQ(worker->ReadLine(), "open");
  auto table = OpenHere(path_, amSharedOpen);
  EXPECT_NO_THROW(table->AcquireExclusive());
  EXPECT_TRUE(table->IsOpen());
  EXPECT_EQ(table->Mode(), amSharedOpen);
  EXPECT_FALSE(table->ExclusiveUpgraded());
  EXPECT_THROW(table->RequireExclusive(), EDbfError);
  // Still usable as a shared table.
  std::vector<uint8_t> rec(static_cast<size_t>(table->RecordLength()));
  table->BlankRecord(rec.data());
  stress::FillRecord(*table, 'S', 2, rec.data());
  EXPECT_EQ(table->AppendRecord(rec.data()), 2);

  worker->Send("go");
  EXPECT_EQ(worker->Wait(), 0);
  table->AcquireExclusive();
  EXPECT_EQ(table->Mode(), amExclusiveOpen);
  EXPECT_NO_THROW(table->RequireExclusive());
  auto latecomer = Start(Args(path_, "shared", {"hold"}));
  EXPECT_EQ(latecomer->ReadLine().rfind("error ", 0), 0u);
  EXPECT_EQ(latecomer->Wait(), 1);
  table->ReleaseExclusive();
  EXPECT_EQ(table->Mode(), amSharedOpen);
  auto again = Start(Args(path_, "shared", {"hold"}));
  EXPECT_EQ(again->ReadLine(), "open");
  again->Send("go");
  EXPECT_EQ(again->Wait(), 0);

  // A reader elsewhere does not stand in the way.
  auto reader = Start(Args(path_, "readonly", {"hold"}));
  ASSERT_EQ(reader->ReadLine(), "open");
  table->AcquireExclusive();
  EXPECT_EQ(table->Mode(), amExclusiveOpen);
  table->ReleaseExclusive();
  reader->Send("go");
  EXPECT_EQ(reader->Wait(), 0);
}

// The lock field as another program finds it on disk.
struct TStampCase {
  int fieldLength;
  std::string computerName;  // given to the worker
  std::string expectedUser;  // what lands in the field, space-padded
};

void PrintTo(const TStampCase& c, std::ostream* os) {
  *os << "_DBASELOCK(" << c.fieldLength << ") by " << c.computerName;
}

class LockFieldStampTest : public MultiProcessTest, public ::testing::WithParamInterface<TStampCase> {};

using TStampTime = std::tuple<int, int, int, int, int, int>;

TStampTime Now() {
  const TLocalTime t = LocalNow();
  return {t.year, t.month, t.day, t.hour, t.minute, t.second};
}

TEST_P(LockFieldStampTest, StampedOnLockAndOnAppend) {
  const TStampCase& c = GetParam();
  TTableImage image;
  image.fields = {{"TAG", 'C', 1}, {"_DBASELOCK", 'C', c.fieldLength}};
  std::string rec1 = image.Record({"X"});
  std::string rec2 = image.Record({"Y"});
  rec1[2] = '\xFF';  // counter 0xFFFF wraps to 0
  rec1[3] = '\xFF';
  rec2[2] = 0x02;  // counter 0x0102
  rec2[3] = 0x01;
  image.records = {rec1, rec2};
  test::WriteFile(path_, image.Bytes());
  const int hl = image.HeaderLength();
  const int rl = image.RecordLength();
  const std::string user = c.expectedUser + std::string(size_t(c.fieldLength - 8) - c.expectedUser.size(), ' ');

  auto stampOf = [&](int64_t recNo) {
    const std::vector<uint8_t> bytes = test::ReadFile(path_);
    return std::vector<uint8_t>(bytes.begin() + hl + (recNo - 1) * rl + 2, bytes.begin() + hl + recNo * rl);
  };
  auto expectStamp = [&](const std::vector<uint8_t>& s, uint16_t counter, const TStampTime& from,
                         const TStampTime& to) {
    EXPECT_EQ(GetLE16(s.data()), counter);
    const TStampTime at{s[5] + 1900, s[6], s[7], s[2], s[3], s[4]};
    EXPECT_LE(from, at);
    EXPECT_LE(at, to);
    EXPECT_EQ(std::string(s.begin() + 8, s.end()), user);
  };

  for (int64_t recNo : {1, 2}) {
    SCOPED_TRACE("record " + std::to_string(recNo));
    const TStampTime before = Now();
    auto worker = Start({"--computer-name", c.computerName, path_, "shared", "lock", std::to_string(recNo)});
    ASSERT_EQ(worker->ReadLine(), "locked");
    const TStampTime after = Now();
    const uint16_t counter = recNo == 1 ? 0x0000 : 0x0103;
    // Written at once, while the lock is still held, for others to read.
    expectStamp(stampOf(recNo), counter, before, after);
    worker->Send("go");
    EXPECT_EQ(worker->ReadLine(), "released");
    EXPECT_EQ(worker->Wait(), 0);
    expectStamp(stampOf(recNo), counter, before, after);
  }

  const TStampTime before = Now();
  auto appender = Start({"--computer-name", c.computerName, path_, "shared", "append", "A", "2"});
  ASSERT_EQ(appender->ReadLine(), "ready");
  appender->Send("go");
  EXPECT_EQ(appender->ReadLine(), "done");
  EXPECT_EQ(appender->Wait(), 0);
  const TStampTime after = Now();
  // A blank record holds spaces where the counter goes.
  const uint16_t blankCounter = GetLE16(reinterpret_cast<const uint8_t*>("  "));
  for (int64_t recNo : {3, 4}) {
    SCOPED_TRACE("appended record " + std::to_string(recNo));
    expectStamp(stampOf(recNo), uint16_t(blankCounter + 1), before, after);
  }
  EXPECT_EQ(GetLE32(test::ReadFile(path_).data() + 4), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, LockFieldStampTest,
    ::testing::Values(TStampCase{24, "NODE7", "NODE7"},
                      // The name is cut to 16 characters, then to the field's room.
                      TStampCase{16, "WORKSTATION-0042-LONG", "WORKSTAT"},
                      TStampCase{40, "WORKSTATION-0042-LONG", "WORKSTATION-0042"}),
    [](const auto& info) { return "Length" + std::to_string(info.param.fieldLength); });

}  // namespace
}  // namespace norvale
