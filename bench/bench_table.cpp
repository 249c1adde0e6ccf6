#include "bench/bench_table.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "bench/gen_random.h"
#include "bench/table_writer.h"

namespace norvale::gen {
namespace {

const char* const kFirstNames[] = {
    "James",  "Mary",    "Robert", "Patricia", "John",   "Jennifer", "Michael", "Linda",  "David",  "Elizabeth",
    "Oliver", "Amelia",  "Harry",  "Isla",     "Lukas",  "Anna",     "Stefan",  "Sabine", "Pierre", "Camille",
    "Marie",  "Antonio", "Lucía",  "José",     "Jürgen", "François", "Chloé",   "Zoë",    "Noah",   "Mia"};
const char* const kLastNames[] = {
    "Smith",   "Johnson", "Williams", "Brown",  "Jones",   "Miller",    "Davis",   "Wilson",  "Anderson", "Taylor",
    "Walker",  "Wright",  "Robinson", "Hughes", "Schmidt", "Schneider", "Fischer", "Weber",   "Martin",   "Dubois",
    "Moreau",  "García",  "López",    "Núñez",  "Müller",  "Schäfer",   "Lefèvre", "Peña",    "Gruber",   "Keller"};
const char* const kCities[] = {"Chicago", "Boston",   "Portland", "London", "Leeds",      "Berlin", "München",
                               "Köln",    "Hamburg",  "Paris",    "Lyon",   "Orléans",    "Madrid", "Sevilla",
                               "Málaga",  "Zürich",   "Genève",   "Wien",   "Graz",       "Denver", "Seattle",
                               "Austin",  "Bordeaux", "Bristol",  "Leipzig", "Salzburg"};
const char* const kNotes[] = {"Prefers e-mail contact",    "Call before 10, not after 6", "Deliver to \"Lager 2\"",
                              "Pays by direct debit",      "Invoice in EUR",              "Closed in August",
                              "Key account, see contract", "Ask for the purchasing department before shipping",
                              "Rückruf erwünscht",         "Ne pas livrer le samedi"};

template <std::size_t N>
struct TCp1252List {
  std::string items[N];
  explicit TCp1252List(const char* const (&utf8)[N]) {
    for (std::size_t i = 0; i < N; ++i) items[i] = Cp1252FromUtf8(utf8[i]);
  }
};

}  // namespace

void WriteBenchTable(uint64_t count, const std::string& path, uint64_t seed) {
  // Converted once: per-record work is picking, copying and formatting only.
  const TCp1252List first(kFirstNames);
  const TCp1252List last(kLastNames);
  const TCp1252List cities(kCities);
  const TCp1252List notes(kNotes);

  TTableWriter table(path, {{"ID", 'N', 9},
                            {"NAME", 'C', 30},
                            {"CITY", 'C', 20},
                            {"AMOUNT", 'N', 12, 2},
                            {"BORN", 'D', 8},
                            {"ACTIVE", 'L', 1},
                            {"NOTE", 'C', 60}});
  enum { kId, kName, kCity, kAmount, kBorn, kActive, kNote };

  TRandom rng(seed);
  std::string name;
  for (uint64_t i = 1; i <= count; ++i) {
    table.BeginRecord(rng.Chance(3));
    table.SetInteger(kId, static_cast<int64_t>(i % 1000000000));
    name = rng.Pick(first.items);
    name += ' ';
    name += rng.Pick(last.items);
    table.SetText(kName, name);
    table.SetText(kCity, rng.Pick(cities.items));
    int64_t cents = static_cast<int64_t>(rng.Next() % 10000000000ull);  // up to 99,999,999.99
    if (rng.Chance(5)) cents = -cents / 1000;
    table.SetScaled(kAmount, cents);
    const int year = rng.Between(1930, 2005);
    const int month = rng.Between(1, 12);
    table.SetDate(kBorn, year, month, rng.Between(1, DaysInMonth(year, month)));
    table.SetLogical(kActive, rng.Chance(80));
    if (rng.Chance(30)) table.SetText(kNote, rng.Pick(notes.items));
    table.EndRecord();
  }
  table.Finish();
}

TTempBenchTable::TTempBenchTable(uint64_t defaultCount) {
  const char* env = std::getenv("NORVALE_BENCH_RECORDS");
  const uint64_t records = env ? std::strtoull(env, nullptr, 10) : defaultCount;
  std::string tmpl = (std::filesystem::temp_directory_path() / "norvale-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl;
  path_ = dir_ + "/bench.dbf";
  WriteBenchTable(records, path_);
}

TTempBenchTable::~TTempBenchTable() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

}  // namespace norvale::gen
