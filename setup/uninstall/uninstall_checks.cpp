#include "setup/uninstall/uninstall_checks.h"

#include <windows.h>

#include <cstdio>

#include "base/utf16.h"
#include "setup/startup/instance_data.h"
#include "setup/startup/setup_state.h"
#include "setup/uninstall/uninstall_record.h"

namespace setup {
namespace {

// An uninstall record is small; anything larger is not one.
constexpr long kRecordLimit = 64L << 20;

std::wstring Join(const std::u16string& folder, const std::u16string& name) {
  return vx::ToWide(folder) + L"\\" + vx::ToWide(name);
}

// `folder` with 8.3 short names expanded; as given when the lookup fails.
std::u16string LongFolderName(const std::u16string& folder) {
  const std::wstring wide = vx::ToWide(folder);
  const DWORD n = GetLongPathNameW(wide.c_str(), nullptr, 0);
  if (n == 0) return folder;
  std::wstring longName(n, L'\0');
  const DWORD written = GetLongPathNameW(wide.c_str(), &longName[0], n);
  if (written == 0 || written >= n) return folder;
  longName.resize(written);
  return vx::FromWide(longName);
}

}  // namespace

bool ReadUninstallRecord() {
  SetupState& s = State();
  FILE* file = _wfopen(Join(s.InstallDir, u"uninstall.exe").c_str(), L"rb");
  if (!file) return false;
  std::vector<uint8_t> record;
  bool ok = fseek(file, 0, SEEK_END) == 0;
  const long end = ok ? ftell(file) : -1;
  if (end > long(HeaderOffset()) && end - long(HeaderOffset()) <= kRecordLimit)
    record.reserve(size_t(end - long(HeaderOffset())));  // one buffer for a record of megabytes
  ok = ok && fseek(file, long(HeaderOffset()), SEEK_SET) == 0;
  if (ok) {
    uint8_t buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, file)) > 0;) {
      record.insert(record.end(), buffer, buffer + n);
      if (record.size() > size_t(kRecordLimit)) {
        ok = false;
        break;
      }
    }
  }
  fclose(file);
  std::string error;
  return ok && DecodeUninstallRecord(record.data(), record.size(), LongFolderName(s.InstallDir), s, error);
}

int CheckFilesInUse(const std::u16string& folder) {
  const SetupState& s = State();
  const std::wstring self = vx::ToWide(s.ProductName + s.header.VersionLabel + u".exe");
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((vx::ToWide(folder) + L"\\*.*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return 0;
  int files = 0;
  do {
    const std::wstring name = found.cFileName;
    if (name.empty() || name[0] == L'.') continue;
    const std::wstring path = vx::ToWide(folder) + L"\\" + name;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {  // a link: removed, never followed
        ++files;
        continue;
      }
      const int inside = CheckFilesInUse(folder + u"\\" + vx::FromWide(name));
      if (inside < 0) {
        FindClose(find);
        return -1;
      }
      files += inside;
      continue;
    }
    const size_t dot = name.find(L'.');
    if (dot != std::wstring::npos && dot > 0 && dot + 1 < name.size() && _wcsicmp(name.c_str(), self.c_str()) != 0) {
      // Exclusive access shows use; a read-only file is opened for reading
      // only, so that the check needs to change nothing.
      const DWORD access = (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? GENERIC_READ
                                                                              : GENERIC_READ | GENERIC_WRITE;
      HANDLE h = CreateFileW(path.c_str(), access, 0, nullptr, OPEN_EXISTING, 0, nullptr);
      if (h == INVALID_HANDLE_VALUE) {
        FindClose(find);
        return -1;
      }
      CloseHandle(h);
    }
    ++files;
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return files;
}

int CountListedFiles(const std::u16string& folder, const std::vector<std::u16string>& list) {
  int present = 0;
  for (const auto& entry : list)
    if (GetFileAttributesW(Join(folder, entry).c_str()) != INVALID_FILE_ATTRIBUTES) ++present;
  return present;
}

}  // namespace setup
