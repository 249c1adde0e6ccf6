// The words of the expression language (constants, variables, functions,
// operators, brackets and the comma) and the sorted word table that a parser
// looks names up in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/expr_node.h"

namespace norvale {

class TExprWord {
 public:
  TExprWord(std::string name, TExprFunc evaluate) : name_(std::move(name)), evaluate_(evaluate) {}
  virtual ~TExprWord() = default;
  TExprWord(const TExprWord&) = delete;
  TExprWord& operator=(const TExprWord&) = delete;

  const std::string& Name() const { return name_; }
  TExprFunc Evaluate() const { return evaluate_; }

  virtual bool IsOperator() const { return false; }
  virtual int FixedLen() const { return -1; }
  virtual bool CanVary() const { return false; }
  virtual TExpressionType ResultType() const { return rtUnknown; }
  virtual int MinArgs() const { return 0; }
  virtual int MaxArgs() const { return 0; }
  virtual const std::string& Description() const;
  virtual const std::string& TypeSpec() const;
  virtual const std::string& ShortName() const;
  virtual void SetFixedLen(int length) {}
  virtual const int* LenAsPointer() const { return nullptr; }
  virtual const void* AsPointer() const { return nullptr; }
  virtual bool IsFunction() const { return false; }
  // Operators only: a greater number binds more loosely.
  virtual int Precedence() const { return 0; }

  // Constants and variables: words whose routine copies a value.
  bool IsValueWord() const;

 private:
  std::string name_;
  TExprFunc evaluate_;
};

// The copy routines of the value words.
namespace copy {
void FloatCopy(ExprNode* node);
void DateTimeCopy(ExprNode* node);
void LargeIntCopy(ExprNode* node);
void IntegerCopy(ExprNode* node);
void BooleanCopy(ExprNode* node);
void StringConstantAppend(ExprNode* node);
void StringVariableAppend(ExprNode* node);
}  // namespace copy

class TConstant : public TExprWord {
 public:
  TConstant(std::string name, TExpressionType type, TExprFunc evaluate)
      : TExprWord(std::move(name), evaluate), type_(type) {}
  TExpressionType ResultType() const override { return type_; }

 private:
  TExpressionType type_;
};

class TFloatConstant : public TConstant {
 public:
  TFloatConstant(std::string name, double value)
      : TConstant(std::move(name), rtFloat, copy::FloatCopy), value_(value) {}
  const void* AsPointer() const override { return &value_; }

 private:
  double value_;
};

class TStringConstant : public TConstant {
 public:
  TStringConstant(std::string name, std::string text)
      : TConstant(std::move(name), rtString, copy::StringConstantAppend), text_(std::move(text)) {}
  const void* AsPointer() const override { return text_.c_str(); }
  // The length up to the first zero byte, so copying need not count.
  const int* LenAsPointer() const override { return &length_; }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  int length_ = static_cast<int>(std::char_traits<char>::length(text_.c_str()));
};

class TIntegerConstant : public TConstant {
 public:
  explicit TIntegerConstant(int32_t value)
      : TConstant(std::to_string(value), rtInteger, copy::IntegerCopy), value_(value) {}
  const void* AsPointer() const override { return &value_; }

 private:
  int32_t value_;
};

class TBooleanConstant : public TConstant {
 public:
  TBooleanConstant(std::string name, bool value)
      : TConstant(std::move(name), rtBoolean, copy::BooleanCopy), value_(value ? 1 : 0) {}
  const void* AsPointer() const override { return &value_; }

 private:
  uint8_t value_;
};

// Variables point at storage their binder owns and refreshes.
class TVariable : public TExprWord {
 public:
  TVariable(std::string name, TExpressionType type, TExprFunc evaluate)
      : TExprWord(std::move(name), evaluate), type_(type) {}
  bool CanVary() const override { return true; }
  TExpressionType ResultType() const override { return type_; }

  // Called (with `context`) before each copy of the value, so a binder can
  // fill the storage only for the values an evaluation reads.
  void SetRefresh(TRefreshFunc refresh, void* context) {
    refresh_ = refresh;
    refreshContext_ = context;
  }
  TRefreshFunc Refresh() const { return refresh_; }
  void* RefreshContext() const { return refreshContext_; }

 private:
  TExpressionType type_;
  TRefreshFunc refresh_ = nullptr;
  void* refreshContext_ = nullptr;
};

template <TExpressionType kType, typename T, TExprFunc kCopy>
class TValueVariable : public TVariable {
 public:
  TValueVariable(std::string name, T* value) : TVariable(std::move(name), kType, kCopy), value_(value) {}
  const void* AsPointer() const override { return value_; }

