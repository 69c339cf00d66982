#pragma once
// Command-line items quoted so that CommandLineToArgvW and the runtime's
// argument vector give them back unchanged.
#include <string>
#include <string_view>

namespace vx {

// `item` in double quotes; backslashes before a quote or at the end are
// doubled and inner quotes escaped, so "C:\" stays one item, C:\.
std::u16string QuoteArgument(std::u16string_view item);

}  // namespace vx
