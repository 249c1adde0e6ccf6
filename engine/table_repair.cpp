#include "engine/table_repair.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <optional>
#include <unistd.h>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/memo_file.h"
#include "engine/record_view.h"
#include "engine/table_file.h"
#include "platform/os_file.h"

namespace norvale {

namespace {

using namespace fmt;

// Enough of the file to hold any header the 16-bit length can describe.
constexpr int64_t kPrefixSize = kMaxHeaderLength + 1;
// How many leading records must begin with a deletion flag before a place
// counts as where the records start.
constexpr int64_t kFlagProbeRecords = 32;
// Records a memo-pointer finding names before it only counts the rest.
constexpr size_t kListedRecords = 5;
// Records are scanned in reads of about this size.
constexpr size_t kScanBytes = size_t(1) << 20;
// Backup names tried before giving up: NAME.header.bak, NAME.header.1.bak, ...
constexpr int kBackupNames = 1000;

enum class TFamily { kUnknown, kDbase, kDbaseVII, kFoxPro, kVisualFoxPro };

TFamily FamilyOf(uint8_t version) {
  if (version == kVersionVisualFoxPro || version == kVersionVisualFoxProAutoInc ||
      version == kVersionVisualFoxProVarchar)
    return TFamily::kVisualFoxPro;
  switch (version & kVersionFamilyMask) {
    case kFamilyDbase: return TFamily::kDbase;
    case kFamilyDbaseVII: return TFamily::kDbaseVII;
    case kFamilyFoxBase:
    case kFamilyFoxPro: return TFamily::kFoxPro;
    default: return TFamily::kUnknown;
  }
}

bool IsFox(TFamily f) { return f == TFamily::kFoxPro || f == TFamily::kVisualFoxPro; }

bool IsFlag(int b) { return b == kLive || b == kDeleted; }

// Fields whose bytes are a memo block number. "B" is a binary memo at dBASE
// but a double at Visual FoxPro; "P" (picture) and "W" (blob) are FoxPro's.
bool IsMemoPointerField(char type, TFamily family) {
  switch (type) {
    case 'M':
    case 'G': return true;
    case 'B': return !IsFox(family);
    case 'P':
    case 'W': return IsFox(family);
    default: return false;
  }
}

std::string Hex(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFF);
  return text;
}

std::string Counted(int64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string SystemError() { return errno ? std::strerror(errno) : "the transfer stopped short"; }

struct TField {
  char type = 0;
  int length = 0;      // as the family reads it
  int wideLength = 0;  // dBASE "C" with the decimals byte as the high byte (Clipper's wide text)
};

struct TCandidate {
  int64_t start = 0;
  int64_t length = 0;
  int fit = 0;  // 2: records, then the end-of-file byte, end the file; 1: records alone do
};

class TInspector {
 public:
  TInspector(TStream& table, const TTableCompanions& companions, TTableInspection& out)
      : table_(table), companions_(companions), out_(out) {}

  void Run() {
    fileSize_ = std::max<int64_t>(table_.Size(), 0);
    out_.fileSize = fileSize_;
    prefix_.resize(static_cast<size_t>(std::min(fileSize_, kPrefixSize)));
    if (!prefix_.empty() && !Read(0, prefix_.data(), prefix_.size())) return;
    if (fileSize_ > 0 && !Read(fileSize_ - 1, &lastByte_, 1)) return;
    // Past an unreadable header nothing is checked: the file may not be a
    // table at all, and a repair must not write to it.
    if (ReadHeader() && FindDescriptors()) {
      if (!layoutKnown_) DecideLayout();
      if (layoutKnown_ && !Failed()) CheckCount();
      if (countSettled_ && !Failed()) CheckEnd();
      if (!Failed()) CheckIndex();
      if (!Failed()) CheckMemo();
    }
    Finish();
  }

 private:
  bool Failed() const { return !out_.readError.empty(); }

  bool Read(int64_t at, void* buffer, size_t count) {
    errno = 0;
    const int64_t got = table_.ReadAt(static_cast<uint64_t>(at), buffer, count);
    if (got == static_cast<int64_t>(count)) return true;
    if (out_.readError.empty())
      out_.readError =
          got < 0 ? "cannot read the table: " + SystemError() : "the table became shorter while it was read";
    return false;
  }

  // The byte at `at`, or -1 outside the file or when the read failed.
  int ByteAt(int64_t at) {
    if (at < 0 || at >= fileSize_) return -1;
    if (at < static_cast<int64_t>(prefix_.size())) return prefix_[static_cast<size_t>(at)];
    uint8_t b = 0;
    return Read(at, &b, 1) ? b : -1;
  }

  void Add(TDamage damage, std::string message, std::string reason = {}) {
    TTableFinding f;
    f.damage = damage;
    f.message = std::move(message);
    f.fixable = reason.empty();
    f.reason = std::move(reason);
    out_.findings.push_back(std::move(f));
  }

  std::string CompanionName(const char* ext) const {
    return companions_.tableBaseName.empty() ? std::string("the ") + (ext + 1) + " file"
                                             : companions_.tableBaseName + ext;
  }

  bool ReadHeader() {
    if (fileSize_ < kMainHeaderSize) {
      Add(TDamage::kHeaderUnreadable,
          "header: the file holds " + Counted(fileSize_, "byte", "bytes") + ", fewer than the " +
              std::to_string(kMainHeaderSize) + " of a table header",
          "there is no header to repair");
      return false;
    }
    family_ = FamilyOf(prefix_[kVersion]);
    if (family_ == TFamily::kUnknown) {
      Add(TDamage::kHeaderUnreadable,
          "version byte: " + Hex(prefix_[kVersion]) + " is not that of a dBASE or FoxPro table",
          "the layout of the header depends on it");
      return false;
    }
    const bool vii = family_ == TFamily::kDbaseVII;
    if (vii && fileSize_ < kMainHeaderSizeVII) {
      Add(TDamage::kHeaderUnreadable,
          "header: the file holds " + Counted(fileSize_, "byte", "bytes") + ", fewer than the " +
              std::to_string(kMainHeaderSizeVII) + " of a dBASE 7 table header",
          "there is no header to repair");
      return false;
    }
    headerLength_ = GetLE16(prefix_.data() + kHeaderLength);
    recordLength_ = GetLE16(prefix_.data() + kRecordLength);
    count_ = GetLE32(prefix_.data() + kRecordCount);
    descriptorsStart_ = vii ? kMainHeaderSizeVII : kMainHeaderSize;
    descriptorSize_ = vii ? kDescriptorSizeVII : kDescriptorSize;
    return true;
  }

  // What a reader of any family can rely on: a printable type letter.
  bool LooksLikeDescriptor(int64_t at) const {
    const int typeAt = family_ == TFamily::kDbaseVII ? kFieldTypeVII : kFieldType;
    const uint8_t type = prefix_[static_cast<size_t>(at + typeAt)];
    return type > 0x20 && type < 0x7F;
  }

  void ReadFields(int64_t end) {
    const bool vii = family_ == TFamily::kDbaseVII;
    for (int64_t at = descriptorsStart_; at + descriptorSize_ <= end; at += descriptorSize_) {
      const uint8_t* p = prefix_.data() + at;
      TField f;
      f.type = static_cast<char>(vii ? p[kFieldTypeVII] : p[kFieldType]);
      f.length = vii ? p[kFieldLengthVII] : p[kFieldLength];
      f.wideLength = f.length;
      if (!vii && (f.type == 'C' || f.type == 'c')) {
        const int wide = p[kFieldLength] + 256 * p[kFieldDecimals];
        if (IsFox(family_)) f.length = wide;
        f.wideLength = wide;
      }
      fields_.push_back(f);
      sum_ += f.length;
      wideSum_ += f.wideLength;
    }
  }

  bool FindDescriptors() {
    const int64_t limit = static_cast<int64_t>(prefix_.size());
    for (int64_t at = descriptorsStart_; at < limit; at += descriptorSize_) {
      if (prefix_[static_cast<size_t>(at)] == kTerminator) {
        terminator_ = at;
        break;
      }
      if (at + descriptorSize_ > limit || !LooksLikeDescriptor(at)) break;
    }
    if (terminator_ >= 0) {
      ReadFields(terminator_);
      fieldsEnd_ = terminator_ + 1;
      expectedStart_ = fieldsEnd_ + (family_ == TFamily::kVisualFoxPro ? kFoxBacklinkSize : 0);
      return true;
    }
    // Some writers leave the terminator out and let the header length end the
    // descriptors. That reading holds when the header length ends a whole
    // descriptor, the fields add up to the record length, and records begin
    // there; anything less leaves the fields' extent unknown.
    const int64_t h = headerLength_;
    bool bounded = h > descriptorsStart_ && (h - descriptorsStart_) % descriptorSize_ == 0 && h <= limit;
    for (int64_t at = descriptorsStart_; bounded && at < h; at += descriptorSize_) bounded = LooksLikeDescriptor(at);
    if (bounded) {
      ReadFields(h);
      if (recordLength_ == sum_ + 1 && FlagsFit(h, recordLength_) && !Failed()) {
        Add(TDamage::kTerminatorMissing,
            "field descriptors: no terminator " + Hex(kTerminator) + " follows them; the header length ends them at " +
                std::to_string(h),
            "adding it would move every record");
        fieldsEnd_ = expectedStart_ = h;
        SetLayout(h, recordLength_, false);
        return true;
      }
      fields_.clear();
      sum_ = wideSum_ = 0;
    }
    if (!Failed())
      Add(TDamage::kHeaderUnreadable, "field descriptors: no terminator " + Hex(kTerminator) + " ends them",
          "where the fields end cannot be told");
    return false;
  }

  // Whether the leading records, laid out from `start` in steps of `length`,
  // all begin with a deletion flag (true when the file holds none there).
  bool FlagsFit(int64_t start, int64_t length) {
    if (length <= 0 || start > fileSize_) return false;
    const int64_t records = std::min((fileSize_ - start) / length, kFlagProbeRecords);
    for (int64_t i = 0; i < records; ++i)
      if (!IsFlag(ByteAt(start + i * length))) return false;
    return true;
  }

  // How well the header's record count, records of `length` from `start`,
  // and the file size agree.
  int SizeFit(int64_t start, int64_t length) const {
    if (length <= 0 || start > fileSize_) return 0;
    const int64_t data = fileSize_ - start, records = int64_t(count_) * length;
    if (data == records + 1 && lastByte_ == kEndOfFile) return 2;
    return data == records ? 1 : 0;
  }

  bool AllZero(int64_t from, int64_t to) const {
    for (int64_t i = from; i < to; ++i)
      if (prefix_[static_cast<size_t>(i)] != 0) return false;
    return true;
  }

  void SetLayout(int64_t start, int64_t length, bool wide) {
    layoutKnown_ = true;
    start_ = start;
    length_ = length;
    int offset = 1;
    for (const TField& f : fields_) {
      const int n = wide ? f.wideLength : f.length;
      fieldOffsets_.push_back(offset);
      fieldLengths_.push_back(n);
      offset += n;
    }
  }

  std::string ExpectedStartText(int64_t start) const {
    if (start == expectedStart_)
      return family_ == TFamily::kVisualFoxPro
                 ? "the field descriptors and the " + std::to_string(kFoxBacklinkSize) + "-byte backlink end at " +
                       std::to_string(start)
                 : "the field descriptors end at " + std::to_string(start);
    return "the field descriptors and the zero bytes after them end at " + std::to_string(start);
  }

  void DecideLayout() {
    const bool vii = family_ == TFamily::kDbaseVII;
    const int64_t sum = sum_ + 1, wideSum = wideSum_ + 1;
    const bool lengthAgrees = recordLength_ == sum || (family_ == TFamily::kDbase && recordLength_ == wideSum);
    const bool wide = recordLength_ != sum && lengthAgrees;
    const int64_t probeLength = lengthAgrees ? recordLength_ : sum;
    const int64_t h = headerLength_;
    const int64_t prefixEnd = static_cast<int64_t>(prefix_.size());
    bool headerAgrees;
    if (vii) {
      // A properties block of its own length may follow the terminator, so
      // only a header that ends before the descriptors or past the file is wrong.
      headerAgrees = h >= fieldsEnd_ && h <= fileSize_;
    } else {
      // Zero bytes after the descriptors are padding some writers add, as
      // long as the records begin where the header says.
      headerAgrees = h == expectedStart_ ||
                     (h > expectedStart_ && h <= prefixEnd && AllZero(expectedStart_, h) && FlagsFit(h, probeLength));
    }
    if (Failed()) return;
    if (headerAgrees && lengthAgrees) {
      SetLayout(h, recordLength_, wide);
      return;
    }

    // The zero padding's end is where records of a padded header would start.
    std::optional<int64_t> paddingEnd;
    if (expectedStart_ < prefixEnd && prefix_[static_cast<size_t>(expectedStart_)] == 0) {
      int64_t at = expectedStart_;
      while (at < prefixEnd && prefix_[static_cast<size_t>(at)] == 0) ++at;
      if (at < prefixEnd) paddingEnd = at;
    }
    std::vector<int64_t> starts;
    const auto consider = [&](int64_t s) {
      // Records never overlap the descriptors, and a start the header cannot hold is no fix.
      if (s >= fieldsEnd_ && s <= kMaxHeaderLength && s <= fileSize_ &&
          std::find(starts.begin(), starts.end(), s) == starts.end())
        starts.push_back(s);
    };
    consider(h);
    if (!headerAgrees) {
      consider(expectedStart_);
      if (paddingEnd) consider(*paddingEnd);
    }
    std::vector<int64_t> lengths = {recordLength_};
    if (!lengthAgrees && sum <= 0xFFFF) lengths.push_back(sum);

    std::vector<TCandidate> fits;
    for (const int64_t s : starts) {
      for (const int64_t l : lengths) {
        const int fit = SizeFit(s, l);
        if (fit > 0 && FlagsFit(s, l)) fits.push_back({s, l, fit});
      }
    }
    if (Failed()) return;

    std::optional<TCandidate> chosen;
    if (fits.size() == 1) {
      chosen = fits[0];
    } else if (fits.size() > 1) {
      // Records that leave exactly the end-of-file byte after them beat a
      // place where that byte would have to be the last byte of a record;
      // that settles where records start, never their length.
      const bool oneLength = std::all_of(fits.begin(), fits.end(),
                                         [&](const TCandidate& c) { return c.length == fits[0].length; });
      const auto withEnd = std::count_if(fits.begin(), fits.end(), [](const TCandidate& c) { return c.fit == 2; });
      if (oneLength && withEnd == 1)
        chosen = *std::find_if(fits.begin(), fits.end(), [](const TCandidate& c) { return c.fit == 2; });
    }
    const std::string unsettled = fits.empty()
                                      ? "the records fit neither where the header says nor where the descriptors end"
                                      : "the records fit in more than one place";

    if (!headerAgrees) {
      const std::string said = "header length: the header says " + std::to_string(h) + ", ";
      std::string what;
      if (vii && h > fileSize_)
        what = said + "past the end of the file (" + Counted(fileSize_, "byte", "bytes") + ")";
      else
        what = said + ExpectedStartText(chosen && chosen->start != h ? chosen->start : expectedStart_);
      if (!chosen) {
        Add(TDamage::kHeaderLength, what, unsettled);
      } else if (chosen->start != h) {
        Add(TDamage::kHeaderLength, what);
        newHeaderLength_ = chosen->start;
      } else if (h < expectedStart_) {
        Add(TDamage::kHeaderLength, what,
            "the records start where the header says: the backlink is short, and lengthening it would move every "
            "record");
      }
    }
    if (!lengthAgrees) {
      const std::string what = "record length: the header says " + std::to_string(recordLength_) +
                               ", the fields add up to " + std::to_string(sum) + " with the deletion flag";
      if (!chosen)
        Add(TDamage::kRecordLength, what, fits.empty() ? "the file size fits neither" : "the file size fits both");
      else if (chosen->length != recordLength_) {
        Add(TDamage::kRecordLength, what);
        newRecordLength_ = chosen->length;
      } else {
        Add(TDamage::kRecordLength, what,
            "the file size fits the header's length, not the fields: a field descriptor may be damaged");
      }
    }
    if (chosen) SetLayout(chosen->start, chosen->length, chosen->length == recordLength_ && wide);
  }

  // Calls `visit` for records first..last (1-based, all inside the file)
  // with each record's image; stops early when `visit` returns false.
  void ForEachRecord(int64_t first, int64_t last, const std::function<bool(int64_t, const uint8_t*)>& visit) {
    if (first > last) return;
    const int64_t perRead = std::max<int64_t>(1, static_cast<int64_t>(kScanBytes) / length_);
    std::vector<uint8_t> buffer;
    for (int64_t n = first; n <= last;) {
      const int64_t take = std::min(perRead, last - n + 1);
      buffer.resize(static_cast<size_t>(take * length_));
      if (!Read(start_ + (n - 1) * length_, buffer.data(), buffer.size())) return;
      for (int64_t i = 0; i < take; ++i)
        if (!visit(n + i, buffer.data() + i * length_)) return;
      n += take;
    }
  }

  void CheckCount() {
    if (start_ > fileSize_) {
      Add(TDamage::kHeaderUnreadable,
          "header: the file ends after " + Counted(fileSize_, "byte", "bytes") + ", inside its " +
              std::to_string(start_) + "-byte header",
          "the rest of the header is lost");
      return;
    }
    const int64_t full = (fileSize_ - start_) / length_;
    const std::string what = "record count: the header says " + std::to_string(count_) + ", the file holds " +
                             Counted(full, "record", "records");
    if (full > int64_t(UINT32_MAX)) {
      Add(TDamage::kRecordCount, what, "the header cannot count that many");
      return;
    }
    records_ = std::min<int64_t>(count_, full);
    if (full > int64_t(count_)) {
      // More whole records than counted: they count only if they look like records.
      int64_t stranger = 0;
      ForEachRecord(int64_t(count_) + 1, full, [&](int64_t n, const uint8_t* record) {
        if (IsFlag(record[0])) return true;
        stranger = n;
        return false;
      });
      if (Failed()) return;
      if (stranger) {
        Add(TDamage::kRecordCount, what,
            "record " + std::to_string(stranger) + " does not begin with a deletion flag, so the bytes " +
                (count_ ? "past record " + std::to_string(count_) : std::string("after the header")) +
                " may not be records");
        return;
      }
    }
    if (full != int64_t(count_)) {
      Add(TDamage::kRecordCount, what);
      newCount_ = static_cast<uint32_t>(full);
      records_ = full;
    }
    countSettled_ = true;
  }

  void CheckEnd() {
    const int64_t end = start_ + records_ * length_;
    const int64_t rest = fileSize_ - end;
    if (rest == 0) {
      Add(TDamage::kEndOfFile, std::string("end-of-file byte: the ") + Hex(kEndOfFile) + " after the " +
                                   (records_ ? "last record" : "header") + " is missing");
      out_.appendEndOfFile = true;
      return;
    }
    const int first = ByteAt(end);
    if (first < 0) return;
    if (first == kEndOfFile && rest == 1) return;
    if (first == kEndOfFile)
      Add(TDamage::kTrailingBytes,
          "trailing bytes: " + Counted(rest - 1, "byte follows", "bytes follow") + " the end-of-file byte",
          "a repair never removes bytes");
    else
      Add(TDamage::kTrailingBytes,
          "trailing bytes: " + Counted(rest, "byte", "bytes") + " after the last record " +
              (rest == 1 ? "is" : "are") + " not a whole record" +
              (rest == 1 ? " and not the end-of-file byte " + Hex(kEndOfFile) : ""),
          "a repair never removes bytes");
  }

  void CheckIndex() {
    const uint8_t version = prefix_[kVersion], flags = prefix_[kIndexFlag];
    if (IsFox(family_)) {
      if ((flags & kFoxStructuralIndex) && !companions_.cdxPresent) {
        Add(TDamage::kProductionIndex,
            "structural index: the header flags one, and " + CompanionName(".cdx") + " is missing");
        newIndexFlag_ = static_cast<uint8_t>(flags & ~kFoxStructuralIndex);
      }
      return;
    }
    if (flags == 0 || companions_.mdxPresent) return;
    // A table of version 3 without memo may be FoxPro's as well as dBASE's.
    const bool eitherKind = family_ == TFamily::kDbase && !(version & kMemoBit);
    if (eitherKind && companions_.cdxPresent) return;
    Add(TDamage::kProductionIndex,
        "production index: the header names one, and " +
            (eitherKind ? "neither " + CompanionName(".mdx") + " nor " + CompanionName(".cdx") + " is there"
                        : CompanionName(".mdx") + " is missing"));
    newIndexFlag_ = 0;
  }

  void CheckMemo() {
    std::vector<size_t> memoFields;
    for (size_t i = 0; i < fields_.size(); ++i)
      if (IsMemoPointerField(fields_[i].type, family_)) memoFields.push_back(i);
    if (memoFields.empty()) return;
    const bool fox = IsFox(family_);
    const char* ext = fox ? ".fpt" : ".dbt";
    TStream* memo = fox ? companions_.fpt : companions_.dbt;
    const std::string& found = fox ? companions_.fptName : companions_.dbtName;
    const std::string& error = fox ? companions_.fptError : companions_.dbtError;
    const std::string name = found.empty() ? CompanionName(ext) : found;
    if (!error.empty()) {
      Add(TDamage::kMemoFile, "memo file: " + name + " cannot be read (" + error + ")",
          "its block numbers cannot be checked without it");
      return;
    }
    if (!memo) {
      Add(TDamage::kMemoFile, "memo file: the table has memo fields, and " + name + " is missing",
          "there is nothing to rebuild it from");
      return;
    }

    const int64_t memoSize = std::max<int64_t>(memo->Size(), 0);
    uint8_t head[kDbaseMemoBlockSize + 2] = {};
    const size_t headSize = static_cast<size_t>(std::min<int64_t>(memoSize, sizeof head));
    errno = 0;
    if (headSize && memo->ReadAt(0, head, headSize) != static_cast<int64_t>(headSize)) {
      out_.readError = "cannot read " + name + ": " + SystemError();
      return;
    }
    // dBASE III marks its memo files and keeps no block size: its blocks are 512 bytes.
    const bool dbaseIII = !fox && headSize > kDbaseMemoVersion && head[kDbaseMemoVersion] == kDbaseIIIMemoVersion;
    const size_t needed = fox ? kFoxMemoBlockSize + 2 : dbaseIII ? kDbaseMemoVersion + 1 : kDbaseMemoBlockSize + 2;
    if (headSize < needed) {
      Add(TDamage::kMemoFile,
          "memo file: " + name + " holds " + Counted(memoSize, "byte", "bytes") + ", too few for a memo header",
          "its block size cannot be read");
      return;
    }
    int64_t blockSize = fox        ? GetBE16(head + kFoxMemoBlockSize)
                        : dbaseIII ? TMemoFile::kDefaultBlockSize
                                   : GetLE16(head + kDbaseMemoBlockSize);
    // No block size at all: what the writers of such files meant, as the memo file reads them.
    if (blockSize <= 0) blockSize = TMemoFile::kDefaultBlockSize;
    if (!layoutKnown_ || records_ == 0) return;

    const int64_t blocks = (memoSize + blockSize - 1) / blockSize;
    const bool binaryAllowed = fox || family_ == TFamily::kDbaseVII;
    int64_t past = 0, pastRecords = 0;
    std::vector<int64_t> listed;
    ForEachRecord(1, records_, [&](int64_t n, const uint8_t* record) {
      const TRecordView view(record, static_cast<size_t>(length_));
      bool counted = false;
      for (const size_t i : memoFields) {
        const std::string_view bytes = view.Bytes(fieldOffsets_[i], fieldLengths_[i]);
        uint64_t block = 0;
        if (bytes.size() == kBinaryMemoPointerSize && binaryAllowed) {
          block = GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()));
        } else if (bytes.size() == kDigitMemoPointerSize) {
          bool digits = true;
          for (const char c : bytes) {
            if (c >= '0' && c <= '9')
              block = block * 10 + uint64_t(c - '0');
            else if (c != ' ' && c != '\0')
              digits = false;
          }
          if (!digits) block = 0;  // not a block number at all: nothing to follow
        }
        if (block == 0 || block < uint64_t(blocks)) continue;
        ++past;
        if (!counted) {
          ++pastRecords;
          if (listed.size() < kListedRecords) listed.push_back(n);
        }
        counted = true;
      }
      return true;
    });
    if (Failed() || past == 0) return;
    std::string where;
    const int64_t more = pastRecords - int64_t(listed.size());
    for (size_t i = 0; i < listed.size(); ++i) {
      if (i) where += (i + 1 == listed.size() && more == 0) ? " and " : ", ";
      where += std::to_string(listed[i]);
    }
    if (more > 0) where += " and " + std::to_string(more) + " more";
    Add(TDamage::kMemoPointers,
        "memo pointers: " + Counted(past, "block number points", "block numbers point") + " past the end of " +
            name + " (" + Counted(blocks, "block", "blocks") + " of " + std::to_string(blockSize) + " bytes), in " +
            (pastRecords == 1 ? "record " : "records ") + where,
        "a repair never changes record bytes");
  }

