// How norvale-cli reports a command that failed.
#pragma once

#include <cstdio>
#include <exception>
#include <string>

namespace norvale::cli {

// The line every command prints for a failure: "norvale-cli: FILE: message",
// on one line however many the message has. Returns the exit status 1.
inline int ReportFailure(const std::string& file, const std::exception& e) {
  std::string message = e.what();
  for (char& c : message)
    if (c == '\r' || c == '\n') c = ' ';
  std::fprintf(stderr, "norvale-cli: %s: %s\n", file.c_str(), message.c_str());
  return 1;
}

}  // namespace norvale::cli
