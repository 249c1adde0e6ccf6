// Memo files laid out by hand for the memo tests, independently of the
// engine's writer, and the values the tests store.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/byte_order.h"
#include "engine/memo_file.h"

namespace norvale::test {

// 512-byte .dbt header: next free block at 0 (LE), block size at 20 (LE).
inline std::vector<uint8_t> DbtHeader(uint32_t nextFree, uint16_t blockSize) {
  std::vector<uint8_t> h(512, 0);
  PutLE32(h.data(), nextFree);
  PutLE16(h.data() + 20, blockSize);
  return h;
}

// 512-byte .fpt header: next free block at 0 (BE), block size at 6 (BE).
inline std::vector<uint8_t> FptHeader(uint32_t nextFree, uint16_t blockSize) {
  std::vector<uint8_t> h(512, 0);
  PutBE32(h.data(), nextFree);
  h[6] = static_cast<uint8_t>(blockSize >> 8);
  h[7] = static_cast<uint8_t>(blockSize);
  return h;
}

// Deterministic bytes. Text is printable with line breaks; binary covers
// every byte value, except that for dBASE III (`terminatorSafe`) no 0x1A is
// followed by 0x1A or 0x00, which would end the value there.
inline std::string MemoValue(size_t length, bool binary, unsigned seed, bool terminatorSafe = false) {
  std::string s(length, ' ');
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    if (!binary) {
      s[i] = (i % 61 == 60) ? '\n' : static_cast<char>('!' + (x >> 16) % 94);
    } else {
      s[i] = static_cast<char>((x >> 16) & 0xFF);
      if (terminatorSafe && i > 0 && s[i - 1] == 0x1A && (s[i] == 0x1A || s[i] == 0)) s[i] = 'x';
    }
  }
  return s;
}

inline std::unique_ptr<TMemoFile> NewMemoFile(TXBaseVersion version, int requestedBlockSize) {
  if (version == xFoxPro) return std::make_unique<TFoxProMemoFile>(version, requestedBlockSize);
  return std::make_unique<TDbaseMemoFile>(version, requestedBlockSize);
}

// Opens `path` as the memo file of a table of `version`.
inline std::unique_ptr<TMemoFile> OpenMemoFile(const std::string& path, TXBaseVersion version, TPagedFileMode mode,
                                               int requestedBlockSize = 0) {
  std::unique_ptr<TMemoFile> memo = NewMemoFile(version, requestedBlockSize);
  memo->SetFileName(path);
  memo->SetMode(mode);
  memo->Open();
  return memo;
}

}  // namespace norvale::test
