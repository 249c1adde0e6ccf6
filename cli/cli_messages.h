// Every message text norvale-cli makes of its own, verbatim; the engine's
// messages come from the layers below.
#pragma once

namespace norvale::cli::msg {

inline constexpr const char* kFilterError = "Filter error: ";
inline constexpr const char* kCannotWriteOutput = "Cannot write the output.";

}  // namespace norvale::cli::msg
