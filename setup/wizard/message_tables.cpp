#include "setup/wizard/message_tables.h"

#include <algorithm>
#include <span>

namespace setup {
namespace {

using namespace box;

constexpr uint16_t kPrompt = 423, kError = 437, kWarning = 443;

constexpr PromptSpec kPrompts[] = {
    {0x100, kPrompt, 425, PromptFill::ProductAndVersion, kIconWarning | kYesNo | kSecondDefault},
    {0x10101, kPrompt, 427, PromptFill::None, kIconInformation | kOk},
    {0x40001, kPrompt, 433, PromptFill::None, kIconQuestion | kOkCancel},
    {0x40002, kPrompt, 435, PromptFill::None, kIconQuestion | kOkCancel},
    {0x40004, kError, 439, PromptFill::None, kIconError | kOk},
    {0x40102, kError, 441, PromptFill::None, kIconError | kOk},
    {0x40104, kWarning, 447, PromptFill::None, kIconWarning | kOk},
    {0x40105, kWarning, 449, PromptFill::None, kIconWarning | kOk},
    {0x40106, kPrompt, 451, PromptFill::None, kIconError | kOk},
    {0x40005, kWarning, 463, PromptFill::Argument, kIconWarning | kYesNo | kSecondDefault},
    {0x40101, kError, 465, PromptFill::Argument, kIconError | kRetryCancel},
    {0x50106, kError, 373, PromptFill::Argument, kIconError | kOk},
    {0x50107, kError, 467, PromptFill::Argument, kIconError | kOk},
    {0x50108, kError, 469, PromptFill::Argument, kIconError | kAbortRetryIgnore},
    {0x50109, kError, 471, PromptFill::Argument, kIconError | kOk},
};

constexpr StatusSpec kStatus[] = {
    {0, 391},        {0x10000, 475}, {0x10101, 427}, {0x20000, 477}, {0x30000, 479},
    {0x40000, 481},  {0x40102, 441}, {0x50000, 483}, {0x50006, 385}, {0x50009, 389},
    {0x50101, 485},  {0x50104, 383}, {0x50105, 387}, {0x5010A, 487},
};

constexpr StatusSpec kStatusWithArgument[] = {
    {0x10001, 489}, {0x20001, 491}, {0x50001, 369}, {0x50002, 375}, {0x50003, 377},
    {0x50004, 393}, {0x50005, 381}, {0x50102, 367}, {0x50103, 371},
};

template <typename T>
const T* Find(std::span<const T> table, uint32_t code) {
  const auto it = std::find_if(table.begin(), table.end(), [code](const T& e) { return e.code == code; });
  return it == table.end() ? nullptr : &*it;
}

}  // namespace

const PromptSpec* FindPrompt(uint32_t code) { return Find<PromptSpec>(kPrompts, code); }
const StatusSpec* FindStatus(uint32_t code) { return Find<StatusSpec>(kStatus, code); }
const StatusSpec* FindStatusWithArgument(uint32_t code) {
  return Find<StatusSpec>(kStatusWithArgument, code);
}

}  // namespace setup
