#include "setup/wizard/message_catalogue.h"

#include <algorithm>
#include <array>

namespace setup {
namespace {

// How the three other ids of a text are found. The regular families compute
// some of them from the English id e.
enum class Family : uint8_t {
  Listed,        // all four ids listed
  GroupOfFour,   // e - 2, e - 1, e + 1
  Triplet,       // e - 2, e - 1, Japanese listed
  ArgumentLine,  // Japanese - 577, e - 1, Japanese listed
};

struct Entry {
  uint16_t english;
  Family family;
  uint16_t simplifiedChinese, traditionalChinese, japanese;  // as far as listed
};

constexpr Entry L(uint16_t e, uint16_t zh, uint16_t tw, uint16_t jp) { return {e, Family::Listed, zh, tw, jp}; }
constexpr Entry Four(uint16_t e) { return {e, Family::GroupOfFour, 0, 0, 0}; }
constexpr Entry Three(uint16_t e, uint16_t jp) { return {e, Family::Triplet, 0, 0, jp}; }
constexpr Entry Arg(uint16_t e, uint16_t jp) { return {e, Family::ArgumentLine, 0, 0, jp}; }

// Sorted by English id.
constexpr Entry kCatalogue[] = {
    L(154, 152, 153, 725), L(159, 157, 158, 726), L(161, 8, 160, 593),   L(163, 2, 162, 587),
    L(165, 3, 164, 588),   L(167, 1, 166, 586),   L(172, 42, 168, 624),  L(174, 43, 173, 625),
    L(176, 4, 175, 589),   L(178, 18, 177, 600),  L(180, 19, 179, 601),  L(251, 20, 250, 602),
    L(253, 21, 252, 603),  L(255, 22, 254, 604),  L(257, 23, 256, 605),  L(259, 24, 258, 606),
    L(261, 25, 260, 607),  L(263, 5, 262, 590),   L(265, 26, 264, 608),  L(267, 27, 266, 609),
    L(269, 6, 268, 591),   L(271, 28, 270, 610),  L(273, 29, 272, 611),  L(275, 34, 274, 616),
    L(277, 35, 276, 617),  L(279, 40, 278, 622),  L(281, 41, 280, 623),  L(283, 30, 282, 612),
    L(285, 31, 284, 613),  L(287, 38, 286, 620),  L(289, 39, 288, 621),  L(291, 7, 290, 592),
    L(293, 46, 292, 628),  L(295, 47, 294, 629),  L(297, 44, 296, 626),  L(299, 45, 298, 627),
    L(301, 32, 300, 614),  L(303, 33, 302, 615),  L(305, 36, 304, 618),  L(307, 37, 306, 619),
    L(309, 69, 308, 646),  L(311, 70, 310, 647),  L(313, 71, 312, 648),  L(315, 72, 314, 649),
    L(317, 73, 316, 650),  L(319, 74, 318, 651),  L(321, 61, 320, 638),  L(323, 62, 322, 639),
    L(325, 63, 324, 640),  L(327, 65, 326, 642),  L(329, 66, 328, 643),  L(331, 64, 330, 641),
    L(333, 147, 332, 724), L(335, 75, 334, 652),  L(337, 76, 336, 653),  L(339, 77, 338, 654),
    L(341, 78, 340, 655),  L(343, 79, 342, 656),  L(345, 80, 344, 657),  L(347, 81, 346, 658),
    L(353, 58, 352, 635),  L(355, 59, 354, 636),  L(357, 60, 356, 637),  L(359, 67, 358, 644),
    L(363, 11, 362, 585),  L(365, 9, 364, 594),   Arg(367, 703),         Arg(369, 693),
    Arg(371, 704),         L(373, 130, 372, 707), Arg(375, 694),         Arg(377, 695),
    Arg(379, 699),         Arg(381, 697),
    L(383, 128, 382, 705), L(385, 121, 384, 698), L(387, 129, 386, 706),
    L(389, 124, 388, 701), L(391, 93, 390, 670),  Arg(393, 696),         L(395, 15, 394, 597),
    Arg(397, 714),         Arg(399, 717),         Arg(401, 713),         L(403, 138, 402, 715),
    L(405, 141, 404, 718), L(407, 89, 406, 666),  L(409, 82, 408, 659),  L(411, 83, 410, 660),
    L(413, 84, 412, 661),  L(415, 87, 414, 664),  L(417, 88, 416, 665),  L(419, 85, 418, 662),
    L(421, 86, 420, 663),  L(423, 90, 422, 667),  L(425, 94, 424, 671),  L(427, 97, 426, 674),
    L(433, 104, 432, 681), L(435, 105, 434, 682), L(437, 91, 436, 668),  L(439, 107, 438, 684),
    L(441, 110, 440, 687), L(443, 92, 442, 669),  L(447, 112, 446, 689), L(449, 113, 448, 690),
    L(451, 114, 450, 691), L(463, 108, 462, 685), L(465, 109, 464, 686), L(467, 131, 466, 708),
    L(469, 132, 468, 709), L(471, 133, 470, 710), L(475, 95, 474, 672),  L(477, 98, 476, 675),
    L(479, 101, 478, 678), L(481, 103, 480, 680), L(483, 115, 482, 692), L(485, 125, 484, 702),
    L(487, 134, 486, 711), Arg(489, 673),         Arg(491, 676),         Three(494, 727),
    Three(497, 728),       Three(500, 729),       Three(503, 730),       Three(506, 731),
    Three(509, 732),       Three(512, 733),       Three(515, 734),       Four(760),
    Four(764),             Four(768),             Four(772),             Four(776),
    Four(780),             Four(784),             Four(788),             Four(792),
    Four(796),
};

constexpr auto kKeys = [] {
  std::array<uint16_t, std::size(kCatalogue)> keys{};
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = kCatalogue[i].english;
  return keys;
}();

static_assert(std::is_sorted(kKeys.begin(), kKeys.end()));

TextIds Resolve(const Entry& e) {
  const uint16_t k = e.english;
  switch (e.family) {
    case Family::Listed: return {k, e.simplifiedChinese, e.traditionalChinese, e.japanese};
    case Family::GroupOfFour: return {k, uint16_t(k - 2), uint16_t(k - 1), uint16_t(k + 1)};
    case Family::Triplet: return {k, uint16_t(k - 2), uint16_t(k - 1), e.japanese};
    case Family::ArgumentLine: return {k, uint16_t(e.japanese - 577), uint16_t(k - 1), e.japanese};
  }
  return {k, k, k, k};
}

}  // namespace

TextIds TextIdsOf(uint16_t key) {
  const auto it = std::lower_bound(kKeys.begin(), kKeys.end(), key);
  if (it == kKeys.end() || *it != key) return {key, key, key, key};
  return Resolve(kCatalogue[it - kKeys.begin()]);
}

uint16_t TextId(uint16_t key, int language) {
  const TextIds ids = TextIdsOf(key);
  switch (language) {
    case 2: return ids.simplifiedChinese;
    case 3: return ids.traditionalChinese;
    case 4: return ids.japanese;
    default: return ids.english;
  }
}

std::span<const uint16_t> CatalogueKeys() { return kKeys; }

}  // namespace setup
