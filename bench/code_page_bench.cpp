// What detecting the code page adds to opening a table that names none: the
// benchmark table (1M records unless NORVALE_BENCH_RECORDS says otherwise,
// names and notes with 1252 letters) with its driver byte cleared, opened
// with detection and without, alternately, with a warm cache (medians of
// 31 opens) and with the file evicted from the page cache (medians of 11).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_table.h"
#include "engine/table_file.h"

namespace {

using TClock = std::chrono::steady_clock;

double OpenMs(const std::string& path, bool detect, std::string* page) {
  const auto start = TClock::now();
  norvale::TDbfFile file;
  file.SetFileName(path);
  file.SetMode(norvale::amReadOnly);
  file.SetDetectCodePage(detect);
  file.Open();
  *page = std::to_string(file.UseCodePage()) + ", " + file.CodePageSourceText() + ", " +
          std::to_string(file.RecordCount()) + " records";
  const double ms = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
  file.Close();
  return ms;
}

// Drops the table from the page cache, as before a person's first open.
void Evict(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return;
  ::fdatasync(fd);
  if (::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0) std::fprintf(stderr, "warning: eviction refused\n");
  ::close(fd);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  norvale::gen::TTempBenchTable table(1000000);
  {
    std::fstream f(table.Path(), std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(29);
    f.put('\0');
  }
  std::vector<double> with, without;
  std::string detected, plain;
  for (int i = 0; i < 31; ++i) {
    without.push_back(OpenMs(table.Path(), false, &plain));
    with.push_back(OpenMs(table.Path(), true, &detected));
  }
  const double a = Median(with), b = Median(without);
  std::printf("warm cache, open without detection: %.3f ms (code page %s)\n", b, plain.c_str());
  std::printf("warm cache, open with detection:    %.3f ms (code page %s)\n", a, detected.c_str());
  std::printf("warm cache, detection adds:         %.3f ms (target at most 10 ms)\n", a - b);
  // Cold: the sample's stretches are read from the disk.
  with.clear();
  without.clear();
  for (int i = 0; i < 11; ++i) {
    Evict(table.Path());
    without.push_back(OpenMs(table.Path(), false, &plain));
    Evict(table.Path());
    with.push_back(OpenMs(table.Path(), true, &detected));
  }
  std::printf("cold cache, open without detection: %.3f ms\n", Median(without));
  std::printf("cold cache, open with detection:    %.3f ms\n", Median(with));
  std::printf("cold cache, detection adds:         %.3f ms\n", Median(with) - Median(without));
  return 0;
}
