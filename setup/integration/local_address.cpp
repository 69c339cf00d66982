#include "setup/integration/local_address.h"

#include <winsock2.h>

namespace setup {

std::u16string HostNameAddress::LocalAddress() {
  std::u16string address = u"127.0.0.1";
  WSADATA data;
  if (WSAStartup(MAKEWORD(1, 1), &data) != 0) return address;
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0) {
    const hostent* host = gethostbyname(name);
    if (host && host->h_addrtype == AF_INET && host->h_addr_list && host->h_addr_list[0]) {
      in_addr a;
      memcpy(&a, host->h_addr_list[0], sizeof a);
      const char* text = inet_ntoa(a);
      if (text) address.assign(text, text + strlen(text));
    }
  }
  WSACleanup();
  return address;
}

}  // namespace setup
