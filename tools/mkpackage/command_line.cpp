#include "tools/mkpackage/command_line.h"

namespace mkpackage {

const char kUsage[] =
    "usage:\n"
    "  mkpackage build --manifest FILE --files DIR --stub setup.exe -o OUT [--update]\n"
    "                  [--threads N] [--level 0-9]\n"
    "  mkpackage build --manifest FILE --online ADDRESS:PORT[,...] [--product-code N]\n"
    "                  --stub setup.exe -o OUT\n"
    "  mkpackage build --manifest FILE --address-servers ADDRESS:PORT[,...]\n"
    "                  [--product-code N] --stub setup.exe -o OUT\n"
    "  mkpackage info PACKAGE\n"
    "  mkpackage verify PACKAGE\n"
    "  mkpackage --help | --version\n"
    "\n"
    "build    appends the manifest's header and the files of DIR (LZMA streams, or\n"
    "         stored when they do not shrink) to the setup program; --threads: 1-64\n"
    "         workers (default: one per core); --level: LZMA effort (default 6)\n"
    "info     prints the header, the lists and the payload table\n"
    "verify   decodes every stream\n";

const char kVersion[] = "mkpackage 1.1\n";

std::optional<unsigned> ParseBounded(const std::string& text, unsigned low, unsigned high) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  unsigned value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + unsigned(c - '0');
  }
  if (value < low || value > high) return std::nullopt;
  return value;
}

}  // namespace mkpackage
