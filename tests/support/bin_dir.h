#pragma once
// The folder of the running Windows test program, where the build puts the
// setup program, the packages and the stand-ins.
#include <windows.h>

#include <filesystem>

namespace testing_support {

inline std::filesystem::path BinDir() {
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path();
}

}  // namespace testing_support
