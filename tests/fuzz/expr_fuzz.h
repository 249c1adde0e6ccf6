// One fuzz input for the expression language: option bits and an
// expression text, compiled with and without a table and evaluated over
// records, some of them with damaged bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvale::fuzz {

enum class TFuzzOutcome { kEvaluated, kRefused };

// Returns when the text compiles and evaluates and when it is refused with
// EParserException, EDbfError or EConvertError; any other outcome (a crash,
// a sanitizer report, another exception) is a fault.
TFuzzOutcome FuzzExpression(const uint8_t* data, size_t size);

}  // namespace norvale::fuzz
