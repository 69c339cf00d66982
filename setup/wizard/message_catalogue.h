#pragma once
// Which string id holds a text in which language. A text is keyed by its
// English id; the catalogue holds the other three ids of every text the
// program shows.
#include <cstdint>
#include <span>

namespace setup {

struct TextIds {
  uint16_t english = 0;
  uint16_t simplifiedChinese = 0;
  uint16_t traditionalChinese = 0;
  uint16_t japanese = 0;
};

// The four ids of `key`; a key outside the catalogue is a language-independent
// id (10, 12, the language list entries) and stands for itself in every
// language.
TextIds TextIdsOf(uint16_t key);

// The id to load for `key` in `language`: 2, 3 and 4 pick their own id, every
// other value the English one. No fallback between languages.
uint16_t TextId(uint16_t key, int language);

// Every key of the catalogue, in ascending order.
std::span<const uint16_t> CatalogueKeys();

}  // namespace setup
