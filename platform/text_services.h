// Code pages, locale-aware comparison and case mapping, through ICU.
//
// Code pages are Windows-style numbers (65001 is UTF-8). Everything here is
// safe to call from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvale {

// The ICU converter behind a code page number, or "" when none may be used
// for it. Only converters that keep ASCII letters, digits and the blank as
// themselves and carry no shift state count: fields are blank-padded and
// keys upper-cased byte by byte, which an EBCDIC or stateful page would break.
std::string IcuConverterName(int codePage);

// True when an ICU converter handles the code page.
bool CodePageInstalled(int codePage);
// True for an installed code page whose characters are all one byte long.
bool CodePageIsSingleByte(int codePage);
// Every installed code page a dBASE-family table may name, ascending.
std::vector<int> InstalledCodePages();

// 1252 unless the environment variable NORVALE_ANSI_CP holds another number.
int AnsiCodePage();
// 437 unless the environment variable NORVALE_OEM_CP holds another number.
int OemCodePage();

// The ICU locale id of the user's collation locale, taken from the first
// non-empty of LC_ALL, LC_COLLATE and LANG; "C", "POSIX" or none give "root".
std::string UserLocaleName();
// The Windows locale id of UserLocaleName(); 0x0409 for root or a locale
// that has none.
uint32_t UserLocaleId();

// Conversions between a code page and Unicode. Characters the target code
// page cannot hold become '?'; source bytes that are not valid in the code
// page become U+FFFD, as does an unpaired surrogate written to 65001. All
// return false with `out` empty when the code page is not installed.
bool CodePageToUtf16(int codePage, std::string_view bytes, std::u16string& out);
bool Utf16ToCodePage(int codePage, std::u16string_view text, std::string& out);
bool CodePageToUtf8(int codePage, std::string_view bytes, std::string& out);
bool Utf8ToCodePage(int codePage, std::string_view utf8, std::string& out);
// The same, cut to at most maxBytes without splitting a character: whole
// characters are dropped from the end of a multi-byte page's text.
std::string Utf8ToCodePageWithin(int codePage, std::string_view utf8, size_t maxBytes);
// The characters of `utf8` that do not survive a trip into the code page and
// back, each once in order of appearance (UTF-8); empty when all do or the
// code page is not installed.
std::string UnstorableCharacters(int codePage, std::string_view utf8);

// Three-way comparison (-1, 0, 1) of UTF-8 texts by the collation of the
// user's locale: tertiary strength, secondary when `ignoreCase` (accents
// still count, letter case does not).
int CompareLocale(std::string_view a, std::string_view b, bool ignoreCase);
// True when CompareLocale uses the root order untouched for the user's
// locale (no tailoring, reordering, numeric or case options, punctuation not
// ignored). Then texts of printable ASCII (0x20-0x7E) are equal exactly when
// their bytes are (letter case aside when `ignoreCase`), and texts made only
// of digits, blanks, "-" and "." order as their bytes do, so callers may
// skip the collator for them.
bool CollationIsRootOrder(bool ignoreCase);

// Full Unicode case mapping by the rules of the user's locale; the length may
// change ("ß" upper-cases to "SS"). Bytes that are not UTF-8 pass unchanged.
std::string UpperUtf8(std::string_view text);
std::string LowerUtf8(std::string_view text);
// The same into the caller's buffer, for callers that must not allocate:
// writes at most `capacity` bytes and returns the length the mapped text
// needs; when that exceeds `capacity`, call again with more room.
size_t UpperUtf8Into(std::string_view text, char* out, size_t capacity);
size_t LowerUtf8Into(std::string_view text, char* out, size_t capacity);

// In-place case mapping of 8-bit text in a code page, so lengths never change.
// On a single-byte page a character changes when its upper/lower case is one
// character the page holds; on a multi-byte page only ASCII letters change,
// and the bytes after a lead byte are never touched. Locale-independent, so a
// key built today matches one built under another user's locale. An unknown
// code page changes ASCII letters only.
void UpperInCodePage(int codePage, char* text, size_t length);
void LowerInCodePage(int codePage, char* text, size_t length);

}  // namespace norvale
