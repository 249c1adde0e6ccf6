// TTableIndexes: the index files of one open table file, what its index
// administration works on: the production .mdx the header announces, the
// single-index files opened by name, and the names (tags and files) that
// select them. Each open file is registered with the table file, which keeps
// it current on every append, edit, delete and recall.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/language.h"
#include "index/index_defs.h"
#include "index/index_file.h"

namespace norvale {

class TDbfFile;

class TTableIndexes {
 public:
  // `table` must be open and outlive this object.
  explicit TTableIndexes(TDbfFile& table);
  ~TTableIndexes();
  TTableIndexes(const TTableIndexes&) = delete;
  TTableIndexes& operator=(const TTableIndexes&) = delete;

  // Set before opening: the answer to an index file written with another
  // language driver than the table's.
  TLocaleErrorEvent onLocaleError;

  // Opens the production .mdx when the header announces one and it exists
  // (a missing one is the table file's business). Raises EDbfError for a
  // damaged file; the table file then still names it as unmaintained.
  void OpenProduction();
  TIndexFile* Production() const { return production_; }
  // Why an open index file is not kept current (a tag with a condition this
  // program cannot evaluate); empty when every one is.
  const std::string& UnmaintainedReason() const { return unmaintained_; }
  const std::vector<std::unique_ptr<TIndexFile>>& Files() const { return files_; }

  // A tag name of the production file, or a single-index file name with its
  // extension: the file holding it and the tag's number there; null when no
  // open file holds that name.
  TIndexFile* Find(const std::string& name, int* tag) const;
  // Every usable name: the production tags in tag order, then the
  // single-index files in the order they were opened.
  std::vector<std::string> IndexNames() const;

  // Called now and then while RebuildAllIndexes, RebuildIndex and a
  // creating AttachIndex read the records, with the work done so far and
  // the whole (every file's pass over the records counts). Throwing from it
  // cancels: every index file stays as it was, and a file or tag the call
  // was making is not left behind.
  void SetProgress(std::function<void(int64_t done, int64_t total)> progress) { progress_ = std::move(progress); }

  // Opens (or, with `create`, creates and builds) index `name`: a name with
  // an extension is a single-index file of that name beside the table, one
  // without a tag of the production .mdx (created when there is none). An
  // existing tag or file of that name is rebuilt from `expression` when
  // `create` is set. The table must be open exclusively to create. The keys
  // are read before an existing file is changed; any failure (a cancel too)
  // leaves an existing tag as it was and removes a file this call created.
  void AttachIndex(const std::string& name, const std::string& expression, TIndexOptions options, bool create);
  // Closes a single-index file opened by name; false when `name` is none.
  bool DetachIndex(const std::string& name);
  // Deletes a tag (and the .mdx with its last tag, clearing the header's
  // flag) or a single-index file; false when `name` is none.
  bool DropIndex(const std::string& name);
  // Rebuilds one tag of `file` (every tag when `tag` is empty).
  void RebuildIndex(TIndexFile& file, const std::string& tag);
  // Every file's keys are read before the first file is written, so a
  // failure while reading leaves all of them as they were.
  void RebuildAllIndexes();

 private:
  TIndexFile* OpenFile(const std::string& path, bool create);
  void Forget(TIndexFile* file);
  std::string PathBeside(const std::string& name) const;
  void RequireExclusiveTable() const;
  void RequireNewFileAllowed(const std::string& expression) const;

  TDbfFile& table_;
  std::vector<std::unique_ptr<TIndexFile>> files_;
  TIndexFile* production_ = nullptr;
  std::string unmaintained_;
  std::function<void(int64_t done, int64_t total)> progress_;
};

}  // namespace norvale
