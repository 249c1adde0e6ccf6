#include "expr/parser_core.h"

#include <charconv>
#include <cmath>

#include "engine/exceptions.h"
#include "expr/expr_exceptions.h"
#include "expr/expr_messages.h"
#include "expr/functions.h"

namespace norvale {

struct TCustomExpressionParser::TToken {
  enum TKind { kWord, kNumber, kHexNumber, kString };
  TKind kind;
  std::string text;
};

namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(unsigned char c) { return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsIdentChar(unsigned char c) { return IsLetter(c) || IsDigit(c); }

std::string_view TrimControls(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) < 33) s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) < 33) s.remove_suffix(1);
  return s;
}

bool SameName(const TExprWord* a, const TExprWord* b) { return CompareNamesIgnoringCase(a->Name(), b->Name()) == 0; }

bool IsLeft(const TExprWord* w) { return w->ResultType() == rtLeftBracket && !w->IsFunction(); }
bool IsRight(const TExprWord* w) { return w->ResultType() == rtRightBracket && !w->IsFunction(); }
bool IsComma(const TExprWord* w) { return w->ResultType() == rtComma && !w->IsFunction(); }

// The sign words stand for "+" and "-" in front of an operand; they are not
// names a binder could know.
bool IsSignWord(const std::string& name) { return name == "-@" || name == "+@"; }

// The word of the nodes that let AND and OR skip their right operand.
class TGuardWord : public TExprWord {
 public:
  TGuardWord() : TExprWord("", ShortCutGuard) {}
};
TGuardWord guardWord;

const char* ArgumentMessage(int error) {
  switch (error) {
    case 1: return msg::kTooFewArgs;
    case 2: return msg::kArgTypeMismatch;
    case 3: return msg::kTooManyArgs;
    default: return msg::kNoFunction;
  }
}

}  // namespace

TCustomExpressionParser::TCustomExpressionParser() {
  result_.Init();
  rules_.Setup(kUtf8CodePage);
  TCustomExpressionParser::FillWordTable();
}

TCustomExpressionParser::~TCustomExpressionParser() = default;

void TCustomExpressionParser::FillWordTable() {
  wordTable_.Clear();
  wordTable_.AddAll(GeneralWords());
  wordTable_.AddAll(InsensitiveCompareWords());
  wordTable_.AddAll(InsensitiveExactEqualWords());
}

void TCustomExpressionParser::ResolveUnknownWord(const std::string&) {}

std::unique_ptr<ExprNode> TCustomExpressionParser::NewNode() { return std::make_unique<ExprNode>(); }

TExpressionType TCustomExpressionParser::ResultType() const {
  return list_.empty() ? rtUnknown : list_.back()->word->ResultType();
}

void TCustomExpressionParser::ReleaseCompiled() {
  list_.clear();
  nodes_.clear();
  tokens_.clear();
  partner_.clear();
}

void TCustomExpressionParser::Clear() {
  ReleaseCompiled();
  // Nothing outside the list refers to the constants, so they go with it
  // (a filter box compiling text after text would otherwise keep them all).
  constants_.clear();
}

template <typename TVar, typename T>
static TVar* AddVariable(TExpressList& table, const std::string& name, T* value) {
  auto word = std::make_shared<TVar>(name, value);
  TVar* raw = word.get();
  table.Add(std::move(word));
  return raw;
}

