#pragma once
// Extracts a package's payload into a folder through the setup program's own
// extraction walk (the same path rules, the same streaming decoder), and lists
// the payload table.
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "tools/mkpackage/package_inspector.h"

namespace mkpackage {

struct ExtractOptions {
  std::string packagePath;
  std::string dir;  // made when missing
  std::function<void(const std::string&)> progress;  // a line each second, may be empty
};

struct ExtractSummary {
  uint32_t files = 0;
  uint32_t foldersCreated = 0;
  uint64_t bytes = 0;  // of the files written
};

// Stops at the first entry that cannot be written whole, with `error` naming
// it: files written before it stay complete, it stays absent (each file is
// written under a temporary name and renamed when complete). A path that
// would leave the folder is refused; nothing is written outside it.
bool ExtractPackage(const ExtractOptions& options, ExtractSummary& summary, std::string& error);

// Prints the payload table. False, with `error` naming them, when extraction
// would refuse paths of it.
bool ListPayload(const PackageInfo& info, std::ostream& out, std::string& error);

}  // namespace mkpackage
