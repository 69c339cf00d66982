#pragma once
// Extraction: the first phase of an install run. Walks the payload's file
// table, creates the folders each path needs and decodes each stream straight
// into its target file, in bounded memory.
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "setup/install/decode_pipeline.h"
#include "setup/install/extraction_reporter.h"
#include "setup/install/install_file_system.h"
#include "setup/startup/setup_state.h"

namespace setup {

enum MakeDirectoryResult : int { kDirectoryFailed = 0, kDirectoryCreated = 1, kDirectoryExisted = 2 };

// Creates every directory named by a prefix of `path` that ends at a
// backslash at or after `start` (prefix included). The result is that of the
// last creation: 1 created, 2 already there (or nothing to create), 0 failed
// or `path` shorter than `start`. `folder` gets the deepest prefix processed
// (with its backslash; the part before `start` when none), `rest` what follows.
// `log`, when given, gets every prefix this call created, and no prefix it
// knows to exist is asked for again.
struct FolderLog {
  std::vector<std::u16string> created;
  std::unordered_set<std::u16string> known;
};
int MakeDirectoryPath(InstallFileSystem& fs, const std::u16string& path, size_t start, std::u16string& folder,
                      std::u16string& rest, FolderLog* log = nullptr);

// Decodes the next `size` bytes of `package` (one stream) into `target`.
// Returns `size` on success; 0 on a decoder error, a short read or write, or
// a stream that decodes to nothing. 0 for size 0 (an empty file).
uint32_t ExtractFile(TargetFile& target, package::ByteSource& package, uint32_t size);

// Runs the extraction from `payloadOffset` into s.InstallDir (which gets its
// trailing backslash), filling FileCount, PackageKind, InstalledFiles and
// what it created: InstallDirCreated and CreatedFolders (relative, without
// trailing backslash).
// False when the run must stop; the reporter has been told why. The package
// file stays open in `package` for the rest of the install run. With a second
// core, the streams are decoded ahead (by default into at most a few MiB, on
// one thread) through other handles of the package; targets and reports stay
// in order.
bool ExtractPayload(InstallFileSystem& fs, SetupState& s, uint64_t payloadOffset, ExtractionReporter& reporter,
                    std::unique_ptr<PackageFile>& package, DecodeAhead ahead = {});

// What an online run does in place of the extraction: opens the own file
// (asking as the extraction does while it cannot) and gives s.InstallDir its
// trailing backslash. False when the run must stop.
bool OpenPackageForOnlineRun(InstallFileSystem& fs, SetupState& s, ExtractionReporter& reporter,
                             std::unique_ptr<PackageFile>& package);

}  // namespace setup
