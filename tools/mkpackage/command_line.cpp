#include "tools/mkpackage/command_line.h"

namespace mkpackage {

const char kUsage[] =
    "usage:\n"
    "  mkpackage build --manifest FILE --files DIR --stub setup.exe -o OUT [--update]\n"
    "                  [--threads N] [--memory SIZE] [--level 0-9]\n"
    "                  [--caption-fallback LANG]\n"
    "  mkpackage build --manifest FILE --online ADDRESS:PORT[,...] [--product-code N]\n"
    "                  --stub setup.exe -o OUT\n"
    "  mkpackage build --manifest FILE --address-servers ADDRESS:PORT[,...]\n"
    "                  [--product-code N] --stub setup.exe -o OUT\n"
    "  mkpackage info PACKAGE\n"
    "  mkpackage verify PACKAGE\n"
    "  mkpackage extract PACKAGE DIR\n"
    "  mkpackage extract --list PACKAGE\n"
    "  mkpackage --help | --version\n"
    "\n"
    "build    appends the manifest's header and the files of DIR (LZMA streams, or\n"
    "         stored when they do not shrink) to the setup program; --threads: 1-64\n"
    "         workers (default: one per core); --memory: what the encoders and the\n"
    "         streams waiting for their turn may take together, e.g. 512M or 2G\n"
    "         (default: a quarter of the machine's memory, at most 2G; one file\n"
    "         always packs, alone when it needs more); --level: LZMA effort\n"
    "         (default 6).\n"
    "         Every shortcut needs a caption in each language the package can be\n"
    "         installed in (all four unless DefaultLanguage fixes one); with\n"
    "         --caption-fallback LANG (Gb, Big5, En or Jp) a missing caption is\n"
    "         copied from that language's. Targets and MainExe that are not among\n"
    "         the files get a warning\n"
    "info     prints the header, the lists and the payload table\n"
    "verify   decodes every stream, on every core (at most 8), and names the first\n"
    "         bad one\n"
    "extract  writes the payload's files and folders under DIR as the setup program\n"
    "         does (paths leaving DIR are refused), each file under a temporary\n"
    "         name until it is complete; stops at the first entry that cannot be\n"
    "         written whole and names it; --list prints the payload table only\n"
    "\n"
    "exit status: 0 done, 1 failed, 2 usage error\n";

const char kVersion[] = "mkpackage 1.3\n";

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
