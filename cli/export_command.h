// norvale-cli export: the records of a table, in the order of a tag and
// under a condition, into any of the file types the viewer exports.
#pragma once

namespace norvale::cli {

int RunExportCommand(int argc, char** argv);

}  // namespace norvale::cli
