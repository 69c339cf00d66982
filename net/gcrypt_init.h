#pragma once

namespace vx {

// Initialises libgcrypt once per process (no secure memory); safe from any thread.
void InitGcrypt();

}  // namespace vx
