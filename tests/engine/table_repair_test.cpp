// The inspector against damage made by hand: each kind is found, fixed only
// where the file's own bytes settle it, and a repair changes nothing but
// header fields and the end-of-file byte, after backing the header up.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/stream.h"
#include "engine/table_repair.h"
#include "platform/os_file.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using test::ReadFile;
using test::TTableImage;
using test::TTempDir;
using test::WriteFile;
using Bytes = std::vector<uint8_t>;
using D = TDamage;

TTableInspection Inspect(const Bytes& bytes, const TTableCompanions& companions = {}) {
  TMemoryStream stream;
  if (!bytes.empty()) stream.WriteAt(0, bytes.data(), bytes.size());
  return InspectTable(stream, companions);
}

std::vector<D> Damages(const TTableInspection& inspection) {
  std::vector<D> found;
  for (const TTableFinding& f : inspection.findings) found.push_back(f.damage);
  return found;
}

const TTableFinding& Only(const TTableInspection& inspection) {
  static const TTableFinding none{D::kHeaderUnreadable, "(no finding)", false, ""};
  EXPECT_EQ(inspection.findings.size(), 1u);
  return inspection.findings.empty() ? none : inspection.findings[0];
}

// The table as a repair leaves it.
Bytes Repaired(Bytes bytes, const TTableInspection& inspection) {
  std::copy(inspection.repairedHeader.begin(), inspection.repairedHeader.end(), bytes.begin());
  if (inspection.appendEndOfFile) bytes.push_back(fmt::kEndOfFile);
  return bytes;
}

// A right-aligned number first: the byte after each deletion flag is a
// blank too, so a header length one too high still finds "flags".
TTableImage Numbers(uint8_t version = 0x03) {
  TTableImage t;
  t.versionByte = version;
  t.fields = {{"QTY", 'N', 5}, {"NAME", 'C', 8}};
  t.records = {t.Record({"    1", "one"}), t.Record({"    2", "two"}, true), t.Record({"    3", "three"})};
  return t;
}

void SetHeaderLength(Bytes& b, int v) { PutLE16(b.data() + fmt::kHeaderLength, static_cast<uint16_t>(v)); }

TEST(TableInspection, SoundTablesOfEveryFamilyShowNothing) {
  for (const uint8_t version : {0x03, 0x8B, 0xF5, 0x30, 0x31, 0x32, 0x04, 0x8C}) {
    SCOPED_TRACE(static_cast<int>(version));
    EXPECT_EQ(Damages(Inspect(Numbers(version).Bytes())), std::vector<D>{});
    TTableImage empty = Numbers(version);
    empty.records.clear();
    EXPECT_EQ(Damages(Inspect(empty.Bytes())), std::vector<D>{});
  }
  // Zero bytes after the terminator are a writer's padding, not damage.
  TTableImage t = Numbers();
  Bytes padded = t.Bytes();
  padded.insert(padded.begin() + t.HeaderLength(), 3, 0);
  SetHeaderLength(padded, t.HeaderLength() + 3);
  EXPECT_EQ(Damages(Inspect(padded)), std::vector<D>{});
  // A text field of Clipper's width, its length's high byte in the decimals byte.
  TTableImage wide;
  wide.fields = {{"TEXT", 'C', 300}};
  wide.records = {wide.Record({"long"})};
  EXPECT_EQ(Damages(Inspect(wide.Bytes())), std::vector<D>{});
}

TEST(TableInspection, RecordCountBecomesWhatTheFileHolds) {
  TTableImage t = Numbers();
  for (const int64_t said : {5, 1, 0}) {
    t.headerCount = said;
    const Bytes bytes = t.Bytes();
    const TTableInspection i = Inspect(bytes);
    const TTableFinding& f = Only(i);
    EXPECT_EQ(f.message, "record count: the header says " + std::to_string(said) + ", the file holds 3 records");
    EXPECT_TRUE(f.fixable);
    EXPECT_EQ(GetLE32(i.repairedHeader.data() + fmt::kRecordCount), 3u);
    EXPECT_EQ(Damages(Inspect(Repaired(bytes, i))), std::vector<D>{});
  }

  // The last record cut short: whole records count, the rest is left alone.
  t.headerCount = -1;
  t.eof = false;
  Bytes cut = t.Bytes();
  cut.resize(cut.size() - 4);
  TTableInspection i = Inspect(cut);
  ASSERT_EQ(Damages(i), (std::vector<D>{D::kRecordCount, D::kTrailingBytes}));
  EXPECT_EQ(i.findings[0].message, "record count: the header says 3, the file holds 2 records");
  EXPECT_TRUE(i.findings[0].fixable);
  EXPECT_EQ(i.findings[1].message, "trailing bytes: 10 bytes after the last record are not a whole record");
  EXPECT_FALSE(i.findings[1].fixable);
  EXPECT_FALSE(i.appendEndOfFile) << "no end byte after a partial record";

  // Whole "records" past the count that do not begin like records are not counted in.
  t.headerCount = 2;
  Bytes stale = t.Bytes();
  stale[static_cast<size_t>(t.HeaderLength() + 2 * t.RecordLength())] = fmt::kEndOfFile;
  i = Inspect(stale);
  EXPECT_FALSE(Only(i).fixable);
  EXPECT_NE(Only(i).reason.find("record 3 does not begin with a deletion flag"), std::string::npos) << Only(i).reason;
  EXPECT_FALSE(i.HeaderChanged());
}

