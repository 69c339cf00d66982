#pragma once
// Reads the string table source (res/strings.rc) so tests can compare the
// catalogue and the compiled resource with it.
#include <cstdint>
#include <map>
#include <string>

namespace testing_support {

struct StringTableFile {
  std::map<uint16_t, std::u16string> texts;
  std::string error;  // first problem found; empty when the file is sound
};

// Lines "<id>, "<text>"" between BEGIN and END; "//" comments and blank lines
// skipped. In a text "" is one quotation mark and \n, \r, \\ are escapes.
StringTableFile ReadStringTableFile(const std::string& path);

}  // namespace testing_support
