#include "setup/wizard/prompts.h"

#include <string>

#include "base/utf16.h"
#include "setup/startup/setup_state.h"
#include "setup/wizard/localized_text.h"
#include "setup/wizard/message_tables.h"

namespace setup {
namespace {

static_assert(box::kYesNo == MB_YESNO && box::kOkCancel == MB_OKCANCEL &&
              box::kAbortRetryIgnore == MB_ABORTRETRYIGNORE && box::kRetryCancel == MB_RETRYCANCEL);
static_assert(box::kIconError == MB_ICONERROR && box::kIconQuestion == MB_ICONQUESTION &&
              box::kIconWarning == MB_ICONWARNING && box::kIconInformation == MB_ICONINFORMATION);
static_assert(box::kSecondDefault == MB_DEFBUTTON2);

int Show(HWND owner, const PromptSpec& row, const std::u16string& text) {
  const std::wstring caption = vx::ToWide(LoadText(row.caption, kCaptionCapacity));
  return MessageBoxW(owner, vx::ToWide(text).c_str(), caption.c_str(), row.style);
}

void Send(uintptr_t controller, uint32_t code, const std::u16string& text) {
  COPYDATASTRUCT data;
  data.dwData = code;
  data.cbData = DWORD(text.size() * 2 + 2);
  data.lpData = const_cast<char16_t*>(text.c_str());
  SendMessageW(reinterpret_cast<HWND>(controller), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

}  // namespace

int Prompt(HWND owner, uint32_t code) {
  const PromptSpec* row = FindPrompt(code);
  if (!row) return 0;
  const SetupState& s = State();
  if (row->fill == PromptFill::ProductAndVersion)
    return Show(owner, *row,
                FormattedText(row->text, {s.ProductName, s.header.VersionLabel}, kMessageCapacity));
  return Show(owner, *row, LoadText(row->text, kMessageCapacity));
}

int PromptWithArgument(HWND owner, std::u16string_view argument, uint32_t code) {
  const PromptSpec* row = FindPrompt(code);
  if (!row) return 0;
  if (row->fill != PromptFill::Argument) return Prompt(owner, code);
  return Show(owner, *row, FormattedText(row->text, {argument}, kMessageCapacity));
}

void ReportStatus(uintptr_t controller, uint32_t code) {
  if (const StatusSpec* row = FindStatus(code)) Send(controller, code, LoadText(row->text, kMessageCapacity));
}

void ReportStatusWithArgument(uintptr_t controller, uint32_t code, std::u16string_view argument) {
  if (const StatusSpec* row = FindStatusWithArgument(code))
    Send(controller, code, FormattedText(row->text, {argument}, kMessageCapacity));
}

}  // namespace setup
