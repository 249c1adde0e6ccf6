// One fuzz input: table bytes opened from memory and dumped in both formats.
#pragma once

#include <cstddef>
#include <cstdint>

namespace norvale::fuzz {

// Returns normally for a readable table and for one the engine refuses; any
// other outcome (a crash, a sanitizer report, another exception) is a fault.
void FuzzTable(const uint8_t* data, size_t size);
// The same bytes through the table object: walks, text reads, an edit cycle.
void FuzzDataset(const uint8_t* data, size_t size);
// The same bytes through the repair's inspector, doubling as the memo file:
// it only reports. What it would fix must stay fixed: the bytes as a repair
// would leave them show nothing more to fix; anything else aborts.
void FuzzInspection(const uint8_t* data, size_t size);

}  // namespace norvale::fuzz
