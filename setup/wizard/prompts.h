#pragma once
// Standard prompts (message boxes) and driven-install status reports, by
// message code. Codes missing from their table show or send nothing.
#include <windows.h>

#include <cstdint>
#include <string_view>

namespace setup {

// The button pressed, or 0 when the code shows no box.
int Prompt(HWND owner, uint32_t code);
int PromptWithArgument(HWND owner, std::u16string_view argument, uint32_t code);

// WM_COPYDATA to the controlling window: dwData = code, the text of the
// current language with its terminating zero.
void ReportStatus(uintptr_t controller, uint32_t code);
void ReportStatusWithArgument(uintptr_t controller, uint32_t code, std::u16string_view argument);

}  // namespace setup
