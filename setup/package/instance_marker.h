#pragma once
// The 12-byte instance marker group of a program file: marker word 1, marker
// word 2, header offset, at an 8-byte aligned file position.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace package {

struct MarkerPair {
  uint32_t word1, word2;
  bool operator==(const MarkerPair&) const = default;
};

constexpr MarkerPair kFreshMarker{0xEEEEEEEEu, 0xFFFFFFFFu};
constexpr MarkerPair kUninstallerMarker{0x87654321u, 0xAAAAAAAAu};
constexpr MarkerPair kUpdateMarker{0xBBBBBBBBu, 0xDDDDDDDDu};

// A marker word as code uses it. The empty asm makes each word a register
// value of its own: compilers merge two adjacent 32-bit constants into one
// 8-byte immediate (x86_64 GCC does), and such a pair in the program's code
// would be a second marker in the image.
inline uint32_t MarkerWord(uint32_t word) {
  asm("" : "+r"(word));
  return word;
}

enum class Role { FreshPackage, Uninstaller, UpdatePackage };
Role RoleOfMarker(const MarkerPair& pair);  // any other pair: a fresh package
const char* RoleName(Role role);

// Positions of every 8-byte aligned occurrence of `pair` (scanning while the
// position is below size - 8, as the uninstaller writer does).
std::vector<size_t> FindMarkerPositions(const uint8_t* image, size_t size, const MarkerPair& pair);

// The one marker group of a program file, whichever of the three pairs it
// holds: the first aligned occurrence. The file's program part ends at its
// header offset when that lies behind the group (else at the end of the
// file); empty when there is no group or the program part holds another.
struct MarkerGroup {
  size_t position;
  MarkerPair pair;
  uint32_t headerOffset;
};
std::optional<MarkerGroup> FindMarkerGroup(const uint8_t* image, size_t size);

void PatchMarkerGroup(uint8_t* image, size_t position, const MarkerPair& pair, uint32_t headerOffset);

}  // namespace package
