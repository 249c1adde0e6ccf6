// TCustomExpressionParser: compiles a one-line expression into a flat list of
// nodes and evaluates that list as often as asked. It knows nothing of
// tables; a binder chooses the word tables and decides what an unknown name
// means (TDbfParser makes it a field).
//
// Compiling is all or nothing: on any error the parser holds no expression
// and can compile again. Evaluating never looks a name up and allocates only
// when a text outgrows its buffer.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/expr_node.h"
#include "expr/text_rules.h"
#include "expr/words.h"

namespace norvale {

class TCustomExpressionParser {
 public:
  // Brackets and operators nested deeper than this are refused, which bounds
  // the compiler's recursion whatever the text.
  static constexpr int kMaxDepth = 1000;

  TCustomExpressionParser();
  virtual ~TCustomExpressionParser();
  TCustomExpressionParser(const TCustomExpressionParser&) = delete;
  TCustomExpressionParser& operator=(const TCustomExpressionParser&) = delete;

  char HexChar() const { return hexChar_; }
  void SetHexChar(char c) { hexChar_ = c; }
  char DecimalSeparator() const { return decimalSeparator_; }
  void SetDecimalSeparator(char c) { decimalSeparator_ = c; }
  bool Optimize() const { return optimize_; }
  void SetOptimize(bool value) { optimize_ = value; }

  // Compiles `text` (the caller clears the previous expression first). An
  // empty text compiles to nothing. Raises EParserException, EConvertError
  // for number literals, or whatever ResolveUnknownWord raises.
  void Compile(std::string_view text);
  // Runs the list once; the value is then in ResultBuffer(). Raises
  // EParserException on a division by zero; the list stays usable.
  void EvaluateList();
  // rtUnknown when nothing is compiled.
  virtual TExpressionType ResultType() const;
  // Numbers in their binary layout at the start, texts zero-terminated.
  const char* ResultBuffer() const { return result_.Start(); }
  size_t ResultCapacity() const { return static_cast<size_t>(result_.capacity); }
  virtual void Clear();
  bool HasExpression() const { return !list_.empty(); }

  TIntegerVariable* AddIntegerVariable(const std::string& name, int32_t* value);
  TLargeIntVariable* AddLargeIntVariable(const std::string& name, int64_t* value);
  TDateTimeVariable* AddDateTimeVariable(const std::string& name, double* value);
  TBooleanVariable* AddBooleanVariable(const std::string& name, uint8_t* value);
  TFloatVariable* AddFloatVariable(const std::string& name, double* value);
  TStringVariable* AddStringVariable(const std::string& name, const char* const* text);

  TExpressList& WordTable() { return wordTable_; }
  TTextRules& TextRules() { return rules_; }

 protected:
  virtual std::unique_ptr<ExprNode> NewNode();
  // Loads the word tables; the base loads the general words with the
  // case-insensitive exact text comparisons.
  virtual void FillWordTable();
  // Called for a name no table knows, and for a word written without
  // brackets that fits none of its overloads. May add a variable of that
  // name (or raise); doing nothing leaves the name unknown.
  virtual void ResolveUnknownWord(const std::string& name);

 private:
  struct TToken;
  std::vector<TToken> Tokenize(std::string_view text) const;
  void MakeWords(const std::vector<TToken>& tokens);
  void CheckTokens();
  ExprNode* BuildTree(int first, int last, int depth);
  ExprNode* NodeFor(TExprWord* word);
  void CheckArguments(ExprNode* node, int depth);
  int Examine(ExprNode* node, int depth);
  bool Varies(ExprNode* node);
  ExprNode* Fold(ExprNode* node, int depth);
  void Link(ExprNode* node, TArgBuffer* dest, std::vector<ExprNode*>& list);
  bool MayRaise(const ExprNode* node) const;
  void ReleaseCompiled();

  char hexChar_ = '$';
  char decimalSeparator_ = '.';
  bool optimize_ = true;
  std::vector<std::unique_ptr<TConstant>> constants_;
  std::vector<std::unique_ptr<ExprNode>> nodes_;
  std::vector<ExprNode*> list_;
  TArgBuffer result_;
  TExpressList wordTable_;
  TTextRules rules_;
  // The token list of one compilation, and each bracket's partner (-1: none).
  std::vector<TExprWord*> tokens_;
  std::vector<int> partner_;
};

}  // namespace norvale
