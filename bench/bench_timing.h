// Timing for the benchmarks that compare against a baseline in the same
// run: wall-clock seconds, medians, and a timed shell command.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace norvale::bench {

using TClock = std::chrono::steady_clock;

inline double Since(TClock::time_point start) {
  return std::chrono::duration<double>(TClock::now() - start).count();
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Seconds the command took; a failure is reported, the time still counts.
inline double Timed(const std::string& command) {
  const auto start = TClock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "warning: %s failed\n", command.c_str());
  return Since(start);
}

}  // namespace norvale::bench