TIntegerVariable* TCustomExpressionParser::AddIntegerVariable(const std::string& name, int32_t* value) {
  return AddVariable<TIntegerVariable>(wordTable_, name, value);
}
TLargeIntVariable* TCustomExpressionParser::AddLargeIntVariable(const std::string& name, int64_t* value) {
  return AddVariable<TLargeIntVariable>(wordTable_, name, value);
}
TDateTimeVariable* TCustomExpressionParser::AddDateTimeVariable(const std::string& name, double* value) {
  return AddVariable<TDateTimeVariable>(wordTable_, name, value);
}
TBooleanVariable* TCustomExpressionParser::AddBooleanVariable(const std::string& name, uint8_t* value) {
  return AddVariable<TBooleanVariable>(wordTable_, name, value);
}
TFloatVariable* TCustomExpressionParser::AddFloatVariable(const std::string& name, double* value) {
  return AddVariable<TFloatVariable>(wordTable_, name, value);
}
TStringVariable* TCustomExpressionParser::AddStringVariable(const std::string& name, const char* const* text) {
  return AddVariable<TStringVariable>(wordTable_, name, text);
}

// ---- Compiling.

void TCustomExpressionParser::Compile(std::string_view text) {
  ReleaseCompiled();
  try {
    rules_.Setup(rules_.CodePage());
    MakeWords(Tokenize(text));
    CheckTokens();
    ExprNode* root = BuildTree(0, static_cast<int>(tokens_.size()) - 1, 0);
    if (!root) {
      ReleaseCompiled();
      return;
    }
    CheckArguments(root, 0);
    for (auto& node : nodes_) {
      if (node->word->IsValueWord()) {
        node->value = node->word->AsPointer();
        node->valueLength = node->word->LenAsPointer();
        if (const auto* variable = dynamic_cast<const TVariable*>(node->word)) {
          node->refresh = variable->Refresh();
          node->refreshContext = variable->RefreshContext();
        }
      }
    }
    if (optimize_) root = Fold(root, 0);
    result_.pos = result_.Start();
    Link(root, &result_, list_);
    for (size_t i = 0; i + 1 < list_.size(); ++i) {
      list_[i]->next = list_[i + 1];
      if (list_[i]->skipTo) list_[i]->resume = list_[i + 1];
    }
    tokens_.clear();
    partner_.clear();
  } catch (...) {
    ReleaseCompiled();
    throw;
  }
}

std::vector<TCustomExpressionParser::TToken> TCustomExpressionParser::Tokenize(std::string_view source) const {
  const std::string_view text = TrimControls(source);
  const size_t n = text.size();
  auto at = [&](size_t i) -> unsigned char { return i < n ? static_cast<unsigned char>(text[i]) : 0; };
  auto readNumber = [&](size_t i, bool hex) {
    while (i < n && (hex ? IsHexDigit(at(i)) : IsDigit(at(i)))) ++i;
    if (i < n && text[i] == decimalSeparator_) {
      ++i;
      while (i < n && IsDigit(at(i))) ++i;
    }
    if (i < n && text[i] == 'e') {
      ++i;
      if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
      while (i < n && IsDigit(at(i))) ++i;
    }
    return i;
  };

  std::vector<TToken> tokens;
  size_t i = 0;
  while (i < n) {
    const unsigned char c = at(i);
    if (c == ' ') {
      ++i;
      continue;
    }
    const size_t start = i;
    TToken::TKind kind = TToken::kWord;
    if (c == static_cast<unsigned char>(hexChar_)) {
      if (IsHexDigit(at(i + 1))) {
        kind = TToken::kHexNumber;
        i = readNumber(i + 1, true);
      } else {
        ++i;
        while (i < n && IsIdentChar(at(i))) ++i;
      }
    } else if (c == static_cast<unsigned char>(decimalSeparator_)) {
      kind = TToken::kNumber;
      i = readNumber(i, false);
    } else if (c == '\'' || c == '"') {
      kind = TToken::kString;
      const size_t close = text.find(static_cast<char>(c), i + 1);
      i = close == std::string_view::npos ? n : close + 1;
    } else if (IsDigit(c)) {
      kind = TToken::kNumber;
      i = readNumber(i, false);
    } else if (IsLetter(c)) {
      while (i < n && IsIdentChar(at(i))) ++i;
    } else if (c == '<' || c == '>' || c == '=') {
      ++i;
      if (at(i) == '<' || at(i) == '=' || at(i) == '>') ++i;
    } else if (c == '!' || c == ':') {
      ++i;
      if (at(i) == '=') ++i;
    } else if (c == '&' || c == '|') {
      ++i;
      if (at(i) == c) ++i;
    } else if (c == '+' || c == '-') {
      ++i;
      if (at(i) == c && wordTable_.Contains(c == '+' ? "++" : "--")) ++i;
    } else {
      ++i;
    }
    const std::string_view token = TrimControls(text.substr(start, i - start));
    if (!token.empty()) tokens.push_back(TToken{kind, std::string(token)});
  }
  return tokens;
}