TEST(TableInspection, EndOfFileByteAppendedOnlyAtARecordBoundary) {
  TTableImage t = Numbers();
  t.eof = false;
  TTableInspection i = Inspect(t.Bytes());
  EXPECT_EQ(Only(i).message, "end-of-file byte: the 0x1A after the last record is missing");
  EXPECT_TRUE(i.appendEndOfFile);
  EXPECT_FALSE(i.HeaderChanged());
  t.records.clear();
  EXPECT_EQ(Only(Inspect(t.Bytes())).message, "end-of-file byte: the 0x1A after the header is missing");

  t = Numbers();
  Bytes more = t.Bytes();
  more.insert(more.end(), {'x', 'y'});
  i = Inspect(more);
  EXPECT_EQ(Only(i).message, "trailing bytes: 2 bytes follow the end-of-file byte");
  EXPECT_FALSE(Only(i).fixable);
  t.eof = false;
  more = t.Bytes();
  more.push_back(0);
  i = Inspect(more);
  EXPECT_EQ(Only(i).message,
            "trailing bytes: 1 byte after the last record is not a whole record and not the end-of-file byte 0x1A");
  EXPECT_FALSE(i.appendEndOfFile);
}

TEST(TableInspection, HeaderLengthOffByOneIsSettledByTheRecords) {
  // dBASE III, Visual FoxPro with its backlink, FoxPro 2 padded with zeros.
  for (const uint8_t version : {0x03, 0x30, 0xF5})
    for (const int delta : {-1, 1})
      for (const bool eof : {true, false}) {
        SCOPED_TRACE(std::to_string(version) + " " + std::to_string(delta) + (eof ? " eof" : ""));
        TTableImage t = Numbers(version);
        t.eof = eof;
        Bytes bytes = t.Bytes();
        SetHeaderLength(bytes, t.HeaderLength() + delta);
        const TTableInspection i = Inspect(bytes);
        ASSERT_FALSE(i.findings.empty());
        EXPECT_EQ(i.findings[0].damage, D::kHeaderLength);
        EXPECT_TRUE(i.findings[0].fixable) << i.findings[0].reason;
        EXPECT_EQ(i.findings.size(), eof ? 1u : 2u);
        t.eof = true;
        EXPECT_EQ(Repaired(bytes, i), t.Bytes());
      }
  TTableImage t = Numbers();
  Bytes bytes = t.Bytes();
  SetHeaderLength(bytes, t.HeaderLength() + 1);
  EXPECT_EQ(Inspect(bytes).findings[0].message, "header length: the header says 98, the field descriptors end at 97");
  bytes = Numbers(0x30).Bytes();
  SetHeaderLength(bytes, Numbers(0x30).HeaderLength() - 1);
  EXPECT_EQ(Inspect(bytes).findings[0].message,
            "header length: the header says 359, the field descriptors and the 263-byte backlink end at 360");
}

TEST(TableInspection, HeaderLengthLeftAloneWithoutEvidence) {
  // The count wrong as well: no place fits the file, so nothing is fixed
  // and nothing that depends on where records start is said.
  TTableImage t = Numbers();
  t.headerCount = 7;
  Bytes bytes = t.Bytes();
  SetHeaderLength(bytes, t.HeaderLength() + 1);
  TTableInspection i = Inspect(bytes);
  EXPECT_EQ(Only(i).damage, D::kHeaderLength);
  EXPECT_FALSE(Only(i).fixable);
  EXPECT_FALSE(i.HeaderChanged());

  // Visual FoxPro without the backlink, records right after the terminator:
  // the header is right about the records; the missing bytes cannot be added.
  t = Numbers(0x30);
  bytes = t.Bytes();
  const int terminator = 32 + 32 * 2;
  bytes.erase(bytes.begin() + terminator + 1, bytes.begin() + t.HeaderLength());
  SetHeaderLength(bytes, terminator + 1);
  i = Inspect(bytes);
  EXPECT_EQ(Only(i).damage, D::kHeaderLength);
  EXPECT_NE(Only(i).reason.find("backlink is short"), std::string::npos);

  // Unknown bytes (not zeros) between the descriptors and the records the
  // header points at: the records are where it says.
  t = Numbers();
  bytes = t.Bytes();
  bytes.insert(bytes.begin() + t.HeaderLength(), {'x', 'y'});
  SetHeaderLength(bytes, t.HeaderLength() + 2);
  EXPECT_EQ(Damages(Inspect(bytes)), std::vector<D>{});
}

