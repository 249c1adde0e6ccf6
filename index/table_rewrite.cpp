#include "index/table_rewrite.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/field_convert.h"
#include "engine/file_swap.h"
#include "engine/messages.h"
#include "engine/table_file.h"
#include "index/table_indexes.h"
#include "platform/ascii.h"
#include "platform/os_file.h"

namespace norvale {

namespace {

namespace ix = fmt::idx;

std::string Stem(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const size_t dot = path.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash) ? path.substr(0, dot) : path;
}

std::string Ext(const std::string& path) { return path.substr(Stem(path).size()); }

std::string Leaf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Numbered(const std::string& path, int n) { return Stem(path) + "_" + std::to_string(n) + Ext(path); }

// A companion's extension written in the case of the table's own.
std::string CompanionExt(const std::string& tablePath, const char* lower) {
  const std::string ext = Ext(tablePath);
  const bool upper = ext.size() > 1 && ext[1] >= 'A' && ext[1] <= 'Z';
  return upper ? AsciiUpper(lower) : std::string(lower);
}

struct TOldTag {
  std::string file;  // empty: the production .mdx; else the .ndx path
  TIndexTagInfo info;
};

// The files one rewrite creates, removed again unless the swap takes them.
struct TCreated {
  std::vector<std::string> paths;
  bool keep = false;
  ~TCreated() {
    if (!keep)
      for (const std::string& p : paths) TOsFile::Remove(p);
  }
};

// Fields whose value lives in the memo file ("B" is a double at FoxPro).
bool IsMemoLike(const TDbfFieldDef& f, TXBaseVersion version) {
  const char t = f.NativeFieldType();
  return t == 'M' || t == 'G' || (t == 'B' && version != xFoxPro);
}

TIndexOptions OptionsOf(const TIndexTagInfo& info) {
  uint32_t options = 0;
  if (info.descending) options |= ixDescending;
  if (info.uniqueness == iuUnique) options |= ixUnique;
  if (info.uniqueness == iuDistinct) options |= ixPrimary;
  return static_cast<TIndexOptions>(options);
}

class TRewrite {
 public:
  TRewrite(const std::string& path, const TRewriteOptions& options) : path_(path), options_(options) {}

  TRewriteResult Run(const TDbfFieldDefs* fields, bool dropDeleted) {
    OpenOld();
    CollectTags();
    if (fields) CheckConversions(*fields);
    ChooseNames(fields);
    TCreated created;
    BuildNew(fields, dropDeleted, created);
    const std::vector<TSwapMove> moves = Moves();
    // The old table stays open (and so exclusively ours) through the swap.
    TFileSwap::Run(path_, moves, fields != nullptr);
    created.keep = true;
    oldIndexes_.reset();
    old_.Close();
    if (fields) result_.backup = backup_;
    return result_;
  }

  void Zap() {
    OpenOld();
    old_.Zap();
    oldIndexes_->RebuildAllIndexes();
    oldIndexes_.reset();
    old_.Close();
  }

 private:
  void OpenOld() {
    old_.SetFileName(path_);
    old_.SetMode(amExclusiveOpen);
    old_.Open();
    if (old_.GiveUp() || old_.RecordLength() <= 0) throw EDbfError(msg::kInvalidDbfFile);
    oldIndexes_ = std::make_unique<TTableIndexes>(old_);
    oldIndexes_->OpenProduction();
    for (const std::string& file : options_.indexFiles) oldIndexes_->AttachIndex(file, {}, static_cast<TIndexOptions>(0), false);
  }

  void CollectTags() {
    for (const auto& file : oldIndexes_->Files()) {
      const bool production = file.get() == oldIndexes_->Production();
      for (int t = 0; t < file->TagCount(); ++t) {
        TIndexTagInfo info = file->TagInfo(t);
        // A tag holding the records a condition selects cannot be built
        // again here; a rewrite without it would lose it for other programs.
        if (info.filtered) throw EDbfError(FormatMessage(msg::kIndexFiltered, info.name.c_str(), Leaf(file->FileName()).c_str()));
        tags_.push_back({production ? std::string() : file->FileName(), info});
      }
    }
  }

  // Types with no way from old to new are refused before anything exists.
  void CheckConversions(const TDbfFieldDefs& fields) {
    const TDbfFieldDefs& oldDefs = old_.FieldDefs();
    for (int i = 0; i < fields.Count(); ++i) {
      const TDbfFieldDef& f = fields.Item(i);
      if (f.CopyFrom() < 0) continue;
      if (f.CopyFrom() >= oldDefs.Count()) throw EDbfError(FormatMessage(msg::kFieldNameMissing, i + 1));
      const TDbfFieldDef& from = oldDefs.Item(f.CopyFrom());
      if (ConversionFor(from, f) == TConversion::kNone)
        throw EDbfError(FormatMessage(msg::kNoConversion, f.FieldName().c_str(), from.NativeFieldType(), f.NativeFieldType()));
    }
  }

