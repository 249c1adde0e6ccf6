// Searching the table object: Locate, Lookup and the find operations.
#include <charconv>
#include <cmath>
#include <string_view>

#include "dataset/dataset_messages.h"
#include "dataset/dbf_table.h"
#include "engine/messages.h"
#include "engine/record_view.h"
#include "engine/table_file.h"
#include "index/index_file.h"
#include "expr/text_rules.h"
#include "platform/ascii.h"

namespace norvale {

namespace {

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsTextType(TFieldType type) { return type == ftString || type == ftFixedChar || type == ftWideString; }

bool IsIntegerType(TFieldType type) {
  return type == ftSmallint || type == ftInteger || type == ftWord || type == ftAutoInc || type == ftLargeint;
}

bool IsFloatType(TFieldType type) { return type == ftFloat || type == ftCurrency || type == ftBCD; }

bool IsDateType(TFieldType type) { return type == ftDate || type == ftTime || type == ftDateTime; }

bool ParseWhole(std::string_view text, int64_t* out) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

bool ParseReal(std::string_view text, double* out) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *out, std::chars_format::general);
  return r.ec == std::errc() && r.ptr == text.data() + text.size() && std::isfinite(*out);
}

// One key field with the value it is compared with, converted once before
// the walk so that a value that fits no record fails before any is read.
struct TSearchKey {
  enum TKind { kText, kNull, kInteger, kFloat, kBoolean, kDate, kExactText };
  TField* field = nullptr;
  TKind kind = kText;
  // kText: the search text (UTF-8) and its length in characters; kExactText:
  // the text the field's whole value must be.
  std::string text;
  size_t textChars = 0;
  bool ignoreCase = false;
  // The prefix rule: the last key with the partial-key option.
  bool partial = false;
  int64_t integer = 0;
  double number = 0;
  bool boolean = false;
};

TSearchKey MakeKey(TField& field, const TVariant& value, bool ignoreCase, bool partial, TTextRules& rules) {
  TSearchKey key;
  key.field = &field;
  const TFieldType type = field.DataType();
  if (IsTextType(type)) {
    key.kind = TSearchKey::kText;
    key.text = value.ToText();
    key.textChars = rules.CharCount(key.text);
    key.ignoreCase = ignoreCase;
    key.partial = partial;
    return key;
  }
  if (value.IsNull()) {
    key.kind = TSearchKey::kNull;
    return key;
  }
  const std::string text = value.Type() == varString ? value.String() : std::string();
  if (IsIntegerType(type) || IsFloatType(type)) {
    switch (value.Type()) {
      case varInteger:
      case varBoolean:
        key.kind = TSearchKey::kInteger;
        key.integer = value.Type() == varBoolean ? (value.Boolean() ? 1 : 0) : value.Integer();
        break;
      case varString:
        if (IsIntegerType(type) && ParseWhole(text, &key.integer)) {
          key.kind = TSearchKey::kInteger;
        } else if (ParseReal(text, &key.number)) {
          key.kind = TSearchKey::kFloat;
        } else {
          throw EConvertError(
              FormatMessage(IsIntegerType(type) ? msg::kInvalidInteger : msg::kInvalidFloat, text.c_str()));
        }
        break;
      default:
        key.kind = TSearchKey::kFloat;
        key.number = value.Float();
        break;
    }
    // A whole number against a fractional field compares as a number.
    if (key.kind == TSearchKey::kInteger && !IsIntegerType(type)) {
      key.kind = TSearchKey::kFloat;
      key.number = static_cast<double>(key.integer);
    }
    return key;
  }
  if (type == ftBoolean) {
    key.kind = TSearchKey::kBoolean;
    switch (value.Type()) {
      case varBoolean: key.boolean = value.Boolean(); break;
      case varInteger: key.boolean = value.Integer() != 0; break;
      case varFloat:
      case varDate: key.boolean = value.Float() != 0; break;
      default: {
        const std::string_view t = TrimBlanks(text);
        if (EqualNoCaseAscii(t, "T") || EqualNoCaseAscii(t, "TRUE") || EqualNoCaseAscii(t, "Y") ||
            EqualNoCaseAscii(t, "YES") || t == "1") {
          key.boolean = true;
        } else if (EqualNoCaseAscii(t, "F") || EqualNoCaseAscii(t, "FALSE") || EqualNoCaseAscii(t, "N") ||
                   EqualNoCaseAscii(t, "NO") || t == "0") {
          key.boolean = false;
        } else {
          throw EConvertError(FormatMessage(msg::kInvalidBoolean, text.c_str(), field.FieldName().c_str()));
        }
      }
    }
    return key;
  }
  if (IsDateType(type)) {
    key.kind = TSearchKey::kDate;
    switch (value.Type()) {
      case varInteger: key.number = static_cast<double>(value.Integer()); break;
      case varFloat:
      case varDate: key.number = value.Float(); break;
      case varBoolean: key.number = value.Boolean() ? 1 : 0; break;
      default:
        if (!ParseDateTimeText(TrimBlanks(text), &key.number))
          throw EConvertError(FormatMessage(msg::kInvalidDate, text.c_str()));
    }
    return key;
  }
  // Memos and the other types: their whole text must be the value's.
  key.kind = TSearchKey::kExactText;
  key.text = value.ToText();
  return key;
}

