#pragma once
// Fixed-width, zero-filled UTF-16LE text fields of records and file formats.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vx {

// Field widths in bytes used by the formats.
constexpr size_t kField80 = 80;
constexpr size_t kField200 = 200;
constexpr size_t kField520 = 520;
constexpr size_t kField800 = 800;

// Characters a field of `width` bytes holds besides its terminator.
constexpr size_t FieldCapacity(size_t width) { return width / 2 - 1; }

// Writes `text` zero-terminated and zero-filled into `width` bytes at `out`.
// Returns false (and writes nothing) when the text does not fit.
bool EncodeFixedField(std::u16string_view text, size_t width, uint8_t* out);

// "<name>: text of N characters exceeds its field (M characters)"
std::string FieldTooLongError(const std::string& name, size_t characters, size_t width);

// Reads a field of `width` bytes: up to the first NUL, or the whole width when
// there is none.
std::u16string DecodeFixedField(const uint8_t* in, size_t width);

}  // namespace vx
