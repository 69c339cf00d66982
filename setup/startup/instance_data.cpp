#include "setup/startup/instance_data.h"

// As built: the fresh-package pair and no package attached.
extern "C" {
__attribute__((used, aligned(8)))
volatile uint32_t g_instanceMarkerGroup[3] = {0xEEEEEEEEu, 0xFFFFFFFFu, 0u};
}
