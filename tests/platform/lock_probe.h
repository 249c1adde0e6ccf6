// Looks at byte-range locks from outside the object that took them: a fresh
// open file description sees every lock another description holds, which is
// what another program sharing the table sees.
#pragma once

#include <cstdint>
#include <string>

namespace norvale::test {

enum class TProbe { kFree, kReadLocked, kWriteLocked, kError };

// The strongest lock another open file description holds on [offset, offset+length).
TProbe ProbeLock(const std::string& path, uint64_t offset, uint64_t length = 1);

}  // namespace norvale::test
