#pragma once
// The memory a packing or publishing run may use: parsed from "--memory SIZE"
// or taken from the machine's size.
#include <cstdint>
#include <string>

namespace vx {

constexpr uint64_t kMinMemoryBudget = uint64_t(16) << 20;

// "512M", "2G", "65536K", "1048576": bytes, at least kMinMemoryBudget;
// false for anything else.
bool ParseMemorySize(const std::string& text, uint64_t& bytes);

// A quarter of `physical`, at most 2 GiB; 256 MiB when `physical` is unknown (0).
uint64_t MemoryBudgetFor(uint64_t physical);

// The machine's memory in bytes; 0 when it cannot be told.
uint64_t PhysicalMemory();

}  // namespace vx
