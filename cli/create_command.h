// norvale-cli create: a new, empty table from a field list.
#pragma once

namespace norvale::cli {

// argv[1] is "create". Returns the exit status: 0 when the table was
// written, 1 when it could not be (the message on stderr names the file), 2
// for a usage error.
int RunCreateCommand(int argc, char** argv);

}  // namespace norvale::cli
