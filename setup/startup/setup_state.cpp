#include "setup/startup/setup_state.h"

namespace setup {

SetupState& State() {
  static SetupState state;
  return state;
}

}  // namespace setup
