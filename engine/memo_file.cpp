#include "engine/memo_file.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "engine/byte_order.h"
#include "engine/dbf_format.h"
#include "engine/exceptions.h"
#include "engine/messages.h"

namespace norvale {

namespace {

constexpr uint8_t kSub = 0x1A;
constexpr int kMaxBlockSize = 0xFFFF;  // the header field has 16 bits
constexpr int64_t kMaxBlockNumber = 0xFFFFFFFFll;  // next-free is 32 bits
// dBASE III values are scanned for their terminator in pieces of this size,
// so that one long value does not need a read per block.
constexpr int64_t kScanChunk = 64 * 1024;

int64_t CeilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

// Releases the memo header lock whatever leaves the append.
class THeaderLock {
 public:
  explicit THeaderLock(TPagedFile& file) : file_(file), held_(file.AcquirePageLock(0, true)) {}
  ~THeaderLock() {
    if (held_) file_.ReleasePageLock(0);
  }
  bool Held() const { return held_; }

 private:
  TPagedFile& file_;
  bool held_;
};

}  // namespace

TMemoFile::TMemoFile(TXBaseVersion version, int requestedBlockSize)
    : version_(version), requestedBlockSize_(requestedBlockSize) {}

TMemoFile::~TMemoFile() {
  try {
    TMemoFile::Close();
  } catch (...) {
  }
}

void TMemoFile::Open() {
  if (open_) return;
  SetHeaderCountedInOffsets(false);
  TPagedFile::Open();
  SetVirtualLocks(false);
  SetHeaderSize(kHeaderSize);
  // The buffer survives a close; what another program wrote since counts.
  ReloadHeader();
  MarkHeader();

  if (ModeCreates(mode_)) {
    int size = requestedBlockSize_;
    if (size < 0 || size > kMaxBlockSize) size = kDefaultBlockSize;
    // The first block after the 512-byte header; rounded up, so that a size
    // that does not divide 512 never places a value over the header.
    SetNextFree(size > 0 && size <= kHeaderSize ? CeilDiv(kHeaderSize, size) : 1);
    SetBlockSizeInHeader(size);
    StoreHeader();
    FlushHeader();
  }

  int size = BlockSizeFromHeader();
  if (size <= 0) {
    // No block size would make every value unreachable (and every block
    // number divide by zero); 512 is what the writers of such files meant.
    // The repair stays in memory until a value is written: opening a file
    // never changes it.
    size = kDefaultBlockSize;
    SetBlockSizeInHeader(size);
  }
  SetRecordSize(size);
}

void TMemoFile::Close() { TPagedFile::Close(); }

void TMemoFile::ReadMemo(int64_t block, std::string& out) {
  out.clear();
  const int size = BlockSize();
  if (block <= 0 || size <= 0 || !open_ || !stream_) return;
  const int64_t fileSize = stream_->Size();
  // Checked before multiplying: a damaged block number must not overflow.
  if (block >= CeilDiv(fileSize, size)) return;
  const int64_t start = block * size;

  uint8_t head[fmt::kMemoBlockHeaderSize] = {};
  if (stream_->ReadAt(static_cast<uint64_t>(start), head, sizeof head) <= 0) return;
  int64_t length = DataLength(head);
  if (length < 0) {
    ReadTerminated(start, fileSize, out);
    return;
  }
  // A damaged length claims at most what the file holds.
  const int64_t dataStart = start + 8;
  length = std::min(length, fileSize - dataStart);
  if (length <= 0) return;
  out.resize(static_cast<size_t>(length));
  const int64_t n = stream_->ReadAt(static_cast<uint64_t>(dataStart), out.data(), out.size());
  out.resize(static_cast<size_t>(std::max<int64_t>(n, 0)));
}

void TMemoFile::ReadTerminated(int64_t start, int64_t fileSize, std::string& out) {
  // The value ends at 1A followed by 1A or 00; a lone 1A inside the text is
  // part of it. Without a terminator it ends with the file.
  std::vector<char> chunk(static_cast<size_t>(std::min(kScanChunk, fileSize - start)));
  bool endedWithSub = false;
  for (int64_t pos = start; pos < fileSize;) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(chunk.size(), fileSize - pos));
    const int64_t n = stream_->ReadAt(static_cast<uint64_t>(pos), chunk.data(), want);
    if (n <= 0) return;
    const char* p = chunk.data();
    if (endedWithSub && (p[0] == kSub || p[0] == 0)) {
      out.pop_back();
      return;
    }
    for (const char* sub = p; (sub = static_cast<const char*>(std::memchr(sub, kSub, p + n - 1 - sub)));) {
      if (sub[1] == kSub || sub[1] == 0) {
        out.append(p, static_cast<size_t>(sub - p));
        return;
      }
      ++sub;
    }
    out.append(p, static_cast<size_t>(n));
    endedWithSub = p[n - 1] == kSub;
    pos += n;
  }
}

int64_t TMemoFile::AllocateBlocks(int64_t count) {
  int64_t next = GetNextFree();
  if (next <= 0) next = 1;
  // A header that lags behind the file (damaged, or left so by a program
  // that died) must not hand out blocks that already hold values.
  if (stream_) next = std::max(next, CeilDiv(stream_->Size(), BlockSize()));
  if (next + count > kMaxBlockNumber) return 0;
  return next;
}

