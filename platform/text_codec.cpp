#include "platform/text_codec.h"

#include "platform/text_services.h"

namespace norvale {

TCodePageDecoder::TCodePageDecoder(int codePage) : codePage_(codePage) {
  valid_ = CodePageInstalled(codePage);
  singleByte_ = CodePageIsSingleByte(codePage);
  if (!singleByte_) return;
  // A copy of the shared table in the decoder itself keeps the per-field
  // path free of the code-page registry's lock.
  asciiKept_ = true;
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    CodePageToUtf8(codePage, std::string_view(&byte, 1), table_[static_cast<size_t>(b)]);
    if (b < 0x80 && table_[static_cast<size_t>(b)] != std::string_view(&byte, 1)) asciiKept_ = false;
  }
}

void TCodePageDecoder::AppendUtf8(std::string& out, const char* bytes, size_t count) const {
  if (singleByte_) {
    size_t i = 0;
    while (i < count) {
      size_t run = i;
      if (asciiKept_)
        while (run < count && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
      out.append(bytes + i, run - i);
      if (run < count) out += table_[static_cast<unsigned char>(bytes[run++])];
      i = run;
    }
    return;
  }
  if (!valid_) {
    for (size_t i = 0; i < count; ++i) {
      if (static_cast<unsigned char>(bytes[i]) < 0x80)
        out += bytes[i];
      else
        out += "\xEF\xBF\xBD";
    }
    return;
  }
  std::string utf8;
  CodePageToUtf8(codePage_, std::string_view(bytes, count), utf8);
  out += utf8;
}

}  // namespace norvale
