// norvale-cli pack, zap and restructure: the commands that rewrite a table.
#pragma once

namespace norvale::cli {

// argv[1] is "pack", "zap" or "restructure".
int RunRewriteCommand(int argc, char** argv);

}  // namespace norvale::cli
