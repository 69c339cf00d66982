#pragma once
// Assertion guards of the maker's libraries: a failed guard names the
// expression, the source file and the line, then goes to the installed handler
// (by default: print and abort). Tests install a handler that throws.

namespace vx {

using AssertHandler = void (*)(const char* expression, const char* file, int line);

// Returns the previous handler.
AssertHandler SetAssertHandler(AssertHandler handler);
[[noreturn]] void AssertFailed(const char* expression, const char* file, int line);

}  // namespace vx

#define VX_ASSERT(expr) \
  ((expr) ? static_cast<void>(0) : ::vx::AssertFailed(#expr, __FILE__, __LINE__))
