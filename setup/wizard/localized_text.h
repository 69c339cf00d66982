#pragma once
// Texts of the string table in the current language.
#include <cstdint>
#include <initializer_list>
#include <string>

#include "setup/wizard/text_format.h"

namespace setup {

// Buffer sizes of the wizard, in characters with the terminating zero.
inline constexpr int kLineCapacity = 330;  // titles, buttons, lines

// The string with `id` as a buffer of `capacity` characters keeps it; empty
// when the table has no such id.
std::u16string LoadStringId(uint16_t id, int capacity);

// The text `key` in `language`, or in the current language.
std::u16string LoadTextIn(uint16_t key, int language, int capacity = kLineCapacity);
std::u16string LoadText(uint16_t key, int capacity = kLineCapacity);

// The text `key` of the current language used as a format.
std::u16string FormattedText(uint16_t key, std::initializer_list<FormatArgument> args,
                             int capacity = kLineCapacity);

}  // namespace setup