// Keys for `fields` from `values`: a single value for a single field, or an
// array of one plain value per field. False for any other shape.
bool MakeKeys(const std::vector<TField*>& fields, const TVariant& values, TLocateOptions options, TTextRules& rules,
              std::vector<TSearchKey>& keys) {
  keys.clear();
  if (fields.empty()) return false;
  const std::vector<TVariant> single = {values};
  const std::vector<TVariant>& items = values.IsArray() ? values.Items() : single;
  if (items.size() != fields.size()) return false;
  for (const TVariant& item : items)
    if (item.IsArray()) return false;
  const bool ignoreCase = (options & loCaseInsensitive) != 0;
  for (size_t i = 0; i < fields.size(); ++i) {
    const bool partial = (options & loPartialKey) != 0 && i + 1 == fields.size();
    keys.push_back(MakeKey(*fields[i], items[i], ignoreCase, partial, rules));
  }
  return true;
}

bool TextEqual(std::string_view a, std::string_view b, bool ignoreCase, TTextRules& rules) {
  return ignoreCase ? rules.Equal(a, b, true) : a == b;
}

// Whether the current record (the dataset's current buffer) holds every key;
// the fields' text goes through `scratch`.
bool KeysMatch(const std::vector<TSearchKey>& keys, TTextRules& rules, std::string& scratch) {
  for (const TSearchKey& key : keys) {
    const TField& field = *key.field;
    bool match = false;
    switch (key.kind) {
      case TSearchKey::kText: {
        field.GetText(scratch);
        match = TextEqual(scratch, key.text, key.ignoreCase, rules);
        if (!match && key.partial && rules.CharCount(scratch) > key.textChars)
          match = key.textChars == 0 ||
                  TextEqual(std::string_view(scratch).substr(0, rules.CharOffset(scratch, key.textChars)), key.text,
                            key.ignoreCase, rules);
        break;
      }
      case TSearchKey::kNull: match = field.IsNull(); break;
      case TSearchKey::kInteger: match = !field.IsNull() && field.AsLargeInt() == key.integer; break;
      case TSearchKey::kFloat: match = !field.IsNull() && field.AsFloat() == key.number; break;
      case TSearchKey::kBoolean: match = !field.IsNull() && field.AsBoolean() == key.boolean; break;
      case TSearchKey::kDate: match = !field.IsNull() && field.AsDateTime() == key.number; break;
      case TSearchKey::kExactText: match = !field.IsNull() && field.AsString() == key.text; break;
    }
    if (!match) return false;
  }
  return true;
}

TVariant FieldValue(const TField& field) {
  if (field.IsNull()) return TVariant();
  const TFieldType type = field.DataType();
  if (IsIntegerType(type)) return TVariant(field.AsLargeInt());
  if (IsFloatType(type)) return TVariant(field.AsFloat());
  if (type == ftBoolean) return TVariant(field.AsBoolean());
  if (IsDateType(type)) return TVariant::Date(field.AsDateTime());
  return TVariant(field.AsString());
}

}  // namespace

std::vector<TField*> TDbfTable::FieldList(const std::string& names) const {
  std::vector<TField*> fields;
  size_t from = 0;
  while (from < names.size()) {
    size_t end = names.find(';', from);
    if (end == std::string::npos) end = names.size();
    fields.push_back(&FieldByName(TrimBlanks(std::string_view(names).substr(from, end - from))));
    from = end + 1;
  }
  return fields;
}

