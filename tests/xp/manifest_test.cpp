// The manifest embedded in the setup program, read back from the built file
// and from a package made of it.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <regex>
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

std::vector<std::string> All(const std::string& text, const std::string& pattern) {
  std::vector<std::string> found;
  const std::regex re(pattern, std::regex::icase);
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it) found.push_back((*it)[1]);
  return found;
}

void CheckManifest(const fs::path& program) {
  SCOPED_TRACE(program.string());
  const Manifest m = ReadManifest(program);
  ASSERT_EQ(m.ids, std::vector<ULONG_PTR>{1}) << "one manifest, the process manifest (id 1)";
  const std::string& t = m.text;
  ASSERT_FALSE(t.empty());

  // Administrator rights, asked for once, no UI access.
  EXPECT_EQ(All(t, "<requestedExecutionLevel[^>]*level=\"([^\"]*)\""), std::vector<std::string>{"requireAdministrator"});
  EXPECT_EQ(All(t, "<requestedExecutionLevel[^>]*uiAccess=\"([^\"]*)\""), std::vector<std::string>{"false"});
  EXPECT_NE(t.find("urn:schemas-microsoft-com:asm.v3"), std::string::npos);

  // Common controls 6 for x86.
  const std::regex controls(
      "<assemblyIdentity[^>]*name=\"Microsoft\\.Windows\\.Common-Controls\"[^>]*version=\"6\\.0\\.0\\.0\"[^>]*"
      "processorArchitecture=\"x86\"[^>]*publicKeyToken=\"6595b64144ccf1df\"");
  EXPECT_TRUE(std::regex_search(t, controls));

  // Declared systems: Vista and 7 at most. Windows 8 and later then report 6.2
  // (accepted by the system check); a program declaring 8.1 sees 6.3, one
  // declaring 10 sees 10.0, which the check refuses.
  const std::vector<std::string> allowed = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}",   // Vista
                                            "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"};  // 7
  const std::vector<std::string> ids = All(t, "<supportedOS[^>]*Id=\"([^\"]*)\"");
  for (const std::string& id : ids)
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), id), allowed.end()) << "supportedOS newer than Windows 7: " << id;
  EXPECT_EQ(ids, allowed);
  for (const char* later : {"4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38", "1f676c76-80e1-4239-95bb-83d0f6d0da78",
                            "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"})
    EXPECT_EQ(t.find(later), std::string::npos) << later;
  EXPECT_EQ(t.find("maxversiontested"), std::string::npos);

  // The system's own parser takes it.
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

TEST(SetupManifest, TheProgramAsksForAdministratorRightsCommonControls6AndNoSystemAfter7) {
  CheckManifest(BinDir() / "setup.exe");
}

TEST(SetupManifest, APackageCarriesTheSameManifest) {
  CheckManifest(BinDir() / "sample_package.exe");
  EXPECT_EQ(ReadManifest(BinDir() / "sample_package.exe").text, ReadManifest(BinDir() / "setup.exe").text);
}
