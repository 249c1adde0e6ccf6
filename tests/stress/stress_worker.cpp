// A second program for the multi-process tests: it opens a table the way
// another copy of the viewer would and does one job on it, reporting on
// stdout and waiting for a line on stdin at the points where the test wants
// to look at the table from outside.
//
//   norvale_stress_worker TABLE MODE JOB [ARGS...]
//     MODE  shared | exclusive | readonly
//     JOB   append TAG COUNT   "ready", waits, appends COUNT records, "done"
//           reopen TAG COUNT   as append, opening the table afresh for each
//                              record, so that every append is a first change
//           memo TAG COUNT     as append, each record with a value in its
//                              memo field NOTE
//           lock RECNO         locks and reads RECNO, "locked", waits, writes back, "released"
//           hold               "open", waits, closes
//   Options before TABLE: --computer-name NAME
//
// Any failure prints "error <message>" and exits with 1.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "engine/exceptions.h"
#include "engine/globals.h"
#include "engine/table_file.h"
#include "tests/stress/stress_memos.h"
#include "tests/stress/stress_records.h"

namespace {

using namespace norvale;

void Say(const std::string& line) {
  std::cout << line << std::endl;  // endl: the test reads line by line
}

void WaitForGo() {
  std::string line;
  std::getline(std::cin, line);
}

TPagedFileMode ModeOf(const std::string& name) {
  if (name == "shared") return amSharedOpen;
  if (name == "exclusive") return amExclusiveOpen;
  if (name == "readonly") return amReadOnly;
  throw Exception("unknown mode " + name);
}

int Run(std::vector<std::string> args) {
  if (args.size() >= 2 && args[0] == "--computer-name") {
    TDbfGlobals::Instance().SetComputerName(args[1]);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() < 3) throw Exception("usage: TABLE MODE JOB [ARGS...]");
  TDbfFile table;
  table.SetFileName(args[0]);
  table.SetMode(ModeOf(args[1]));
  table.Open();
  const std::string& job = args[2];
  std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));

  if (job == "append" && args.size() == 5) {
    const char tag = args[3].at(0);
    const int count = std::stoi(args[4]);
    Say("ready");
    WaitForGo();
    for (int seq = 1; seq <= count; ++seq) {
      table.BlankRecord(record.data());
      stress::FillRecord(table, tag, seq, record.data());
      table.AppendRecord(record.data());
    }
    Say("done");
  } else if (job == "reopen" && args.size() == 5) {
    const char tag = args[3].at(0);
    const int count = std::stoi(args[4]);
    table.Close();
    Say("ready");
    WaitForGo();
    for (int seq = 1; seq <= count; ++seq) {
      TDbfFile again;
      again.SetFileName(args[0]);
      again.SetMode(ModeOf(args[1]));
      again.Open();
      again.BlankRecord(record.data());
      stress::FillRecord(again, tag, seq, record.data());
      again.AppendRecord(record.data());
      again.Close();
    }
    Say("done");
    return 0;
  } else if (job == "memo" && args.size() == 5) {
    const char tag = args[3].at(0);
    const int count = std::stoi(args[4]);
    const TDbfFieldDef* note = table.FieldDefByName("NOTE");
    if (!note || !table.MemoFile()) throw Exception("no memo field NOTE");
    Say("ready");
    WaitForGo();
    for (int seq = 1; seq <= count; ++seq) {
      table.BlankRecord(record.data());
      stress::FillRecord(table, tag, seq, record.data());
      const int32_t block = static_cast<int32_t>(table.MemoFile()->WriteMemo(0, 0, stress::MemoFor(tag, seq)));
      if (table.MemoFile()->WriteError()) throw Exception("memo not written");
      table.EncodeField(*note, ftInteger, false, record.data(), &block);
      table.AppendRecord(record.data());
    }
    Say("done");
  } else if (job == "lock" && args.size() == 4) {
    const int64_t recNo = std::stoll(args[3]);
    table.LockAndReadRecord(recNo, record.data());
    Say("locked");
    WaitForGo();
    table.WriteBackRecord(recNo, record.data());
    Say("released");
  } else if (job == "hold") {
    Say("open");
    WaitForGo();
  } else {
    throw Exception("unknown job " + job);
  }
  table.Close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    Say(std::string("error ") + e.what());
    return 1;
  }
}
