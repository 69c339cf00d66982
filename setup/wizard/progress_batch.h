#pragma once
// What a run has shown on the progress page since the page last took it: the
// run thread adds detail lines and bar moves without waiting for the page,
// which takes them in batches (on a timer, before a prompt, at the run's end)
// and repaints once per batch instead of once per line.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace setup {

class ProgressBatch {
 public:
  struct Taken {
    std::vector<std::u16string> lines;  // in order; the last is the status line
    std::optional<uint32_t> position;   // set first,
    uint32_t steps = 0;                 // then moved on by this much
    bool Empty() const { return lines.empty() && !position && steps == 0; }
  };

  void AddLine(std::u16string line);
  void SetPosition(uint32_t position);
  void Advance(uint32_t steps);
  Taken Take();

 private:
  std::mutex m_mutex;
  Taken m_pending;
};

}  // namespace setup
