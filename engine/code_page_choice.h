// Where a table's code page comes from when it does not say, and the .cpg
// sidecar that GIS programs write beside a table to say it.
#pragma once

#include <string>
#include <string_view>

namespace norvale {

class TDbfFile;
struct TCodePageGuess;

// In the order they are consulted: a page the person chose, the .cpg
// sidecar, the language driver of the header, the table's own text (only for
// a table whose driver byte is 0 and that has no .cpg), the default.
enum TCodePageSource { cpsChosen, cpsCpgFile, cpsLanguageDriver, cpsDetected, cpsDefault };

// The code page a .cpg file or a person names: "UTF-8", "ISO-8859-1", "1252",
// "CP1251", "866", "OEM", "ANSI", "KOI8-R", "Big5" and the like, whatever
// the case, with blanks, a byte-order mark and a trailing line break
// allowed. 0 when the text names no code page known here.
int CodePageFromName(std::string_view text);

// What a .cpg written for `codePage` says ("UTF-8", "1252", "ISO-8859-5").
std::string CpgTextFor(int codePage);

// A short name of a code page for people ("cp866", "UTF-8", "ISO-8859-2").
std::string CodePageLabel(int codePage);

// Reads a bounded sample of the character and memo values of `table` (open,
// fields read) and asks the detector which code page they are written in.
// Never raises: a record or memo that cannot be read adds nothing.
TCodePageGuess DetectTableCodePage(TDbfFile& table);

}  // namespace norvale
