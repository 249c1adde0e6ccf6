// Tables the dataset tests build by hand.
#pragma once

#include <string>

#include "tests/support/test_support.h"

namespace norvale::test {

// memo.dbf with NAME C(8), NOTES M, N N(4) and two records without memo
// values, beside an empty memo file: dBASE IV (.dbt, 512-byte blocks) or
// FoxPro (.fpt, 64-byte blocks).
inline void WriteEmptyMemoTable(const TTempDir& dir, bool fox) {
  TTableImage t;
  t.versionByte = fox ? 0xF5 : 0x8B;
  t.fields = {{"NAME", 'C', 8}, {"NOTES", 'M', fox ? 4 : 10}, {"N", 'N', 4}};
  const std::string noBlock = fox ? std::string(4, '\0') : std::string();
  t.records.push_back(t.Record({"first", noBlock, "1"}));
  t.records.push_back(t.Record({"second", noBlock, "2"}));
  WriteFile(dir.File("memo.dbf"), t.Bytes());
  std::vector<uint8_t> memo(512, 0);
  if (fox) {
    memo[3] = 8;  // next free block, big-endian
    memo[7] = 64;  // block size, big-endian
  } else {
    memo[0] = 1;  // next free block, little-endian
    memo[21] = 2;  // block size 512, little-endian at 20
  }
  WriteFile(dir.File(fox ? "memo.fpt" : "memo.dbt"), memo);
}

}  // namespace norvale::test
