// One fuzz input: the bytes of an index file, put beside a copy of its
// table, opened, walked tag by tag and appended to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace norvale::fuzz {

// `table` is a readable table file; `indexName` the name the bytes take
// beside its copy in `dir` (".ndx" or ".mdx" decides the kind). Returns
// normally for a readable index and for one the engine refuses; a crash, a
// sanitizer report or another kind of exception is a fault.
void FuzzIndex(const std::string& table, const std::string& dir, const std::string& indexName, const uint8_t* data,
               size_t size);

}  // namespace norvale::fuzz
