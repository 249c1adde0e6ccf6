// Language drivers: the ids and names that tables and index files use to state
// their character set, the collations that order character keys, the text
// conversion between code pages, and the language check made when a
// multiple-index file is opened.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/language_table.h"

namespace norvale {

// Which family an id belongs to decides which of two matching ids a lookup
// prefers.
enum TLanguageFamily { lfDBase, lfFoxPro };

// The entry of `id`; an empty entry for ids outside 0-255.
const TLanguageEntry& LanguageEntry(int id);
// dBASE: 0 and 5-93; FoxPro: 1-4 and 94-255.
TLanguageFamily LanguageFamily(int id);

// The highest matching id of each family, where an id matches when its code
// page is `codePage` (any code page when 0) and its locale id (low 16 bits
// only) or its suffix equals the value given. The result is the dBASE match
// unless there is none or `foxWanted` and a FoxPro match exists; 0 when
// nothing matches. Marker suffixes match no text.
int FindLanguageId(int codePage, uint32_t localeId, bool foxWanted);
int FindLanguageId(int codePage, std::string_view suffix, bool foxWanted);

// FindLanguageId by locale id, retried with any code page when the exact
// code page has no match.
int LanguageIdFor(int codePage, uint32_t localeId, bool foxWanted);

// The driver name for a code page and locale: "DB437US0", "DBWINWE0",
// "FOXUK0850", "BGDB868". Empty when no name can be formed (no id found).
std::string LanguageNameFor(int codePage, uint32_t localeId, bool foxWanted);

// The id a driver name stands for, or 0. Comparisons are case-sensitive.
// Throws EConvertError when the code-page part is neither "WIN", "REW" nor a
// decimal number.
int LanguageIdFromName(std::string_view name);

// How character keys are ordered: byte by byte, or by a weight per byte (a
// permutation of 0-255).
class TCollation {
 public:
  constexpr explicit TCollation(const uint8_t* weights = nullptr) : weights_(weights) {}
  bool IsBinary() const { return weights_ == nullptr; }
  uint8_t Weight(uint8_t byte) const { return weights_ ? weights_[byte] : byte; }
  // The 256 weights; null for the binary collation.
  const uint8_t* Weights() const { return weights_; }

 private:
  const uint8_t* weights_;
};

const TCollation& BinaryCollation();
// The collation registered for `id`: the binary collation for ids nobody
// registered, null for ids outside 0-255. Ids that share a weight table
// share the TCollation object.
const TCollation* CollationFor(int id);
// The registered name ("DBWINWE0", "db866ru0"); empty when none.
std::string_view CollationNameFor(int id);

// Compares the first min(lengthA, lengthB) bytes by weight; when they are
// equal the shorter text is less. Returns <0, 0 or >0.
int CompareCollated(const TCollation& collation, const uint8_t* a, int lengthA, int lengthB, const uint8_t* b);

// Converts `length` bytes of `source` (up to its NUL when length is -1) from
// one code page to another (65001 is UTF-8) into `target`, which holds
// `targetCapacity` bytes, and returns the number of bytes written. Equal code
// pages copy. The result is 0 when either code page cannot be converted, when
// the converted text does not fit the target, and, except between the OEM and
// the ANSI code page, when the text is longer than 1024 UTF-16 units.
int TranslateText(int fromCodePage, int toCodePage, const char* source, int length, char* target,
                  int targetCapacity);

enum TLocaleError { leNone, leUnknown, leTableIndexMismatch, leNotAvailable };
enum TLocaleSolution { lsNotOpen, lsNoEdit, lsBinary };
// The table's OnLocaleError handler: receives the error and a solution preset
// to lsNotOpen, and may change the solution.
using TLocaleErrorEvent = std::function<void(TLocaleError error, TLocaleSolution& solution)>;

// What the language check decides for a multiple-index file.
struct TIndexLocale {
  TLocaleError error = leNone;
  bool open = false;        // false: the caller discards the index file
  bool maintained = false;  // false: its keys are not updated when records change
  const TCollation* collation = nullptr;  // null when not opened
};

// The table's id is header byte 29 below level 7; `indexLanguageId` is the
// index file's byte 31. A non-zero table id and a different non-zero index id
// are a locale error (leNotAvailable), answered by `onLocaleError` (may be
// empty: the file is then not opened). An index opened but not maintained
// after a mismatch reads its keys in the collation of its own id, the one
// they were written in.
TIndexLocale CheckIndexLocale(int tableLanguageId, int indexLanguageId, const TLocaleErrorEvent& onLocaleError);
// Level 7: the table's id comes from its driver name (may throw EConvertError).
TIndexLocale CheckIndexLocale(std::string_view tableDriverName, int indexLanguageId,
                              const TLocaleErrorEvent& onLocaleError);

}  // namespace norvale
