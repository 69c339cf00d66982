#include "base/fixed_field.h"

#include <cstring>

namespace vx {

bool EncodeFixedField(std::u16string_view text, size_t width, uint8_t* out) {
  if (width < 2 || text.size() > FieldCapacity(width)) return false;
  std::memset(out, 0, width);
  for (size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<uint8_t>(text[i]);
    out[2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return true;
}

std::string FieldTooLongError(const std::string& name, size_t characters, size_t width) {
  return name + ": text of " + std::to_string(characters) + " characters exceeds its field (" +
         std::to_string(FieldCapacity(width)) + " characters)";
}

std::u16string DecodeFixedField(const uint8_t* in, size_t width) {
  std::u16string text;
  for (size_t i = 0; i + 1 < width; i += 2) {
    const char16_t c = static_cast<char16_t>(in[i] | (in[i + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

}  // namespace vx
