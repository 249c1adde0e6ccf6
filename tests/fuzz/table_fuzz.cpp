#include "tests/fuzz/table_fuzz.h"

#include <cstdio>

#include "cli/record_writer.h"
#include "engine/exceptions.h"
#include "engine/stream.h"
#include "engine/table_file.h"
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
}

}  // namespace norvale::fuzz
