#pragma once
// Scratch folders for tests. Test programs of several build trees may run at
// once on one machine, so each name carries the process id.
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace testing_support {

inline std::filesystem::path TempFolder(const std::string& name) {
#ifdef _WIN32
  const long pid = long(_getpid());
#else
  const long pid = long(::getpid());
#endif
  return std::filesystem::temp_directory_path() / (name + "-" + std::to_string(pid));
}

}  // namespace testing_support
