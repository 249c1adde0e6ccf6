// Generated tables as an independent reader (dbfread) sees them: the values
// the writer meant, and for the sample table exactly what the engine reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/table_writer.h"
#include "engine/date_time.h"
#include "engine/table_file.h"
#include "platform/text_codec.h"
#include "tests/support/test_support.h"

namespace norvale {
namespace {

using nlohmann::json;

bool HaveDbfread() { return std::system("/usr/bin/python3 -c 'import dbfread' >/dev/null 2>&1") == 0; }

json ReadWithDbfread(const std::string& path) {
  const std::string command =
      "/usr/bin/python3 '" + test::SourceDir() + "/tests/generators/dbfread_dump.py' '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  if (pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
  return json::parse(out);
}

TEST(GeneratorsInterop, WriterTableReadsInDbfreadAsMeant) {
  if (!HaveDbfread()) GTEST_SKIP() << "python3-dbfread is not installed";
  test::TTempDir dir;
  const std::string path = dir.File("t.dbf");
  {
    gen::TTableWriter w(path, {{"NAME", 'C', 12}, {"QTY", 'N', 6}, {"PRICE", 'N', 9, 2}, {"WHEN", 'D', 8},
                               {"OK", 'L', 1}});
    w.BeginRecord();
    w.SetText(0, gen::Cp1252FromUtf8("Peña, \"Zoë\""));
    w.SetInteger(1, -123);
    w.SetScaled(2, 100001);
    w.SetDate(3, 1999, 12, 31);
    w.SetLogical(4, true);
    w.EndRecord();
    w.BeginRecord(true);
    w.SetText(0, "gone");
    w.SetScaled(2, -7);
    w.SetLogical(4, false);
    w.EndRecord();
    w.BeginRecord();
    w.EndRecord();
    w.Finish();
  }
  const json got = ReadWithDbfread(path);
  EXPECT_EQ(got["fields"], json::parse(R"([["NAME","C",12,0],["QTY","N",6,0],["PRICE","N",9,2],
                                           ["WHEN","D",8,0],["OK","L",1,0]])"));
  EXPECT_EQ(got["records"], json::parse(R"([["Peña, \"Zoë\"", -123, 1000.01, "1999-12-31", true],
                                            ["", null, null, null, null]])"));
  EXPECT_EQ(got["deleted"], json::parse(R"([["gone", null, -0.07, null, false]])"));
}

// The value the engine reads, in the form dbfread gives it.
json EngineValue(const TDbfFile& t, const TDbfFieldDef& f, const uint8_t* record, const TCodePageDecoder& text) {
  switch (f.NativeFieldType()) {
    case 'C': {
      std::vector<char> bytes(static_cast<size_t>(f.Size()) + 1);
      t.DecodeField(f, ftString, false, bytes.data(), record);  // no value leaves ""
      std::string utf8;
      text.AppendUtf8(utf8, bytes.data(), std::strlen(bytes.data()));
      return utf8;
    }
    case 'N': {
      double v = 0;
      return t.DecodeField(f, ftFloat, false, &v, record) ? json(v) : json();
    }
    case 'D': {
      int32_t day = 0;
      if (!t.DecodeField(f, ftDate, true, &day, record)) return json();
      int y, m, d;
      DateFromDayNumber(day, &y, &m, &d);
      char iso[16];
      std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", y, m, d);
      return iso;
    }
    case 'L': {
      int16_t b = 0;
      return t.DecodeField(f, ftBoolean, false, &b, record) ? json(b != 0) : json();
    }
    default: return "unexpected type";
  }
}

TEST(GeneratorsInterop, SampleTableReadsTheSameInDbfreadAndTheEngine) {
  if (!HaveDbfread()) GTEST_SKIP() << "python3-dbfread is not installed";
  const std::string path = test::SourceDir() + "/samples/customers.dbf";
  const json got = ReadWithDbfread(path);

  TDbfFile t;
  t.SetFileName(path);
  t.SetMode(amReadOnly);
  t.Open();
  const TCodePageDecoder text(t.UseCodePage());
  json live = json::array(), deleted = json::array();
  std::vector<uint8_t> r(static_cast<size_t>(t.RecordLength()));
  for (uint32_t n = 1; n <= t.RecordCount(); ++n) {
    ASSERT_EQ(t.ReadPage(n, r.data()), t.RecordLength());
    json values = json::array();
    for (int i = 0; i < t.FieldDefs().Count(); ++i) values.push_back(EngineValue(t, t.FieldDefs().Item(i), r.data(), text));
    (r[0] == '*' ? deleted : live).push_back(values);
  }
  ASSERT_EQ(got["records"].size(), live.size());
  ASSERT_EQ(got["deleted"].size(), deleted.size());
  // Numbers compare by value: dbfread gives 250 where the engine gives 250.0.
  auto same = [](const json& a, const json& b) {
    return a.is_number() && b.is_number() ? a.get<double>() == b.get<double>() : a == b;
  };
  for (size_t i = 0; i < live.size(); ++i)
    for (size_t k = 0; k < live[i].size(); ++k)
      ASSERT_TRUE(same(got["records"][i][k], live[i][k]))
          << "live record " << i + 1 << " field " << k << ": dbfread " << got["records"][i][k] << ", engine "
          << live[i][k];
  for (size_t i = 0; i < deleted.size(); ++i)
    for (size_t k = 0; k < deleted[i].size(); ++k)
      ASSERT_TRUE(same(got["deleted"][i][k], deleted[i][k])) << "deleted record " << i + 1 << " field " << k;
}

}  // namespace
}  // namespace norvale
