#pragma once
// Which wizard pages exist, and the moves between them. Slots 0-11: 1
// language, 2 welcome, 3 licence, 4 destination, 5 program menu, 6 tasks,
// 7 ready, 8 uninstall options, 9 progress, 10 download, 11 finish.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "setup/startup/setup_state.h"
#include "setup/wizard/product_record.h"

namespace setup {

inline constexpr int kPageSlots = 12;
using PageSet = std::array<bool, kPageSlots>;

// Asks an OK/Cancel prompt; true for OK.
using Confirm = std::function<bool(uint32_t code)>;
// Shows a prompt that only informs.
using Inform = std::function<void(uint32_t code)>;

// Page enabling before the wizard opens, with the product record of an
// earlier installation when there is one. May set InstallDir (install mode)
// or clear RegistryRecordOwn (uninstall). False ends the program.
bool EnablePages(SetupState& s, const std::optional<ProductRecord>& record, const Confirm& confirm,
                 const Inform& inform, PageSet& pages);

// The first enabled slot after / the nearest before `current`, or -1.
int NextPage(const PageSet& pages, int current);
int PreviousPage(const PageSet& pages, int current);

}  // namespace setup
