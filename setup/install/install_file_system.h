#pragma once
// The file operations of an install run, so the extraction walk stays
// portable: Win32 on Windows, in memory in tests.
#include <cstdint>
#include <memory>
#include <string>

#include "setup/package/package_header.h"

namespace setup {

// The program's own file, read sequentially from any position.
class PackageFile : public package::ByteSource {
 public:
  virtual bool Seek(uint64_t offset) = 0;  // false beyond the end
  virtual uint64_t Tell() = 0;
  virtual bool AtEnd() = 0;  // no byte left to read
};

// A target opened for writing (truncated).
class TargetFile {
 public:
  virtual ~TargetFile() = default;
  virtual bool Write(const uint8_t* data, size_t size) = 0;  // false on a short write
  virtual bool Close() = 0;
};

enum class DirectoryResult { Created, AlreadyExists, Failed };

class InstallFileSystem {
 public:
  virtual ~InstallFileSystem() = default;
  virtual std::unique_ptr<PackageFile> OpenPackage() = 0;  // "rb"; nullptr when it fails
  virtual std::u16string PackagePath() = 0;
  virtual bool Exists(const std::u16string& path) = 0;
  // One directory; `path` may end with a backslash.
  virtual DirectoryResult MakeDirectory(const std::u16string& path) = 0;
  virtual void ClearAttributes(const std::u16string& path) = 0;
  // Opened for reading and writing with no sharing fails.
  virtual bool InUse(const std::u16string& path) = 0;
  virtual std::unique_ptr<TargetFile> OpenForWrite(const std::u16string& path) = 0;
  virtual void Delete(const std::u16string& path) = 0;
  // One empty directory; false when it stays.
  virtual bool RemoveEmptyFolder(const std::u16string& path) = 0;
};

}  // namespace setup
