// The records the multi-process tests write: who wrote a record (TAG), its
// place in that writer's sequence (SEQ) and a filler derived from both (PAD),
// so that a record torn, overwritten or shifted by another writer shows.
#pragma once

#include <cstdint>
#include <string>

#include "engine/table_file.h"

namespace norvale::stress {

constexpr int kPadLength = 24;

inline std::string Pad(char tag, int seq) {
  std::string pad(kPadLength, ' ');
  for (int i = 0; i < kPadLength; ++i) pad[i] = static_cast<char>('a' + (seq * 7 + i * 3 + tag) % 26);
  return pad;
}

// Fills the TAG, SEQ and PAD fields the table has; the others keep their blank.
inline void FillRecord(TDbfFile& table, char tag, int seq, uint8_t* record) {
  if (const TDbfFieldDef* f = table.FieldDefByName("TAG")) {
    const char text[2] = {tag, 0};
    table.EncodeField(*f, ftString, false, record, text);
  }
  if (const TDbfFieldDef* f = table.FieldDefByName("SEQ")) {
    const int32_t value = seq;
    table.EncodeField(*f, ftInteger, false, record, &value);
  }
  if (const TDbfFieldDef* f = table.FieldDefByName("PAD")) {
    const std::string pad = Pad(tag, seq);
    table.EncodeField(*f, ftString, false, record, pad.c_str());
  }
}

}  // namespace norvale::stress
