#pragma once
// mkpackage's command line: usage text and checked numeric options.
#include <optional>
#include <string>

namespace mkpackage {

extern const char kUsage[];
extern const char kVersion[];

// A decimal number in [low, high] with nothing around it; empty otherwise.
std::optional<unsigned> ParseBounded(const std::string& text, unsigned low, unsigned high);

}  // namespace mkpackage
