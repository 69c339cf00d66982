#pragma once
// Reads a package back: marker group, header, payload table; decodes streams.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "setup/package/instance_marker.h"
#include "setup/package/package_header.h"
#include "setup/package/payload_table.h"

namespace mkpackage {

struct PackageInfo {
  package::MarkerGroup marker{};
  package::PackageHeader header;
  uint64_t payloadOffset = 0;
  package::PayloadTable payload;
};

// Fails with `error` on any inconsistency; never reads out of bounds.
bool ReadPackage(const std::string& path, PackageInfo& info, std::string& error);
// The marker group, the header and the payload offset only (no payload table).
bool ReadPackageHead(const std::string& path, PackageInfo& info, std::string& error);

// UTF-8 with control characters escaped (\uXXXX): a package's texts cannot
// drive the terminal.
std::string PrintableText(const std::u16string& text);

void PrintInfo(const PackageInfo& info, std::ostream& out);

// Decodes every stream on `threads` threads (0: every core, at most 8) and
// prints an "ok" line for each in payload order; returns false and names the
// first bad entry.
bool VerifyPackage(const std::string& path, const PackageInfo& info, std::ostream& out, std::string& error,
                   unsigned threads = 0);

}  // namespace mkpackage
