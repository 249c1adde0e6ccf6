#include "dataset/table_filter.h"

#include "dataset/dataset_messages.h"
#include "engine/table_file.h"
#include "expr/expr_exceptions.h"

namespace norvale {

TTableFilter::TTableFilter(TDbfFile* file) : file_(file) {}

TTableFilter::~TTableFilter() = default;

void TTableFilter::Compile(const std::string& text, bool ignoreCase, bool partialCompare) {
  // Blanks alone are what an emptied filter box holds: no condition.
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    Clear();
    return;
  }
  // A parser of its own for the new text: a text that does not compile must
  // leave the previous condition working, and a parser that failed holds
  // none.
  auto parser = std::make_unique<TDbfParser>(file_);
  parser->SetRawStrings(false);
  parser->SetPartialCompare(partialCompare);
  parser->SetIgnoreCase(ignoreCase);
  parser->ParseExpression(text);
  if (parser->ResultType() != rtBoolean) throw EParserException(msg::kFilterNotLogical);
  parser_ = std::move(parser);
  text_ = text;
}

void TTableFilter::Clear() {
  parser_.reset();
  text_.clear();
}

}  // namespace norvale
