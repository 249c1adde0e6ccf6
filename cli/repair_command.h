// norvale-cli repair and check: what is wrong with a table's header, and the
// fixes the evidence in the file settles.
#pragma once

namespace norvale::cli {

// argv[1] is "repair" or "check"; the rest are that command's arguments.
// Prints one line per finding to stdout and errors to stderr; returns the
// exit status: 0 for a sound (or fully repaired) table, 1 when damage
// remains or the table could not be read or written, 2 for a usage error.
int RunRepairCommand(int argc, char** argv);

}  // namespace norvale::cli
