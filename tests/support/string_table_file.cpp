#include "tests/support/string_table_file.h"

#include <fstream>

#include "base/utf16.h"

namespace testing_support {
namespace {

bool ParseText(const std::string& line, size_t pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  for (size_t i = pos + 1; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '"') {
      if (i + 1 < line.size() && line[i + 1] == '"') {
        out += '"';
        ++i;
        continue;
      }
      return line.find_first_not_of(" \t\r", i + 1) == std::string::npos;
    }
    if (c == '\\') {
      if (++i == line.size()) return false;
      switch (line[i]) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: return false;
      }
      continue;
    }
    out += c;
  }
  return false;
}

}  // namespace

StringTableFile ReadStringTableFile(const std::string& path) {
  StringTableFile file;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    file.error = "cannot open " + path;
    return file;
  }
  bool inTable = false;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, 2, "//") == 0) continue;
    const std::string where = path + ":" + std::to_string(number) + ": ";
    if (!inTable) {
      inTable = line.compare(start, 5, "BEGIN") == 0;
      continue;
    }
    if (line.compare(start, 3, "END") == 0) return file;
    size_t comma = line.find(',', start);
    std::string text;
    if (comma == std::string::npos || !ParseText(line, line.find_first_not_of(" \t", comma + 1), text)) {
      file.error = where + "not a string line";
      return file;
    }
    const int id = std::stoi(line.substr(start, comma - start));
    if (id < 1 || id > 65535 || !file.texts.emplace(uint16_t(id), vx::Utf8ToUtf16(text)).second) {
      file.error = where + "id " + std::to_string(id) + " out of range or repeated";
      return file;
    }
  }
  file.error = path + ": no END";
  return file;
}

}  // namespace testing_support
