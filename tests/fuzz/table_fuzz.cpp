#include "tests/fuzz/table_fuzz.h"

#include <cstdio>
#include <cstdlib>

#include "cli/record_writer.h"
#include "dataset/dbf_table.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/stream.h"
#include "engine/table_file.h"
#include "engine/table_repair.h"
#include "platform/text_codec.h"

namespace norvale::fuzz {

void FuzzTable(const uint8_t* data, size_t size) {
  static FILE* sink = std::fopen("/dev/null", "w");
  static const TCodePageDecoder text(1252);
  TMemoryStream stream;
  stream.WriteAt(0, data, size);
  TDbfFile table;
  table.SetStream(&stream);
  table.SetMode(amMemoryOpen);
  try {
    table.Open();
    if (table.GiveUp()) return;
    for (auto format : {cli::TOutputFormat::kJson, cli::TOutputFormat::kCsv}) {
      cli::TDumpOptions options;
      options.format = format;
      options.includeDeleted = true;
      cli::TRecordWriter writer(table, text, options, sink);
      writer.WriteAll();
    }
    // Appending to a damaged table must fail cleanly or work, never corrupt memory.
    std::vector<uint8_t> record(static_cast<size_t>(table.RecordLength()));
    table.BlankRecord(record.data());
    table.AppendRecord(record.data());
  } catch (const Exception&) {
    // A refused table: the expected outcome for most mutations.
  }
  FuzzDataset(data, size);
  FuzzInspection(data, size);
}

void FuzzDataset(const uint8_t* data, size_t size) {
  TMemoryStream stream;
  stream.WriteAt(0, data, size);
  TDbfTable table;
  table.SetStorage(stoMemory);
  table.SetUserStream(&stream);
  table.OnLanguageWarning = [](TDbfTable&, TDbfLanguageAction& action) { action = laDefault; };
  std::string text;
  try {
    table.Open();
    for (const bool showDeleted : {true, false}) {
      table.SetShowDeleted(showDeleted);
      for (table.First(); !table.Eof(); table.Next())
        for (int i = 0; i < table.FieldCount(); ++i) {
          table.Fields(i).GetText(text);
          table.Fields(i).IsNull();
        }
      for (table.Last(); !table.Bof(); table.Prior()) table.IsDeleted();
    }
    // The editing cycle on whatever the bytes hold.
    table.SetShowDeleted(true);
    table.First();
    if (!table.CanModify() || table.IsEmpty()) return;
    table.Edit();
    for (int i = 0; i < table.FieldCount(); ++i) {
      TField& field = table.Fields(i);
      if (field.ReadOnly()) continue;
      field.GetText(text);
      try {
        field.SetAsString(text);
      } catch (const EConvertError&) {
        // Text another program stored need not make a value of the type.
      }
    }
    table.Post();
    table.Delete();
    table.SetRecNo(1);
    table.Undelete();
    table.Cancel();
  } catch (const Exception&) {
    // Refused or failed cleanly.
  }
}

void FuzzInspection(const uint8_t* data, size_t size) {
  const auto inspect = [](const std::vector<uint8_t>& bytes) {
    TMemoryStream table, memo;
    table.WriteAt(0, bytes.data(), bytes.size());
    memo.WriteAt(0, bytes.data(), bytes.size());
    TTableCompanions companions;
    companions.tableBaseName = "fuzz";
    companions.dbt = &memo;
    companions.fpt = &memo;
    return InspectTable(table, companions);
  };
  std::vector<uint8_t> bytes(data, data + size);
  const TTableInspection first = inspect(bytes);
  if (!first.HasFixable()) return;
  std::copy(first.repairedHeader.begin(), first.repairedHeader.end(), bytes.begin());
  if (first.appendEndOfFile) bytes.push_back(fmt::kEndOfFile);
  const TTableInspection second = inspect(bytes);
  for (const TTableFinding& f : second.findings) {
    if (!f.fixable) continue;
    std::fprintf(stderr, "a repair left damage it would fix again: %s\n", f.message.c_str());
    std::abort();
  }
}

}  // namespace norvale::fuzz