  void Finish() {
    const int64_t start = layoutKnown_ ? start_ : 0;
    const int64_t end = std::min<int64_t>(static_cast<int64_t>(prefix_.size()),
                                          std::max<int64_t>({headerLength_, start, kMainHeaderSize}));
    out_.storedHeader.assign(prefix_.begin(), prefix_.begin() + end);
    out_.repairedHeader = out_.storedHeader;
    if (out_.repairedHeader.size() < size_t(kMainHeaderSize)) return;
    uint8_t* h = out_.repairedHeader.data();
    if (newCount_) PutLE32(h + kRecordCount, *newCount_);
    if (newHeaderLength_) PutLE16(h + kHeaderLength, static_cast<uint16_t>(*newHeaderLength_));
    if (newRecordLength_) PutLE16(h + kRecordLength, static_cast<uint16_t>(*newRecordLength_));
    if (newIndexFlag_) h[kIndexFlag] = *newIndexFlag_;
  }

  TStream& table_;
  const TTableCompanions& companions_;
  TTableInspection& out_;

  int64_t fileSize_ = 0;
  std::vector<uint8_t> prefix_;
  uint8_t lastByte_ = 0;

  TFamily family_ = TFamily::kUnknown;
  int64_t headerLength_ = 0;
  int64_t recordLength_ = 0;
  uint32_t count_ = 0;
  int64_t descriptorsStart_ = 0;
  int64_t descriptorSize_ = 0;
  int64_t terminator_ = -1;
  int64_t fieldsEnd_ = 0;      // the byte after the terminator
  int64_t expectedStart_ = 0;  // where the family puts the first record
  std::vector<TField> fields_;
  int64_t sum_ = 0, wideSum_ = 0;

