#pragma once
// Drives a running setup wizard from another process, as a user would: finds
// the frame and the shown page, reads control texts and states, types into
// fields, presses buttons and answers message boxes.
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace wizard_driver {

class WizardDriver {
 public:
  WizardDriver() = default;
  ~WizardDriver();
  WizardDriver(const WizardDriver&) = delete;
  WizardDriver& operator=(const WizardDriver&) = delete;

  // Starts `program` with `arguments`; false when it cannot be started.
  // `quiet`: what it writes to its standard output and error is dropped.
  bool Start(const std::filesystem::path& program, const std::wstring& arguments = L"", bool quiet = false);
  // Follows the program's hand-over: waits for a process it started (a
  // relaunched copy) and drives that one from now on. False on time-out.
  bool FollowChild(DWORD timeoutMs = 20000) { return FollowChildOf(m_process.dwProcessId, timeoutMs); }
  // The same for a process started by `parentId`.
  bool FollowChildOf(DWORD parentId, DWORD timeoutMs = 20000);
  DWORD ProcessId() const { return m_process.dwProcessId; }

  // Waits for the wizard frame; null after `timeoutMs`. A followed child that
  // ends first while its parent runs on is replaced by the parent's next one.
  HWND WaitFrame(DWORD timeoutMs = 20000);
  HWND Frame() const { return m_frame; }

  // The slot number of the shown page (1-11), or -1.
  int CurrentPage();
  // Waits until page `slot` is shown; false on time-out.
  bool WaitPage(int slot, DWORD timeoutMs = 20000);

  // A control of the frame or of the shown page.
  HWND Control(int id);
  // The text of control `id` of page `slot`, shown or not.
  std::wstring PageText(int slot, int id);
  std::wstring Text(int id);
  // The entries of list box `id` of page `slot`, shown or not.
  std::vector<std::wstring> PageListItems(int slot, int id);
  // The position and upper bound of progress bar `id` of page `slot`.
  int PageProgressPosition(int slot, int id);
  int PageProgressUpper(int slot, int id);
  std::wstring Caption();
  bool Enabled(int id);
  bool Visible(int id);
  bool Checked(int id);
  // Sets a field's text as typing would (its change notifications follow).
  void Type(int id, const std::wstring& text);
  // Sets an IP-address field to a.b.c.d.
  void SetAddress(int id, BYTE a, BYTE b, BYTE c, BYTE d);
  // Presses a button; returns at once (the press may open a message box).
  void Click(int id);
  // Chooses entry `index` of a drop-down list and notifies its page.
  void Choose(int id, int index);

  // A message box of the program; null after `timeoutMs`.
  HWND WaitMessageBox(DWORD timeoutMs = 10000);
  static std::wstring MessageText(HWND box);
  static void Answer(HWND box, int buttonId);

  // For a failure message: whether it runs (or its exit code) and the text of
  // a message box it shows; the same for the process it was followed from.
  std::string Explain();

  // Waits for the program to end; its exit code, or STILL_ACTIVE on time-out.
  DWORD WaitExit(DWORD timeoutMs = 30000);
  bool Running();
  // Ends the program when it is still running.
  void Kill();
  // Ends the programs it started (the install opens the spool folder in a
  // hidden shell window that would outlive it). Done on destruction too.
  void KillChildren();

  // Saves the frame as it is on screen as a 24-bit BMP.
  bool SaveScreenshot(const std::filesystem::path& bmp);

 private:
  HWND ShownPage();
  HWND Page(int slot);
  static std::wstring WindowText(HWND window);
  PROCESS_INFORMATION m_process = {};
  HWND m_frame = nullptr;
  HANDLE m_parent = nullptr;  // the process last followed from
  DWORD m_parentId = 0;
};

// Polls `condition` every 20 ms, pumping messages, until it holds or
// `timeoutMs` has passed.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= timeoutMs) return false;
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(20);
  }
}

}  // namespace wizard_driver
