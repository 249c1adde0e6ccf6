#include "cli/field_list.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "engine/exceptions.h"
#include "engine/table_file.h"
#include "platform/ascii.h"

namespace norvale::cli {
namespace {

std::string Trim(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// Commas inside parentheses belong to the size: N(12,2).
std::vector<std::string> SplitItems(const std::string& text) {
  std::vector<std::string> items;
  std::string current;
  int depth = 0;
  for (const char c : text) {
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (c == ',' && depth <= 0) {
      items.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  items.push_back(current);
  return items;
}

// The size a type has of its own at `version`; 0 for the sized ones.
int OwnSize(char letter, TXBaseVersion version) {
  const bool fox = version == xFoxPro;
  switch (letter) {
    case 'D': return 8;
    case 'L': return 1;
    case 'M':
    case 'G': return fox ? 4 : 10;
    case 'B': return fox ? 8 : 10;
    case 'I':
    case '+': return 4;
    case '@':
    case 'O':
    case 'T':
    case 'Y': return 8;
    default: return 0;
  }
}

std::string Letters(TXBaseVersion version) {
  std::string list;
  for (const char c : std::string("CNFDLMBGIYT+@O"))
    if (VersionHoldsFieldType(version, c)) list += (list.empty() ? "" : " ") + std::string(1, c);
  return list;
}

bool ParseNumber(const std::string& text, int& out) {
  const std::string t = Trim(text);
  if (t.empty() || t.size() > 6) return false;
  for (const char c : t)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  out = std::stoi(t);
  return true;
}

}  // namespace

void ParseFieldList(const std::string& text, TDbfFieldDefs& defs) {
  const TXBaseVersion version = defs.Version();
  const std::vector<std::string> items = SplitItems(text);
  for (size_t n = 0; n < items.size(); ++n) {
    const std::string item = Trim(items[n]);
    const std::string where = "field " + std::to_string(n + 1) + " \"" + item + "\": ";
    if (item.empty()) throw Exception("field " + std::to_string(n + 1) + " is empty");
    const size_t nameEnd = item.find_first_of(" \t(");
    if (nameEnd == std::string::npos || item[nameEnd] == '(')
      throw Exception(where + "expected a name and a type, as in \"NAME C(30)\"");
    const std::string name = item.substr(0, nameEnd);
    std::string rest = Trim(item.substr(nameEnd));
    const char letter = AsciiUpper(rest[0]);
    rest = Trim(rest.substr(1));
    if (!VersionHoldsFieldType(version, letter))
      throw Exception(where + "type \"" + std::string(1, letter) + "\" is not one a level " +
                      std::to_string(TableLevelOf(version)) + " table holds (" + Letters(version) + ")");

    bool hasSize = false, hasDecimals = false;
    int size = 0, decimals = 0;
    if (!rest.empty()) {
      if (rest.front() != '(' || rest.back() != ')')
        throw Exception(where + "expected a size in parentheses after the type, as in C(30) or N(12,2)");
      const std::string inside = rest.substr(1, rest.size() - 2);
      const size_t comma = inside.find(',');
      hasSize = true;
      if (!ParseNumber(inside.substr(0, comma), size)) throw Exception(where + "the size is not a whole number");
      if (comma != std::string::npos) {
        hasDecimals = true;
        if (!ParseNumber(inside.substr(comma + 1), decimals))
          throw Exception(where + "the decimals are not a whole number");
      }
    }

    const int own = OwnSize(letter, version);
    if (own > 0) {
      if (hasDecimals && letter != 'Y') throw Exception(where + "type " + std::string(1, letter) + " has no decimals");
      if (hasSize && size != own)
        throw Exception(where + "type " + std::string(1, letter) + " is always " + std::to_string(own) +
                        (own == 1 ? " byte" : " bytes") + " wide");
      size = own;
      decimals = letter == 'Y' ? 4 : 0;
      if (letter == 'Y' && hasDecimals && decimals != 4)
        throw Exception(where + "type Y always has 4 decimals");
    } else if (letter == 'C') {
      const int maximum = version == xFoxPro ? 65534 : 254;
      if (!hasSize) throw Exception(where + "type C needs a size, as in C(30)");
      if (hasDecimals) throw Exception(where + "type C has no decimals");
      if (size < 1 || size > maximum)
        throw Exception(where + "a C field is 1 to " + std::to_string(maximum) + " characters wide");
    } else {  // N, F
      if (!hasSize) throw Exception(where + "type " + std::string(1, letter) + " needs a size, as in N(12,2)");
      if (size < 1 || size > 20) throw Exception(where + "a number field is 1 to 20 characters wide");
      if (decimals > 0 && decimals > size - 2)
        throw Exception(where + "a number of width " + std::to_string(size) + " holds at most " +
                        std::to_string(std::max(size - 2, 0)) + " decimals");
    }

    TDbfFieldDef& def = defs.Add();
    def.SetFieldName(name);
    // The logical type follows from the size (N with decimals is a float).
    def.SetStoredSize(size, decimals);
    def.SetNativeFieldType(letter);
    def.SetStoredSize(size, decimals);
  }
}

}  // namespace norvale::cli