  bool layoutKnown_ = false;
  int64_t start_ = 0, length_ = 0;
  std::vector<int> fieldOffsets_, fieldLengths_;
  bool countSettled_ = false;
  int64_t records_ = 0;  // the records the file holds, as counted after the fixes

  std::optional<uint32_t> newCount_;
  std::optional<int64_t> newHeaderLength_;
  std::optional<int64_t> newRecordLength_;
  std::optional<uint8_t> newIndexFlag_;
};

// Inspection reads an open file through the stream interface; it never writes.
class TReadOnlyFileStream final : public TStream {
 public:
  explicit TReadOnlyFileStream(TOsFile& file) : file_(file) {}
  int64_t Size() override { return file_.Size(); }
  int64_t ReadAt(uint64_t offset, void* buffer, size_t count) override { return file_.ReadAt(offset, buffer, count); }
  int64_t WriteAt(uint64_t, const void*, size_t) override {
    errno = EBADF;
    return -1;
  }
  bool Resize(uint64_t) override { return false; }

 private:
  TOsFile& file_;
};

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string FileName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool WriteAll(TOsFile& file, int64_t offset, const uint8_t* data, size_t count, std::string& error) {
  errno = 0;
  if (file.WriteAt(static_cast<uint64_t>(offset), data, count) == static_cast<int64_t>(count)) return true;
  error = SystemError();
  return false;
}

