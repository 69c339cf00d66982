#pragma once
// The progress page as the install thread sees it: every update is a
// synchronous message to a control of the user-interface thread.
#include <windows.h>

#include "setup/wizard/wizard_extraction_reporter.h"

namespace setup {

struct ProgressControls {
  HWND status = nullptr;
  HWND bar = nullptr;
  HWND list = nullptr;
};

// Set by the progress page when it is created.
void PublishProgressControls(const ProgressControls& controls);

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

 private:
  HWND m_frame;
  ProgressControls m_controls;
};

}  // namespace setup