bool TDbfTable::LinearSearch(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options) {
  TTextRules rules;
  rules.Setup(kUtf8CodePage);
  std::vector<TSearchKey> keys;
  if (!MakeKeys(FieldList(keyFields), keyValues, options, rules, keys)) return false;
  uint8_t* buffer = tempBuffer_.get();
  uint8_t* record = buffer + kHeaderSize;
  TTempState scope(*this, dsFilter, filterBuffer_, buffer);
  std::string scratch;
  // What other programs wrote since the last walk counts.
  InvalidateReadAhead();
  cursor_->First();
  while (cursor_->Next()) {
    const int64_t recNo = cursor_->GetPhysicalRecord();
    if (recNo <= 0 || !dbfFile_->RecordExists(recNo)) return false;
    ReadRecord(recNo, record);
    if (!showDeleted_ && TRecordView(record, static_cast<size_t>(recordSize_)).Deleted()) continue;
    StampRecord(buffer);
    if (Filtered() && !AcceptRecord(buffer)) continue;
    if (KeysMatch(keys, rules, scratch)) return true;
  }
  return false;
}

bool TDbfTable::Search(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options) {
  bool found = false;
  if (IndexSearch(keyFields, keyValues, options, &found)) return found;
  return LinearSearch(keyFields, keyValues, options);
}

bool TDbfTable::IndexSearch(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options,
                            bool* found) {
  *found = false;
  // A filter decides per record, and the stored keys know no case rule.
  if (Filtered() || (options & loCaseInsensitive) || !indexFiles_) return false;
  const std::string fieldName = AsciiUpper(std::string(TrimBlanks(keyFields)));
  if (fieldName.empty() || fieldName.find(';') != std::string::npos) return false;
  TTextRules rules;
  rules.Setup(kUtf8CodePage);
  std::vector<TSearchKey> keys;
  // The same conversion, and the same errors, as the linear search.
  if (!MakeKeys(FieldList(keyFields), keyValues, options, rules, keys)) return false;
  const TSearchKey& key = keys.front();
  const bool text = key.kind == TSearchKey::kText;
  if (!text && key.kind != TSearchKey::kInteger && key.kind != TSearchKey::kFloat) return false;
  // An empty prefix matches every record: the first one in order is no
  // search at all.
  if (key.partial && (!text || key.text.empty())) return false;

  // The current order's index, when its expression is the field; else an
  // open index defined on the field, walked aside.
  TIndexFile* file = nullptr;
  int tag = -1;
  bool inOrder = false;
  const auto usable = [&](TIndexFile* f, int t) {
    if (!f || t < 0 || t >= f->TagCount()) return false;
    const TIndexTagInfo info = f->TagInfo(t);
    return AsciiUpper(std::string(TrimBlanks(info.expression))) == fieldName && !info.filtered &&
           info.keyType == (text ? 'C' : 'N');
  };
  if (TIndexCursor* cursor = IndexCursor()) {
    if (usable(cursor->Index(), cursor->Tag())) {
      file = cursor->Index();
      tag = cursor->Tag();
      inOrder = true;
    }
  } else if (const TDbfIndexDef* def = indexDefs_.GetIndexByField(fieldName)) {
    file = indexFiles_->Find(def->indexFile, &tag);
    if (!usable(file, tag)) file = nullptr;
  }
  if (!file) return false;

  const int selected = file->SelectedTag();
  file->SelectTag(tag);
  struct TRestore {
    TIndexFile* file;
    int tag;
    ~TRestore() {
      if (tag >= 0) file->SelectTag(tag);
    }
  } restore{file, selected};
  const int keyLength = file->TagInfo(tag).keyLength;
  std::string wanted;
  if (text)
    wanted = TextToTable(key.text, keyLength);
  else
    wanted = file->SearchKey(key.kind == TSearchKey::kInteger ? static_cast<double>(key.integer) : key.number);
  const std::string searchKey = text ? file->SearchKey(wanted) : wanted;
  bool on = key.partial ? file->SeekPrefix(wanted) : file->SeekKey(searchKey, smEqual);

  uint8_t* buffer = tempBuffer_.get();
  uint8_t* record = buffer + kHeaderSize;
  TTempState scope(*this, dsFilter, filterBuffer_, buffer);
  std::string scratch;
  InvalidateReadAhead();
  int64_t best = -1;
  // Every entry of the key (or prefix) is a candidate; the record itself
  // decides, as it does for the linear search.
  for (; on; on = file->MoveNext()) {
    const std::string current = file->CurrentKey();
    if (key.partial ? current.compare(0, wanted.size(), wanted) != 0 : file->CompareKeys(tag, current, searchKey) != 0)
      break;
    const int64_t recNo = file->CurrentRecord();
    if (recNo <= 0 || !dbfFile_->RecordExists(recNo) || (best > 0 && recNo >= best)) continue;
    ReadRecord(recNo, record);
    if (!showDeleted_ && TRecordView(record, static_cast<size_t>(recordSize_)).Deleted()) continue;
    StampRecord(buffer);
    if (!KeysMatch(keys, rules, scratch)) continue;
    best = recNo;
    // In the index's own order the first match is the answer; in record
    // order the lowest record number among them.
    if (inOrder) break;
  }
  if (best <= 0) {
    *found = false;
    return true;
  }
  if (!inOrder) {
    cursor_->SetPhysicalRecord(best);
    ReadRecord(best, record);
    StampRecord(buffer);
  }
  *found = true;
  return true;
}

