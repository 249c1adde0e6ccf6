#include "platform/text_codec.h"

#include <string>
#include <unicode/ucnv.h>
#include <vector>

namespace norvale {

namespace {

std::vector<std::string> ConverterNames(int codePage) {
  switch (codePage) {
    case 65001: return {"UTF-8"};
    case 20127: return {"US-ASCII"};
    case 874: return {"windows-874-2000", "ibm-874"};
    case 932: return {"ibm-943_P15A-2003", "Shift_JIS"};
    case 936: return {"windows-936-2000", "GBK"};
    case 949: return {"windows-949-2000"};
    case 950: return {"windows-950-2000", "Big5"};
    default: break;
  }
  if (codePage >= 28591 && codePage <= 28599) return {"ISO-8859-" + std::to_string(codePage - 28590)};
  const std::string n = std::to_string(codePage);
  return {"windows-" + n, "ibm-" + n, "cp" + n};
}

}  // namespace

struct TCodePageDecoder::Converter {
  UConverter* cnv = nullptr;
  ~Converter() {
    if (cnv) ucnv_close(cnv);
  }
};

TCodePageDecoder::TCodePageDecoder(int codePage) : codePage_(codePage) {
  if (codePage <= 0) return;
  UErrorCode status = U_ZERO_ERROR;
  UConverter* cnv = nullptr;
  for (const std::string& name : ConverterNames(codePage)) {
    status = U_ZERO_ERROR;
    cnv = ucnv_open(name.c_str(), &status);
    if (U_SUCCESS(status) && cnv) break;
    cnv = nullptr;
  }
  if (!cnv) return;
  converter_ = std::make_unique<Converter>();
  converter_->cnv = cnv;
  valid_ = true;
  singleByte_ = ucnv_getMaxCharSize(cnv) == 1;
  if (!singleByte_) return;
  // One lookup table per code page makes the hot path a byte copy.
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8];
    status = U_ZERO_ERROR;
    int32_t n = ucnv_convert("UTF-8", ucnv_getName(cnv, &status), out, sizeof out, &in, 1, &status);
    table_[static_cast<size_t>(b)] = U_SUCCESS(status) && n > 0 ? std::string(out, static_cast<size_t>(n)) : "\xEF\xBF\xBD";
  }
}

TCodePageDecoder::~TCodePageDecoder() = default;

void TCodePageDecoder::AppendUtf8(std::string& out, const char* bytes, size_t count) const {
  if (singleByte_) {
    size_t i = 0;
    while (i < count) {
      size_t run = i;
      while (run < count && static_cast<unsigned char>(bytes[run]) < 0x80) ++run;
      out.append(bytes + i, run - i);
      if (run < count) out += table_[static_cast<unsigned char>(bytes[run++])];
      i = run;
    }
    return;
  }
  if (!valid_) {
    // Unknown code page: keep ASCII, mark everything else as unmappable.
    for (size_t i = 0; i < count; ++i) {
      if (static_cast<unsigned char>(bytes[i]) < 0x80)
        out += bytes[i];
      else
        out += "\xEF\xBF\xBD";
    }
    return;
  }
  std::vector<UChar> wide(count * 2 + 4);
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(converter_->cnv);
  int32_t n = ucnv_toUChars(converter_->cnv, wide.data(), static_cast<int32_t>(wide.size()), bytes,
                            static_cast<int32_t>(count), &status);
  if (U_FAILURE(status)) return;
  std::vector<char> utf8(static_cast<size_t>(n) * 3 + 4);
  status = U_ZERO_ERROR;
  UConverter* u8 = ucnv_open("UTF-8", &status);
  if (!u8) return;
  int32_t m = ucnv_fromUChars(u8, utf8.data(), static_cast<int32_t>(utf8.size()), wide.data(), n, &status);
  ucnv_close(u8);
  if (U_SUCCESS(status)) out.append(utf8.data(), static_cast<size_t>(m));
}

}  // namespace norvale
