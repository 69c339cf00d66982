#pragma once
// This computer's network address, as written into server configuration.
#include <string>

namespace setup {

class LocalAddressSource {
 public:
  virtual ~LocalAddressSource() = default;
  virtual std::u16string LocalAddress() = 0;
};

// The first IPv4 address of the host name; "127.0.0.1" when it does not
// resolve.
class HostNameAddress : public LocalAddressSource {
 public:
  std::u16string LocalAddress() override;
};

}  // namespace setup
