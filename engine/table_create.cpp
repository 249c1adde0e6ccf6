// Writing a new table structure, and emptying a table.
#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "engine/byte_order.h"
#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/language.h"
#include "engine/messages.h"
#include "engine/table_file.h"
#include "platform/ascii.h"

namespace norvale {

using namespace fmt;

std::string FieldTypeText(char letter) {
  const uint8_t code = static_cast<uint8_t>(letter);
  std::string text;
  if (code == 0)
    text = "NULL";
  else if (code >= 128)
    text = "ASCII " + std::to_string(code);
  else
    text = std::string(" \"") + letter + "\" ";
  char hex[8];
  std::snprintf(hex, sizeof hex, "%X", code);
  return " " + text + "(#" + hex + ") ";
}

bool VersionHoldsFieldType(TXBaseVersion version, char letter) {
  switch (version) {
    case xBaseIII:
    case xBaseIV:
      return std::strchr("CDFLMN", letter) != nullptr;
    case xBaseVII:
      return std::strchr("CDFLMNBGOI+@", letter) != nullptr;
    case xFoxPro:
      return std::strchr("CDFLMNBGIYT+", letter) != nullptr;
    default:
      return false;
  }
}

namespace {

int MaxFields(TXBaseVersion version) {
  switch (version) {
    case xBaseVII: return 1363;
    case xFoxPro: return 2038;
    default: return 2046;
  }
}

int NameLength(TXBaseVersion version) { return version == xBaseVII ? kFieldNameSizeVII - 1 : kFieldNameSize - 1; }

// What a header of this version cannot hold is refused before a byte is
// written: a half-written header would be a damaged table.
void CheckDefinitions(TXBaseVersion version, const TDbfFieldDefs& defs, int nullable) {
  if (defs.Count() == 0) throw EDbfError(msg::kNoFields);
  const int nameLength = NameLength(version);
  std::set<std::string> seen;
  int64_t recordLength = 1;
  for (int i = 0; i < defs.Count(); ++i) {
    const TDbfFieldDef& def = defs.Item(i);
    const std::string name = AsciiUpper(def.FieldName()).substr(0, static_cast<size_t>(nameLength));
    if (name.find_first_not_of(' ') == std::string::npos) throw EDbfError(FormatMessage(msg::kFieldNameMissing, i + 1));
    for (unsigned char c : name)
      if (c <= ' ' || c >= 127) throw EDbfError(FormatMessage(msg::kFieldNameInvalid, def.FieldName().c_str()));
    if (!seen.insert(name).second)
      throw EDbfError(FormatMessage(msg::kFieldNameRepeated, name.c_str(), nameLength));
    if (!VersionHoldsFieldType(version, def.NativeFieldType()))
      throw EDbfError(
          FormatMessage(msg::kInvalidFieldTypeFor, FieldTypeText(def.NativeFieldType()).c_str(), def.FieldName().c_str()));
    if (def.Size() <= 0) throw EDbfError(msg::kStructureTooLarge);
    recordLength += def.Size();
  }
  const int fields = defs.Count() + (nullable > 0 ? 1 : 0);
  recordLength += (nullable + 7) / 8;
  const int64_t descriptor = version == xBaseVII ? kDescriptorSizeVII : kDescriptorSize;
  const int64_t main = version == xBaseVII ? kMainHeaderSizeVII : kMainHeaderSize;
  int64_t headerLength = main + descriptor * fields + 1 + (version == xFoxPro ? kFoxBacklinkSize : 0);
  if (version == xBaseVII) {
    int properties = 0;
    int64_t data = 0;
    for (int i = 0; i < defs.Count(); ++i) {
      const TDbfFieldDef& def = defs.Item(i);
      properties += (def.Required() ? 1 : 0) + (def.HasMin() ? 1 : 0) + (def.HasMax() ? 1 : 0) + (def.HasDefault() ? 1 : 0);
      data += int64_t(def.Size()) * ((def.HasMin() ? 1 : 0) + (def.HasMax() ? 1 : 0) + (def.HasDefault() ? 1 : 0));
    }
    if (properties) headerLength += kPropertiesHeaderSize + kPropertyEntrySize * properties + data;
  }
  if (recordLength > 0xFFFF - 1 || headerLength > kMaxHeaderLength || fields > MaxFields(version))
    throw EDbfError(msg::kStructureTooLarge);
}

}  // namespace

void TDbfFile::CreateStructure(const TDbfFieldDefs& defs, int memoBlockSize) {
  if (!IsOpen() || !ModeCreates(modeAtOpen_)) throw EDbfError(msg::kInvalidDbfFile);
  const TXBaseVersion version = version_ == xUnknown ? xBaseIV : version_;
  int nullable = 0;
  if (version == xFoxPro)
    for (int i = 0; i < defs.Count(); ++i)
      if (defs.Item(i).NullPosition() >= 0) ++nullable;
  CheckDefinitions(version, defs, nullable);

  if (languageId_ == 0) languageId_ = static_cast<uint8_t>(TDbfGlobals::Instance().DefaultLanguageId());
  version_ = version;
  fieldDefs_.SetVersion(version);
  codec_.version = version;
  const bool vii = version == xBaseVII;
  const int main = vii ? kMainHeaderSizeVII : kMainHeaderSize;
  const int descriptor = vii ? kDescriptorSizeVII : kDescriptorSize;
  const int fields = defs.Count() + (nullable ? 1 : 0);

  // The property section of a dBASE 7 table follows the terminator.
  std::vector<uint8_t> properties;
  if (vii) {
    std::vector<uint8_t> entries, data;
    int count = 0;
    for (int i = 0; i < defs.Count(); ++i) {
      const TDbfFieldDef& def = defs.Item(i);
      const auto add = [&](int kind, const uint8_t* value) {
        uint8_t e[kPropertyEntrySize] = {};
        PutLE16(e + kPropertyField, static_cast<uint16_t>(i + 1));
        e[kPropertyKind] = static_cast<uint8_t>(kind);
        if (value) {
          // Offsets are relative to the section; filled in once its size is known.
          PutLE16(e + kPropertyDataOffset, static_cast<uint16_t>(data.size()));
          PutLE16(e + kPropertyDataLength, static_cast<uint16_t>(def.Size()));
          data.insert(data.end(), value, value + def.Size());
        }
        entries.insert(entries.end(), e, e + kPropertyEntrySize);
        ++count;
      };
      TDbfFieldDef& mutableDef = const_cast<TDbfFieldDef&>(def);
      if (def.Required()) add(kPropertyRequired, nullptr);
      if (def.HasMin()) add(kPropertyMinimum, mutableDef.MinBuf());
      if (def.HasMax()) add(kPropertyMaximum, mutableDef.MaxBuf());
      if (def.HasDefault()) add(kPropertyDefault, mutableDef.DefaultBuf());
    }
    if (count) {
      properties.assign(kPropertiesHeaderSize, 0);
      PutLE16(properties.data() + kPropertyCount, static_cast<uint16_t>(count));
      PutLE16(properties.data() + kPropertyStart, static_cast<uint16_t>(kPropertiesHeaderSize));
      const size_t dataStart = kPropertiesHeaderSize + entries.size();
      for (size_t at = 0; at < entries.size(); at += kPropertyEntrySize) {
        uint8_t* e = entries.data() + at;
        if (e[kPropertyKind] != kPropertyRequired)
          PutLE16(e + kPropertyDataOffset, static_cast<uint16_t>(GetLE16(e + kPropertyDataOffset) + dataStart));
      }
      properties.insert(properties.end(), entries.begin(), entries.end());
      properties.insert(properties.end(), data.begin(), data.end());
    }
  }

  const int headerLength =
      main + descriptor * fields + 1 + (version == xFoxPro ? kFoxBacklinkSize : 0) + static_cast<int>(properties.size());
  SetHeaderSize(headerLength);
  std::fill(header_.begin(), header_.end(), 0);
  header_[kVersion] = version == xBaseVII ? 0x04 : version == xFoxPro ? 0x02 : 0x03;
  if (vii) {
    const std::string name = LanguageNameFor(LanguageEntry(languageId_).codePage, LanguageEntry(languageId_).localeId, false);
    std::memcpy(header_.data() + kDriverName, name.data(), std::min<size_t>(name.size(), kDriverNameSize - 1));
  } else if (version != xBaseIII) {
    header_[kLanguageId] = languageId_;
  }

  fieldDefs_.Clear();
  int offset = 1;
  bool memo = false, visual = false, autoInc = false;
  int nullPosition = 0;
  for (int i = 0; i < fields; ++i) {
    TDbfFieldDef& def = fieldDefs_.Add();
    const bool system = i == defs.Count();
    if (system) {
      def.SetFieldName("_NULLFLAGS");
      def.SetNativeFieldType('0');
      def.SetStoredSize((nullable + 7) / 8, 0);
    } else {
      def.Assign(defs.Item(i));
      def.SetFieldName(AsciiUpper(defs.Item(i).FieldName()).substr(0, static_cast<size_t>(NameLength(version))));
      def.SetStoredSize(defs.Item(i).Size(), defs.Item(i).Precision());
    }
    def.SetCopyFrom(-1);
    def.SetOffset(offset);
    const bool mayBeNull = version == xFoxPro && !system && defs.Item(i).NullPosition() >= 0;
    def.SetNullPosition(mayBeNull ? nullPosition++ : -1);
    const char letter = def.NativeFieldType();
    // Blocks in the memo file: "M" everywhere, "G" everywhere, "B" except
    // at FoxPro, where it is a double.
    if (letter == 'M' || letter == 'G' || (letter == 'B' && version != xFoxPro)) memo = true;
    if (letter == 'T' || letter == 'Y' || letter == 'I' || letter == '+' || letter == 'B' || mayBeNull) visual = true;
    if (letter == '+') autoInc = true;

    uint8_t* d = header_.data() + main + descriptor * i;
    const std::string& name = def.FieldName();
    std::memcpy(d, name.data(), name.size());
    if (vii) {
      d[kFieldTypeVII] = static_cast<uint8_t>(letter);
      d[kFieldLengthVII] = static_cast<uint8_t>(def.Size());
      d[kFieldDecimalsVII] = static_cast<uint8_t>(def.Precision());
      if (letter == '+') {
        const int32_t next = def.AutoIncNext() > 0 ? def.AutoIncNext() : 1;
        PutLE32(d + kAutoIncNextVII, static_cast<uint32_t>(next));
        def.SetAutoIncNext(next);
      }
    } else {
      d[kFieldType] = static_cast<uint8_t>(letter);
      if (version == xFoxPro && letter == 'C') {
        d[kFieldLength] = static_cast<uint8_t>(def.Size() % 256);
        d[kFieldDecimals] = static_cast<uint8_t>(def.Size() / 256);
      } else {
        d[kFieldLength] = static_cast<uint8_t>(def.Size());
        d[kFieldDecimals] = static_cast<uint8_t>(def.Precision());
      }
      if (version == xFoxPro) {
        PutLE32(d + 12, static_cast<uint32_t>(offset));
        if (system) d[kFieldFlags] = 0x05;  // a hidden system field
        if (mayBeNull) d[kFieldFlags] |= kFieldNullable;
        if (letter == 'B' || letter == 'G') d[kFieldFlags] |= 0x04;
        if (letter == '+') {
          const int32_t next = def.AutoIncNext() > 0 ? def.AutoIncNext() : 1;
          PutLE32(d + kFoxAutoIncNext, static_cast<uint32_t>(next));
          d[kFoxAutoIncStep] = 1;
          def.SetAutoIncNext(next);
        }
      }
    }
    if (system) nullFlagsField_ = &def;
    offset += def.Size();
  }
  header_[main + descriptor * fields] = kTerminator;
  if (!properties.empty())
    std::memcpy(header_.data() + main + descriptor * fields + 1, properties.data(), properties.size());

  if (version == xFoxPro) {
    // The version byte says which kind of FoxPro table this is: Visual
    // FoxPro for its own types and null flags, with autoincrement counters
    // a later kind again; FoxPro 2 with memo fields otherwise.
    if (visual) header_[kVersion] = autoInc ? kVersionVisualFoxProAutoInc : kVersionVisualFoxPro;
    else if (memo) header_[kVersion] = 0xF5;
    if (memo && visual) header_[kIndexFlag] |= 0x02;
  } else if (memo) {
    header_[kVersion] |= version == xBaseIII ? kMemoBit : 0x88;
  }
  PutLE16(header_.data() + kRecordLength, static_cast<uint16_t>(offset));
  PutLE16(header_.data() + kHeaderLength, static_cast<uint16_t>(headerLength));
  SetRecordSize(offset);
  SetPageCount(0);
  SetRecordCount(0);
  codec_.nullFlagsField = nullFlagsField_;
  autoIncPresent_ = autoInc;
  lockField_ = nullptr;
  blankRecord_.clear();
  DetermineCodePage();
  useCodePage_ = fileCodePage_ ? fileCodePage_ : TDbfGlobals::Instance().DefaultCodePage();
  headerModified_ = true;
  StoreHeader();
  FlushHeader();
  if (WriteError()) {
    ClearWriteError();
    throw EDbfWriteError(msg::kWriteError);
  }

  if (memo && !memoFile_) {
    const std::string ext = version == xFoxPro ? ".fpt" : ".dbt";
    const size_t slash = fileName_.find_last_of('/');
    const size_t dot = fileName_.find_last_of('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    memoFileName_ = (hasExt ? fileName_.substr(0, dot) : fileName_) + ext;
    if (version == xFoxPro)
      memoFile_ = std::make_unique<TFoxProMemoFile>(version, memoBlockSize);
    else
      memoFile_ = std::make_unique<TDbaseMemoFile>(version, memoBlockSize);
    memoFile_->SetFileName(memoFileName_);
    memoFile_->SetMode(modeAtOpen_);
    memoFile_->SetAutoCreate(true);
    memoFile_->Open();
  }
  changeBegun_ = true;
}

void TDbfFile::Zap() {
  if (!IsOpen() || !ModeWritable(mode_) || shared_) throw EDbfError(msg::kExclusiveRequired);
  BeginChange();
  SetPageCount(0);
  SetRecordCount(0);
  headerModified_ = true;
  StoreHeader();
  FlushHeader();
  if (WriteError()) {
    ClearWriteError();
    throw EDbfWriteError(msg::kWriteError);
  }
}

}  // namespace norvale
