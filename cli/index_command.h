// norvale-cli index, index keys, index create, index drop, reindex, and the
// index half of check.
#pragma once

#include <string>
#include <vector>

namespace norvale::cli {

// argv[1] is "index" or "reindex".
int RunIndexCommand(int argc, char** argv);

// What is wrong with the indexes of `table`, one line each: a tag that does
// not hold exactly one entry per record, in key order, with the key the
// record gives. Empty when all is well or the table has no index.
std::vector<std::string> CheckTableIndexes(const std::string& table);

}  // namespace norvale::cli
