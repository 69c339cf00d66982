#include "tools/wizard_driver/wizard_driver.h"

#include <commctrl.h>

#include <tlhelp32.h>

#include <fstream>
#include <vector>

namespace wizard_driver {
namespace {

bool IsDialog(HWND window) {
  wchar_t name[16] = {};
  return GetClassNameW(window, name, 16) && !wcscmp(name, L"#32770");
}

struct TopSearch {
  DWORD processId;
  HWND exclude;
  bool wantFrame;
  HWND found = nullptr;
};

BOOL CALLBACK FindTop(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<TopSearch*>(data);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search.processId || window == search.exclude || !IsWindowVisible(window) || !IsDialog(window))
    return TRUE;
  // The frame has the Next button; a message box has its text static.
  const bool frame = GetDlgItem(window, 1003) && GetDlgItem(window, 1010);
  if (frame != search.wantFrame) return TRUE;
  if (!frame && !GetDlgItem(window, 0xFFFF)) return TRUE;
  search.found = window;
  return FALSE;
}

// The first control of each page template, by slot.
constexpr int kPageMarks[][2] = {{1, 1071}, {2, 1013}, {3, 1018}, {4, 1022},  {5, 1028}, {6, 1032},
                                 {7, 1039}, {8, 1041}, {9, 1048}, {10, 1089}, {11, 1053}};

}  // namespace

WizardDriver::~WizardDriver() {
  Kill();
  KillChildren();
  if (m_parent) CloseHandle(m_parent);
  if (m_process.hProcess) CloseHandle(m_process.hProcess);
  if (m_process.hThread) CloseHandle(m_process.hThread);
}

bool WizardDriver::Start(const std::filesystem::path& program, const std::wstring& arguments, bool quiet) {
  std::wstring line = L"\"" + program.wstring() + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  HANDLE nul = INVALID_HANDLE_VALUE;
  if (quiet) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                      OPEN_EXISTING, 0, nullptr);
    if (nul == INVALID_HANDLE_VALUE) return false;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
  }
  const bool started = CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, quiet, 0, nullptr,
                                      nullptr, &si, &m_process) != FALSE;
  if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
  return started;
}

bool WizardDriver::FollowChildOf(DWORD parentId, DWORD timeoutMs) {
  if (!parentId) return false;
  HANDLE child = nullptr;
  DWORD childId = 0;
  WaitFor(
      [&] {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (snapshot == INVALID_HANDLE_VALUE) return false;
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more && !child; more = Process32NextW(snapshot, &entry)) {
          if (entry.th32ParentProcessID != parentId || entry.th32ProcessID == parentId ||
              entry.th32ProcessID == m_process.dwProcessId)
            continue;
          HANDLE candidate =
              OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
          if (!candidate) continue;
          if (WaitForSingleObject(candidate, 0) == WAIT_TIMEOUT) {
            child = candidate;
            childId = entry.th32ProcessID;
          } else {
            CloseHandle(candidate);
          }
        }
        CloseHandle(snapshot);
        return child != nullptr;
      },
      timeoutMs);
  if (!child) return false;
  if (parentId != m_parentId) {
    // The process handed over from stays known: Explain tells what it does.
    if (m_parent) CloseHandle(m_parent);
    m_parent = nullptr;
    m_parentId = parentId;
    if (parentId == m_process.dwProcessId) {
      m_parent = m_process.hProcess;
      m_process.hProcess = nullptr;
    } else {
      m_parent = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, parentId);
    }
  }
  if (m_process.hProcess) CloseHandle(m_process.hProcess);
  if (m_process.hThread) CloseHandle(m_process.hThread);
  m_process = {};
  m_process.hProcess = child;
  m_process.dwProcessId = childId;
  m_frame = nullptr;
  return true;
}

HWND WizardDriver::WaitFrame(DWORD timeoutMs) {
  WaitFor(
      [&] {
        TopSearch search{m_process.dwProcessId, nullptr, true};
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
        m_frame = search.found;
        // A followed child that ended before showing anything while its
        // parent still runs: the parent may start it again.
        if (!m_frame && m_parent && !Running() && WaitForSingleObject(m_parent, 0) == WAIT_TIMEOUT)
          FollowChildOf(m_parentId, 0);
        return m_frame != nullptr;
      },
      timeoutMs);
  return m_frame;
}

