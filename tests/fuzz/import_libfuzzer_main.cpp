// Entry point for coverage-guided runs of the import sources with clang's
// libFuzzer (-DNORVALE_LIBFUZZER=ON); the CTest run uses the deterministic
// driver.
#include <string>

#include "tests/fuzz/import_fuzz.h"
#include "tests/support/test_support.h"

namespace {

// The table the rows are checked against, made once for the whole run.
struct TScratch {
  norvale::test::TTempDir dir;
  std::string table = dir.File("target.dbf");
  TScratch() {
    norvale::test::TTableImage t;
    t.fields = {{"NAME", 'C', 10}, {"AGE", 'N', 3}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
    t.records.push_back(t.Record({"ann", " 30", "19900101", "T"}));
    norvale::test::WriteFile(table, t.Bytes());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static TScratch scratch;
  norvale::fuzz::FuzzImport(scratch.table, scratch.dir.Path(), data, size);
  return 0;
}
