#include "cli/order_dump.h"

#include <cstdlib>
#include <vector>

#include "engine/exceptions.h"
#include "index/table_indexes.h"
#include "platform/text_services.h"

namespace norvale::cli {

namespace {

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

// A value typed on the command line as the tag's key: text in the table's
// code page, cut to the key length at a character boundary; a number as
// the tag stores numbers.
std::string KeyOf(TIndexFile& file, int tag, int codePage, const std::string& utf8) {
  const TIndexTagInfo info = file.TagInfo(tag);
  if (info.keyType == 'C')
    return file.SearchKey(Utf8ToCodePageWithin(codePage, utf8, static_cast<size_t>(info.keyLength)));
  char* end = nullptr;
  const double number = std::strtod(utf8.c_str(), &end);
  if (utf8.empty() || *end != '\0') throw Exception("\"" + utf8 + "\" is not a number, and tag " + info.name + " holds numbers");
  return file.SearchKey(number);
}

}  // namespace

void DumpInOrder(TDbfFile& table, const TCodePageDecoder& text, const TDumpOptions& options,
                 const TOrderOptions& order, FILE* out) {
  TTableIndexes indexes(table);
  indexes.OpenProduction();
  if (!order.indexFile.empty()) indexes.AttachIndex(order.indexFile, {}, 0, false);
  TIndexFile* file = nullptr;
  int tag = 0;
  if (!order.indexFile.empty()) {
    file = indexes.Find(FileNameOf(order.indexFile), &tag);
    if (!file) throw Exception("no index file " + order.indexFile + " is open");
    if (!order.tag.empty()) {
      tag = file->IndexOfTag(order.tag);
      if (tag < 0) throw Exception("no tag " + order.tag + " in " + FileNameOf(file->FileName()));
    }
  } else {
    if (order.tag.empty()) throw Exception("--seek and --range need --order TAG or --index FILE");
    file = indexes.Find(order.tag, &tag);
    if (!file) throw Exception("no tag " + order.tag + " in the production index");
  }
  file->SelectTag(tag);
  const int codePage = table.UseCodePage();
  if (order.range) file->SetKeyRange(KeyOf(*file, tag, codePage, order.low), KeyOf(*file, tag, codePage, order.high));
  std::string seekKey;
  bool first = true;
  constexpr int kBatch = 256;
  int64_t batch[kBatch];
  size_t batchAt = 0, batchCount = 0;
  if (order.seek) seekKey = KeyOf(*file, tag, codePage, order.seekValue);
  file->MoveFirst();
  TRecordWriter writer(table, text, options, out);
  writer.WriteInOrder([&]() -> int64_t {
    if (order.seek) {
      // Found by the tree, then read while the keys stay equal.
      const bool on = first ? file->SeekKey(seekKey, smEqual) : file->MoveNext() && file->CompareKeys(tag, file->CurrentKey(), seekKey) == 0;
      first = false;
      return on ? file->CurrentRecord() : 0;
    }
    // Taken from the tree a leaf's worth at a time.
    if (batchAt == batchCount) {
      batchCount = static_cast<size_t>(file->MoveNextMany(batch, kBatch));
      batchAt = 0;
      if (batchCount == 0) return 0;
    }
    return batch[batchAt++];
  });
}

}  // namespace norvale::cli
