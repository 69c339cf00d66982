#pragma once
// A program image copied out of a signed package carries the package's
// certificate-table entry, which points past the copy's end, and a checksum of
// the signed file. The copy gets neither.
#include <cstdint>
#include <vector>

namespace setup {

// Clears the PE security-directory entry and the optional header's checksum
// (0: not checked). False, the image unchanged, when it is not a PE image
// whose headers lie inside it.
bool ClearImageSignature(std::vector<uint8_t>& image);

}  // namespace setup
