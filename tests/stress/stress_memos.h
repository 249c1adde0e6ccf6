// The memo values the multi-process tests store: who wrote it and its place
// in that writer's sequence decide length and bytes, so a value torn,
// overwritten or shifted by another writer shows.
#pragma once

#include <cstdint>
#include <string>

namespace norvale::stress {

inline std::string MemoFor(char tag, int seq) {
  // From one byte to several blocks, so that values cross block ends.
  const size_t length = 1 + size_t(seq * 389 + tag * 97) % 3000;
  std::string value(length, ' ');
  for (size_t i = 0; i < length; ++i) value[i] = static_cast<char>('a' + (seq * 11 + i * 5 + tag) % 26);
  value[0] = tag;
  return value;
}

}  // namespace norvale::stress
