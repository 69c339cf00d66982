#include "setup/wizard/progress_surface.h"

#include <windows.h>
#include <commctrl.h>

#include "base/utf16.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/prompts.h"
#include "setup/wizard/wizard_frame.h"

namespace setup {
namespace {
ProgressControls g_controls;
}

void PublishProgressControls(const ProgressControls& controls) { g_controls = controls; }

ProgressSurface::ProgressSurface(HWND frame) : m_frame(frame), m_controls(g_controls) {}

void ProgressSurface::DetailLine(uint16_t key, std::u16string_view argument) {
  const std::wstring line = vx::ToWide(FormattedText(key, {argument}));
  SetWindowTextW(m_controls.status, line.c_str());
  HWND list = m_controls.list;
  SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(line.c_str()));
  int low = 0, high = 0;
  GetScrollRange(list, SB_VERT, &low, &high);
  SetScrollPos(list, SB_VERT, high, TRUE);
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  SendMessageW(list, LB_SETTOPINDEX, WPARAM(count - 1), 0);
}

void ProgressSurface::SetProgressRange(uint16_t upper) {
  SendMessageW(m_controls.bar, PBM_SETRANGE, 0, MAKELPARAM(0, upper));
}

void ProgressSurface::SetProgressPosition(uint32_t position) {
  SendMessageW(m_controls.bar, PBM_SETPOS, WPARAM(position), 0);
}

void ProgressSurface::AdvanceProgress(uint32_t step) {
  const LRESULT position = SendMessageW(m_controls.bar, PBM_GETPOS, 0, 0);
  SendMessageW(m_controls.bar, PBM_SETPOS, WPARAM(position + LRESULT(step)), 0);
}

bool ProgressSurface::StopRequested() { return Wizard().stopRun; }

int ProgressSurface::Prompt(uint32_t code, std::u16string_view argument) {
  return PromptWithArgument(m_frame, argument, code);
}

}  // namespace setup