bool TDbfTable::Locate(const std::string& keyFields, const TVariant& keyValues, TLocateOptions options) {
  if (!cursor_) return false;
  CheckBrowseMode();
  if (BeforeScroll) BeforeScroll(*this);
  const int64_t oldPosition = cursor_->GetOrderPosition();
  bool found = false;
  try {
    found = Search(keyFields, keyValues, options);
  } catch (...) {
    cursor_->SetOrderPosition(oldPosition);
    CursorPosChanged();
    throw;
  }
  CursorPosChanged();
  if (!found) {
    cursor_->SetOrderPosition(oldPosition);
    return false;
  }
  FillWindowFromCursor();
  if (AfterScroll) AfterScroll(*this);
  return true;
}

TVariant TDbfTable::Lookup(const std::string& keyFields, const TVariant& keyValues, const std::string& resultFields) {
  TVariant result;
  if (!cursor_ || keyValues.IsNull()) return result;
  const int64_t oldPosition = cursor_->GetOrderPosition();
  try {
    if (Search(keyFields, keyValues, 0)) {
      TTempState scope(*this, dsFilter, filterBuffer_, tempBuffer_.get());
      // A search through an index matches keys as the index stores them;
      // the answer is only given for a record whose fields hold the values.
      TTextRules rules;
      rules.Setup(kUtf8CodePage);
      std::vector<TSearchKey> keys;
      std::string scratch;
      if (MakeKeys(FieldList(keyFields), keyValues, 0, rules, keys) && KeysMatch(keys, rules, scratch)) {
        const std::vector<TField*> fields = FieldList(resultFields);
        if (fields.size() == 1) {
          result = FieldValue(*fields.front());
        } else {
          std::vector<TVariant> values;
          for (const TField* field : fields) values.push_back(FieldValue(*field));
          result = TVariant::Array(std::move(values));
        }
      }
    }
  } catch (...) {
    cursor_->SetOrderPosition(oldPosition);
    CursorPosChanged();
    throw;
  }
  // In index order a position is only an estimate: the window seats the
  // cursor again by record number before the next move.
  cursor_->SetOrderPosition(oldPosition);
  CursorPosChanged();
  return result;
}

bool TDbfTable::FindRecord(bool restart, bool goForward) {
  CheckBrowseMode();
  if (!cursor_) return false;
  if (BeforeScroll) BeforeScroll(*this);
  UpdateCursorPos();
  const int oldRecNo = RecNo();
  findInProgress_ = true;
  TGetResult result = grEOF;
  try {
    if (restart) {
      if (goForward)
        InternalFirst();
      else
        InternalLast();
    }
    result = GetRecord(tempBuffer_.get(), goForward ? gmNext : gmPrior, true);
  } catch (...) {
    findInProgress_ = false;
    cursor_->SetOrderPosition(oldRecNo);
    CursorPosChanged();
    throw;
  }
  findInProgress_ = false;
  if (result != grOK) {
    cursor_->SetOrderPosition(oldRecNo);
    CursorPosChanged();
    return false;
  }
  FillWindowFromCursor();
  if (AfterScroll) AfterScroll(*this);
  return true;
}

}  // namespace norvale