  bool NewHasMemo(const TDbfFieldDefs* fields) const {
    const TDbfFieldDefs& defs = fields ? *fields : old_.FieldDefs();
    for (int i = 0; i < defs.Count(); ++i)
      if (IsMemoLike(defs.Item(i), old_.Version())) return true;
    return false;
  }

  // Every derived name must be free, the table's as well as its companions':
  // an unrelated customer_2.dbt is never written over.
  void ChooseNames(const TDbfFieldDefs* fields) {
    const char* memoExt = old_.Version() == xFoxPro ? ".fpt" : ".dbt";
    memoTarget_ = old_.MemoFileName();
    if (memoTarget_.empty()) memoTarget_ = Stem(path_) + CompanionExt(path_, memoExt);
    mdxTarget_ = FindCompanionFile(path_, ".mdx");
    if (mdxTarget_.empty()) mdxTarget_ = Stem(path_) + CompanionExt(path_, ".mdx");
    newHasMemo_ = NewHasMemo(fields);
    const auto allFree = [](const std::vector<std::string>& names) {
      for (const std::string& n : names)
        if (TOsFile::Exists(n)) return false;
      return true;
    };
    std::string error;
    int n = 0;
    for (;;) {
      if (++n > 9999) throw EDbfError(FormatMessage(msg::kNameTaken, Numbered(path_, n).c_str(), "no free name"));
      temp_ = Numbered(path_, n);
      // The new table's memo and production index take the names the table
      // file and the index layer give them.
      tempMemo_ = Stem(temp_) + memoExt;
      tempMdx_ = Stem(temp_) + ".mdx";
      tempNdx_.clear();
      std::vector<std::string> names{tempMemo_, tempMdx_};
      for (const std::string& file : options_.indexFiles) {
        tempNdx_.push_back(Numbered(Leaf(file), n));
        names.push_back(Beside(tempNdx_.back()));
      }
      if (!allFree(names)) continue;
      if (TOsFile::CreateNew(temp_, error)) break;
    }
    int m = n;
    for (;;) {
      if (++m > n + 9999) throw EDbfError(FormatMessage(msg::kNameTaken, Numbered(path_, m).c_str(), "no free name"));
      backup_ = Numbered(path_, m);
      backupMemo_ = Stem(backup_) + Ext(memoTarget_);
      backupMdx_ = Stem(backup_) + Ext(mdxTarget_);
      backupNdx_.clear();
      std::vector<std::string> names{backup_, backupMemo_, backupMdx_};
      for (const std::string& file : options_.indexFiles) {
        backupNdx_.push_back(Beside(Numbered(Leaf(file), m)));
        names.push_back(backupNdx_.back());
      }
      if (allFree(names)) break;
    }
  }

  std::string Beside(const std::string& leaf) const {
    const size_t slash = path_.find_last_of('/');
    return slash == std::string::npos ? leaf : path_.substr(0, slash + 1) + leaf;
  }

  void BuildNew(const TDbfFieldDefs* fields, bool dropDeleted, TCreated& created) {
    created.paths.push_back(temp_);
    TDbfFile fresh;
    try {
      if (fields) {
        CreateFromFields(fresh, *fields, created);
      } else {
        CreateLikeOld(fresh, created);
      }
      CopyRecords(fresh, fields, dropDeleted);
      BuildIndexes(fresh, created);
    } catch (...) {
      fresh.Close();
      throw;
    }
    fresh.Close();
    for (const std::string& p : created.paths)
      if (TOsFile::Exists(p) && !TOsFile::SyncFile(p))
        throw EDbfWriteError(FormatMessage(msg::kSwapFailed, path_.c_str(), (p + ": cannot be synced").c_str()));
    // The production index names its table in its header.
    if (TOsFile::Exists(tempMdx_)) {
      TOsFile mdx;
      std::string base = AsciiUpper(Leaf(Stem(path_)));
      base.resize(ix::kMdxFileNameSize, '\0');
      base.back() = '\0';
      if (!mdx.Open(tempMdx_, true, TShareMode::kDenyWrite, false) ||
          mdx.WriteAt(ix::kMdxFileName, base.data(), base.size()) != static_cast<int64_t>(base.size()) || !mdx.Sync())
        throw EDbfWriteError(FormatMessage(msg::kSwapFailed, path_.c_str(), (tempMdx_ + ": " + mdx.LastError()).c_str()));
    }
  }

