#include "net/gcrypt_init.h"

#include <gcrypt.h>

#include <mutex>

namespace vx {

void InitGcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    gcry_check_version(nullptr);
    gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
    gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
  });
}

}  // namespace vx
