#include "index/table_indexes.h"

#include <algorithm>
#include <utility>

#include "engine/exceptions.h"
#include "engine/messages.h"
#include "engine/table_file.h"
#include "expr/table_parser.h"
#include "platform/ascii.h"
#include "platform/os_file.h"

namespace norvale {
namespace {

bool HasExtension(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

std::string Trimmed(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The index file's mode follows the table's: a read-only table reads its
// indexes, a shared one shares them.
TPagedFileMode IndexMode(const TDbfFile& table, bool create) {
  const TPagedFileMode mode = table.Mode();
  if (!ModeWritable(mode)) return amReadOnly;
  if (mode == amMemoryCreate || mode == amMemoryOpen) throw EDbfError(msg::kIndexInMemory);
  if (ModeShared(mode)) return create ? amSharedCreate : amSharedOpen;
  return create ? amExclusiveCreate : amExclusiveOpen;
}

// The table's progress callback, given to one file for one build: a file
// keeps no callback that could outlive its caller's.
class TLentProgress {
 public:
  TLentProgress(TIndexFile& file, TIndexFile::TBuildProgress progress) : file_(file) {
    file_.SetBuildProgress(std::move(progress));
  }
  ~TLentProgress() { file_.SetBuildProgress(nullptr); }
  TLentProgress(const TLentProgress&) = delete;
  TLentProgress& operator=(const TLentProgress&) = delete;

 private:
  TIndexFile& file_;
};

}  // namespace

TTableIndexes::TTableIndexes(TDbfFile& table) : table_(table) {}

TTableIndexes::~TTableIndexes() {
  for (auto& file : files_) {
    table_.RemoveIndex(file.get());
    try {
      file->Close();
    } catch (...) {
      // A close that cannot write has nobody to tell here; the pages were
      // flushed at the end of every change.
    }
  }
}

std::string TTableIndexes::PathBeside(const std::string& name) const {
  if (name.find('/') != std::string::npos) return name;
  const std::string& tablePath = table_.FileName();
  const size_t slash = tablePath.find_last_of('/');
  return slash == std::string::npos ? name : tablePath.substr(0, slash + 1) + name;
}

TIndexFile* TTableIndexes::OpenFile(const std::string& path, bool create) {
  auto file = std::make_unique<TIndexFile>(&table_);
  file->SetFileName(path);
  file->SetMode(IndexMode(table_, create));
  file->Open();
  if (file->IsMultiple() && !create) {
    const int indexLanguage = file->LanguageId();
    const TIndexLocale locale = table_.Version() == xBaseVII
                                    ? CheckIndexLocale(table_.LanguageDriverName(), indexLanguage, onLocaleError)
                                    : CheckIndexLocale(table_.LanguageId(), indexLanguage, onLocaleError);
    if (!locale.open) {
      file->Close();
      return nullptr;
    }
    if (locale.collation) file->SetCollation(*locale.collation);
    if (!locale.maintained) file->SetCanEdit(false);
  }
  for (int i = 0; i < file->TagCount(); ++i) {
    if (!file->TagInfo(i).filtered) continue;
    // Keys added here would ignore the condition: the file stays as its
    // writer left it, and says why.
    file->SetCanEdit(false);
    unmaintained_ = FormatMessage(msg::kIndexFiltered, file->TagInfo(i).name.c_str(), file->FileName().c_str());
    break;
  }
  TIndexFile* opened = file.get();
  table_.AddIndex(opened);
  files_.push_back(std::move(file));
  return opened;
}

void TTableIndexes::Forget(TIndexFile* file) {
  table_.RemoveIndex(file);
  if (file == production_) production_ = nullptr;
  auto it = std::find_if(files_.begin(), files_.end(), [file](const auto& f) { return f.get() == file; });
  if (it == files_.end()) return;
  std::unique_ptr<TIndexFile> owned = std::move(*it);
  files_.erase(it);
  owned->Close();
}

void TTableIndexes::OpenProduction() {
  if (production_ || table_.Version() == xFoxPro) return;  // FoxPro's flag names a .cdx
  if (table_.Header()[fmt::kIndexFlag] == 0) return;
  const std::string path = FindCompanionFile(table_.FileName(), ".mdx");
  if (path.empty()) return;
  production_ = OpenFile(path, false);
  if (production_ && production_->CanEdit()) table_.MarkIndexMaintained(path);
}

TIndexFile* TTableIndexes::Find(const std::string& name, int* tag) const {
  const std::string wanted = AsciiUpper(Trimmed(name));
  if (wanted.empty()) return nullptr;
  if (HasExtension(wanted)) {
    for (const auto& file : files_) {
      if (file->IsMultiple()) continue;
      const std::string& path = file->FileName();
      const std::string base = path.substr(path.find_last_of('/') + 1);
      if (AsciiUpper(base) == wanted || AsciiUpper(path) == wanted) {
        if (tag) *tag = 0;
        return file.get();
      }
    }
    return nullptr;
  }
  if (!production_) return nullptr;
  const int i = production_->IndexOfTag(wanted);
  if (i < 0) return nullptr;
  if (tag) *tag = i;
  return production_;
}

std::vector<std::string> TTableIndexes::IndexNames() const {
  std::vector<std::string> names;
  if (production_)
    for (int i = 0; i < production_->TagCount(); ++i) names.push_back(production_->TagInfo(i).name);
  for (const auto& file : files_)
    if (file.get() != production_ && !file->IsMultiple()) {
      const std::string& path = file->FileName();
      names.push_back(path.substr(path.find_last_of('/') + 1));
    }
  return names;
}

void TTableIndexes::AttachIndex(const std::string& rawName, const std::string& expression, TIndexOptions options,
                                bool create) {
  const std::string name = Trimmed(rawName);
  if (name.empty()) return;
  if (!expression.empty()) {
    // Name and expression are checked before any file is opened or made.
    if (!HasExtension(name)) {
      const size_t longest = table_.Version() == xBaseVII ? 32 : 10;  // the tag table's room
      const bool fits = name.size() <= longest && std::all_of(name.begin(), name.end(), [](unsigned char c) {
                          return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
                        });
      if (!fits) throw EDbfError(FormatMessage(msg::kIndexNameInvalid, name.c_str(), static_cast<int>(longest)));
    }
    char keyType = 'C';
    int keyLength = 0;
    TIndexFile::CheckKeyExpression(&table_, AsciiUpper(expression), !HasExtension(name), &keyType, &keyLength);
  }
  int tag = -1;
  TIndexFile* file = Find(name, &tag);
  bool createdFile = false;
  if (!file) {
    if (HasExtension(name)) {
      const std::string path = PathBeside(name);
      const bool exists = TOsFile::Exists(path);
      if (!exists && !create && expression.empty()) throw Exception(FormatMessage(msg::kFileNotFound, path.c_str()));
      if (!exists) RequireNewFileAllowed(expression);
      file = OpenFile(path, !exists);
      createdFile = !exists;
    } else if (production_) {
      file = production_;
    } else {
      std::string path = FindCompanionFile(table_.FileName(), ".mdx");
      const bool exists = !path.empty();
      if (!exists) {
        const std::string& t = table_.FileName();
        path = (HasExtension(t) ? t.substr(0, t.find_last_of('.')) : t) + ".mdx";
        RequireNewFileAllowed(expression);
      }
      file = OpenFile(path, !exists);
      createdFile = !exists;
      production_ = file;
    }
    if (!file) return;  // the language check said not to open it
  }
  const bool isTag = file->IsMultiple();
  const bool build = createdFile || create || (isTag && file->IndexOfTag(AsciiUpper(name)) < 0);
  if (!build) return;
  if (expression.empty()) throw EDbfError(msg::kIndexNeedsExpression);
  RequireExclusiveTable();
  try {
    TLentProgress lent(*file, progress_);
    // An existing tag or file of that name is made again from the
    // expression given, once its keys are read.
    file->BuildTag(AsciiUpper(Trimmed(expression)), AsciiUpper(name), options);
    file->Flush();
    if (file == production_) table_.SetProductionIndexFlag(true);
  } catch (...) {
    // Only what this call made goes: a new file. A file that was there
    // keeps its tags, or loses only the new one its build left unfinished.
    if (createdFile) {
      const std::string path = file->FileName();
      try {
        Forget(file);
      } catch (...) {
        // The file is removed all the same; what its close could not write
        // is moot.
      }
      TOsFile::Remove(path);
    }
    throw;
  }
}

// A file is made only for an index that will be built in it, and only when
// the table is ours alone: a refusal afterwards would leave it behind.
void TTableIndexes::RequireNewFileAllowed(const std::string& expression) const {
  if (expression.empty()) throw EDbfError(msg::kIndexNeedsExpression);
  RequireExclusiveTable();
}

bool TTableIndexes::DetachIndex(const std::string& name) {
  int tag = -1;
  TIndexFile* file = Find(name, &tag);
  if (!file || file == production_) return false;
  Forget(file);
  return true;
}

bool TTableIndexes::DropIndex(const std::string& name) {
  int tag = -1;
  TIndexFile* file = Find(name, &tag);
  if (!file) return false;
  RequireExclusiveTable();
  if (file == production_) {
    file->DeleteTag(file->TagInfo(tag).name);
    if (file->TagCount() > 0) return true;
    const std::string path = file->FileName();
    Forget(file);
    TOsFile::Remove(path);
    table_.SetProductionIndexFlag(false);
    return true;
  }
  const std::string path = file->FileName();
  Forget(file);
  TOsFile::Remove(path);
  return true;
}

void TTableIndexes::RebuildIndex(TIndexFile& file, const std::string& tag) {
  TLentProgress lent(file, progress_);
  if (Trimmed(tag).empty()) {
    file.RebuildAll();
  } else {
    const int i = file.IndexOfTag(AsciiUpper(Trimmed(tag)));
    if (i < 0) return;
    file.RebuildTag(i);
  }
  file.Flush();
}

void TTableIndexes::RebuildAllIndexes() {
  const int64_t count = static_cast<int64_t>(files_.size());
  std::vector<std::unique_ptr<TIndexFile::TGatheredKeys>> gathered;
  for (int64_t i = 0; i < count; ++i) {
    TIndexFile& file = *files_[static_cast<size_t>(i)];
    TIndexFile::TBuildProgress share;
    if (progress_)
      share = [progress = progress_, i, count](int64_t done, int64_t total) {
        progress(i * total + done, count * total);
      };
    TLentProgress lent(file, std::move(share));
    gathered.push_back(file.GatherKeys(-1));
  }
  for (size_t i = 0; i < files_.size(); ++i) {
    files_[i]->WriteKeys(*gathered[i]);
    files_[i]->Flush();
  }
}

void TTableIndexes::RequireExclusiveTable() const {
  if (table_.IsShared() || !ModeWritable(table_.Mode())) throw EDbfError(msg::kExclusiveRequired);
}

}  // namespace norvale
