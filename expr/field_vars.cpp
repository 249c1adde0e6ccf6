#include "expr/field_vars.h"

#include <algorithm>
#include <cstring>

#include "engine/record_view.h"
#include "engine/table_file.h"
#include "expr/words.h"

namespace norvale {

void TFieldVar::RefreshHook(void* fieldVar) {
  auto* self = static_cast<TFieldVar*>(fieldVar);
  const TRecordState* state = self->state_;
  if (!state || !state->record || self->generation_ == state->generation) return;
  self->Refresh(state->record);
  self->generation_ = state->generation;
}

bool TFieldVar::IsNull(const uint8_t* record) const { return table_.Codec().IsNullFlagged(field_, record); }

bool TFieldVar::Decode(TFieldType request, void* value, const uint8_t* record) const {
  if (IsNull(record)) return false;
  return table_.DecodeField(field_, request, false, value, record);
}

TStringFieldVar::TStringFieldVar(const TDbfFieldDef& field, const TDbfFile& table, std::string name,
                                 TTextSource source)
    : TFieldVar(field, table, std::move(name)), source_(source) {
  SetRaw(true);
}

void TStringFieldVar::SetLength(int length) {
  if (auto* word = static_cast<TStringVariable*>(exprWord_)) word->SetLength(length);
}

void TStringFieldVar::SetExprWord(TExprWord* word) {
  TFieldVar::SetExprWord(word);
  SetLength(raw_ ? field_.Size() : -1);
}

void TStringFieldVar::SetRaw(bool raw) {
  raw_ = raw;
  inPlaceLength_ = -1;
  if (raw) {
    // Blanks until the first refresh, so the fixed length never reads past.
    buffer_.assign(static_cast<size_t>(field_.Size()), ' ');
    text_ = buffer_.c_str();
  } else {
    buffer_.reserve(static_cast<size_t>(field_.Size()) * 3 + 1);
    buffer_.clear();
    text_ = buffer_.c_str();
  }
  SetLength(raw ? field_.Size() : -1);
}

namespace {

bool AllAscii(const char* bytes, size_t length) {
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t word;
    std::memcpy(&word, bytes + i, sizeof word);
    if (word & 0x8080808080808080ull) return false;
  }
  for (; i < length; ++i)
    if (static_cast<unsigned char>(bytes[i]) >= 0x80) return false;
  return true;
}

}  // namespace

void TStringFieldVar::Refresh(const uint8_t* record) {
  const TRecordView view(record, static_cast<size_t>(std::max(table_.RecordLength(), 0)), &table_.Codec());
  if (raw_) {
    const std::string_view stored = view.Bytes(field_);
    // A field the record does not hold keeps the blanks of SetRaw.
    text_ = stored.empty() ? buffer_.c_str() : stored.data();
    return;
  }
  const std::string_view trimmed = view.NullFlagged(field_) ? std::string_view() : view.Text(field_);
  const char* bytes = trimmed.empty() ? "" : trimmed.data();
  const size_t length = trimmed.size();
  if (!source_.decoder || (source_.asciiKept && AllAscii(bytes, length))) {
    text_ = bytes;
    inPlaceLength_ = static_cast<int>(length);
    SetLength(inPlaceLength_);
    return;
  }
  inPlaceLength_ = -1;
  buffer_.clear();
  source_.decoder->AppendUtf8(buffer_, bytes, length);
  text_ = buffer_.c_str();
  SetLength(-1);
}

const char* TStringFieldVar::Text() {
  if (!raw_ && inPlaceLength_ >= 0) {
    buffer_.assign(text_, static_cast<size_t>(inPlaceLength_));
    text_ = buffer_.c_str();
    inPlaceLength_ = -1;
    SetLength(-1);
  }
  return text_;
}

void TFloatFieldVar::Refresh(const uint8_t* record) {
  double v = 0;
  value_ = Decode(ftFloat, &v, record) ? v : 0;
}

void TIntegerFieldVar::Refresh(const uint8_t* record) {
  if (field_.FieldType() == ftSmallint) {
    int16_t v = 0;
    value_ = Decode(ftSmallint, &v, record) ? v : 0;
  } else {
    int32_t v = 0;
    value_ = Decode(field_.FieldType(), &v, record) ? v : 0;
  }
}

void TLargeIntFieldVar::Refresh(const uint8_t* record) {
  int64_t v = 0;
  value_ = Decode(ftLargeint, &v, record) ? v : 0;
}

void TDateTimeFieldVar::Refresh(const uint8_t* record) {
  double v = 0;
  value_ = Decode(ftDateTime, &v, record) ? v : 0;
}

void TBooleanFieldVar::Refresh(const uint8_t* record) {
  int16_t v = 0;
  value_ = Decode(ftBoolean, &v, record) && v != 0 ? 1 : 0;
}

std::unique_ptr<TFieldVar> MakeFieldVar(const TDbfFieldDef& field, const TDbfFile& table, const std::string& name,
                                        TTextSource source) {
  switch (field.FieldType()) {
    case ftString: return std::make_unique<TStringFieldVar>(field, table, name, source);
    case ftSmallint:
    case ftInteger:
    case ftAutoInc: return std::make_unique<TIntegerFieldVar>(field, table, name);
    case ftBoolean: return std::make_unique<TBooleanFieldVar>(field, table, name);
    case ftFloat: return std::make_unique<TFloatFieldVar>(field, table, name);
    case ftDate:
    case ftDateTime: return std::make_unique<TDateTimeFieldVar>(field, table, name);
    case ftLargeint: return std::make_unique<TLargeIntFieldVar>(field, table, name);
    default: return nullptr;
  }
}

}  // namespace norvale
