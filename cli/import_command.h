// norvale-cli import: appends the rows of a CSV or text file, an XLSX sheet
// or another table to a table, all of them or none.
#pragma once

namespace norvale::cli {

int RunImportCommand(int argc, char** argv);

}  // namespace norvale::cli
