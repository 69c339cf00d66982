#include "setup/wizard/error_messages.h"

namespace setup {

uint16_t NetworkErrorText(int errorCode, bool duringDownload) {
  switch (errorCode) {
    case 0:
    case 10038:  // WSAENOTSOCK: a socket closed on purpose
      return 0;
    case 10000:
      return 796;
    case 10051:  // WSAENETUNREACH
    case 10060:  // WSAETIMEDOUT
      return duringDownload ? 780 : 772;
    case 10061:  // WSAECONNREFUSED
      return duringDownload ? 784 : 776;
    default:
      return 792;
  }
}

}  // namespace setup
