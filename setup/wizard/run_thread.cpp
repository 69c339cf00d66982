// The worker thread of the progress page: the install or uninstall run. The
// frame's end-of-run state is set on the frame's own thread once the run has
// ended (the header texts are the frame's).
#include "setup/install/install_run.h"
#include "setup/startup/setup_state.h"
#include "setup/uninstall/uninstall_run.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/progress_surface.h"
#include "setup/wizard/wizard_frame.h"

namespace setup {
namespace {

struct EndTexts {
  uint16_t doneTitle, doneSubtitle, abortedTitle, abortedSubtitle;
  WORD doneCode;
};
constexpr EndTexts kInstallEnd = {301, 303, 287, 289, kInstallDoneCode};
constexpr EndTexts kUninstallEnd = {305, 307, 279, 281, kUninstallDoneCode};

const EndTexts& Texts() { return State().UninstallMode ? kUninstallEnd : kInstallEnd; }

void Aborted() {
  HWND frame = Wizard().frame;
  EnableWindow(GetDlgItem(frame, frame_id::kCancel), TRUE);
  SetHeader(LoadText(Texts().abortedTitle), LoadText(Texts().abortedSubtitle));
  InvalidateRect(frame, nullptr, TRUE);
}

DWORD WINAPI RunThread(void*) {
  WizardContext& w = Wizard();
  ProgressSurface surface(w.frame);
  const SetupState& s = State();
  w.runOk = s.UninstallMode ? RunUninstall(State(), w.completeDelete, surface)
                            : RunInstallSequence(s.payloadOffset, false, surface);
  surface.ShowPending();
  PostMessageW(w.frame, kRunEndedMessage, 0, 0);
  return 0;
}

}  // namespace

void StartRunThread() {
  WizardContext& w = Wizard();
  w.stopRun = false;
  w.runThread = CreateThread(nullptr, 0, RunThread, nullptr, 0, nullptr);
  if (!w.runThread) Aborted();
}

void RunThreadEnded(HWND frame) {
  WizardContext& w = Wizard();
  if (!w.runThread) return;  // not running (a stray message)
  WaitForSingleObject(w.runThread, INFINITE);
  CloseHandle(w.runThread);
  w.runThread = nullptr;
  if (w.stopRun) {
    // Cancelled and confirmed: the page says so, then the wizard ends.
    if (!w.runOk) Aborted();
    UpdateWindow(frame);
    EndDialog(frame, 0);
    return;
  }
  if (!w.runOk) {
    Aborted();
    return;
  }
  EnableWindow(GetDlgItem(frame, frame_id::kNext), TRUE);
  SetHeader(LoadText(Texts().doneTitle), LoadText(Texts().doneSubtitle));
  InvalidateRect(frame, nullptr, TRUE);
  SendMessageW(frame, WM_COMMAND, MAKEWPARAM(frame_id::kNext, Texts().doneCode), 0);
}

void ShowRunAborted() { Aborted(); }

}  // namespace setup