TEST(TableInspection, Dbase7HeaderLengthOnlyWhenImpossible) {
  TTableImage t = Numbers(0x04);
  Bytes bytes = t.Bytes();
  // A properties block after the terminator, counted in the header length.
  bytes.insert(bytes.begin() + t.HeaderLength(), {2, 0, 16, 0, 9, 9, 9, 9});
  SetHeaderLength(bytes, t.HeaderLength() + 8);
  EXPECT_EQ(Damages(Inspect(bytes)), std::vector<D>{});
  // A header length that ends inside the descriptors.
  bytes = t.Bytes();
  SetHeaderLength(bytes, t.HeaderLength() - 5);
  const TTableInspection i = Inspect(bytes);
  EXPECT_EQ(Only(i).damage, D::kHeaderLength);
  EXPECT_EQ(Repaired(bytes, i), t.Bytes());
}

TEST(TableInspection, RecordLengthFixedOnlyWhenTheFileAgreesWithTheFields) {
  // A writer that left the deletion flag out of the length.
  TTableImage t = Numbers();
  Bytes bytes = t.Bytes();
  PutLE16(bytes.data() + fmt::kRecordLength, static_cast<uint16_t>(t.RecordLength() - 1));
  TTableInspection i = Inspect(bytes);
  EXPECT_EQ(Only(i).message, "record length: the header says 13, the fields add up to 14 with the deletion flag");
  EXPECT_TRUE(Only(i).fixable);
  EXPECT_EQ(Repaired(bytes, i), t.Bytes());

  // The header's length fits the file and the fields do not: a descriptor
  // is damaged, and which one no repair can know.
  bytes = t.Bytes();
  bytes[fmt::kMainHeaderSize + fmt::kFieldLength] = 4;
  i = Inspect(bytes);
  EXPECT_EQ(Only(i).damage, D::kRecordLength);
  EXPECT_FALSE(Only(i).fixable);
  EXPECT_NE(Only(i).reason.find("descriptor"), std::string::npos);
}

TEST(TableInspection, IndexByteWithoutItsFile) {
  TTableCompanions none;
  none.tableBaseName = "t";
  TTableCompanions mdx = none, cdx = none;
  mdx.mdxPresent = true;
  cdx.cdxPresent = true;

  TTableImage t = Numbers();
  t.mdxFlag = 1;
  TTableInspection i = Inspect(t.Bytes(), none);
  EXPECT_EQ(Only(i).message, "production index: the header names one, and neither t.mdx nor t.cdx is there");
  EXPECT_EQ(i.repairedHeader[fmt::kIndexFlag], 0);
  EXPECT_TRUE(Inspect(t.Bytes(), mdx).findings.empty());
  EXPECT_TRUE(Inspect(t.Bytes(), cdx).findings.empty()) << "version 3 is FoxPro's too";
  t.versionByte = 0x8B;
  EXPECT_EQ(Only(Inspect(t.Bytes(), cdx)).message, "production index: the header names one, and t.mdx is missing");

  // FoxPro keeps its other flags (memo, database) in the same byte.
  t.versionByte = 0x30;
  t.mdxFlag = 0x07;
  i = Inspect(t.Bytes(), none);
  EXPECT_EQ(Only(i).message, "structural index: the header flags one, and t.cdx is missing");
  EXPECT_EQ(i.repairedHeader[fmt::kIndexFlag], 0x06);
  EXPECT_TRUE(Inspect(t.Bytes(), cdx).findings.empty());
}

Bytes MemoImage(int blockSize, int blocks, bool fox) {
  Bytes m(static_cast<size_t>(blockSize * blocks), 0);
  if (fox)
    PutBE16(m.data() + fmt::kFoxMemoBlockSize, static_cast<uint16_t>(blockSize));
  else
    PutLE16(m.data() + fmt::kDbaseMemoBlockSize, static_cast<uint16_t>(blockSize));
  return m;
}