  // A pack keeps every byte of the structure: the old header itself, with
  // no records counted yet.
  void CreateLikeOld(TDbfFile& fresh, TCreated& created) {
    const int headerLength = old_.HeaderLength();
    std::vector<uint8_t> header(static_cast<size_t>(headerLength) + 1);
    TOsFile in;
    if (!in.Open(path_, false, TShareMode::kDenyNone, false) || in.ReadAt(0, header.data(), static_cast<size_t>(headerLength)) != headerLength)
      throw EDbfError(FormatMessage(msg::kCannotOpenFile, path_.c_str(), in.LastError().c_str()));
    in.Close();
    PutLE32(header.data() + fmt::kRecordCount, 0);
    if (old_.Version() != xFoxPro) header[fmt::kIndexFlag] = 0;
    header[static_cast<size_t>(headerLength)] = fmt::kEndOfFile;
    TOsFile out;
    if (!out.Open(temp_, true, TShareMode::kDenyWrite, true) ||
        out.WriteAt(0, header.data(), header.size()) != static_cast<int64_t>(header.size()))
      throw EDbfWriteError(msg::kWriteError);
    out.Close();
    if (old_.HasMemoFields()) {
      if (!old_.MemoFile() || old_.MemoFileName().empty())
        throw EDbfError(FormatMessage(msg::kMemoFileMissing, memoTarget_.c_str()));
      CreateMemo(old_.MemoFile()->BlockSize(), created);
    }
    OpenFresh(fresh);
  }

  void CreateMemo(int blockSize, TCreated& created) {
    std::string error;
    if (!TOsFile::CreateNew(tempMemo_, error)) throw EDbfError(FormatMessage(msg::kNameTaken, tempMemo_.c_str(), error.c_str()));
    created.paths.push_back(tempMemo_);
    std::unique_ptr<TMemoFile> memo;
    if (old_.Version() == xFoxPro)
      memo = std::make_unique<TFoxProMemoFile>(old_.Version(), blockSize);
    else
      memo = std::make_unique<TDbaseMemoFile>(old_.Version(), blockSize);
    memo->SetFileName(tempMemo_);
    memo->SetMode(amExclusiveCreate);
    memo->SetAutoCreate(true);
    memo->Open();
    memo->Close();
  }

  void CreateFromFields(TDbfFile& fresh, const TDbfFieldDefs& fields, TCreated& created) {
    TDbfFieldDefs defs(old_.Version());
    for (int i = 0; i < fields.Count(); ++i) {
      TDbfFieldDef& d = defs.Add();
      d.Assign(fields.Item(i));
      d.SetCopyFrom(fields.Item(i).CopyFrom());
      // A counter carried over continues where the old field's stopped.
      if (d.CopyFrom() >= 0 && d.NativeFieldType() == '+')
        d.SetAutoIncNext(old_.FieldDefs().Item(d.CopyFrom()).AutoIncNext());
    }
    if (newHasMemo_) {
      std::string error;
      if (!TOsFile::CreateNew(tempMemo_, error)) throw EDbfError(FormatMessage(msg::kNameTaken, tempMemo_.c_str(), error.c_str()));
      created.paths.push_back(tempMemo_);
    }
    fresh.SetFileName(temp_);
    fresh.SetCreateVersion(old_.Version());
    fresh.SetCreateLanguageId(old_.Version() == xBaseVII ? 0 : old_.LanguageId());
    fresh.SetMode(amExclusiveCreate);
    fresh.Open();
    const int blockSize = old_.MemoFile() && !old_.MemoFileName().empty() ? old_.MemoFile()->BlockSize() : 512;
    fresh.CreateStructure(defs, blockSize);
    fresh.Close();
    OpenFresh(fresh);
  }

  void OpenFresh(TDbfFile& fresh) {
    fresh.SetFileName(temp_);
    fresh.SetMode(amExclusiveOpen);
    fresh.SetDetectCodePage(false);
    fresh.Open();
  }

