#include "setup/package/instance_marker.h"

#include "base/le_int.h"

namespace package {
namespace {

// Compares with the words themselves, each made opaque: taking a pair
// constant by reference would place a copy of it in the program's data, and
// a merged 8-byte immediate one in its code, where the uninstaller writer and
// the packager would find a second marker.
bool Matches(const MarkerPair& at, uint32_t word1, uint32_t word2) {
  return at.word1 == word1 && at.word2 == word2;
}
#define VX_MARKER_WORDS(pair) MarkerWord(pair.word1), MarkerWord(pair.word2)

}  // namespace

Role RoleOfMarker(const MarkerPair& pair) {
  if (Matches(pair, VX_MARKER_WORDS(kUninstallerMarker))) return Role::Uninstaller;
  if (Matches(pair, VX_MARKER_WORDS(kUpdateMarker))) return Role::UpdatePackage;
  return Role::FreshPackage;
}

const char* RoleName(Role role) {
  switch (role) {
    case Role::FreshPackage: return "fresh package";
    case Role::Uninstaller: return "uninstaller";
    case Role::UpdatePackage: return "update package";
  }
  return "?";
}

std::vector<size_t> FindMarkerPositions(const uint8_t* image, size_t size, const MarkerPair& pair) {
  std::vector<size_t> found;
  for (size_t pos = 0; size >= 8 && pos < size - 8; pos += 8) {
    if (vx::ReadLE32(image + pos) == pair.word1 && vx::ReadLE32(image + pos + 4) == pair.word2)
      found.push_back(pos);
  }
  return found;
}

std::optional<MarkerGroup> FindMarkerGroup(const uint8_t* image, size_t size) {
  // One pass comparing with each pair in turn: the program image must hold
  // the marker words only in its own group, never in a table of constants.
  std::optional<MarkerGroup> group;
  uint64_t programEnd = size;
  for (size_t pos = 0; size >= 8 && pos < size - 8 && pos < programEnd; pos += 8) {
    const MarkerPair at{vx::ReadLE32(image + pos), vx::ReadLE32(image + pos + 4)};
    if (!Matches(at, VX_MARKER_WORDS(kFreshMarker)) && !Matches(at, VX_MARKER_WORDS(kUninstallerMarker)) &&
        !Matches(at, VX_MARKER_WORDS(kUpdateMarker)))
      continue;
    if (group || pos + 12 > size) return std::nullopt;
    group = MarkerGroup{pos, at, vx::ReadLE32(image + pos + 8)};
    // When the group carries a header offset behind itself, what follows that
    // offset is the appended block, whose data may hold the same bytes.
    if (group->headerOffset >= pos + 12 && group->headerOffset <= size) programEnd = group->headerOffset;
  }
  return group;
}

void PatchMarkerGroup(uint8_t* image, size_t position, const MarkerPair& pair, uint32_t headerOffset) {
  vx::WriteLE32(image + position, MarkerWord(pair.word1));
  vx::WriteLE32(image + position + 4, MarkerWord(pair.word2));
  vx::WriteLE32(image + position + 8, headerOffset);
}

}  // namespace package
