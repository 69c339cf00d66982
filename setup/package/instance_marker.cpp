#include "setup/package/instance_marker.h"

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
  std::optional<MarkerGroup> result;
  for (const MarkerPair& pair : {kFreshMarker, kUninstallerMarker, kUpdateMarker}) {
    for (size_t pos : FindMarkerPositions(image, size, pair)) {
      if (result || pos + 12 > size) return std::nullopt;
      result = MarkerGroup{pos, pair, vx::ReadLE32(image + pos + 8)};
    }
  }
  return result;
}

void PatchMarkerGroup(uint8_t* image, size_t position, const MarkerPair& pair, uint32_t headerOffset) {
  vx::WriteLE32(image + position, pair.word1);
  vx::WriteLE32(image + position + 4, pair.word2);
  vx::WriteLE32(image + position + 8, headerOffset);
}

}  // namespace package