void TCustomExpressionParser::MakeWords(const std::vector<TToken>& tokens) {
  for (const TToken& token : tokens) {
    const std::string& t = token.text;
    std::unique_ptr<TConstant> constant;
    switch (token.kind) {
      case TToken::kString: {
        const bool quoted = t.size() >= 2 && t.back() == t.front();
        constant = std::make_unique<TStringConstant>(t, quoted ? t.substr(1, t.size() - 2) : t);
        break;
      }
      case TToken::kHexNumber: {
        // Converted to its decimal text, which is what a failure names.
        uint64_t value = 0;
        const char* digits = t.data() + 1;
        auto r = std::from_chars(digits, t.data() + t.size(), value, 16);
        if (r.ec != std::errc() || r.ptr != t.data() + t.size())
          throw EConvertError(FormatMessage(msg::kNotValidInteger, t.c_str()));
        if (value > static_cast<uint64_t>(INT32_MAX))
          throw EConvertError(FormatMessage(msg::kNotValidInteger, std::to_string(value).c_str()));
        constant = std::make_unique<TIntegerConstant>(static_cast<int32_t>(value));
        break;
      }
      case TToken::kNumber: {
        if (t.find_first_of("0123456789") == std::string::npos)
          throw EConvertError(FormatMessage(msg::kNotValidFloat, t.c_str()));
        if (t.find(decimalSeparator_) != std::string::npos) {
          std::string number = t;
          for (char& ch : number)
            if (ch == decimalSeparator_) ch = '.';
          // "5." and ".5" are numbers; from_chars wants a digit on each side.
          if (number.back() == '.') number += '0';
          if (number.front() == '.') number.insert(number.begin(), '0');
          double value = 0;
          auto r = std::from_chars(number.data(), number.data() + number.size(), value);
          if (r.ec != std::errc() || r.ptr != number.data() + number.size() || !std::isfinite(value))
            throw EConvertError(FormatMessage(msg::kNotValidFloat, t.c_str()));
          constant = std::make_unique<TFloatConstant>(t, value);
        } else {
          int32_t value = 0;
          auto r = std::from_chars(t.data(), t.data() + t.size(), value);
          if (r.ec != std::errc() || r.ptr != t.data() + t.size())
            throw EConvertError(FormatMessage(msg::kNotValidInteger, t.c_str()));
          constant = std::make_unique<TIntegerConstant>(value);
        }
        break;
      }
      case TToken::kWord: {
        int index;
        if (!wordTable_.Search(t, index)) {
          ResolveUnknownWord(t);
          if (!wordTable_.Search(t, index)) throw EParserException(FormatMessage(msg::kUnknownVariable, t.c_str()));
        }
        tokens_.push_back(wordTable_.Item(index));
        continue;
      }
    }
    tokens_.push_back(constant.get());
    constants_.push_back(std::move(constant));
  }
}

