#include "tests/fuzz/expr_fuzz.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "engine/exceptions.h"
#include "engine/stream.h"
#include "engine/table_file.h"
#include "expr/expr_exceptions.h"
#include "expr/table_parser.h"

namespace norvale::fuzz {
namespace {

// A table with a field of every kind an expression can use (and a memo it
// cannot), with records that include damaged values.
struct TFuzzTable {
  TMemoryStream stream;
  TDbfFile file;
  std::vector<std::vector<uint8_t>> records;

  TFuzzTable() {
    struct TField {
      const char* name;
      char type;
      int length;
      int decimals;
    };
    const TField fields[] = {{"NAME", 'C', 20, 0}, {"QTY", 'N', 4, 0},   {"PRICE", 'N', 8, 2}, {"BORN", 'D', 8, 0},
                             {"OK", 'L', 1, 0},    {"BIG", 'N', 12, 0},  {"MEMO", 'M', 10, 0}, {"STR", 'N', 3, 0},
                             {"RATE", 'F', 10, 4}, {"COUNT", 'N', 7, 0}};
    const int fieldCount = static_cast<int>(std::size(fields));
    int recordLength = 1;
    for (const TField& f : fields) recordLength += f.length;
    const int headerLength = 32 + 32 * fieldCount + 1;
    std::vector<uint8_t> bytes(static_cast<size_t>(headerLength), 0);
    bytes[0] = 0x03;
    bytes[1] = 124;
    bytes[2] = 1;
    bytes[3] = 1;
    const char* values[][10] = {
        {"Anderson", "  12", "  123.45", "19650312", "T", " 12345678901", "          ", "  7", "    1.5000", "1000000"},
        {"M\xFC" "ller", "  -5", "   -0.50", "20040229", "F", "-99999999999", "         1", " -1", "   -2.2500", "     -3"},
        {"", "", "", "", "", "", "", "", "", ""},
        {"\x01\xFF*?%s%n", "1e9x", "**.**", "2004x3y1", "?", "............", "garbage!!!", "abc", "nan", "9999999"},
        {"zzzzzzzzzzzzzzzzzzzz", "9999", "99999.99", "99991231", "t", "999999999999", "         0", "999", "1e308", "-999999"},
    };
    const size_t recordCount = std::size(values);
    bytes[4] = static_cast<uint8_t>(recordCount);
    bytes[8] = static_cast<uint8_t>(headerLength);
    bytes[9] = static_cast<uint8_t>(headerLength >> 8);
    bytes[10] = static_cast<uint8_t>(recordLength);
    bytes[11] = static_cast<uint8_t>(recordLength >> 8);
    bytes[29] = 0x57;
    for (int i = 0; i < fieldCount; ++i) {
      uint8_t* d = bytes.data() + 32 + 32 * i;
      std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
      d[11] = static_cast<uint8_t>(fields[i].type);
      d[16] = static_cast<uint8_t>(fields[i].length);
      d[17] = static_cast<uint8_t>(fields[i].decimals);
    }
    bytes[static_cast<size_t>(headerLength) - 1] = 0x0D;
    for (const auto& row : values) {
      std::vector<uint8_t> record(static_cast<size_t>(recordLength), ' ');
      size_t at = 1;
      for (int i = 0; i < fieldCount; ++i) {
        const size_t n = std::min(std::strlen(row[i]), static_cast<size_t>(fields[i].length));
        std::memcpy(record.data() + at, row[i], n);
        at += static_cast<size_t>(fields[i].length);
      }
      bytes.insert(bytes.end(), record.begin(), record.end());
      records.push_back(std::move(record));
    }
    bytes.push_back(0x1A);
    stream.WriteAt(0, bytes.data(), bytes.size());
    file.SetStream(&stream);
    file.SetMode(amMemoryOpen);
    file.Open();
  }
};

TFuzzTable& Table() {
  static TFuzzTable table;
  return table;
}

// Reads what the answer of EvaluateRecord holds, as far as its type says it
// reaches, so that a value pointing anywhere wrong is caught.
size_t Touch(const TDbfParser& parser, const char* value) {
  size_t sum = 0;
  switch (parser.ResultType()) {
    case rtString: {
      const int fixed = parser.ResultLength();
      const size_t length = fixed >= 0 ? static_cast<size_t>(fixed) : std::strlen(value);
      for (size_t i = 0; i < length; ++i) sum += static_cast<unsigned char>(value[i]);
      break;
    }
    case rtBoolean: sum = static_cast<unsigned char>(value[0]); break;
    case rtInteger: sum = static_cast<unsigned char>(value[3]); break;
    case rtLargeInt:
    case rtFloat:
    case rtDateTime: sum = static_cast<unsigned char>(value[7]); break;
    default: break;
  }
  return sum;
}

void Evaluate(TDbfParser& parser, const std::vector<uint8_t>& damaged) {
  volatile size_t sink = 0;
  for (const auto& record : Table().records) {
    try {
      sink = sink + Touch(parser, parser.EvaluateRecord(record.data()));
    } catch (const EParserException&) {
      // Division by zero; the list stays usable for the next record.
    }
  }
  try {
    sink = sink + Touch(parser, parser.EvaluateRecord(damaged.data()));
  } catch (const EParserException&) {
  }
}

}  // namespace

TFuzzOutcome FuzzExpression(const uint8_t* data, size_t size) {
  if (size == 0) return TFuzzOutcome::kRefused;
  const uint8_t options = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  TFuzzTable& table = Table();
  // A record whose bytes come from the input itself.
  std::vector<uint8_t> damaged(static_cast<size_t>(table.file.RecordLength()), ' ');
  for (size_t i = 0; i < damaged.size() && i < text.size(); ++i)
    damaged[i] = static_cast<uint8_t>(text[text.size() - 1 - i]);

  std::unique_ptr<TDbfParser> parser;
  if (options & 1)
    parser = std::make_unique<TDbfIndexParser>(options & 2 ? &table.file : nullptr);
  else
    parser = std::make_unique<TDbfParser>(options & 2 ? &table.file : nullptr);
  try {
    parser->SetRawStrings((options & 4) != 0);
    parser->SetPartialCompare((options & 8) != 0);
    parser->SetIgnoreCase((options & 16) != 0);
    parser->SetOptimize((options & 32) == 0);
    parser->ParseExpression(text);
    Evaluate(*parser, damaged);
    // Options changed on a parsed expression parse it again.
    parser->SetRawStrings((options & 4) == 0);
    parser->SetPartialCompare((options & 8) == 0);
    Evaluate(*parser, damaged);
    parser->SetIgnoreCase((options & 16) == 0);
    Evaluate(*parser, damaged);
    return TFuzzOutcome::kEvaluated;
  } catch (const EParserException&) {
  } catch (const EDbfError&) {
  } catch (const EConvertError&) {
  }
  return TFuzzOutcome::kRefused;
}

}  // namespace norvale::fuzz