 private:
  T* value_;
};

using TFloatVariable = TValueVariable<rtFloat, double, copy::FloatCopy>;
using TDateTimeVariable = TValueVariable<rtDateTime, double, copy::DateTimeCopy>;
using TIntegerVariable = TValueVariable<rtInteger, int32_t, copy::IntegerCopy>;
using TLargeIntVariable = TValueVariable<rtLargeInt, int64_t, copy::LargeIntCopy>;
using TBooleanVariable = TValueVariable<rtBoolean, uint8_t, copy::BooleanCopy>;

// Points at the binder's text pointer. A fixed length of -1 means the text
// is zero-terminated; any other value is its exact length (not terminated).
class TStringVariable : public TVariable {
 public:
  TStringVariable(std::string name, const char* const* text)
      : TVariable(std::move(name), rtString, copy::StringVariableAppend), text_(text) {}
  const void* AsPointer() const override { return text_; }
  int FixedLen() const override { return fixedLength_; }
  void SetFixedLen(int length) override { fixedLength_ = length; }
  // The same, without the virtual call, for binders that set it per record.
  void SetLength(int length) { fixedLength_ = length; }
  const int* LenAsPointer() const override { return &fixedLength_; }

 private:
  const char* const* text_;
  int fixedLength_ = -1;
};

class TLeftBracket : public TExprWord {
 public:
  TLeftBracket() : TExprWord("(", nullptr) {}
  TExpressionType ResultType() const override { return rtLeftBracket; }
};

class TRightBracket : public TExprWord {
 public:
  TRightBracket() : TExprWord(")", nullptr) {}
  TExpressionType ResultType() const override { return rtRightBracket; }
};

class TComma : public TExprWord {
 public:
  TComma() : TExprWord(",", nullptr) {}
  TExpressionType ResultType() const override { return rtComma; }
};

// Functions and operators. A signature has one letter per argument, at most
// six; a minimum of -1 means all of them are required.
class TFunction : public TExprWord {
 public:
  TFunction(std::string name, std::string shortName, std::string typeSpec, int minArgs,
            TExpressionType resultType, TExprFunc evaluate, bool isOperator = false, int precedence = 0);
  bool IsOperator() const override { return isOperator_; }
  int Precedence() const override { return precedence_; }
  int MinArgs() const override { return minArgs_; }
  int MaxArgs() const override { return maxArgs_; }
  const std::string& Description() const override { return description_; }
  const std::string& TypeSpec() const override { return typeSpec_; }
  const std::string& ShortName() const override { return shortName_; }
  TExpressionType ResultType() const override { return resultType_; }
  bool IsFunction() const override { return true; }

 private:
  bool isOperator_;
  int precedence_;
  int minArgs_;
  int maxArgs_;
  std::string description_;
  std::string typeSpec_;
  std::string shortName_;
  TExpressionType resultType_;
};

// ASCII-only, so a name means the same word under every locale.
int CompareNamesIgnoringCase(std::string_view a, std::string_view b);

// Words sorted by name ignoring ASCII case; equal names may repeat and a new
// word goes before the words of its name. Words are shared between the
// process-wide standard tables and the tables of parsers; a word lives as
// long as some table holds it. Words with a short name are also listed by it.
class TExpressList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TExprWord* Item(int index) const { return items_[static_cast<size_t>(index)].get(); }
  const std::shared_ptr<TExprWord>& Shared(int index) const { return items_[static_cast<size_t>(index)]; }

  void Add(std::shared_ptr<TExprWord> word);
  void AddAll(const TExpressList& table);
  // Drops the table's hold on the word; false when the table lacks it.
  bool Remove(const TExprWord* word);
  void Clear();
  // Position of the first word named `name`, else of the word found by its
  // short name; false when neither exists.
  bool Search(std::string_view name, int& index) const;
  // Whether a word of exactly this name (ignoring case) exists.
  bool Contains(std::string_view name) const {
    int index;
    return Search(name, index);
  }
  int IndexOf(const TExprWord* word) const;
  // Moves the word at `index` to just after the word following it.
  void MoveBehindNext(int index);

 private:
  int LowerBound(std::string_view name) const;
  int ShortLowerBound(std::string_view name) const;

  std::vector<std::shared_ptr<TExprWord>> items_;
  std::vector<TExprWord*> shortList_;  // by short name; does not hold its words
};

}  // namespace norvale
