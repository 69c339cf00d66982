#include "base/vx_assert.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace vx {
namespace {

void DefaultHandler(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
  std::fflush(stderr);
}

std::atomic<AssertHandler> g_handler{&DefaultHandler};

}  // namespace

AssertHandler SetAssertHandler(AssertHandler handler) {
  return g_handler.exchange(handler ? handler : &DefaultHandler);
}

void AssertFailed(const char* expression, const char* file, int line) {
  g_handler.load()(expression, file, line);
  // A handler that returns does not resume the caller.
#ifdef _WIN32
  std::_Exit(3);  // no runtime or debugger dialog
#else
  std::abort();
#endif
}

}  // namespace vx
