#include "expr/table_parser.h"

#include <cstring>

#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "expr/expr_messages.h"
#include "expr/functions.h"
#include "platform/ascii.h"

namespace norvale {

TDbfParser::TDbfParser(TDbfFile* table) : table_(table) {
  TDbfParser::FillWordTable();
  UpdateCodePage();
}

TDbfParser::~TDbfParser() { TDbfParser::Clear(); }

void TDbfParser::SetDbfFile(TDbfFile* table) {
  Clear();
  table_ = table;
  UpdateCodePage();
}

void TDbfParser::UpdateCodePage() {
  const int tableCodePage = table_ && table_->UseCodePage() > 0 ? table_->UseCodePage() : kUtf8CodePage;
  if (tableCodePage == kUtf8CodePage) {
    decoder_.reset();
    asciiKept_ = true;
  } else if (!decoder_ || decoder_->CodePage() != tableCodePage) {
    decoder_ = std::make_unique<TCodePageDecoder>(tableCodePage);
    std::string ascii;
    for (int b = 0; b < 0x80; ++b) ascii += static_cast<char>(b);
    std::string decoded;
    decoder_->AppendUtf8(decoded, ascii.data(), ascii.size());
    asciiKept_ = decoded == ascii;
  }
  // Raw text fields come in the table's code page, converted ones in UTF-8.
  TextRules().Setup(rawStrings_ ? tableCodePage : kUtf8CodePage);
}

void TDbfParser::FillWordTable() {
  TExpressList& table = WordTable();
  table.Clear();
  table.AddAll(GeneralWords());
  if (ignoreCase_) {
    table.AddAll(InsensitiveCompareWords());
    table.AddAll(partialCompare_ ? InsensitivePartialEqualWords() : InsensitiveExactEqualWords());
  } else {
    table.AddAll(SensitiveCompareWords());
    table.AddAll(partialCompare_ ? SensitivePartialEqualWords() : SensitiveExactEqualWords());
  }
}

void TDbfParser::ReloadWordTables() {
  const std::string text = expression_;
  Clear();
  FillWordTable();
  if (!text.empty()) ParseExpression(text);
}

void TDbfParser::SetIgnoreCase(bool value) {
  if (value == ignoreCase_) return;
  ignoreCase_ = value;
  ReloadWordTables();
}

void TDbfParser::SetPartialCompare(bool value) {
  if (value == partialCompare_) return;
  partialCompare_ = value;
  ReloadWordTables();
}

void TDbfParser::SetRawStrings(bool value) {
  if (value == rawStrings_) return;
  rawStrings_ = value;
  for (auto& fieldVar : fieldVars_)
    if (auto* text = dynamic_cast<TStringFieldVar*>(fieldVar.get())) text->SetRaw(value);
  UpdateCodePage();
}

void TDbfParser::Clear() {
  TCustomExpressionParser::Clear();
  for (auto& fieldVar : fieldVars_) WordTable().Remove(fieldVar->ExprWord());
  fieldVars_.clear();
  expression_.clear();
  singleField_ = false;
  fieldResultType_ = rtUnknown;
}

const TDbfFieldDef* TDbfParser::FindField(const std::string& name) const {
  if (!table_) return nullptr;
  const std::string upper = AsciiUpper(name);
  const TDbfFieldDefs& defs = table_->FieldDefs();
  for (int i = 0; i < defs.Count(); ++i)
    if (defs.Item(i).FieldName() == upper) return &defs.Item(i);
  return nullptr;
}

TFieldVar* TDbfParser::AddFieldVar(const std::string& name) {
  const TDbfFieldDef* field = FindField(name);
  if (!field) throw EDbfError(FormatMessage(msg::kUnknownField, name.c_str()));
  std::unique_ptr<TFieldVar> fieldVar = MakeFieldVar(*field, *table_, name, TTextSource{decoder_.get(), asciiKept_});
  if (!fieldVar) throw EDbfError(FormatMessage(msg::kInvalidIndexFieldType, name.c_str()));
  TExprWord* word = nullptr;
  switch (fieldVar->FieldType()) {
    case rtString:
      word = AddStringVariable(name, static_cast<const char* const*>(fieldVar->FieldVal()));
      break;
    case rtInteger: word = AddIntegerVariable(name, static_cast<int32_t*>(fieldVar->FieldVal())); break;
    case rtBoolean: word = AddBooleanVariable(name, static_cast<uint8_t*>(fieldVar->FieldVal())); break;
    case rtFloat: word = AddFloatVariable(name, static_cast<double*>(fieldVar->FieldVal())); break;
    case rtDateTime: word = AddDateTimeVariable(name, static_cast<double*>(fieldVar->FieldVal())); break;
    default: word = AddLargeIntVariable(name, static_cast<int64_t*>(fieldVar->FieldVal())); break;
  }
  fieldVar->SetExprWord(word);
  fieldVar->Follow(&recordState_);
  static_cast<TVariable*>(word)->SetRefresh(&TFieldVar::RefreshHook, fieldVar.get());
  if (auto* text = dynamic_cast<TStringFieldVar*>(fieldVar.get())) text->SetRaw(rawStrings_);
  fieldVars_.push_back(std::move(fieldVar));
  return fieldVars_.back().get();
}

void TDbfParser::ResolveUnknownWord(const std::string& name) { AddFieldVar(name); }

void TDbfParser::ParseExpression(const std::string& text) {
  Clear();
  try {
    if (FindField(text)) {
      singleField_ = true;
      fieldResultType_ = AddFieldVar(text)->FieldType();
    } else {
      Compile(text);
    }
    Validate(text);
    expression_ = text;
  } catch (...) {
    Clear();
    throw;
  }
}

TExpressionType TDbfParser::ResultType() const {
  return singleField_ ? fieldResultType_ : TCustomExpressionParser::ResultType();
}

int TDbfParser::ResultLength() const {
  switch (ResultType()) {
    case rtInteger: return 4;
    case rtBoolean: return 1;
    case rtFloat:
    case rtDateTime: return 8;
    case rtString: return singleField_ && rawStrings_ ? fieldVars_.front()->FieldDef().Size() : -1;
    default: return -1;
  }
}

const char* TDbfParser::EvaluateRecord(const uint8_t* record) {
  if (singleField_) {
    TFieldVar& only = *fieldVars_.front();
    only.Refresh(record);
    if (only.FieldType() == rtString) return static_cast<TStringFieldVar&>(only).Text();
    return static_cast<const char*>(only.FieldVal());
  }
  // Fields are decoded as the evaluation reaches them.
  recordState_.record = record;
  ++recordState_.generation;
  EvaluateList();
  return ResultBuffer();
}

void TDbfIndexParser::Validate(const std::string& text) {
  keyLength_ = ResultLength();
  if (keyLength_ == -1) {
    if (!DbfFile()) return;
    std::vector<uint8_t> blank(static_cast<size_t>(std::max(DbfFile()->RecordLength(), 1)));
    DbfFile()->BlankRecord(blank.data());
    const char* value = EvaluateRecord(blank.data());
    // Only texts are zero-terminated; a number is read no further than itself.
    size_t bound = sizeof(int64_t);
    if (ResultType() == rtString)
      bound = IsSingleField() ? static_cast<size_t>(FieldVars().front()->FieldDef().Size()) * 3 + 1 : ResultCapacity();
    keyLength_ = static_cast<int>(strnlen(value, bound));
  }
  if (keyLength_ > kMaxKeyLength) throw EDbfError(FormatMessage(msg::kIndexResultTooLong, text.c_str(), keyLength_));
}

}  // namespace norvale
