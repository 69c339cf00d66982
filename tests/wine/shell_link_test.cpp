// Shell links saved and read back through the shell's own interfaces.
#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <shobjidl.h>

#include <filesystem>
#include <fstream>

#include "base/utf16.h"
#include "setup/integration/shortcuts.h"

namespace fs = std::filesystem;

TEST(ShellLink, SavedLinkReadsBackAndAnUnsavedOneIsAFailure) {
  ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
  const fs::path folder = L"C:\\wine-tests\\links";
  fs::remove_all(folder);
  fs::create_directories(folder);
  const std::u16string link = vx::FromWide((folder / L"Client.lnk").wstring());
  // The target need not exist.
  ASSERT_TRUE(setup::MakeShellLink(u"C:\\App\\missing.exe", link, u"C:\\App"));

  IShellLinkW* shellLink = nullptr;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                         reinterpret_cast<void**>(&shellLink))));
  IPersistFile* file = nullptr;
  ASSERT_TRUE(SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
  ASSERT_TRUE(SUCCEEDED(file->Load(vx::ToWide(link).c_str(), STGM_READ)));
  wchar_t target[MAX_PATH] = {}, directory[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(shellLink->GetPath(target, MAX_PATH, nullptr, 0)));
  EXPECT_TRUE(SUCCEEDED(shellLink->GetWorkingDirectory(directory, MAX_PATH)));
  EXPECT_STREQ(target, L"C:\\App\\missing.exe");
  EXPECT_STREQ(directory, L"C:\\App");
  file->Release();
  shellLink->Release();

  // A link into a folder that does not exist, or where a file stands in for
  // the folder, is not saved and says so.
  EXPECT_FALSE(setup::MakeShellLink(u"C:\\App\\a.exe", vx::FromWide((folder / L"none\\a.lnk").wstring()), u"C:\\App"));
  std::ofstream(folder / L"file") << "x";
  EXPECT_FALSE(setup::MakeShellLink(u"C:\\App\\a.exe", vx::FromWide((folder / L"file\\a.lnk").wstring()), u"C:\\App"));
  EXPECT_FALSE(fs::exists(folder / L"none"));
  fs::remove_all(folder);
  CoUninitialize();
}
