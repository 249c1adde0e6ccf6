// The compiled form of an expression: nodes in evaluation order, each with
// the buffers its arguments are written into and a slot naming where its own
// value goes. Evaluating runs one routine per node and allocates only when a
// text outgrows the buffer it is written into.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>

namespace norvale {

// Result types; the numbers are those other programs store with a word.
enum TExpressionType : uint8_t {
  rtInteger = 0,
  rtString = 1,
  rtBoolean = 2,
  rtLargeInt = 3,
  rtFloat = 4,
  rtDateTime = 5,
  rtLeftBracket = 6,
  rtRightBracket = 7,
  rtComma = 8,
  rtUnknown = 9,
};

// The letter of a type signature: I S B L F D; anything else is rtUnknown.
TExpressionType TypeOfLetter(char letter);

struct ExprNode;
class TExprWord;
struct TTextRules;

using TExprFunc = void (*)(ExprNode* node);
// Brings a variable's storage up to date before its value is copied.
using TRefreshFunc = void (*)(void* context);

inline constexpr int kMaxArgs = 6;
inline constexpr int kBufferStep = 32;

// A growable value buffer: numbers sit at its start, texts are appended at
// `pos` and followed by a zero byte that the position does not count.
struct TArgBuffer {
  std::unique_ptr<char[]> data;
  char* pos = nullptr;
  int64_t capacity = 0;

  char* Start() const { return data.get(); }
  int64_t Used() const { return pos - data.get(); }
  // Allocates the first buffer (zeroed, so stray reads see zeros).
  void Init() {
    data = std::make_unique<char[]>(kBufferStep);
    pos = data.get();
    capacity = kBufferStep;
  }
  // Room for `n` more bytes after the position.
  void EnsureSpace(int64_t n) {
    if (capacity < n + Used()) Grow(n + Used());
  }
  // Capacity becomes the next step above `n`; the content and the position's
  // offset are kept.
  void Grow(int64_t n);
  void Append(const char* text, int64_t length) {
    EnsureSpace(length + 4);
    std::memcpy(pos, text, static_cast<size_t>(length));
    pos += length;
    *pos = 0;
  }
};

// Where a node's value goes: an argument buffer of its parent, or the
// parser's result buffer. Referring to the owner's buffer means a buffer
// the node regrows is the one the parent reads.
struct TDynamicType {
  TArgBuffer* dest = nullptr;
};

struct ExprNode {
  TExprFunc evaluate = nullptr;
  ExprNode* next = nullptr;
  TDynamicType result;
  TExprWord* word = nullptr;
  bool resetDest = false;
  bool callSyntax = false;
  TArgBuffer args[kMaxArgs];
  TExpressionType argType[kMaxArgs] = {rtUnknown, rtUnknown, rtUnknown, rtUnknown, rtUnknown, rtUnknown};
  ExprNode* argNode[kMaxArgs] = {};
  // Value nodes copy from here: the word's value and, for text variables,
  // its fixed length.
  const void* value = nullptr;
  const int* valueLength = nullptr;
  TRefreshFunc refresh = nullptr;
  void* refreshContext = nullptr;
  // Short cuts of AND and OR: a guard node continues at `resume`, or at
  // `skipTo` when its left operand already decides the result.
  ExprNode* skipTo = nullptr;
  ExprNode* resume = nullptr;
  bool skipWhen = false;
  // Text comparisons and case mapping follow the parser's rules.
  TTextRules* rules = nullptr;
  // Compile-time marks.
  bool checked = false;
  int8_t varies = -1;

  int ArgCount() const {
    int n = 0;
    while (n < kMaxArgs && argNode[n]) ++n;
    return n;
  }
};

}  // namespace norvale
