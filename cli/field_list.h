// The field list of norvale-cli's structure commands: "NAME C(30), AMOUNT
// N(12,2), BORN D, NOTE M".
#pragma once

#include <string>

#include "engine/fields.h"

namespace norvale::cli {

// Parses comma-separated items `NAME TYPE[(SIZE[,DEC])]` into `defs`, whose
// version decides which type letters are allowed and the sizes of the types
// that have one of their own (D, L, M, I, ...). Letters are taken in either
// case. Raises Exception with a message naming the bad item: an unknown or
// disallowed type, a size the type cannot have, a missing name or size,
// stray text. Names are checked by the table file when it is created.
void ParseFieldList(const std::string& text, TDbfFieldDefs& defs);

}  // namespace norvale::cli
