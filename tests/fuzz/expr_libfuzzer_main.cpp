// Entry point for coverage-guided runs with clang's libFuzzer
// (-DNORVALE_LIBFUZZER=ON); the CTest run uses the deterministic driver.
#include "tests/fuzz/expr_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  (void)norvale::fuzz::FuzzExpression(data, size);
  return 0;
}
