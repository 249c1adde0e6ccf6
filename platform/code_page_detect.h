// Guessing the code page of a table that does not name one, from the bytes
// of its character and memo values.
//
// The candidates are the pages such tables were written in: Western European
// 1252, 850 and 437; Central European 1250 and 852; Cyrillic 1251, 866 and
// KOI8-R (20866); Greek 1253 and 737; UTF-8 (65001); and the double-byte
// pages 932 (Shift-JIS), 936 (GBK), 949 (Korean) and 950 (Big5).
//
// The guess is a pure function of the values added, in their order, and of
// the ANSI and OEM code page settings, which only decide between pages that
// read every byte of the sample as the same characters (a German text in
// 850 is byte for byte the same in 437).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace norvale {

struct TCodePageGuess {
  int codePage = 0;        // Windows-style number (65001 = UTF-8); 0 = no verdict
  double confidence = 0;   // 0..1
  bool asciiOnly = false;  // the sample held no byte above 0x7F
};

// Confidence a guess needs to name a code page. Below it the guess has
// codePage 0 and `confidence` says how close it came; the caller keeps its
// default page. A few dozen accented letters or a handful of Cyrillic words
// clear it; one or two stray high bytes, or text that reads as gibberish in
// every candidate, do not.
inline constexpr double kCodePageVerdictConfidence = 0.6;

class TCodePageDetector {
 public:
  // Text the detector looks at, at most: enough for a verdict on any real
  // table, little enough for Guess() to stay within a few milliseconds.
  static constexpr size_t kBudget = 64 * 1024;

  // Adds one stored value, as its bytes are in the file, trailing blanks
  // trimmed. Once the budget is reached further values are ignored; the value
  // that reaches it is cut there, which the checks of multi-byte pages
  // tolerate as they tolerate a character cut by a field's width.
  void Add(const char* bytes, size_t count);
  // The budget is reached: adding more changes nothing.
  bool Full() const { return bytes_ >= kBudget; }
  // Bytes taken into the sample so far (ASCII-only values included).
  size_t Bytes() const { return bytes_; }
  // The code page the sample reads best in. Pure ASCII gives no verdict with
  // asciiOnly set; so does an empty sample.
  TCodePageGuess Guess() const;

 private:
  // Values with a byte above 0x7F, each followed by a line feed; values of
  // pure ASCII read alike in every candidate and are only counted.
  std::string text_;
  std::vector<uint32_t> ends_;  // offset of each value's line feed in text_
  size_t bytes_ = 0;
};

}  // namespace norvale