HWND WizardDriver::ShownPage() {
  for (HWND child = GetWindow(m_frame, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (IsDialog(child) && IsWindowVisible(child)) return child;
  return nullptr;
}

int WizardDriver::CurrentPage() {
  HWND page = ShownPage();
  if (!page) return -1;
  for (const auto& mark : kPageMarks)
    if (GetDlgItem(page, mark[1])) return mark[0];
  return -1;
}

bool WizardDriver::WaitPage(int slot, DWORD timeoutMs) {
  return WaitFor([&] { return CurrentPage() == slot; }, timeoutMs);
}

HWND WizardDriver::Control(int id) {
  if (HWND page = ShownPage())
    if (HWND control = GetDlgItem(page, id)) return control;
  return GetDlgItem(m_frame, id);
}

HWND WizardDriver::Page(int slot) {
  int mark = 0;
  for (const auto& m : kPageMarks)
    if (m[0] == slot) mark = m[1];
  for (HWND child = GetWindow(m_frame, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if (IsDialog(child) && GetDlgItem(child, mark)) return child;
  return nullptr;
}

std::wstring WizardDriver::PageText(int slot, int id) { return WindowText(GetDlgItem(Page(slot), id)); }

std::wstring WizardDriver::Text(int id) { return WindowText(Control(id)); }

std::vector<std::wstring> WizardDriver::PageListItems(int slot, int id) {
  HWND list = GetDlgItem(Page(slot), id);
  std::vector<std::wstring> items;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, WPARAM(i), 0);
    std::wstring text(size_t(length > 0 ? length : 0) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    items.push_back(text);
  }
  return items;
}

int WizardDriver::PageProgressPosition(int slot, int id) {
  return int(SendMessageW(GetDlgItem(Page(slot), id), PBM_GETPOS, 0, 0));
}

int WizardDriver::PageProgressUpper(int slot, int id) {
  return int(SendMessageW(GetDlgItem(Page(slot), id), PBM_GETRANGE, FALSE, 0));
}

std::wstring WizardDriver::WindowText(HWND control) {
  const LRESULT length = SendMessageW(control, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(size_t(length > 0 ? length : 0) + 1, L'\0');
  SendMessageW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(wcslen(text.c_str()));
  return text;
}

std::wstring WizardDriver::Caption() {
  wchar_t text[512] = {};
  GetWindowTextW(m_frame, text, 512);
  return text;
}

bool WizardDriver::Enabled(int id) { return IsWindowEnabled(Control(id)) != FALSE; }
bool WizardDriver::Visible(int id) { return IsWindowVisible(Control(id)) != FALSE; }
bool WizardDriver::Checked(int id) { return SendMessageW(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

void WizardDriver::Type(int id, const std::wstring& text) {
  // A change may open a message box inside the handler: do not wait for it.
  DWORD_PTR result = 0;
  SendMessageTimeoutW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 1000,
                      &result);
}

void WizardDriver::SetAddress(int id, BYTE a, BYTE b, BYTE c, BYTE d) {
  SendMessageW(Control(id), WM_USER + 101 /* IPM_SETADDRESS */, 0, LPARAM((DWORD(a) << 24) | (DWORD(b) << 16) | (DWORD(c) << 8) | d));
}

void WizardDriver::Click(int id) { PostMessageW(Control(id), BM_CLICK, 0, 0); }

void WizardDriver::Choose(int id, int index) {
  HWND list = Control(id);
  SendMessageW(list, CB_SETCURSEL, WPARAM(index), 0);
  PostMessageW(GetParent(list), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(list), CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
}

HWND WizardDriver::WaitMessageBox(DWORD timeoutMs) {
  HWND box = nullptr;
  WaitFor(
      [&] {
        TopSearch search{m_process.dwProcessId, m_frame, false};
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
        box = search.found;
        return box != nullptr;
      },
      timeoutMs);
  return box;
}

namespace {

std::string ProcessState(HANDLE process, DWORD processId) {
  DWORD code = STILL_ACTIVE;
  if (!process || !GetExitCodeProcess(process, &code)) return "unknown";
  std::string out = code == STILL_ACTIVE ? "running" : "ended with " + std::to_string(code);
  TopSearch search{processId, nullptr, false};
  EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
  if (!search.found) return out + ", no message box";
  const std::wstring text = WizardDriver::MessageText(search.found);
  std::string utf8(text.size() * 3 + 1, '\0');
  utf8.resize(size_t(WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), utf8.data(),
                                         int(utf8.size()), nullptr, nullptr)));
  return out + ", message box: " + utf8;
}

}  // namespace

std::string WizardDriver::Explain() {
  WaitMessageBox(100);
  std::string out = ProcessState(m_process.hProcess, m_process.dwProcessId);
  if (m_parent) out += "; the process that started it: " + ProcessState(m_parent, m_parentId);
  return out;
}

std::wstring WizardDriver::MessageText(HWND box) {
  wchar_t text[1024] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 1024);
  return text;
}

void WizardDriver::Answer(HWND box, int buttonId) {
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

DWORD WizardDriver::WaitExit(DWORD timeoutMs) {
  if (!m_process.hProcess) return STILL_ACTIVE;
  WaitFor([&] { return WaitForSingleObject(m_process.hProcess, 0) == WAIT_OBJECT_0; }, timeoutMs);
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(m_process.hProcess, &code);
  return code;
}

bool WizardDriver::Running() {
  return m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

void WizardDriver::Kill() {
  if (!Running()) return;
  TerminateProcess(m_process.hProcess, 1);
  WaitForSingleObject(m_process.hProcess, 5000);
}

void WizardDriver::KillChildren() {
  if (!m_process.dwProcessId) return;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
    if (entry.th32ParentProcessID != m_process.dwProcessId) continue;
    if (HANDLE child = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID)) {
      TerminateProcess(child, 1);
      WaitForSingleObject(child, 5000);
      CloseHandle(child);
    }
  }
  CloseHandle(snapshot);
}

bool WizardDriver::SaveScreenshot(const std::filesystem::path& bmp) {
  RECT r;
  if (!GetWindowRect(m_frame, &r)) return false;
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = picture != nullptr;
  if (ok) {
    HGDIOBJ old = SelectObject(memory, picture);
    ok = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, old);
  }
  if (ok) {
    const DWORD stride = (DWORD(width) * 3 + 3) & ~3u;
    const DWORD imageSize = stride * DWORD(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    std::ofstream out(bmp, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), imageSize);
    ok = bool(out);
  }
  if (picture) DeleteObject(picture);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return ok;
}

}  // namespace wizard_driver
