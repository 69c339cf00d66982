#pragma once
// A driven install started by the test, which is its controlling window.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/utf16.h"

namespace e2e {

struct Status {
  uint32_t code;
  std::u16string text;
  DWORD bytes;
};

inline std::vector<Status>* g_statuses = nullptr;

inline LRESULT CALLBACK Receive(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m != WM_COPYDATA) return DefWindowProcW(w, m, wp, lp);
  const auto* d = reinterpret_cast<const COPYDATASTRUCT*>(lp);
  g_statuses->push_back({uint32_t(d->dwData), static_cast<const char16_t*>(d->lpData), d->cbData});
  return TRUE;
}

// Starts `package` as "-d 0 <window> [items]" and collects its statuses.
inline std::vector<Status> RunDriven(const std::filesystem::path& package, const std::vector<std::wstring>& items) {
  static const HWND window = [] {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Receive;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"E2EController";
    RegisterClassW(&wc);
    return CreateWindowW(L"E2EController", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  }();
  std::vector<Status> statuses;
  g_statuses = &statuses;
  std::wstring line = L"\"" + package.wstring() + L"\" -d 0 " + std::to_wstring(uint32_t(reinterpret_cast<uintptr_t>(window)));
  for (const auto& item : items) line += L" \"" + item + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(package.wstring().c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    ADD_FAILURE() << "cannot start " << package.string();
    return statuses;
  }
  CloseHandle(pi.hThread);
  while (MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 120000, QS_ALLINPUT) != WAIT_OBJECT_0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  MSG msg;  // statuses sent just before the exit
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  CloseHandle(pi.hProcess);
  g_statuses = nullptr;
  return statuses;
}

inline std::vector<uint32_t> Codes(const std::vector<Status>& s) {
  std::vector<uint32_t> out;
  for (const auto& x : s) out.push_back(x.code);
  return out;
}

// The link paths of the "Create shortcut" statuses (the text after the
// language's colon).
inline std::vector<std::filesystem::path> CreatedLinks(const std::vector<Status>& statuses) {
  std::vector<std::filesystem::path> links;
  for (const auto& s : statuses) {
    if (s.code != 0x50004) continue;
    const std::wstring text = vx::ToWide(s.text);
    const size_t wide = text.find(L'\uFF1A');
    links.push_back(wide != std::wstring::npos ? text.substr(wide + 1) : text.substr(text.find(L": ") + 2));
  }
  return links;
}

}  // namespace e2e