  void CopyRecords(TDbfFile& fresh, const TDbfFieldDefs* fields, bool dropDeleted) {
    const int oldLength = old_.RecordLength();
    const int newLength = fresh.RecordLength();
    // Only whole records within the file, whatever the header says.
    const int64_t total = old_.RecordsInFile();
    constexpr int64_t kChunk = 16384;
    std::vector<uint8_t> in(static_cast<size_t>(kChunk * oldLength));
    std::vector<uint8_t> out(static_cast<size_t>(kChunk * newLength));
    std::vector<uint8_t> blank(static_cast<size_t>(newLength));
    fresh.BlankRecord(blank.data());

    struct TMap {
      const TDbfFieldDef* from;
      const TDbfFieldDef* to;
      TConversion how;
    };
    std::vector<TMap> map;
    std::vector<std::pair<const TDbfFieldDef*, const TDbfFieldDef*>> memos;
    const TDbfFieldDefs& newDefs = fresh.FieldDefs();
    if (fields) {
      for (int i = 0; i < fields->Count() && i < newDefs.Count(); ++i) {
        const int source = fields->Item(i).CopyFrom();
        if (source < 0) continue;
        const TDbfFieldDef* from = &old_.FieldDefs().Item(source);
        const TDbfFieldDef* to = &newDefs.Item(i);
        const TConversion how = ConversionFor(*from, *to);
        if (how == TConversion::kMemo)
          memos.push_back({from, to});
        else
          map.push_back({from, to, how});
      }
      // Null flags follow their fields: the new bits start clear (not null)
      // and those of carried fields are copied.
    } else {
      for (int i = 0; i < old_.FieldDefs().Count(); ++i) {
        const TDbfFieldDef& f = old_.FieldDefs().Item(i);
        if (IsMemoLike(f, old_.Version())) memos.push_back({&f, &newDefs.Item(i)});
      }
    }
    TMemoFile* oldMemo = old_.MemoFile();
    TMemoFile* newMemo = fresh.MemoFile();
    if (!memos.empty() && (!oldMemo || old_.MemoFileName().empty()))
      throw EDbfError(FormatMessage(msg::kMemoFileMissing, memoTarget_.c_str()));
    std::string value;
    for (int64_t first = 1; first <= total; first += kChunk) {
      const int64_t got = old_.ReadRecords(first, std::min(kChunk, total - first + 1), in.data());
      if (got <= 0) break;
      int64_t kept = 0;
      for (int64_t k = 0; k < got; ++k) {
        const uint8_t* rec = in.data() + k * oldLength;
        if (dropDeleted && rec[0] == fmt::kDeleted) {
          ++result_.dropped;
          continue;
        }
        uint8_t* dst = out.data() + kept * newLength;
        const int64_t recNo = first + k;
        if (fields) {
          std::memcpy(dst, blank.data(), blank.size());
          dst[0] = rec[0];
          for (const TMap& m : map) {
            const std::string why = ConvertValue(m.how, *m.from, rec + m.from->Offset(), *m.to, dst + m.to->Offset());
            if (!why.empty()) throw EDbfError(FormatMessage(msg::kRecordValue, static_cast<long long>(recNo), why.c_str()));
          }
          CopyNullBits(fresh, *fields, rec, dst);
        } else {
          std::memcpy(dst, rec, static_cast<size_t>(oldLength));
        }
        // Each field's value comes from its own source block, so no pointer
        // of the new table names another record's value.
        for (const auto& [from, to] : memos) {
          int32_t block = 0;
          int32_t fresh32 = 0;
          if (old_.DecodeField(*from, ftInteger, false, &block, rec) && block > 0) {
            oldMemo->ReadMemo(block, value);
            if (!value.empty()) {
              fresh32 = static_cast<int32_t>(newMemo->WriteMemo(0, 0, value));
              if (newMemo->WriteError()) throw EDbfWriteError(msg::kWriteError);
            }
          }
          if (fresh32 > 0)
            fresh.EncodeField(*to, ftInteger, false, dst, &fresh32);
          else if (block > 0)
            fresh.EncodeField(*to, ftInteger, false, dst, nullptr);  // it named an empty value
        }
        ++kept;
      }
      if (kept) fresh.WriteNewRecords(out.data(), kept);
      result_.records += kept;
      if (options_.progress) options_.progress(first + got - 1, total);
    }
    fresh.FinishNewRecords();
    if (newMemo) {
      newMemo->Flush();
      if (newMemo->WriteError()) throw EDbfWriteError(msg::kWriteError);
    }
  }

