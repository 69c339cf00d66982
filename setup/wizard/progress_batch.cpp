#include "setup/wizard/progress_batch.h"

#include <utility>

namespace setup {

void ProgressBatch::AddLine(std::u16string line) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pending.lines.push_back(std::move(line));
}

void ProgressBatch::SetPosition(uint32_t position) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pending.position = position;
  m_pending.steps = 0;
}

void ProgressBatch::Advance(uint32_t steps) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_pending.steps += steps;
}

ProgressBatch::Taken ProgressBatch::Take() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return std::exchange(m_pending, Taken{});
}

}  // namespace setup
