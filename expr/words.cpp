#include "expr/words.h"

#include <algorithm>

#include "engine/exceptions.h"
#include "expr/expr_exceptions.h"
#include "expr/expr_messages.h"

namespace norvale {

TExpressionType TypeOfLetter(char letter) {
  switch (letter) {
    case 'I': return rtInteger;
    case 'S': return rtString;
    case 'B': return rtBoolean;
    case 'L': return rtLargeInt;
    case 'F': return rtFloat;
    case 'D': return rtDateTime;
    default: return rtUnknown;
  }
}

void TArgBuffer::Grow(int64_t n) {
  const int64_t newCapacity = (n / kBufferStep) * kBufferStep + kBufferStep;
  auto bigger = std::make_unique<char[]>(static_cast<size_t>(newCapacity));
  const int64_t offset = Used();
  if (data) std::memcpy(bigger.get(), data.get(), static_cast<size_t>(std::min(newCapacity, capacity)));
  data = std::move(bigger);
  pos = data.get() + offset;
  capacity = newCapacity;
}

namespace {
const std::string kEmpty;
}

const std::string& TExprWord::Description() const { return kEmpty; }
const std::string& TExprWord::TypeSpec() const { return kEmpty; }
const std::string& TExprWord::ShortName() const { return kEmpty; }

bool TExprWord::IsValueWord() const {
  return evaluate_ == copy::FloatCopy || evaluate_ == copy::DateTimeCopy || evaluate_ == copy::LargeIntCopy ||
         evaluate_ == copy::IntegerCopy || evaluate_ == copy::BooleanCopy ||
         evaluate_ == copy::StringConstantAppend || evaluate_ == copy::StringVariableAppend;
}

namespace copy {

// Numbers go to the start of a destination that nothing else writes into;
// its buffer always holds at least one step.
void Refresh(const ExprNode* node) {
  if (node->refresh) node->refresh(node->refreshContext);
}

void FloatCopy(ExprNode* node) {
  Refresh(node);
  std::memcpy(node->result.dest->pos, node->value, sizeof(double));
}
void DateTimeCopy(ExprNode* node) {
  Refresh(node);
  std::memcpy(node->result.dest->pos, node->value, sizeof(double));
}
void LargeIntCopy(ExprNode* node) {
  Refresh(node);
  std::memcpy(node->result.dest->pos, node->value, sizeof(int64_t));
}
void IntegerCopy(ExprNode* node) {
  Refresh(node);
  std::memcpy(node->result.dest->pos, node->value, sizeof(int32_t));
}
void BooleanCopy(ExprNode* node) {
  Refresh(node);
  std::memcpy(node->result.dest->pos, node->value, 1);
}

void StringConstantAppend(ExprNode* node) {
  const char* text = static_cast<const char*>(node->value);
  node->result.dest->Append(text, node->valueLength ? *node->valueLength : static_cast<int64_t>(std::strlen(text)));
}

void StringVariableAppend(ExprNode* node) {
  Refresh(node);
  const char* text = *static_cast<const char* const*>(node->value);
  if (!text) return;
  const int length = *node->valueLength;
  node->result.dest->Append(text, length < 0 ? static_cast<int64_t>(std::strlen(text)) : length);
}

}  // namespace copy

TFunction::TFunction(std::string name, std::string shortName, std::string typeSpec, int minArgs,
                     TExpressionType resultType, TExprFunc evaluate, bool isOperator, int precedence)
    : TExprWord(std::move(name), evaluate),
      isOperator_(isOperator),
      precedence_(precedence),
      minArgs_(minArgs),
      maxArgs_(static_cast<int>(typeSpec.size())),
      typeSpec_(std::move(typeSpec)),
      shortName_(std::move(shortName)),
      resultType_(resultType) {
  if (maxArgs_ > kMaxArgs) throw EParserException(msg::kTooManyArguments);
  if (minArgs_ < 0) minArgs_ = maxArgs_;
}

int CompareNamesIgnoringCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

int TExpressList::LowerBound(std::string_view name) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), name, [](const std::shared_ptr<TExprWord>& w, std::string_view key) {
    return CompareNamesIgnoringCase(w->Name(), key) < 0;
  });
  return static_cast<int>(it - items_.begin());
}

int TExpressList::ShortLowerBound(std::string_view name) const {
  auto it = std::lower_bound(shortList_.begin(), shortList_.end(), name, [](const TExprWord* w, std::string_view key) {
    return CompareNamesIgnoringCase(w->ShortName(), key) < 0;
  });
  return static_cast<int>(it - shortList_.begin());
}

void TExpressList::Add(std::shared_ptr<TExprWord> word) {
  const int at = LowerBound(word->Name());
  if (!word->ShortName().empty()) {
    const int s = ShortLowerBound(word->ShortName());
    shortList_.insert(shortList_.begin() + s, word.get());
  }
  items_.insert(items_.begin() + at, std::move(word));
}

void TExpressList::AddAll(const TExpressList& table) {
  for (const auto& word : table.items_) Add(word);
}

bool TExpressList::Remove(const TExprWord* word) {
  const int index = IndexOf(word);
  if (index < 0) return false;
  auto s = std::find(shortList_.begin(), shortList_.end(), word);
  if (s != shortList_.end()) shortList_.erase(s);
  items_.erase(items_.begin() + index);
  return true;
}

void TExpressList::Clear() {
  shortList_.clear();
  items_.clear();
}

bool TExpressList::Search(std::string_view name, int& index) const {
  const int at = LowerBound(name);
  if (at < Count() && CompareNamesIgnoringCase(Item(at)->Name(), name) == 0) {
    index = at;
    return true;
  }
  const int s = ShortLowerBound(name);
  if (s < static_cast<int>(shortList_.size()) && CompareNamesIgnoringCase(shortList_[static_cast<size_t>(s)]->ShortName(), name) == 0) {
    index = IndexOf(shortList_[static_cast<size_t>(s)]);
    return index >= 0;
  }
  return false;
}

int TExpressList::IndexOf(const TExprWord* word) const {
  if (!word) return -1;
  // Words of one name sit together, so the search starts at that name.
  for (int i = LowerBound(word->Name()); i < Count(); ++i) {
    if (Item(i) == word) return i;
    if (CompareNamesIgnoringCase(Item(i)->Name(), word->Name()) != 0) break;
  }
  return -1;
}

void TExpressList::MoveBehindNext(int index) {
  if (index < 0 || index + 1 >= Count()) return;
  std::swap(items_[static_cast<size_t>(index)], items_[static_cast<size_t>(index) + 1]);
}

}  // namespace norvale