  // FoxPro's null bits belong to fields, not positions: a carried field is
  // null exactly when its old field was; a new one starts null.
  void CopyNullBits(TDbfFile& fresh, const TDbfFieldDefs& fields, const uint8_t* rec, uint8_t* dst) {
    const TDbfFieldDef* newFlags = fresh.NullFlagsField();
    if (!newFlags) return;
    const TDbfFieldDef* oldFlags = old_.NullFlagsField();
    const TDbfFieldDefs& defs = fresh.FieldDefs();
    for (int i = 0; i < defs.Count() && i < fields.Count(); ++i) {
      const TDbfFieldDef& to = defs.Item(i);
      const int source = fields.Item(i).CopyFrom();
      if (to.NullPosition() < 0 || source < 0) continue;
      const TDbfFieldDef& from = old_.FieldDefs().Item(source);
      bool wasNull = false;
      if (oldFlags && from.NullPosition() >= 0 && from.NullPosition() / 8 < oldFlags->Size())
        wasNull = rec[oldFlags->Offset() + from.NullPosition() / 8] & (1u << (from.NullPosition() % 8));
      uint8_t& bits = dst[newFlags->Offset() + to.NullPosition() / 8];
      const uint8_t bit = static_cast<uint8_t>(1u << (to.NullPosition() % 8));
      bits = wasNull ? static_cast<uint8_t>(bits | bit) : static_cast<uint8_t>(bits & ~bit);
    }
  }

  void BuildIndexes(TDbfFile& fresh, TCreated& created) {
    if (tags_.empty()) return;
    TTableIndexes indexes(fresh);
    for (const TOldTag& tag : tags_) {
      std::string name = tag.info.name;
      if (!tag.file.empty()) name = NdxTempFor(tag.file);
      const bool newFile = tag.file.empty() ? !TOsFile::Exists(tempMdx_) : true;
      try {
        indexes.AttachIndex(name, tag.info.expression, OptionsOf(tag.info), true);
      } catch (const EDbfError& e) {
        if (newFile) created.paths.push_back(tag.file.empty() ? tempMdx_ : Beside(name));
        throw EDbfError(FormatMessage(msg::kIndexNotRebuilt, tag.info.name.c_str(), e.what()));
      }
      if (newFile) created.paths.push_back(tag.file.empty() ? tempMdx_ : Beside(name));
    }
    for (const auto& file : indexes.Files()) {
      file->Flush();
      if (file->WriteError()) throw EDbfWriteError(msg::kWriteErrorIndexes);
    }
  }

  std::string NdxTempFor(const std::string& file) const {
    for (size_t i = 0; i < options_.indexFiles.size(); ++i)
      if (Leaf(options_.indexFiles[i]) == Leaf(file) || options_.indexFiles[i] == file) return tempNdx_[i];
    return Leaf(file);
  }

  std::vector<TSwapMove> Moves() const {
    std::vector<TSwapMove> moves;
    moves.push_back({path_, backup_, temp_});
    const bool oldMemo = TOsFile::Exists(memoTarget_);
    const bool freshMemo = TOsFile::Exists(tempMemo_);
    if (oldMemo || freshMemo) moves.push_back({memoTarget_, backupMemo_, freshMemo ? tempMemo_ : std::string()});
    const bool oldMdx = TOsFile::Exists(mdxTarget_);
    const bool freshMdx = TOsFile::Exists(tempMdx_);
    if (oldMdx || freshMdx) moves.push_back({mdxTarget_, backupMdx_, freshMdx ? tempMdx_ : std::string()});
    for (size_t i = 0; i < options_.indexFiles.size(); ++i) {
      const std::string fresh = Beside(tempNdx_[i]);
      moves.push_back({Beside(Leaf(options_.indexFiles[i])), backupNdx_[i], TOsFile::Exists(fresh) ? fresh : std::string()});
    }
    return moves;
  }

  std::string path_;
  TRewriteOptions options_;
  TDbfFile old_;
  std::unique_ptr<TTableIndexes> oldIndexes_;
  std::vector<TOldTag> tags_;
  std::string temp_, tempMemo_, tempMdx_;
  std::vector<std::string> tempNdx_;
  std::string backup_, backupMemo_, backupMdx_;
  std::vector<std::string> backupNdx_;
  std::string memoTarget_, mdxTarget_;
  bool newHasMemo_ = false;
  TRewriteResult result_;
};

}  // namespace

TRewriteResult PackTable(const std::string& path, const TRewriteOptions& options) {
  TRewrite rewrite(path, options);
  return rewrite.Run(nullptr, true);
}

TRewriteResult RestructureTable(const std::string& path, const TDbfFieldDefs& fields, bool pack,
                                const TRewriteOptions& options) {
  TRewrite rewrite(path, options);
  return rewrite.Run(&fields, pack);
}

void ZapTable(const std::string& path, const TRewriteOptions& options) {
  TRewrite rewrite(path, options);
  rewrite.Zap();
}

}  // namespace norvale
