// The language driver table: what each one-byte driver id in a table or index
// header stands for. Header-only and free of other engine code so that the
// collation generator in tools/ can read it without linking the engine (the
// engine in turn contains the generator's output).
#pragma once

#include <array>
#include <cstdint>

namespace norvale {

// Two suffixes are not text: id 0 stands for "no driver" and can never be
// named, and the Bulgarian driver has a name of its own shape.
enum TLanguageSuffixKind : uint8_t { skText, skNone, skBulgarian };

struct TLanguageEntry {
  uint16_t codePage = 0;  // 0: none
  uint32_t localeId = 0;  // only the low 16 bits take part in lookups
  TLanguageSuffixKind suffixKind = skText;
  char suffix[4] = {};  // NUL-terminated; meaningful for skText only
};

namespace language_table_detail {

struct TRow {
  int id;
  uint16_t codePage;
  uint32_t localeId;
  const char* suffix;
  TLanguageSuffixKind kind = skText;
};

inline constexpr TRow kRows[] = {
    {0, 0, 0x10000, "", skNone},
    {1, 437, 0x0409, "US0"},
    {2, 850, 0x0809, "UK0"},
    {3, 1252, 0x0809, "UK0"},
    {4, 10000, 0x0809, "UK0"},
    {8, 865, 0x0406, "DA0"},
    {9, 437, 0x0413, "NL0"},
    {10, 850, 0x0413, "NL0"},
    {11, 437, 0x040B, "FI0"},
    {12, 850, 0x040B, "FI0"},
    {13, 437, 0x040C, "FR0"},
    {14, 850, 0x040C, "FR0"},
    {15, 437, 0x0407, "DE0"},
    {16, 850, 0x0407, "DE0"},
    {17, 437, 0x0410, "IT0"},
    {18, 850, 0x0410, "IT1"},
    {19, 932, 0x0411, "JP0"},
    {20, 850, 0x040A, "ES0"},
    {21, 437, 0x041D, "SV0"},
    {22, 850, 0x041D, "SV1"},
    {23, 865, 0x0414, "NO0"},
    {24, 437, 0x040A, "ES1"},
    {25, 437, 0x0809, "UK0"},
    {26, 850, 0x0809, "UK0"},
    {27, 437, 0x0409, "US0"},
    {28, 863, 0x0C0C, "CF1"},
    {29, 850, 0x0C0C, "CF1"},
    {31, 852, 0x0405, "CZ0"},
    {32, 867, 0x0405, "CZ0"},
    {34, 852, 0x040E, "HDC"},
    {35, 852, 0x0415, "PO0"},
    {36, 860, 0x0416, "PT0"},
    {37, 850, 0x0416, "PT0"},
    {38, 866, 0x0419, "RU0"},
    {55, 850, 0x0409, "US0"},
    {77, 936, 0x0804, "CN0"},
    {78, 949, 0x0412, "KO0"},
    {79, 950, 0x0404, "TW0"},
    {80, 874, 0x041E, "TH0"},
    {86, 932, 0x0411, "JP1"},
    {87, 1252, 0x0000, "US0"},
    {88, 1252, 0x0809, "WE0"},
    {89, 1252, 0x040A, "ES0"},
    {94, 437, 0x0407, "DE"},
    {95, 437, 0x0414, "NO"},
    {96, 850, 0x0414, "NO"},
    {97, 1252, 0x0407, "DE"},
    {98, 1252, 0x0414, "NO"},
    {100, 852, 0x0405, "CZ0"},
    {101, 866, 0x0419, "RU0"},
    {102, 865, 0x0414, "NO"},
    {103, 861, 0x040F, "IC0"},
    {104, 895, 0x0405, "CZ0"},
    {105, 620, 0x0415, "PO1"},
    {106, 737, 0x0408, "GR0"},
    {107, 857, 0x041F, "TR0"},
    {120, 950, 0x0C04, "CH0"},
    {121, 949, 0x0412, "KO0"},
    {122, 936, 0x21004, "CS0"},
    {123, 932, 0x0411, "JP0"},
    {124, 874, 0x041E, "TH0"},
    {125, 1255, 0x040D, "REW"},
    {126, 1256, 0x0401, "AR0"},
    {133, 862, 0x040D, "REW"},
    {134, 437, 0x0408, "GR0"},
    {135, 852, 0x041B, "SL0"},
    {136, 857, 0x041F, "TR0"},
    {142, 868, 0x0402, "", skBulgarian},
    {150, 10007, 0x0419, "RU0"},
    {151, 10029, 0x0405, "CZ0"},
    {152, 10006, 0x0408, "GR0"},
    {155, 1250, 0x0405, ""},
    {156, 850, 0x0405, ""},
    {200, 1250, 0x0405, "CZ0"},
    {201, 1251, 0x0419, "RU0"},
    {202, 1254, 0x041F, "TR0"},
    {203, 1253, 0x0408, "GR0"},
};

constexpr std::array<TLanguageEntry, 256> Build() {
  std::array<TLanguageEntry, 256> table{};
  for (const TRow& row : kRows) {
    TLanguageEntry& e = table[static_cast<size_t>(row.id)];
    e.codePage = row.codePage;
    e.localeId = row.localeId;
    e.suffixKind = row.kind;
    for (int i = 0; i < 3 && row.suffix[i]; ++i) e.suffix[i] = row.suffix[i];
  }
  return table;
}

}  // namespace language_table_detail

// All 256 ids; the ones not listed above are empty (code page 0, locale 0,
// empty suffix).
inline constexpr std::array<TLanguageEntry, 256> kLanguageTable = language_table_detail::Build();

}  // namespace norvale
