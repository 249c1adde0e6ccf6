// Every message text norvale-cli makes of its own, verbatim; the engine's
// messages come from the layers below.
#pragma once

namespace norvale::cli::msg {

inline constexpr const char* kFilterError = "Filter error: ";
inline constexpr const char* kCannotWriteOutput = "Cannot write the output.";
// Another program cut the table short while it was being dumped.
inline constexpr const char* kTableShrank = "The table file became shorter while it was being read; the output is incomplete.";

}  // namespace norvale::cli::msg
