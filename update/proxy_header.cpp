#include "update/proxy_header.h"

#include "update/asio_config.h"

#include <cstring>
#include <vector>

namespace update {
namespace {

const char kV1Signature[] = "PROXY ";
const uint8_t kV2Signature[12] = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
constexpr size_t kV1Longest = 107;     // with its CRLF
constexpr size_t kV2Longest = 16 + 1024;  // addresses and a few TLVs

ProxyParse Prefix(const uint8_t* data, size_t size, const uint8_t* signature, size_t length) {
  const size_t n = size < length ? size : length;
  if (n > 0 && std::memcmp(data, signature, n) != 0) return ProxyParse::Invalid;  // data may be null when n is 0
  return n == length ? ProxyParse::Done : ProxyParse::NeedMore;
}

bool ParsePort(const std::string& text, uint16_t& port) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0')) return false;
  unsigned long n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + unsigned(c - '0');
  }
  if (n > 65535) return false;
  port = uint16_t(n);
  return true;
}

// "PROXY TCP4 src dst sport dport\r\n", or "PROXY UNKNOWN ...\r\n".
ProxyParse ParseV1(const uint8_t* data, size_t size, ProxyHeader& out) {
  const char* text = reinterpret_cast<const char*>(data);
  const size_t scan = size < kV1Longest ? size : kV1Longest;
  size_t end = 0;
  while (end + 1 < scan && !(text[end] == '\r' && text[end + 1] == '\n')) ++end;
  if (end + 1 >= scan) return size < kV1Longest ? ProxyParse::NeedMore : ProxyParse::Invalid;
  const std::string line(text, end);
  for (char c : line)  // addresses, ports and words: no byte a text parser could stop at
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == ':' ||
          c == ' '))
      return ProxyParse::Invalid;
  std::vector<std::string> fields;
  for (size_t at = 0;;) {
    const size_t space = line.find(' ', at);
    fields.push_back(line.substr(at, space - at));
    if (space == std::string::npos) break;
    at = space + 1;
  }
  ProxyHeader header;
  header.length = end + 2;
  if (fields.size() >= 2 && fields[1] == "UNKNOWN") {
    out = header;
    return ProxyParse::Done;
  }
  if (fields.size() != 6 || (fields[1] != "TCP4" && fields[1] != "TCP6")) return ProxyParse::Invalid;
  uint16_t destinationPort = 0;
  std::error_code e1, e2;
  const auto source = asio::ip::make_address(fields[2], e1);
  const auto destination = asio::ip::make_address(fields[3], e2);
  if (e1 || e2 || source.is_v4() != (fields[1] == "TCP4") || destination.is_v4() != source.is_v4() ||
      !ParsePort(fields[4], header.sourcePort) || !ParsePort(fields[5], destinationPort))
    return ProxyParse::Invalid;
  header.source = source.to_string();
  out = header;
  return ProxyParse::Done;
}

// 12-byte signature, version and command, family, big-endian length, addresses.
ProxyParse ParseV2(const uint8_t* data, size_t size, ProxyHeader& out) {
  if (size < 16) return ProxyParse::NeedMore;
  const unsigned version = data[12] >> 4, command = data[12] & 0x0F, family = data[13];
  const size_t length = 16 + (size_t(data[14]) << 8 | data[15]);
  if (version != 2 || command > 1 || length > kV2Longest) return ProxyParse::Invalid;
  if (size < length) return ProxyParse::NeedMore;
  ProxyHeader header;
  header.length = length;
  const uint8_t* address = data + 16;
  if (command == 0 || family == 0x00) {  // LOCAL, or no address: the balancer's own
    out = header;
    return ProxyParse::Done;
  }
  if (family == 0x11 && length >= 16 + 12) {
    asio::ip::address_v4::bytes_type bytes;
    std::memcpy(bytes.data(), address, 4);
    header.source = asio::ip::address_v4(bytes).to_string();
    header.sourcePort = uint16_t(address[8] << 8 | address[9]);
  } else if (family == 0x21 && length >= 16 + 36) {
    asio::ip::address_v6::bytes_type bytes;
    std::memcpy(bytes.data(), address, 16);
    header.source = asio::ip::address_v6(bytes).to_string();
    header.sourcePort = uint16_t(address[32] << 8 | address[33]);
  } else {
    return ProxyParse::Invalid;  // a datagram or local-socket family, or too short
  }
  out = header;
  return ProxyParse::Done;
}

}  // namespace

ProxyParse ProxySignature(const uint8_t* data, size_t size) {
  const ProxyParse v1 = Prefix(data, size, reinterpret_cast<const uint8_t*>(kV1Signature), 6);
  return v1 != ProxyParse::Invalid ? v1 : Prefix(data, size, kV2Signature, sizeof kV2Signature);
}

ProxyParse ParseProxyHeader(const uint8_t* data, size_t size, ProxyHeader& out) {
  if (Prefix(data, size, reinterpret_cast<const uint8_t*>(kV1Signature), 6) == ProxyParse::Done)
    return ParseV1(data, size, out);
  if (Prefix(data, size, kV2Signature, sizeof kV2Signature) == ProxyParse::Done) return ParseV2(data, size, out);
  return ProxySignature(data, size) == ProxyParse::NeedMore ? ProxyParse::NeedMore : ProxyParse::Invalid;
}

}  // namespace update