void TCustomExpressionParser::CheckTokens() {
  int balance = 0;
  for (TExprWord* w : tokens_) balance += IsLeft(w) ? 1 : IsRight(w) ? -1 : 0;
  if (balance != 0) throw EParserException(msg::kUnequalBrackets);

  for (size_t i = 0; i < tokens_.size(); ++i) {
    TExprWord* w = tokens_[i];
    const std::string& name = w->Name();
    if (name == "+" || name == "-") {
      // A sign stands first, after "(", after a comma or after an operator.
      const TExprWord* before = i > 0 ? tokens_[i - 1] : nullptr;
      if (!before || IsLeft(before) || IsComma(before) || before->IsOperator()) {
        bool negative = false;
        size_t end = i;
        while (end < tokens_.size() && (tokens_[end]->Name() == "+" || tokens_[end]->Name() == "-")) {
          negative ^= tokens_[end]->Name() == "-";
          ++end;
        }
        tokens_.erase(tokens_.begin() + static_cast<ptrdiff_t>(i) + 1, tokens_.begin() + static_cast<ptrdiff_t>(end));
        int index;
        if (wordTable_.Search(negative ? "-@" : "+@", index)) tokens_[i] = w = wordTable_.Item(index);
      }
    }
    TExprWord* next = i + 1 < tokens_.size() ? tokens_[i + 1] : nullptr;
    if (w->IsValueWord() && next && next->IsValueWord())
      throw EParserException(FormatMessage(msg::kMissingOperatorBetween, w->Name().c_str(), next->Name().c_str()));
    if (IsLeft(w) && !next) throw EParserException(msg::kMissingClosingBracket);
    if (IsRight(w) && next && IsLeft(next)) throw EParserException(msg::kMissingOperatorBrackets);
    if (IsRight(w) && next && next->IsValueWord()) throw EParserException(msg::kMissingOperatorAfterBracket);
    if (w->IsValueWord() && next && IsLeft(next)) throw EParserException(msg::kMissingOperatorBeforeBracket);
    if (w->Name() == "^" && next && next->ResultType() == rtInteger && dynamic_cast<TIntegerConstant*>(next)) {
      int index;
      if (wordTable_.Search("^@", index)) tokens_[i] = wordTable_.Item(index);
    }
  }

  // Each bracket's partner, for stripping outer brackets and finding the end
  // of a call; a bracket without one gets -1.
  partner_.assign(tokens_.size(), -1);
  std::vector<int> open;
  for (size_t i = 0; i < tokens_.size(); ++i) {
    if (IsLeft(tokens_[i])) {
      open.push_back(static_cast<int>(i));
    } else if (IsRight(tokens_[i]) && !open.empty()) {
      partner_[i] = open.back();
      partner_[static_cast<size_t>(open.back())] = static_cast<int>(i);
      open.pop_back();
    }
  }
}

ExprNode* TCustomExpressionParser::NodeFor(TExprWord* word) {
  nodes_.push_back(NewNode());
  ExprNode* node = nodes_.back().get();
  node->word = word;
  node->evaluate = word->Evaluate();
  return node;
}

