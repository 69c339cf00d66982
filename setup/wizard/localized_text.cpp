#include "setup/wizard/localized_text.h"

#include <windows.h>

#include "setup/startup/setup_state.h"
#include "setup/wizard/message_catalogue.h"

namespace setup {

std::u16string LoadStringId(uint16_t id, int capacity) {
  // A zero buffer size asks for a pointer into the resource itself.
  const wchar_t* text = nullptr;
  const int length = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return {};
  return FitBuffer(std::u16string(text, text + length), capacity);
}

std::u16string LoadTextIn(uint16_t key, int language, int capacity) {
  return LoadStringId(TextId(key, language), capacity);
}

std::u16string LoadText(uint16_t key, int capacity) { return LoadTextIn(key, State().Language, capacity); }

std::u16string FormattedText(uint16_t key, std::initializer_list<FormatArgument> args, int capacity) {
  return FormatText(LoadText(key, capacity), args, capacity);
}

}  // namespace setup