std::string Pointer(uint32_t block) {
  std::string p(4, '\0');
  PutLE32(reinterpret_cast<uint8_t*>(p.data()), block);
  return p;
}

TEST(TableInspection, MemoPointersPastTheEndAreCountedNeverFixed) {
  TMemoryStream memo;
  TTableCompanions c;
  c.tableBaseName = "t";
  const auto withMemo = [&](const Bytes& image, bool fox) {
    memo.Resize(0);
    memo.WriteAt(0, image.data(), image.size());
    c.dbt = fox ? nullptr : &memo;
    c.fpt = fox ? &memo : nullptr;
    c.dbtName = "t.dbt";
    c.fptName = "t.fpt";
    return c;
  };

  // dBASE IV: four blocks of 1024 bytes (eight, if the size were misread as 512).
  TTableImage t;
  t.versionByte = 0x8B;
  t.fields = {{"ID", 'N', 3}, {"NOTE", 'M', 10}};
  t.records = {t.Record({"  1", "         1"}), t.Record({"  2", ""}), t.Record({"  3", "         4"}),
               t.Record({"  4", "         3"}), t.Record({"  5", "0000000009"})};
  TTableInspection i = Inspect(t.Bytes(), withMemo(MemoImage(1024, 4, false), false));
  EXPECT_EQ(Only(i).message,
            "memo pointers: 2 block numbers point past the end of t.dbt (4 blocks of 1024 bytes), in records 3 and 5");
  EXPECT_FALSE(Only(i).fixable);
  EXPECT_FALSE(i.HeaderChanged());

  // dBASE III marks its memo file and has 512-byte blocks, whatever byte 20 holds.
  t.versionByte = 0x83;
  Bytes iii = MemoImage(3, 342, false);
  iii[fmt::kDbaseMemoVersion] = fmt::kDbaseIIIMemoVersion;
  iii.resize(1024);
  EXPECT_EQ(Only(Inspect(t.Bytes(), withMemo(iii, false))).message,
            "memo pointers: 3 block numbers point past the end of t.dbt (2 blocks of 512 bytes), "
            "in records 3, 4 and 5");

  // Visual FoxPro: binary block numbers, the block size big-endian.
  TTableImage fox;
  fox.versionByte = 0x30;
  fox.fields = {{"NOTE", 'M', 4}};
  for (const uint32_t block : {0u, 8u, 10u, 11u, 12u, 13u, 14u, 15u, 16u}) fox.records.push_back(" " + Pointer(block));
  EXPECT_EQ(Only(Inspect(fox.Bytes(), withMemo(MemoImage(64, 10, true), true))).message,
            "memo pointers: 7 block numbers point past the end of t.fpt (10 blocks of 64 bytes), in records 3, 4, 5, "
            "6, 7 and 2 more");

  // No memo file, or one too short to say its block size.
  c = {};
  c.tableBaseName = "t";
  i = Inspect(t.Bytes(), c);
  EXPECT_EQ(Only(i).message, "memo file: the table has memo fields, and t.dbt is missing");
  EXPECT_FALSE(Only(i).fixable);
  EXPECT_EQ(Only(Inspect(t.Bytes(), withMemo(Bytes(10, 0), false))).message,
            "memo file: t.dbt holds 10 bytes, too few for a memo header");
}

TEST(TableInspection, UnreadableHeadersStopTheInspection) {
  EXPECT_EQ(Only(Inspect(Bytes(20, 0x03))).message,
            "header: the file holds 20 bytes, fewer than the 32 of a table header");
  TTableImage t = Numbers();
  t.mdxFlag = 1;  // not reported: past an unreadable header nothing is
  Bytes bytes = t.Bytes();
  bytes[fmt::kVersion] = 0x07;
  EXPECT_EQ(Only(Inspect(bytes)).message, "version byte: 0x07 is not that of a dBASE or FoxPro table");
  const int terminator = t.HeaderLength() - 1;
  bytes = t.Bytes();
  bytes[static_cast<size_t>(terminator)] = 'X';
  TTableInspection i = Inspect(bytes);
  EXPECT_EQ(Only(i).message, "field descriptors: no terminator 0x0D ends them");
  EXPECT_FALSE(i.HasFixable());

  // A writer that left the terminator out and ended the descriptors with
  // the header length: said, and everything else is still checked.
  t.mdxFlag = 0;
  t.headerCount = 5;
  bytes = t.Bytes();
  bytes.erase(bytes.begin() + terminator);
  SetHeaderLength(bytes, terminator);
  i = Inspect(bytes);
  ASSERT_EQ(Damages(i), (std::vector<D>{D::kTerminatorMissing, D::kRecordCount}));
  EXPECT_FALSE(i.findings[0].fixable);
  EXPECT_TRUE(i.findings[1].fixable);
}

