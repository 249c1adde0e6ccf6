// The committed sample table: it must be what the generator writes (so that
// regenerating it changes nothing unnoticed), and it must show what it is
// there to show.
#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "engine/table_file.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

std::string SamplePath() { return test::SourceDir() + "/samples/customers.dbf"; }

TEST(SampleTable, CommittedFileIsWhatTheGeneratorWrites) {
  test::TTempDir dir;
  const std::string fresh = dir.File("customers.dbf");
  const std::string command = std::string(NORVALE_MAKE_CUSTOMERS) + " '" + fresh + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  std::vector<uint8_t> expected = test::ReadFile(SamplePath());
  std::vector<uint8_t> actual = test::ReadFile(fresh);
  ASSERT_GT(expected.size(), 32u);
  ASSERT_EQ(actual.size(), expected.size());
  // Bytes 1-3 are the last-update date, the day the file was written.
  for (size_t i = 1; i <= 3; ++i) expected[i] = actual[i] = 0;
  size_t firstDifference = 0;
  while (firstDifference < actual.size() && actual[firstDifference] == expected[firstDifference]) ++firstDifference;
  EXPECT_EQ(firstDifference, actual.size()) << "samples/customers.dbf differs from the generator's output at byte "
                                            << firstDifference << "; regenerate it with the make_sample target";
}

TEST(SampleTable, ShowsEveryCommonFieldKindWithBlanksDeletionsAndAccents) {
  TDbfFile t;
  t.SetFileName(SamplePath());
  t.SetMode(amReadOnly);
  t.Open();
  ASSERT_EQ(t.RecordCount(), 1000u);
  EXPECT_EQ(t.UseCodePage(), 1252);
  EXPECT_EQ(t.VersionByte(), 0x03);

  std::set<std::string> kinds;
  for (int i = 0; i < t.FieldDefs().Count(); ++i) {
    const TDbfFieldDef& f = t.FieldDefs().Item(i);
    kinds.insert(std::string(1, f.NativeFieldType()) + (f.Precision() > 0 ? "." : ""));
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"C", "N", "N.", "D", "L"}));

  int deleted = 0, accented = 0, csvQuoting = 0, negative = 0, blankDates = 0, blankLogicals = 0, trues = 0,
      falses = 0;
  std::vector<uint8_t> r(static_cast<size_t>(t.RecordLength()));
  for (uint32_t n = 1; n <= t.RecordCount(); ++n) {
    ASSERT_EQ(t.ReadPage(n, r.data()), t.RecordLength());
    deleted += r[0] == '*';
    for (int i = 0; i < t.FieldDefs().Count(); ++i) {
      const TDbfFieldDef& f = t.FieldDefs().Item(i);
      const uint8_t* p = r.data() + f.Offset();
      switch (f.NativeFieldType()) {
        case 'C': {
          bool high = false, special = false;
          for (int k = 0; k < f.Size(); ++k) {
            high = high || p[k] >= 0x80;
            special = special || p[k] == ',' || p[k] == '"';
          }
          accented += high;
          csvQuoting += special;
          break;
        }
        case 'N': {
          double v = 0;
          if (f.Precision() > 0 && t.DecodeField(f, ftFloat, false, &v, r.data()) && v < 0) ++negative;
          break;
        }
        case 'D': {
          int32_t day = 0;
          if (!t.DecodeField(f, ftDate, true, &day, r.data()))
            ++blankDates;
          else
            EXPECT_GT(day, 0) << "record " << n << " " << f.FieldName() << ": impossible date";
          break;
        }
        case 'L': {
          int16_t b = 0;
          if (!t.DecodeField(f, ftBoolean, false, &b, r.data()))
            ++blankLogicals;
          else
            ++(b ? trues : falses);
          break;
        }
        default: break;
      }
    }
  }
  // About 2% deleted; the other shares are loose bounds on what the
  // generator aims at, wide enough for any seed.
  EXPECT_GE(deleted, 8);
  EXPECT_LE(deleted, 40);
  EXPECT_GT(accented, 50);
  EXPECT_GT(csvQuoting, 10);
  EXPECT_GT(negative, 10);
  EXPECT_GT(blankDates, 50);
  EXPECT_GT(blankLogicals, 5);
  EXPECT_GT(trues, falses);
  EXPECT_GT(falses, 50);
}

}  // namespace
}  // namespace norvale
