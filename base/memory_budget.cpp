#include "base/memory_budget.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vx {

bool ParseMemorySize(const std::string& text, uint64_t& bytes) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  const unsigned long long n = std::strtoull(text.c_str(), &end, 10);
  const std::string unit = end;
  const int shift = unit.empty() ? 0 : unit == "K" || unit == "k" ? 10 : unit == "M" || unit == "m" ? 20
                  : unit == "G" || unit == "g" ? 30 : -1;
  if (shift < 0 || n > (uint64_t(1) << (62 - shift))) return false;
  bytes = uint64_t(n) << shift;
  return bytes >= kMinMemoryBudget;
}

uint64_t MemoryBudgetFor(uint64_t physical) {
  return physical == 0 ? uint64_t(256) << 20 : std::min(physical / 4, uint64_t(2) << 30);
}

uint64_t PhysicalMemory() {
#ifdef _WIN32
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
#else
  const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
#endif
}

}  // namespace vx
