#pragma once
// The standard prompts and the driven-install status reports, by message code.
#include <cstdint>

namespace setup {

// Message-box styles, with the values of the Win32 MB_ flags.
namespace box {
inline constexpr uint32_t kOk = 0x0, kOkCancel = 0x1, kAbortRetryIgnore = 0x2, kYesNo = 0x4,
                          kRetryCancel = 0x5;
inline constexpr uint32_t kIconError = 0x10, kIconQuestion = 0x20, kIconWarning = 0x30,
                          kIconInformation = 0x40;
inline constexpr uint32_t kSecondDefault = 0x100;
}  // namespace box

// What fills the "%s" of a prompt text.
enum class PromptFill : uint8_t { None, ProductAndVersion, Argument };

struct PromptSpec {
  uint32_t code;
  uint16_t caption;  // text keys
  uint16_t text;
  PromptFill fill;
  uint32_t style;  // box:: flags
};

struct StatusSpec {
  uint32_t code;
  uint16_t text;  // text key
};

// Caption buffer of a prompt: 10 characters, so at most 9 are shown.
inline constexpr int kCaptionCapacity = 10;
// Text buffer of prompts and status reports.
inline constexpr int kMessageCapacity = 800;

// nullptr for a code that is not in the table.
const PromptSpec* FindPrompt(uint32_t code);
const StatusSpec* FindStatus(uint32_t code);
const StatusSpec* FindStatusWithArgument(uint32_t code);

}  // namespace setup
