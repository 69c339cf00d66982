#include "setup/package/instance_marker.h"

#include <algorithm>

#include "base/le_int.h"

namespace package {

Role RoleOfMarker(const MarkerPair& pair) {
  if (pair == kUninstallerMarker) return Role::Uninstaller;
  if (pair == kUpdateMarker) return Role::UpdatePackage;
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
  std::vector<MarkerGroup> found;
  for (const MarkerPair& pair : {kFreshMarker, kUninstallerMarker, kUpdateMarker})
    for (size_t pos : FindMarkerPositions(image, size, pair))
      found.push_back({pos, pair, pos + 12 <= size ? vx::ReadLE32(image + pos + 8) : 0});
  if (found.empty()) return std::nullopt;
  std::sort(found.begin(), found.end(),
            [](const MarkerGroup& a, const MarkerGroup& b) { return a.position < b.position; });
  // The first group is the program's; when it carries a header offset behind
  // itself, what follows that offset is the appended block, whose data may
  // hold the same bytes.
  const MarkerGroup& group = found.front();
  if (group.position + 12 > size) return std::nullopt;
  const uint64_t programEnd =
      group.headerOffset >= group.position + 12 && group.headerOffset <= size ? group.headerOffset : size;
  for (size_t i = 1; i < found.size(); ++i)
    if (found[i].position < programEnd) return std::nullopt;
  return group;
}

void PatchMarkerGroup(uint8_t* image, size_t position, const MarkerPair& pair, uint32_t headerOffset) {
  vx::WriteLE32(image + position, pair.word1);
  vx::WriteLE32(image + position + 4, pair.word2);
  vx::WriteLE32(image + position + 8, headerOffset);
}

}  // namespace package