ExprNode* TCustomExpressionParser::BuildTree(int first, int last, int depth) {
  if (depth > kMaxDepth) throw EParserException(msg::kTooComplex);
  while (first < last && IsLeft(tokens_[static_cast<size_t>(first)]) && partner_[static_cast<size_t>(first)] == last) {
    ++first;
    --last;
  }
  if (first > last) return nullptr;
  if (first == last) return NodeFor(tokens_[static_cast<size_t>(first)]);

  // The loosest operator at bracket depth 0 is the root. Binary operators of
  // one level group from the left, so the rightmost of them is the root;
  // prefix operators (NOT, signs) apply to everything after the leftmost.
  int root = -1;
  int rootPrecedence = -1;
  int level = 0;
  for (int i = first; i <= last; ++i) {
    TExprWord* w = tokens_[static_cast<size_t>(i)];
    if (IsLeft(w)) {
      ++level;
    } else if (IsRight(w)) {
      --level;
    } else if (level == 0 && w->IsOperator()) {
      const int p = w->Precedence();
      if (p > rootPrecedence || (p == rootPrecedence && w->MaxArgs() != 1)) {
        root = i;
        rootPrecedence = p;
      }
    }
  }

  if (root >= 0) {
    ExprNode* node = NodeFor(tokens_[static_cast<size_t>(root)]);
    int arg = 0;
    if (ExprNode* left = BuildTree(first, root - 1, depth + 1)) node->argNode[arg++] = left;
    if (ExprNode* right = BuildTree(root + 1, last, depth + 1)) node->argNode[arg++] = right;
    return node;
  }

  TExprWord* head = tokens_[static_cast<size_t>(first)];
  if (!head->IsFunction()) throw EParserException(msg::kOperatorMissing);
  ExprNode* node = NodeFor(head);
  node->callSyntax = true;
  if (first + 1 <= last && IsLeft(tokens_[static_cast<size_t>(first) + 1])) {
    const int open = first + 1;
    const int partner = partner_[static_cast<size_t>(open)];
    const int close = partner >= 0 && partner <= last ? partner : last + 1;
    // Pieces between commas of bracket depth 1; empty brackets give none.
    std::vector<std::pair<int, int>> pieces;
    if (close > open + 1) {
      int start = open + 1;
      level = 0;
      for (int i = open + 1; i < close; ++i) {
        TExprWord* w = tokens_[static_cast<size_t>(i)];
        if (IsLeft(w)) ++level;
        else if (IsRight(w)) --level;
        else if (level == 0 && IsComma(w)) {
          pieces.emplace_back(start, i - 1);
          start = i + 1;
        }
      }
      pieces.emplace_back(start, close - 1);
    }
    if (pieces.size() > static_cast<size_t>(kMaxArgs)) throw EParserException(msg::kTooManyArgs);
    for (size_t a = 0; a < pieces.size(); ++a)
      node->argNode[a] = BuildTree(pieces[a].first, pieces[a].second, depth + 1);
  }
  return node;
}

void TCustomExpressionParser::CheckArguments(ExprNode* node, int depth) {
  if (depth > kMaxDepth) throw EParserException(msg::kTooComplex);
  bool resolved = false;
  for (;;) {
    const int error = Examine(node, depth);
    if (error == 0) break;
    // The next overload of the same name, in table order.
    const int index = wordTable_.IndexOf(node->word);
    if (index >= 0 && index + 1 < wordTable_.Count() && SameName(wordTable_.Item(index + 1), node->word)) {
      node->word = wordTable_.Item(index + 1);
      continue;
    }
    // A word written without brackets may be a variable named like it (a
    // field called STR); the binder is asked once.
    if (!node->callSyntax && !resolved && !IsSignWord(node->word->Name())) {
      resolved = true;
      const std::string name = node->word->Name();
      const int before = wordTable_.Count();
      ResolveUnknownWord(name);
      int first;
      if (wordTable_.Count() > before && wordTable_.Search(name, first)) {
        // The new word went before the others of its name; it goes behind
        // the first of them, so calls still find the function first.
        TExprWord* added = wordTable_.Item(first);
        if (first + 1 < wordTable_.Count() && SameName(wordTable_.Item(first + 1), added))
          wordTable_.MoveBehindNext(first);
        node->word = added;
        continue;
      }
    }
    throw EParserException(ArgumentMessage(error));
  }
  node->evaluate = node->word->Evaluate();
  node->checked = true;
}

int TCustomExpressionParser::Examine(ExprNode* node, int depth) {
  const TExprWord* w = node->word;
  if (node->callSyntax != (w->IsFunction() && !w->IsOperator())) return 4;
  const std::string& signature = w->TypeSpec();
  const int count = node->ArgCount();
  for (int i = 0; i < count; ++i) {
    ExprNode* arg = node->argNode[i];
    if (!arg->checked) CheckArguments(arg, depth + 1);
    if (i < static_cast<int>(signature.size()) && arg->word->ResultType() != TypeOfLetter(signature[static_cast<size_t>(i)]))
      return 2;
  }
  if (count < w->MinArgs()) return 1;
  if (count > w->MaxArgs()) return 3;
  return 0;
}

