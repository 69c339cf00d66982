#include "setup/wizard/progress_surface.h"

#include <windows.h>
#include <commctrl.h>

#include "base/utf16.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/progress_batch.h"
#include "setup/wizard/prompts.h"
#include "setup/wizard/wizard_frame.h"

namespace setup {
namespace {
ProgressControls g_controls;
ProgressBatch g_batch;
}  // namespace

void PublishProgressControls(const ProgressControls& controls) { g_controls = controls; }

void ShowBatch(const ProgressControls& controls) {
  const ProgressBatch::Taken taken = g_batch.Take();
  if (taken.Empty()) return;
  if (!taken.lines.empty()) {
    HWND list = controls.list;
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    for (const auto& line : taken.lines)
      SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(vx::ToWide(line).c_str()));
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    int low = 0, high = 0;
    GetScrollRange(list, SB_VERT, &low, &high);
    SetScrollPos(list, SB_VERT, high, TRUE);
    const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    SendMessageW(list, LB_SETTOPINDEX, WPARAM(count - 1), 0);
    InvalidateRect(list, nullptr, TRUE);
    SetWindowTextW(controls.status, vx::ToWide(taken.lines.back()).c_str());
  }
  if (taken.position) SendMessageW(controls.bar, PBM_SETPOS, WPARAM(*taken.position), 0);
  if (taken.steps) {
    const LRESULT position = SendMessageW(controls.bar, PBM_GETPOS, 0, 0);
    SendMessageW(controls.bar, PBM_SETPOS, WPARAM(position) + taken.steps, 0);
  }
}

ProgressSurface::ProgressSurface(HWND frame) : m_frame(frame), m_controls(g_controls) {}

void ProgressSurface::DetailLine(uint16_t key, std::u16string_view argument) {
  g_batch.AddLine(FormattedText(key, {argument}));
}

void ProgressSurface::SetProgressRange(uint16_t upper) {
  ShowPending();
  SendMessageW(m_controls.bar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
}

void ProgressSurface::SetProgressPosition(uint32_t position) { g_batch.SetPosition(position); }

void ProgressSurface::AdvanceProgress(uint32_t step) { g_batch.Advance(step); }

void ProgressSurface::ShowPending() {
  if (m_controls.page)
    SendMessageW(m_controls.page, kShowBatchMessage, 0, 0);
  else
    g_batch.Take();  // no page to show it on
}

bool ProgressSurface::StopRequested() {
  Wizard().quitQuestion.Pass();
  return Wizard().stopRun;
}

int ProgressSurface::Prompt(uint32_t code, std::u16string_view argument) {
  ShowPending();
  return PromptWithArgument(m_frame, argument, code);
}

}  // namespace setup
