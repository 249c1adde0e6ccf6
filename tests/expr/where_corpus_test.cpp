// norvale-cli dump --where over corpus tables: the records it writes must be
// those that a plain computation over what an independent reader saw
// (NAME.expected.json) selects. The computations below are written from the
// meaning of each condition, not with the expression engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "tests/support/test_support.h"

namespace norvale::test {
namespace {

using nlohmann::json;

using TRun = TCommandResult;

std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

TRun RunCli(const std::string& args) { return RunCommand(std::string(NORVALE_CLI) + " " + args); }

// One record as the oracle saw it, by field name (any case).
class TRow {
 public:
  TRow(const json& fields, const json& values) : fields_(fields), values_(values) {}
  const json& Get(const std::string& name) const {
    for (size_t i = 0; i < fields_.size(); ++i) {
      std::string f = fields_[i]["name"];
      if (Upper(f) == Upper(name)) return values_[i];
    }
    throw std::runtime_error("no field " + name);
  }
  std::string Text(const std::string& name) const {
    const json& v = Get(name);
    return v.is_string() ? v.get<std::string>() : std::string();
  }
  double Number(const std::string& name) const {
    const json& v = Get(name);
    return v.is_number() ? v.get<double>() : 0;  // an empty number is 0
  }
  // yyyymmdd; an empty date is day 0, 1899-12-30.
  std::string Dtos(const std::string& name) const {
    const json& v = Get(name);
    if (!v.is_string()) return "18991230";
    std::string s = v.get<std::string>();
    return s.substr(0, 4) + s.substr(5, 2) + s.substr(8, 2);
  }
  bool Logical(const std::string& name) const {
    const json& v = Get(name);
    return v.is_boolean() && v.get<bool>();
  }
  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }

