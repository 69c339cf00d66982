#pragma once
// The progress page as a run sees it. Detail lines and bar moves go into the
// page's batch without waiting; the page shows them every kBatchTimerMs, and
// at once when the run asks (before a prompt, at its end).
#include <windows.h>

#include "setup/wizard/wizard_extraction_reporter.h"

namespace setup {

struct ProgressControls {
  HWND page = nullptr;
  HWND status = nullptr;
  HWND bar = nullptr;
  HWND list = nullptr;
};

// Set by the progress page when it is created.
void PublishProgressControls(const ProgressControls& controls);

// The page's timer and message that show the batch (on the page's thread).
inline constexpr UINT_PTR kBatchTimer = 1;
inline constexpr UINT kBatchTimerMs = 50;
inline constexpr UINT kShowBatchMessage = WM_APP + 2;
void ShowBatch(const ProgressControls& controls);

class ProgressSurface : public WizardSurface {
 public:
  // `frame` owns the prompts.
  explicit ProgressSurface(HWND frame);
  void DetailLine(uint16_t key, std::u16string_view argument) override;
  void SetProgressRange(uint16_t upper) override;
  void SetProgressPosition(uint32_t position) override;
  void AdvanceProgress(uint32_t step) override;
  int Prompt(uint32_t code, std::u16string_view argument) override;
  bool StopRequested() override;
  // Shows what is waiting, before the caller goes on.
  void ShowPending();

 private:
  HWND m_frame;
  ProgressControls m_controls;
};

}  // namespace setup
