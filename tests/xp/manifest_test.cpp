// The manifest embedded in the setup program, read back from the built file
// and from a package made of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/bin_dir.h"

namespace fs = std::filesystem;

namespace {

using testing_support::BinDir;

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR out) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(out)->push_back(
      IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : ~ULONG_PTR(0));
  return TRUE;
}

struct Manifest {
  std::vector<ULONG_PTR> ids;  // every RT_MANIFEST resource
  std::string text;            // resource 1
};

Manifest ReadManifest(const fs::path& program) {
  Manifest m;
  const HMODULE image = LoadLibraryExW(program.wstring().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  EXPECT_TRUE(image) << program.string();
  if (!image) return m;
  EnumResourceNamesW(image, RT_MANIFEST, CollectName, reinterpret_cast<LONG_PTR>(&m.ids));
  if (HRSRC res = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST)) {
    const HGLOBAL data = LoadResource(image, res);
    const char* bytes = data ? static_cast<const char*>(LockResource(data)) : nullptr;
    if (bytes) m.text.assign(bytes, SizeofResource(image, res));
  }
  FreeLibrary(image);
  return m;
}

// The text rules are tests/xp/check_manifest.sh's (a host tool reads the
// resource); here the system's own parser has to take it.
void CheckManifest(const fs::path& program) {
  SCOPED_TRACE(program.string());
  const Manifest m = ReadManifest(program);
  ASSERT_EQ(m.ids, std::vector<ULONG_PTR>{1}) << "one manifest, the process manifest (id 1)";
  ASSERT_FALSE(m.text.empty());
  EXPECT_NE(m.text.find("processorArchitecture=\"" VC_MANIFEST_ARCH "\""), std::string::npos)
      << "a process activates only a manifest of its own architecture";

  ACTCTXW ctx = {};
  ctx.cbSize = sizeof ctx;
  ctx.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  const std::wstring source = program.wstring();
  ctx.lpSource = source.c_str();
  ctx.lpResourceName = MAKEINTRESOURCEW(1);
  const HANDLE handle = CreateActCtxW(&ctx);
  EXPECT_NE(handle, INVALID_HANDLE_VALUE) << "CreateActCtxW error " << GetLastError();
  if (handle != INVALID_HANDLE_VALUE) ReleaseActCtx(handle);
}

}  // namespace

TEST(SetupManifest, TheSystemActivatesTheProgramsManifest) {
  CheckManifest(BinDir() / "setup.exe");
}

TEST(SetupManifest, APackageCarriesTheSameManifest) {
  CheckManifest(BinDir() / "sample_package.exe");
  EXPECT_EQ(ReadManifest(BinDir() / "sample_package.exe").text, ReadManifest(BinDir() / "setup.exe").text);
}