 private:
  const json& fields_;
  const json& values_;
};

struct TCase {
  const char* table;
  const char* where;
  std::function<bool(const TRow&)> expected;
};

bool StartsWith(const std::string& s, const std::string& p) { return s.rfind(p, 0) == 0; }
bool EndsWith(const std::string& s, const std::string& p) {
  return s.size() >= p.size() && s.compare(s.size() - p.size(), p.size(), p) == 0;
}

class WhereCorpus : public ::testing::TestWithParam<int> {};

const std::vector<TCase>& Cases() {
  static const std::vector<TCase> cases = {
      // Wildcards compare without case.
      {"debian/r-cran-foreign/sids", "NAME = 'c*'", [](const TRow& r) { return StartsWith(TRow::Upper(r.Text("NAME")), "C"); }},
      {"debian/r-cran-foreign/sids", "name = '*VILLE' OR name = '*an*'",
       [](const TRow& r) {
         const std::string n = TRow::Upper(r.Text("NAME"));
         return EndsWith(n, "VILLE") || n.find("AN") != std::string::npos;
       }},
      {"debian/r-cran-foreign/sids", "AREA > 0.1 AND NOT BIR74 < 5000 OR SID74 * 2 >= 30",
       [](const TRow& r) {
         return (r.Number("AREA") > 0.1 && !(r.Number("BIR74") < 5000)) || r.Number("SID74") * 2 >= 30;
       }},
      {"debian/r-cran-foreign/sids", "CNTY_ID - 1800 < 40 AND CRESS_ID > -1 AND NAME <> 'Ashe'",
       [](const TRow& r) { return r.Number("CNTY_ID") - 1800 < 40 && r.Text("NAME") != "Ashe"; }},
      {"github/incubus-DBD-XBase/ndx-date", "DTOS(FIELD1) >= '19971015' AND DTOS(FIELD1) < '19971101'",
       [](const TRow& r) { return r.Dtos("FIELD1") >= "19971015" && r.Dtos("FIELD1") < "19971101"; }},
      {"github/incubus-DBD-XBase/ndx-date", "NOT DTOS(FIELD1) > '19971001' OR SUBSTR(DTOS(FIELD1), 5, 2) = '12'",
       [](const TRow& r) { return !(r.Dtos("FIELD1") > "19971001") || r.Dtos("FIELD1").substr(4, 2) == "12"; }},
      {"generated/gdal/gdal_ldid87", "population > 500000 AND DTOS(founded) < '1600' OR name = '*Í*'",
       [](const TRow& r) {
         return (r.Number("population") > 500000 && r.Dtos("founded") < "1600") ||
                r.Text("name").find("í") != std::string::npos;
       }},
      {"generated/gdal/gdal_ldid87", "UPPER(name) = 'Z*' OR area_km2 < 0",
       [](const TRow& r) { return StartsWith(r.Text("name"), "Z") || r.Number("area_km2") < 0; }},
      {"github/luads-php-xbase/dBaseIV", "IS_MAN OR MONEY > 100 AND DTOS(BIRTHDAY) >= '1970'",
       [](const TRow& r) {
         return r.Logical("IS_MAN") || (r.Number("MONEY") > 100 && r.Dtos("BIRTHDAY") >= "1970");
       }},
      {"github/infused-dbf/dbase_30", "CAPTION = '*hay*' OR DTOS(CATDATE) < '19990305'",
       [](const TRow& r) {
         std::string c = TRow::Upper(r.Text("CAPTION"));
         return c.find("HAY") != std::string::npos || r.Dtos("CATDATE") < "19990305";
       }},
  };
  return cases;
}

TEST_P(WhereCorpus, SelectsWhatTheOracleValuesSelect) {
  const TCase& c = Cases()[static_cast<size_t>(GetParam())];
  SCOPED_TRACE(std::string(c.table) + ": " + c.where);
  const std::string base = CorpusDir() + "/" + c.table;
  const json expected = json::parse(ReadFileText(base + ".expected.json"));
  std::vector<int64_t> want;
  for (const json& record : expected["records"]) {
    if (record["deleted"].get<bool>()) continue;
    if (c.expected(TRow(expected["fields"], record["values"]))) want.push_back(record["index"].get<int64_t>() + 1);
  }
  const TRun run = RunCli("dump " + ShellQuote(base + ".dbf") + " --format json --where " + ShellQuote(c.where));
  ASSERT_EQ(run.status, 0) << run.out;
  std::vector<int64_t> got;
  const json actual = json::parse(run.out);
  for (const json& record : actual["records"]) got.push_back(record["recno"].get<int64_t>());
  EXPECT_EQ(got, want);
  // The condition selects some records and leaves out others, so the
  // comparison says something.
  EXPECT_FALSE(want.empty());
  EXPECT_LT(want.size(), expected["records"].size());
}

INSTANTIATE_TEST_SUITE_P(Conditions, WhereCorpus, ::testing::Range(0, 10));

TEST(WhereCli, ABadExpressionIsOneLineAndStatusOne) {
  const std::string table = ShellQuote(CorpusDir() + "/debian/r-cran-foreign/sids.dbf");
  struct TBad {
    const char* where;
    const char* message;
  } bad[] = {
      {"NAME = ", "Filter error: Index based on unknown field \"=\"."},
      {"QTY > 5", "Filter error: Index based on unknown field \"QTY\"."},
      {"(AREA > 1", "Filter error: Unequal brackets"},
      {"AREA > 1e5", "Filter error: '1e5' is not a valid integer value"},
      {"CNTY_ID / (CRESS_ID - CRESS_ID) > 1", "Filter error: Division by zero"},
      // A value that is no condition is refused, not judged by its first byte.
      {"AREA * 2", "Filter error: Filter must be a logical expression."},
      {"NAME", "Filter error: Filter must be a logical expression."},
  };
  for (const TBad& b : bad) {
    SCOPED_TRACE(b.where);
    const TRun run = RunCli("dump " + table + " --where " + ShellQuote(b.where));
    EXPECT_EQ(run.status, 1);
    const std::string line = "norvale-cli: " + CorpusDir() + "/debian/r-cran-foreign/sids.dbf: " + b.message + "\n";
    EXPECT_NE(run.out.find(line), std::string::npos) << run.out;
  }
  // CSV output filters the same way; deleted records are filtered too.
  const TRun csv = RunCli("dump " + table + " --format csv --where " + ShellQuote("NAME = 'Ashe'"));
  EXPECT_EQ(csv.status, 0);
  EXPECT_NE(csv.out.find("Ashe"), std::string::npos);
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 2);
}

}  // namespace
}  // namespace norvale::test
