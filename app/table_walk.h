// Walks over the records the main window's grid shows, without moving the
// table the grid shows: a table object of its own, opened read-only on the
// same file in the same order, filter, code page and deleted-record
// setting, reads them in turn.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "dataset/dbf_table.h"

namespace norvale {

class TLongWork;

// A read-only twin of the open `table`, standing on its first visible
// record. Raises what opening raises.
std::unique_ptr<TDbfTable> OpenWalker(TDbfTable& table);

// Calls `visit` on each record of `walker` from its first visible record to
// its last, reporting to `work` (which raises EAbort on Cancel); returns how
// many records were visited.
int64_t WalkVisible(TDbfTable& walker, TLongWork& work, const std::function<void()>& visit = {});

}  // namespace norvale
