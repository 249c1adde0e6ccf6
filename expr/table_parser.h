// TDbfParser binds the expression language to one table file: a name that
// is not a word of the language is a field, read from the record buffer
// given to EvaluateRecord. It owns the choices of case-sensitive and
// wildcard text comparison and of raw or converted text fields.
// TDbfIndexParser adds the length rules of index keys.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "expr/field_vars.h"
#include "expr/parser_core.h"

namespace norvale {

class TDbfFile;

class TDbfParser : public TCustomExpressionParser {
 public:
  // `table` may be null and set later, before the first parse.
  explicit TDbfParser(TDbfFile* table = nullptr);
  ~TDbfParser() override;

  TDbfFile* DbfFile() const { return table_; }
  void SetDbfFile(TDbfFile* table);

  // Changing either reloads the word tables and parses the current
  // expression again, so it can raise the errors of ParseExpression.
  bool IgnoreCase() const { return ignoreCase_; }
  void SetIgnoreCase(bool value);
  bool PartialCompare() const { return partialCompare_; }
  void SetPartialCompare(bool value);
  // Raw: text fields as stored (all bytes, table code page); otherwise
  // without trailing blanks and converted to UTF-8.
  bool RawStrings() const { return rawStrings_; }
  void SetRawStrings(bool value);

  // The text names one field (nothing is compiled then) or is compiled.
  // Raises EParserException, EConvertError, or EDbfError for names that are
  // no usable field; on any error the parser holds no expression.
  void ParseExpression(const std::string& text);
  TExpressionType ResultType() const override;
  // Length of the value for keys and buffers; -1 when not fixed.
  int ResultLength() const;
  // Refreshes the fields from `record` (the record image: deletion flag,
  // then the fields) and answers the address of the value. A single text
  // field answers its text: in raw mode inside `record`, not terminated.
  const char* EvaluateRecord(const uint8_t* record);
  void Clear() override;
  const std::string& CurrentExpression() const { return expression_; }
  bool IsSingleField() const { return singleField_; }
  const std::vector<std::unique_ptr<TFieldVar>>& FieldVars() const { return fieldVars_; }

 protected:
  // Checks a parsed expression; raises to refuse it.
  virtual void Validate(const std::string& text) {}
  void FillWordTable() override;
  void ResolveUnknownWord(const std::string& name) override;

 private:
  const TDbfFieldDef* FindField(const std::string& name) const;
  TFieldVar* AddFieldVar(const std::string& name);
  void ReloadWordTables();
  void UpdateCodePage();

  TDbfFile* table_ = nullptr;
  std::vector<std::unique_ptr<TFieldVar>> fieldVars_;
  bool singleField_ = false;
  TExpressionType fieldResultType_ = rtUnknown;
  bool ignoreCase_ = true;
  bool rawStrings_ = true;
  bool partialCompare_ = false;
  std::string expression_;
  TRecordState recordState_;
  // Converts the table's text fields to UTF-8; null for a UTF-8 table.
  std::unique_ptr<TCodePageDecoder> decoder_;
  bool asciiKept_ = true;
};

class TDbfIndexParser : public TDbfParser {
 public:
  static constexpr int kMaxKeyLength = 100;
  using TDbfParser::TDbfParser;
  // The length a character key is sized by, set by the last parse.
  int KeyLength() const { return keyLength_; }

 protected:
  void Validate(const std::string& text) override;

 private:
  int keyLength_ = 0;
};

}  // namespace norvale
