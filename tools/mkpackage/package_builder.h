#pragma once
// Builds a package: a copy of the setup program (the stub) with the header and
// the payload appended and the instance marker group patched.
#include <cstdint>
#include <functional>
#include <string>

namespace mkpackage {

struct BuildOptions {
  std::string manifestPath;
  std::string filesDir;
  std::string stubPath;
  std::string outputPath;
  bool update = false;     // write the update-package marker pair
  // An online package: no files, fetched from these update servers
  // ("address:port,...") with this product code. Empty: as the manifest says.
  std::string onlineServers;
  std::string onlineProductCode;
  bool addressServers = false;  // onlineServers names address servers that name the update servers
  // "Gb", "Big5", "En" or "Jp": a shortcut caption missing in a language the
  // package can be installed in is copied from this one. Empty: refused.
  std::string captionFallback;
  unsigned threads = 0;    // 0: all cores
  unsigned level = 6;      // LZMA effort, 0-9
  // Bytes that the encoders and the finished streams waiting for their turn
  // may take together; it decides how many files are compressed at once.
  // 0: MemoryBudgetFor(PhysicalMemory()).
  uint64_t memory = 0;
  std::function<void(const std::string&)> progress;  // progress lines, may be empty
  // Captions filled from the fallback, targets the package does not carry;
  // may be empty.
  std::function<void(const std::string&)> notice;
};

struct BuildSummary {
  uint32_t files = 0;
  uint32_t stored = 0;
  uint64_t totalSize = 0;
  uint64_t packageSize = 0;
  uint32_t headerOffset = 0;
  uint64_t memoryBudget = 0;
  unsigned mostEncodersAtOnce = 0;
  uint64_t encoderMemory = 0;  // the most that encoders running at once were counted for
};

// Nothing is written when it fails; `error` names the cause.
bool BuildPackage(const BuildOptions& options, BuildSummary& summary, std::string& error);

}  // namespace mkpackage
