#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "update/proxy_header.h"

using update::ParseProxyHeader;
using update::ProxyHeader;
using update::ProxyParse;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A version 2 header: command, family, address block (length as given).
Bytes V2(uint8_t versionCommand, uint8_t family, const Bytes& block, int length = -1) {
  Bytes b = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A, versionCommand, family};
  const size_t n = length < 0 ? block.size() : size_t(length);
  b.push_back(uint8_t(n >> 8));
  b.push_back(uint8_t(n));
  b.insert(b.end(), block.begin(), block.end());
  return b;
}

const Bytes kTcp4Block = {192, 0, 2, 7, 10, 0, 0, 1, 0xD4, 0x31, 0x45, 0x88};  // 192.0.2.7:54321 -> 10.0.0.1:17800

}  // namespace

TEST(ProxyHeader, ParsesBothVersionsAndRefusesHostileInput) {
  Bytes tcp6Block(36, 0);
  tcp6Block[0] = 0x20, tcp6Block[1] = 0x01, tcp6Block[2] = 0x0d, tcp6Block[3] = 0xb8, tcp6Block[15] = 5;
  tcp6Block[32] = 0x01, tcp6Block[33] = 0x02;
  const struct {
    const char* name;
    Bytes input;
    ProxyParse result;
    std::string source;
    uint16_t port;
    size_t length;
  } cases[] = {
      {"v1 TCP4", Text("PROXY TCP4 192.0.2.7 10.0.0.1 54321 17800\r\nrest"), ProxyParse::Done, "192.0.2.7", 54321, 43},
      {"v1 TCP6", Text("PROXY TCP6 2001:db8::5 2001:db8::1 258 17800\r\n"), ProxyParse::Done, "2001:db8::5", 258, 46},
      {"v1 UNKNOWN", Text("PROXY UNKNOWN ff::1 whatever\r\n"), ProxyParse::Done, "", 0, 30},
      {"v1 begun", Text("PROXY TCP4 192.0.2.7 10.0"), ProxyParse::NeedMore, "", 0, 0},
      {"v1 signature begun", Text("PRO"), ProxyParse::NeedMore, "", 0, 0},
      {"v1 without end", Text("PROXY TCP4 " + std::string(100, '1')), ProxyParse::Invalid, "", 0, 0},
      {"v1 family mismatch", Text("PROXY TCP4 2001:db8::5 10.0.0.1 1 2\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 bad address", Text("PROXY TCP4 192.0.2.300 10.0.0.1 1 2\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 address with spaces", Text("PROXY TCP4  192.0.2.7 10.0.0.1 1 2\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 port too big", Text("PROXY TCP4 192.0.2.7 10.0.0.1 65536 2\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 port not a number", Text("PROXY TCP4 192.0.2.7 10.0.0.1 -1 2\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 fields missing", Text("PROXY TCP4 192.0.2.7 10.0.0.1 1\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 fields too many", Text("PROXY TCP4 192.0.2.7 10.0.0.1 1 2 3\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 other protocol", Text("PROXY UDP4 192.0.2.7 10.0.0.1 1 2\r\n"), ProxyParse::Invalid, "", 0, 0},
      {"v1 NUL in address", Text(std::string("PROXY TCP4 192.0.2.7\0 10.0.0.1 1 2\r\n", 37)), ProxyParse::Invalid, "", 0, 0},
      {"v2 TCP4", V2(0x21, 0x11, kTcp4Block), ProxyParse::Done, "192.0.2.7", 54321, 28},
      {"v2 TCP6", V2(0x21, 0x21, tcp6Block), ProxyParse::Done, "2001:db8::5", 258, 52},
      {"v2 with TLVs", V2(0x21, 0x11, [] { Bytes b = kTcp4Block; b.insert(b.end(), {0x04, 0, 1, 9}); return b; }()),
       ProxyParse::Done, "192.0.2.7", 54321, 32},
      {"v2 LOCAL", V2(0x20, 0x00, {}), ProxyParse::Done, "", 0, 16},
      {"v2 block begun", V2(0x21, 0x11, Bytes(kTcp4Block.begin(), kTcp4Block.begin() + 5), 12), ProxyParse::NeedMore, "", 0, 0},
      {"v2 header begun", Bytes{0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D, 0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A, 0x21},
       ProxyParse::NeedMore, "", 0, 0},
      {"v2 version 1", V2(0x11, 0x11, kTcp4Block), ProxyParse::Invalid, "", 0, 0},
      {"v2 unknown command", V2(0x22, 0x11, kTcp4Block), ProxyParse::Invalid, "", 0, 0},
      {"v2 block too short", V2(0x21, 0x11, Bytes(8, 1)), ProxyParse::Invalid, "", 0, 0},
      {"v2 TCP6 block too short", V2(0x21, 0x21, kTcp4Block), ProxyParse::Invalid, "", 0, 0},
      {"v2 datagram", V2(0x21, 0x12, kTcp4Block), ProxyParse::Invalid, "", 0, 0},
      {"v2 local socket", V2(0x21, 0x31, Bytes(216, 1)), ProxyParse::Invalid, "", 0, 0},
      {"v2 length huge", V2(0x21, 0x11, kTcp4Block, 0xFFFF), ProxyParse::Invalid, "", 0, 0},
      {"a PDU", Bytes{3, 0, 4, 0, 3, 0, 0, 0}, ProxyParse::Invalid, "", 0, 0},
      {"nothing yet", Bytes{}, ProxyParse::NeedMore, "", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProxyHeader header;
    header.length = 999;
    const ProxyParse result = ParseProxyHeader(c.input.data(), c.input.size(), header);
    EXPECT_EQ(int(result), int(c.result));
    if (result != ProxyParse::Done) continue;
    EXPECT_EQ(header.source, c.source);
    EXPECT_EQ(header.sourcePort, c.port);
    EXPECT_EQ(header.length, c.length);
  }
  // Any cut of a good header is its beginning; the signature alone decides
  // for peers that may not send one.
  const Bytes whole = Text("PROXY TCP4 192.0.2.7 10.0.0.1 54321 17800\r\n");
  for (size_t n = 0; n < whole.size(); ++n) {
    ProxyHeader header;
    EXPECT_EQ(int(ParseProxyHeader(whole.data(), n, header)), int(ProxyParse::NeedMore)) << n;
  }
  const Bytes v2 = V2(0x21, 0x11, kTcp4Block);
  EXPECT_EQ(int(update::ProxySignature(whole.data(), 5)), int(ProxyParse::NeedMore));
  EXPECT_EQ(int(update::ProxySignature(whole.data(), 6)), int(ProxyParse::Done));
  EXPECT_EQ(int(update::ProxySignature(v2.data(), 11)), int(ProxyParse::NeedMore));
  EXPECT_EQ(int(update::ProxySignature(v2.data(), 12)), int(ProxyParse::Done));
  EXPECT_EQ(int(update::ProxySignature(Text("PROXI").data(), 5)), int(ProxyParse::Invalid));
}
