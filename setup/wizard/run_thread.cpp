// The worker thread of the progress page: the install or uninstall run, then
// the frame's end-of-run state.
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
  HWND frame = Wizard().frame;
  ProgressSurface surface(frame);
  const SetupState& s = State();
  const bool ok = s.UninstallMode ? RunUninstall(State(), Wizard().completeDelete, surface)
                                  : RunInstallSequence(s.payloadOffset, false, surface);
  if (!ok) {
    Aborted();
    return 0;
  }
  EnableWindow(GetDlgItem(frame, frame_id::kNext), TRUE);
  SetHeader(LoadText(Texts().doneTitle), LoadText(Texts().doneSubtitle));
  InvalidateRect(frame, nullptr, TRUE);
  SendMessageW(frame, WM_COMMAND, MAKEWPARAM(frame_id::kNext, Texts().doneCode), 0);
  return 0;
}

}  // namespace

void StartRunThread() {
  HANDLE thread = CreateThread(nullptr, 0, RunThread, nullptr, 0, nullptr);
  if (!thread) {
    Aborted();
    return;
  }
  CloseHandle(thread);
}

void ShowRunAborted() { Aborted(); }

}  // namespace setup
