// After the first records, evaluating a compiled filter allocates nothing:
// every buffer keeps the size it grew to. Counted by replacing the global
// allocation functions in this test program and ICU's memory functions.
#include <gtest/gtest.h>
#include <unicode/uclean.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "engine/stream.h"
#include "engine/table_file.h"
#include "expr/table_parser.h"
#include "tests/support/test_support.h"

// The replacements below pair malloc with free on purpose; once inlined, GCC
// sees "new" memory reach free and warns.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
}  // namespace

namespace {
void* IcuAlloc(const void*, size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void* IcuRealloc(const void*, void* p, size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  return std::realloc(p, size ? size : 1);
}
void IcuFree(const void*, void* p) { std::free(p); }
// Installed before anything uses ICU.
const UErrorCode icuHooked = [] {
  UErrorCode status = U_ZERO_ERROR;
  u_setMemoryFunctions(nullptr, IcuAlloc, IcuRealloc, IcuFree, &status);
  return status;
}();
}  // namespace

void* operator new(size_t size) {
  if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace norvale {
namespace {

TEST(ExprAllocation, EvaluatingFiltersAllocatesNothingAfterTheFirstRecords) {
  ASSERT_TRUE(U_SUCCESS(icuHooked)) << "ICU's allocations are not counted";
  test::TTableImage image;  // code page 1252
  image.fields = {{"NAME", 'C', 30}, {"AMOUNT", 'N', 12, 2}, {"BORN", 'D', 8}, {"QTY", 'N', 5}, {"OK", 'L', 1}};
  const char* names[] = {"Anderson", "M\xFCller", "anna", "Zo\xEB Lef\xE8vre", "", "Abel Smith"};
  std::vector<std::string> records;
  for (int i = 0; i < 60; ++i) {
    records.push_back(image.Record({names[i % 6], std::to_string(1000 * i) + ".25", i % 7 ? "19650312" : "19991231",
                                    std::to_string(i * 37 - 500), i % 2 ? "T" : "F"}));
  }
  image.records = records;
  const std::vector<uint8_t> bytes = image.Bytes();
  TMemoryStream stream;
  stream.WriteAt(0, bytes.data(), bytes.size());
  TDbfFile table;
  table.SetStream(&stream);
  table.SetMode(amMemoryOpen);
  table.Open();

  const char* filters[] = {
      "NAME = 'A*' AND AMOUNT > 5000 AND DTOS(BORN) >= '19700101'",
      "NAME = '*ll*' OR NAME = '*re' OR NAME < 'b'",
      "STR(AMOUNT, 12, 2) + SUBSTR(NAME, 2, 3) + STR(QTY) > ' ' AND NOT OK",
      "UPPER(SUBSTR(NAME, 1, 3)) = 'AND' OR -QTY * 2 / 3 > AMOUNT - 1.5",
      "LOWER(NAME) = '*ll*' OR UPPER(NAME) > 'ZOE' OR NAME >= 'm'",
      "NAME + NAME + NAME + NAME + NAME > NAME",
  };
  for (bool raw : {false, true}) {
    for (const char* filter : filters) {
      SCOPED_TRACE(filter);
      TDbfParser parser(&table);
      parser.SetRawStrings(raw);
      parser.SetPartialCompare(true);
      parser.ParseExpression(filter);
      // The first pass grows the buffers to the longest values.
      for (const std::string& r : records) parser.EvaluateRecord(reinterpret_cast<const uint8_t*>(r.data()));
      allocations = 0;
      counting = true;
      int accepted = 0;
      for (int pass = 0; pass < 20; ++pass)
        for (const std::string& r : records) accepted += parser.EvaluateRecord(reinterpret_cast<const uint8_t*>(r.data()))[0] != 0;
      counting = false;
      EXPECT_EQ(allocations.load(), 0);
      EXPECT_GT(accepted, 0);
    }
  }
}

}  // namespace
}  // namespace norvale
