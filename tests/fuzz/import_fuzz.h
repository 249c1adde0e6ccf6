// One fuzz input: bytes read as an import source (a CSV file in a few
// dialects, and an XLSX workbook) and checked against a table's fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norvale::fuzz {

// `table` is a readable table whose fields the rows are converted to; the
// bytes are written into `dir`. Returns normally for a readable source and
// for one refused with a message; a crash, a sanitizer report, a hang or
// another kind of exception is a fault.
void FuzzImport(const std::string& table, const std::string& dir, const uint8_t* data, size_t size);

}  // namespace norvale::fuzz