// ---- repairs of files ----

TEST(TableRepair, BacksUpTheHeaderThenFixesItLeavingRecordsAlone) {
  TTempDir dir;
  TTableImage t = Numbers();
  t.headerCount = 9;
  t.eof = false;
  t.mdxFlag = 1;
  const Bytes before = t.Bytes();
  const std::string path = dir.File("t.dbf");
  WriteFile(path, before);
  WriteFile(dir.File("t.dbf.header.bak"), {'o', 'l', 'd'});  // someone's file of that name

  const TRepairOutcome r = RepairTableFile(path, TRepairMode::kRepair);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(Damages(r.inspection), (std::vector<D>{D::kRecordCount, D::kEndOfFile, D::kProductionIndex}));
  EXPECT_TRUE(r.headerWritten && r.endOfFileWritten);
  EXPECT_EQ(r.backupPath, dir.File("t.dbf.header.1.bak"));
  EXPECT_EQ(ReadFile(r.backupPath), Bytes(before.begin(), before.begin() + t.HeaderLength()));
  EXPECT_EQ(ReadFile(dir.File("t.dbf.header.bak")), (Bytes{'o', 'l', 'd'}));
  t.headerCount = -1;
  t.eof = true;
  t.mdxFlag = 0;
  EXPECT_EQ(ReadFile(path), t.Bytes());

  const TRepairOutcome again = RepairTableFile(path, TRepairMode::kRepair);
  EXPECT_TRUE(again.inspection.findings.empty());
  EXPECT_TRUE(again.backupPath.empty());
}

TEST(TableRepair, CompanionsAreFoundWhateverTheirCase) {
  TTempDir dir;
  TTableImage t;
  t.versionByte = 0x8B;
  t.mdxFlag = 1;
  t.fields = {{"NOTE", 'M', 10}};
  t.records = {t.Record({"         1"}), t.Record({"         2"})};
  WriteFile(dir.File("t.dbf"), t.Bytes());
  WriteFile(dir.File("T.MDX"), Bytes(1024, 0));
  WriteFile(dir.File("T.DBT"), MemoImage(512, 2, false));
  const TRepairOutcome r = RepairTableFile(dir.File("t.dbf"), TRepairMode::kCheck);
  EXPECT_EQ(Only(r.inspection).message,
            "memo pointers: 1 block number points past the end of T.DBT (2 blocks of 512 bytes), in record 2");
}

// A disk that takes no more bytes than `limit`, in a child process: the
// outcome's error goes to `report`.
void RepairWithFileSizeLimit(const std::string& path, rlim_t limit, const std::string& report) {
  const int status = test::RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit rl{};
    getrlimit(RLIMIT_FSIZE, &rl);
    rl.rlim_cur = limit;
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) throw std::runtime_error("setrlimit");
    const TRepairOutcome r = RepairTableFile(path, TRepairMode::kRepair);
    rl.rlim_cur = RLIM_INFINITY;
    setrlimit(RLIMIT_FSIZE, &rl);
    WriteFile(report, Bytes(r.error.begin(), r.error.end()));
  });
  ASSERT_EQ(status, 0);
}

TEST(TableRepair, AFailedWriteSaysWhyAndWhereTheHeaderIs) {
  TTempDir dir, reports;
  const std::string path = dir.File("t.dbf");
  TTableImage t = Numbers();
  t.headerCount = 4;
  t.eof = false;
  const Bytes damaged = t.Bytes();
  WriteFile(path, damaged);

  // The backup does not fit: nothing is written, no partial backup stays.
  RepairWithFileSizeLimit(path, 16, reports.File("backup"));
  EXPECT_EQ(test::ReadFileText(reports.File("backup")),
            "cannot write the header backup " + path + ".header.bak: File too large");
  EXPECT_EQ(ReadFile(path), damaged);
  EXPECT_FALSE(TOsFile::Exists(path + ".header.bak"));

  // The header fits, the end-of-file byte does not.
  RepairWithFileSizeLimit(path, damaged.size(), reports.File("end"));
  EXPECT_EQ(test::ReadFileText(reports.File("end")),
            "cannot append the end-of-file byte: File too large; the original header is in " + path + ".header.bak");
  EXPECT_EQ(ReadFile(path + ".header.bak"), Bytes(damaged.begin(), damaged.begin() + t.HeaderLength()));
  EXPECT_EQ(GetLE32(ReadFile(path).data() + fmt::kRecordCount), 3u);
}

}  // namespace
}  // namespace norvale