bool TCustomExpressionParser::Varies(ExprNode* node) {
  if (node->varies < 0) {
    bool varies = node->word->CanVary();
    for (int i = 0; i < node->ArgCount(); ++i) varies = Varies(node->argNode[i]) || varies;
    node->varies = varies ? 1 : 0;
  }
  return node->varies == 1;
}

ExprNode* TCustomExpressionParser::Fold(ExprNode* node, int depth) {
  const TExpressionType type = node->word->ResultType();
  const bool foldable = type == rtString || type == rtBoolean || type == rtFloat;
  if (Varies(node) || node->word->IsValueWord() || !foldable) {
    for (int i = 0; i < node->ArgCount(); ++i) node->argNode[i] = Fold(node->argNode[i], depth + 1);
    return node;
  }
  // Computed once, here, on the result buffer.
  std::vector<ExprNode*> once;
  result_.pos = result_.Start();
  Link(node, &result_, once);
  for (ExprNode* n : once) {
    if (n->resetDest) n->result.dest->pos = n->result.dest->Start();
    n->evaluate(n);
  }
  std::unique_ptr<TConstant> constant;
  const char* value = result_.Start();
  if (type == rtString) {
    std::string text(value, strnlen(value, static_cast<size_t>(result_.Used())));
    constant = std::make_unique<TStringConstant>(text, text);
  } else if (type == rtBoolean) {
    constant = std::make_unique<TBooleanConstant>("", value[0] != 0);
  } else {
    double d;
    std::memcpy(&d, value, sizeof d);
    constant = std::make_unique<TFloatConstant>("", d);
  }
  ExprNode* folded = NodeFor(constant.get());
  folded->value = constant->AsPointer();
  folded->valueLength = constant->LenAsPointer();
  folded->checked = true;
  folded->varies = 0;
  constants_.push_back(std::move(constant));
  return folded;
}

void TCustomExpressionParser::Link(ExprNode* node, TArgBuffer* dest, std::vector<ExprNode*>& list) {
  const int count = node->ArgCount();
  if (!node->evaluate) {
    // Concatenation: its parts write one after another into `dest`.
    for (int i = 0; i < count; ++i) Link(node->argNode[i], dest, list);
    return;
  }
  node->resetDest = dest->pos == dest->Start();
  if (node->resetDest) ++dest->pos;
  const TShortCut shortCut = ShortCutOf(node->evaluate);
  for (int i = 0; i < count; ++i) {
    node->argType[i] = node->argNode[i]->word->ResultType();
    node->args[i].Init();
    // Skipping the right operand of AND or OR changes nothing but the time
    // taken, as long as it could not have raised.
    if (i == 1 && shortCut != TShortCut::kNone && !MayRaise(node->argNode[1])) {
      ExprNode* guard = NodeFor(&guardWord);
      guard->value = &node->args[0];
      guard->skipTo = node;
      guard->skipWhen = shortCut == TShortCut::kOr;
      list.push_back(guard);
    }
    Link(node->argNode[i], &node->args[i], list);
  }
  node->result.dest = dest;
  node->rules = &rules_;
  list.push_back(node);
}

bool TCustomExpressionParser::MayRaise(const ExprNode* node) const {
  if (norvale::MayRaise(node->evaluate)) return true;
  for (int i = 0; i < node->ArgCount(); ++i)
    if (MayRaise(node->argNode[i])) return true;
  return false;
}

void TCustomExpressionParser::EvaluateList() {
  if (list_.empty()) return;
  // Guard nodes redirect `next` to skip a decided right operand.
  for (ExprNode* node = list_.front(); node; node = node->next) {
    if (node->resetDest) node->result.dest->pos = node->result.dest->Start();
    node->evaluate(node);
  }
}

}  // namespace norvale