// The backup's name must survive a crash as well as its bytes, so the
// folder is synced too. TOsFile opens no folders, hence the plain calls.
void SyncFolder(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Writes `header` to the first free backup name beside `path`. A name is
// taken by creating it exclusively, so no existing file is ever replaced.
bool WriteBackup(const std::string& path, const std::vector<uint8_t>& header, std::string& backupPath,
                 std::string& error) {
  for (int n = 0; n < kBackupNames; ++n) {
    const std::string name = path + ".header." + (n ? std::to_string(n) + "." : "") + "bak";
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error = "cannot create the header backup " + name + ": " + std::strerror(errno);
      return false;
    }
    ::close(fd);
    TOsFile backup;
    std::string reason;
    if (!backup.Open(name, true, TShareMode::kDenyWrite, false))
      reason = backup.LastError();
    else if (WriteAll(backup, 0, header.data(), header.size(), reason) && !backup.Sync())
      reason = std::strerror(errno);
    backup.Close();
    if (!reason.empty()) {
      TOsFile::Remove(name);
      error = "cannot write the header backup " + name + ": " + reason;
      return false;
    }
    SyncFolder(Folder(path));
    backupPath = name;
    return true;
  }
  error = "cannot write the header backup: every name from " + FileName(path) + ".header.bak to " +
          FileName(path) + ".header." + std::to_string(kBackupNames - 1) + ".bak is taken";
  return false;
}

}  // namespace