int64_t TMemoFile::WriteMemo(int64_t block, int64_t oldLength, std::string_view data) {
  const int64_t length = static_cast<int64_t>(data.size());
  if (length == 0) return 0;
  const int size = BlockSize();
  const int terminators = TerminatorLength();
  const int blockHeader = BlockHeaderLength();
  // The length fields have 32 bits (dBASE counts its 8 header bytes in).
  if (!open_ || !stream_ || size <= 0 || length > int64_t(UINT32_MAX) - blockHeader) {
    writeError_ = true;
    return block;
  }

  const int64_t needed = CeilDiv(terminators + blockHeader + length, size);
  const int64_t oldBlocks = oldLength > 0 ? CeilDiv(oldLength, size) : 0;
  // In place only where an old value can lie: after the header and inside
  // the file (a damaged block number must not reach far beyond it).
  const bool append = oldBlocks < needed || block <= 0 || block > kMaxBlockNumber ||
                      block * size < kHeaderSize || block >= CeilDiv(stream_->Size(), size);

  std::optional<THeaderLock> lock;
  if (append) {
    lock.emplace(*this);
    if (!lock->Held()) {
      writeError_ = true;
      return block;
    }
    ReloadHeader();
    MarkHeader();
    if (BlockSizeFromHeader() <= 0) SetBlockSizeInHeader(size);
    const int64_t fresh = AllocateBlocks(needed);
    if (fresh == 0) {
      writeError_ = true;
      return block;
    }
    block = fresh;
  }

  const int64_t start = block * size;
  if (blockHeader > 0) {
    uint8_t head[fmt::kMemoBlockHeaderSize];
    PutBlockHeader(head, static_cast<uint32_t>(length));
    WriteBytesAt(start, head, static_cast<size_t>(blockHeader));
  }
  WriteBytesAt(start + blockHeader, data.data(), data.size());
  // The rest of the last block is blanked: nothing of an older value may
  // show behind this one to a reader that takes whole blocks.
  std::string tail(static_cast<size_t>(needed * size - blockHeader - length), ' ');
  std::fill_n(tail.begin(), terminators, static_cast<char>(kSub));
  WriteBytesAt(start + blockHeader + length, tail.data(), tail.size());

  if (append) {
    SetNextFree(block + needed);
    StoreHeader();
    // Written now even when exclusive: a next-free that stays behind in
    // memory until close would let a crash hand these blocks out again.
    FlushHeader();
  }
  return block;
}

// dBASE .dbt

int TDbaseMemoFile::BlockSizeFromHeader() const {
  if (Version() == xBaseIII) return kDefaultBlockSize;
  return GetLE16(Header() + fmt::kDbaseMemoBlockSize);
}

int64_t TDbaseMemoFile::DataLength(const uint8_t* blockStart) const {
  if (std::memcmp(blockStart, fmt::kDbaseBlockSignature, sizeof fmt::kDbaseBlockSignature) != 0) return -1;
  return std::max<int64_t>(int64_t(GetLE32(blockStart + fmt::kMemoDataLength)) - fmt::kMemoBlockHeaderSize, 0);
}

int64_t TDbaseMemoFile::GetNextFree() const { return GetLE32(Header() + fmt::kMemoNextFree); }

void TDbaseMemoFile::SetNextFree(int64_t block) { PutLE32(Header() + fmt::kMemoNextFree, static_cast<uint32_t>(block)); }

void TDbaseMemoFile::SetBlockSizeInHeader(int size) {
  PutLE16(Header() + fmt::kDbaseMemoBlockSize, static_cast<uint16_t>(size));
}

int TDbaseMemoFile::TerminatorLength() const { return Version() == xBaseIII ? 2 : 0; }

int TDbaseMemoFile::BlockHeaderLength() const { return Version() == xBaseIII ? 0 : fmt::kMemoBlockHeaderSize; }

void TDbaseMemoFile::PutBlockHeader(uint8_t* out, uint32_t dataLength) const {
  std::memcpy(out, fmt::kDbaseBlockSignature, sizeof fmt::kDbaseBlockSignature);
  PutLE32(out + fmt::kMemoDataLength, dataLength + fmt::kMemoBlockHeaderSize);
}

void TDbaseMemoFile::MarkHeader() {
  // dBASE III marks its memo files with a version byte.
  if (Version() == xBaseIII) Header()[fmt::kDbaseMemoVersion] = fmt::kDbaseIIIMemoVersion;
}

// FoxPro .fpt

int TFoxProMemoFile::BlockSizeFromHeader() const { return GetBE16(Header() + fmt::kFoxMemoBlockSize); }

int64_t TFoxProMemoFile::DataLength(const uint8_t* blockStart) const {
  return GetBE32(blockStart + fmt::kMemoDataLength);
}

int64_t TFoxProMemoFile::GetNextFree() const { return GetBE32(Header() + fmt::kMemoNextFree); }

void TFoxProMemoFile::SetNextFree(int64_t block) { PutBE32(Header() + fmt::kMemoNextFree, static_cast<uint32_t>(block)); }

void TFoxProMemoFile::SetBlockSizeInHeader(int size) {
  PutBE16(Header() + fmt::kFoxMemoBlockSize, static_cast<uint16_t>(size));
}

void TFoxProMemoFile::PutBlockHeader(uint8_t* out, uint32_t dataLength) const {
  // Type 1 is text; other readers take pictures and text alike.
  PutBE32(out, fmt::kFoxMemoText);
  PutBE32(out + fmt::kMemoDataLength, dataLength);
}

// Missing memo file

TNullMemoFile::TNullMemoFile(TXBaseVersion version, std::string missingName)
    : TMemoFile(version, 0), missingName_(std::move(missingName)) {}

void TNullMemoFile::ReadMemo(int64_t, std::string& out) { out.clear(); }

int64_t TNullMemoFile::WriteMemo(int64_t, int64_t, std::string_view data) {
  if (data.empty()) return 0;
  throw EDbfError(FormatMessage(msg::kMemoFileMissing, missingName_.c_str()));
}

}  // namespace norvale
