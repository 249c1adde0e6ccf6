#include "engine/file_swap.h"

#include <sstream>

#include "engine/exceptions.h"
#include "engine/messages.h"
#include "platform/os_file.h"

namespace norvale {

namespace {

constexpr const char* kMagic = "norvale-swap 1";

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string LeafOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

struct TJournal {
  bool keepBackups = false;
  bool ready = false;
  bool committed = false;
  std::vector<TSwapMove> moves;
};

// Names are kept without their directory: the journal lies beside them, and
// a folder moved or mounted elsewhere after a crash still recovers.
std::string Encode(const std::vector<TSwapMove>& moves, bool keepBackups) {
  std::string text = std::string(kMagic) + "\n" + (keepBackups ? "keep" : "drop") + "\n";
  for (const TSwapMove& m : moves)
    text += "move\t" + LeafOf(m.target) + "\t" + LeafOf(m.backup) + "\t" + LeafOf(m.fresh) + "\n";
  return text + "ready\n";
}

bool Decode(const std::string& text, const std::string& dir, TJournal& out) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return false;
  if (!std::getline(in, line) || (line != "keep" && line != "drop")) return false;
  out.keepBackups = line == "keep";
  while (std::getline(in, line)) {
    if (line == "ready") {
      out.ready = true;
    } else if (line == "committed") {
      out.committed = out.ready;
    } else if (line.rfind("move\t", 0) == 0 && !out.ready) {
      std::vector<std::string> parts;
      std::string part;
      std::istringstream fields(line.substr(5));
      while (std::getline(fields, part, '\t')) parts.push_back(part);
      if (parts.size() == 2) parts.emplace_back();
      if (parts.size() != 3 || parts[0].empty() || parts[1].empty()) return false;
      out.moves.push_back({dir + parts[0], dir + parts[1], parts[2].empty() ? std::string() : dir + parts[2]});
    }
  }
  return true;
}

// Puts every old file back under its name and removes the new ones. Works
// from any point of a swap: a target whose new file is gone from its own
// name holds that new file.
bool RollBack(const std::vector<TSwapMove>& moves, std::string& error) {
  bool ok = true;
  for (auto m = moves.rbegin(); m != moves.rend(); ++m) {
    std::string why;
    if (!m->fresh.empty() && !TOsFile::Exists(m->fresh) && TOsFile::Exists(m->target) &&
        !TOsFile::RenameNoReplace(m->target, m->fresh, why)) {
      ok = false;
      error = m->target + ": " + why;
    }
    if (TOsFile::Exists(m->backup) && !TOsFile::RenameNoReplace(m->backup, m->target, why)) {
      ok = false;
      error = m->backup + ": " + why;
    }
  }
  if (!moves.empty()) TOsFile::SyncDirectoryOf(moves.front().target);
  for (const TSwapMove& m : moves)
    if (ok && !m.fresh.empty()) TOsFile::Remove(m.fresh);
  return ok;
}

void RemoveBackups(const std::vector<TSwapMove>& moves) {
  for (const TSwapMove& m : moves) TOsFile::Remove(m.backup);
}

void Step(int step) {
  if (TFileSwap::StepHook()) TFileSwap::StepHook()(step);
}

}  // namespace

std::function<void(int)>& TFileSwap::StepHook() {
  static std::function<void(int)> hook;
  return hook;
}

std::string TFileSwap::JournalName(const std::string& tablePath) { return tablePath + ".swap"; }

