#pragma once
// The PROXY protocol header (versions 1 and 2) with which a TCP balancer
// names, before a connection's own bytes, the client it forwards.
#include <cstddef>
#include <cstdint>
#include <string>

namespace update {

enum class ProxyParse { NeedMore, Invalid, Done };

struct ProxyHeader {
  std::string source;  // the client's address as the manager writes it; empty: none given (LOCAL, UNKNOWN)
  uint16_t sourcePort = 0;
  size_t length = 0;   // bytes of the header
};

// A header at the start of `data`: Done with `out`, NeedMore while `data` may
// be its beginning, Invalid otherwise.
ProxyParse ParseProxyHeader(const uint8_t* data, size_t size, ProxyHeader& out);

// Whether `data` begins with the signature of either version: Done when it
// does, NeedMore while it is a shorter part of one, Invalid when it is not.
ProxyParse ProxySignature(const uint8_t* data, size_t size);

}  // namespace update
