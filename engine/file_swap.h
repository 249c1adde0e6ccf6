// Replacing a table's files (table, memo, indexes) by complete new ones so
// that, whatever moment a crash or a full disk strikes, the table's name
// opens either the whole old table or the whole new one.
//
// No rename replaces several files at once, so the swap is written down
// first: a journal beside the table (its name + ".swap") lists every move
// and is synced before the first rename. A swap that did not finish is put
// back, by the program doing it when a step fails, and by the next open of
// the table after a crash. The journal is locked while its program lives,
// so that an open never undoes a swap still in progress.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace norvale {

struct TSwapMove {
  std::string target;  // the name the table opens by (P.dbf, P.dbt, P.mdx)
  std::string backup;  // where the old file goes (a free name)
  std::string fresh;   // the complete new file (a free name), or empty: none
};

class TFileSwap {
 public:
  // The points a test may stop the swap at (it kills the process there).
  enum TStep { kJournalWritten = 1, kOldMovedAside, kNewMovedIn, kCommitted, kBackupsRemoved, kLastStep };

  static std::string JournalName(const std::string& tablePath);

  // Moves every old file aside and every new one in. `keepBackups`: the old
  // files stay under their backup names (a restructure), else they are
  // removed once the new ones are in (a pack). Raises EDbfError with what
  // failed after putting every file back where it was.
  static void Run(const std::string& tablePath, const std::vector<TSwapMove>& moves, bool keepBackups);

  // Called at the start of every open: finishes or undoes what a crashed
  // swap left. Raises EDbfError while another program is swapping, or when
  // the files cannot be put back (the message says where they are).
  static void Recover(const std::string& tablePath);

  // Test hook: called at each step with its number.
  static std::function<void(int)>& StepHook();
};

}  // namespace norvale