void TFileSwap::Run(const std::string& tablePath, const std::vector<TSwapMove>& moves, bool keepBackups) {
  const std::string journal = JournalName(tablePath);
  const std::string dir = DirectoryOf(tablePath);
  std::string error;
  // The journal is written under a free name and renamed into place whole and
  // locked, so that an open never finds it half-written.
  std::string draft;
  for (int n = 1; n < 1000; ++n) {
    draft = journal + "." + std::to_string(n);
    if (TOsFile::CreateNew(draft, error)) break;
    draft.clear();
  }
  if (draft.empty()) throw EDbfError(FormatMessage(msg::kNameTaken, journal.c_str(), error.c_str()));
  TOsFile lock;
  const std::string text = Encode(moves, keepBackups);
  if (!lock.Open(draft, true, TShareMode::kDenyWrite, false) ||
      lock.WriteAt(0, text.data(), text.size()) != static_cast<int64_t>(text.size()) || !lock.Sync()) {
    error = lock.LastError().empty() ? "cannot be written" : lock.LastError();
    lock.Close();
    TOsFile::Remove(draft);
    throw EDbfWriteError(FormatMessage(msg::kSwapFailed, tablePath.c_str(), (draft + ": " + error).c_str()));
  }
  if (!TOsFile::RenameNoReplace(draft, journal, error)) {
    lock.Close();
    TOsFile::Remove(draft);
    throw EDbfError(FormatMessage(msg::kNameTaken, journal.c_str(), error.c_str()));
  }
  TOsFile::SyncDirectoryOf(journal);
  Step(kJournalWritten);

  const auto fail = [&](const std::string& what) {
    std::string rollBackError;
    const bool back = RollBack(moves, rollBackError);
    if (back) {
      lock.Close();
      TOsFile::Remove(journal);
      throw EDbfWriteError(FormatMessage(msg::kSwapFailed, tablePath.c_str(), what.c_str()));
    }
    // The journal stays: the next open tries again to put the files back.
    throw EDbfWriteError(FormatMessage(msg::kSwapStuck, tablePath.c_str(), what.c_str(), rollBackError.c_str()));
  };
  for (const TSwapMove& m : moves)
    if (TOsFile::Exists(m.target) && !TOsFile::RenameNoReplace(m.target, m.backup, error)) fail(m.target + ": " + error);
  Step(kOldMovedAside);
  for (const TSwapMove& m : moves)
    if (!m.fresh.empty() && !TOsFile::RenameNoReplace(m.fresh, m.target, error)) fail(m.fresh + ": " + error);
  if (!TOsFile::SyncDirectoryOf(tablePath)) fail(dir + ": cannot be synced");
  Step(kNewMovedIn);
  const std::string mark = "committed\n";
  if (lock.WriteAt(static_cast<uint64_t>(text.size()), mark.data(), mark.size()) != static_cast<int64_t>(mark.size()) ||
      !lock.Sync())
    fail(journal + ": " + lock.LastError());
  Step(kCommitted);
  if (!keepBackups) RemoveBackups(moves);
  Step(kBackupsRemoved);
  lock.Close();
  TOsFile::Remove(journal);
  TOsFile::SyncDirectoryOf(journal);
}

void TFileSwap::Recover(const std::string& tablePath) {
  const std::string journal = JournalName(tablePath);
  if (!TOsFile::Exists(journal)) return;
  TOsFile lock;
  if (!lock.Open(journal, true, TShareMode::kDenyWrite, false)) {
    if (TOsFile::MayWrite(journal)) throw EDbfError(FormatMessage(msg::kSwapInProgress, tablePath.c_str()));
    throw EDbfError(FormatMessage(msg::kSwapStuck, tablePath.c_str(), journal.c_str(), lock.LastError().c_str()));
  }
  const int64_t size = lock.Size();
  if (size <= 0 || size > (1 << 20)) return;  // not ours: left alone
  std::string text(static_cast<size_t>(size), '\0');
  if (lock.ReadAt(0, text.data(), text.size()) != size) return;
  TJournal j;
  if (!Decode(text, DirectoryOf(journal), j)) return;
  if (j.committed) {
    if (!j.keepBackups) RemoveBackups(j.moves);
  } else {
    std::string error;
    if (!RollBack(j.moves, error)) throw EDbfError(FormatMessage(msg::kSwapStuck, tablePath.c_str(), journal.c_str(), error.c_str()));
  }
  lock.Close();
  TOsFile::Remove(journal);
  TOsFile::SyncDirectoryOf(journal);
}

}  // namespace norvale