bool TTableInspection::HasFixable() const {
  return std::any_of(findings.begin(), findings.end(), [](const TTableFinding& f) { return f.fixable; });
}

bool TTableInspection::HasUnfixable() const {
  return std::any_of(findings.begin(), findings.end(), [](const TTableFinding& f) { return !f.fixable; });
}

TTableInspection InspectTable(TStream& table, const TTableCompanions& companions) {
  TTableInspection out;
  TInspector(table, companions, out).Run();
  return out;
}

TRepairOutcome RepairTableFile(const std::string& path, TRepairMode mode) {
  TRepairOutcome outcome;
  const bool repair = mode == TRepairMode::kRepair;
  TOsFile file;
  if (!file.Open(path, repair, repair ? TShareMode::kDenyWrite : TShareMode::kDenyNone, false)) {
    outcome.error = (repair ? "cannot open the table for repair: " : "cannot open the table: ") + file.LastError();
    return outcome;
  }

  TTableCompanions companions;
  companions.tableBaseName = BaseName(path);
  companions.mdxPresent = !FindCompanionFile(path, ".mdx").empty();
  companions.cdxPresent = !FindCompanionFile(path, ".cdx").empty();
  TOsFile dbtFile, fptFile;
  TReadOnlyFileStream dbt(dbtFile), fpt(fptFile);
  const auto openMemo = [&](const char* ext, TOsFile& memo, TStream* stream, TStream*& slot, std::string& name,
                            std::string& error) {
    const std::string found = FindCompanionFile(path, ext);
    if (found.empty()) return;
    name = FileName(found);
    if (memo.Open(found, false, TShareMode::kDenyNone, false))
      slot = stream;
    else
      error = memo.LastError();
  };
  openMemo(".dbt", dbtFile, &dbt, companions.dbt, companions.dbtName, companions.dbtError);
  openMemo(".fpt", fptFile, &fpt, companions.fpt, companions.fptName, companions.fptError);

  TReadOnlyFileStream stream(file);
  outcome.inspection = InspectTable(stream, companions);
  const TTableInspection& found = outcome.inspection;
  if (!found.readError.empty()) {
    outcome.error = found.readError;
    return outcome;
  }
  if (!repair || !found.HasFixable()) return outcome;

  if (found.HeaderChanged()) {
    if (!WriteBackup(path, found.storedHeader, outcome.backupPath, outcome.error)) return outcome;
    // Only the bytes that change are written.
    size_t first = 0, last = found.storedHeader.size();
    while (found.storedHeader[first] == found.repairedHeader[first]) ++first;
    while (found.storedHeader[last - 1] == found.repairedHeader[last - 1]) --last;
    std::string reason;
    if (!WriteAll(file, static_cast<int64_t>(first), found.repairedHeader.data() + first, last - first, reason) ||
        !file.Sync()) {
      if (reason.empty()) reason = std::strerror(errno);
      outcome.error = "cannot write the repaired header: " + reason + "; the original header is in " +
                      outcome.backupPath;
      return outcome;
    }
    outcome.headerWritten = true;
  }
  if (found.appendEndOfFile) {
    const uint8_t eof = kEndOfFile;
    std::string reason;
    if (!WriteAll(file, found.fileSize, &eof, 1, reason) || !file.Sync()) {
      if (reason.empty()) reason = std::strerror(errno);
      outcome.error = "cannot append the end-of-file byte: " + reason +
                      (outcome.backupPath.empty() ? "" : "; the original header is in " + outcome.backupPath);
      return outcome;
    }
    outcome.endOfFileWritten = true;
  }
  return outcome;
}

}  // namespace norvale
