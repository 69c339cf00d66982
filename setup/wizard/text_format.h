#pragma once
// Fills a message-table format. Formats come from the string table; arguments
// from file names, product names and error codes.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace setup {

using FormatArgument = std::variant<std::u16string_view, int32_t>;

// "%s" takes the next argument as text, "%d" as a signed decimal (either kind
// is written in its own form), "%%" is "%". Any other "%" sequence is kept as
// it stands, and a directive without an argument left writes nothing. The
// result keeps at most capacity - 1 code units (the caller's buffer with its
// terminating zero) and never ends in half a surrogate pair.
std::u16string FormatText(std::u16string_view format, std::initializer_list<FormatArgument> args,
                          int capacity);

// A text cut as a buffer of `capacity` characters cuts it.
std::u16string FitBuffer(std::u16string text, int capacity);

}  // namespace setup
