#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/le_int.h"
#include "net/pdu_frame.h"
#include "net/qr_base_net_codec.h"

using Bytes = std::vector<uint8_t>;

namespace {

struct Delivered {
  uint16_t type;
  Bytes body;
};

Bytes Pdu(uint16_t type, const Bytes& body) {
  Bytes out;
  EXPECT_TRUE(net::FramePdu(type, body.data(), body.size(), out));
  return out;
}

Bytes Pattern(size_t n, uint8_t seed = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 3));
  return b;
}

}  // namespace

TEST(PduFrame, HeaderAndLimits) {
  EXPECT_EQ(Pdu(0x1234, {9, 8}), (Bytes{0x34, 0x12, 2, 0, 9, 8}));
  EXPECT_EQ(net::PduTotal(65531), 65535);
  const Bytes max(65531, 0xAB);
  Bytes out;
  ASSERT_TRUE(net::FramePdu(1, max.data(), max.size(), out));
  EXPECT_EQ(out.size(), 65535u);
  out.clear();
  const Bytes over(65532, 0);
  EXPECT_FALSE(net::FramePdu(1, over.data(), over.size(), out));
  EXPECT_TRUE(out.empty());
}

TEST(PduCutter, DeliversFromAnyChunking) {
  std::mt19937 rng(7);
  Bytes stream;
  std::vector<Delivered> sent;
  for (int i = 0; i < 300; ++i) {
    Delivered d{static_cast<uint16_t>(rng()), Pattern(rng() % (i % 50 == 0 ? 65531 : 300), i)};
    const Bytes p = Pdu(d.type, d.body);
    stream.insert(stream.end(), p.begin(), p.end());
    sent.push_back(std::move(d));
  }
  for (int round = 0; round < 5; ++round) {
    std::vector<Delivered> got;
    net::PduCutter cutter([&](uint16_t t, const uint8_t* b, uint16_t n) { got.push_back({t, Bytes(b, b + n)}); });
    for (size_t at = 0; at < stream.size();) {
      const size_t n = std::min<size_t>(stream.size() - at, round == 0 ? 1 : 1 + rng() % 5000);
      ASSERT_TRUE(cutter.Feed(&stream[at], n));
      at += n;
    }
    ASSERT_EQ(got.size(), sent.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].type, sent[i].type);
      ASSERT_EQ(got[i].body, sent[i].body);
    }
    EXPECT_EQ(cutter.Buffered(), 0u);
  }
}

TEST(PduCutter, TwoInOneReadAndWantedBytes) {
  std::vector<uint16_t> types;
  net::PduCutter cutter([&](uint16_t t, const uint8_t*, uint16_t) { types.push_back(t); });
  EXPECT_EQ(cutter.WantedBytes(), 4u);
  Bytes two = Pdu(1, {1, 2, 3});
  const Bytes second = Pdu(2, {});
  two.insert(two.end(), second.begin(), second.end());
  const Bytes partial = Pdu(3, Bytes(10, 0));
  two.insert(two.end(), partial.begin(), partial.begin() + 6);
  ASSERT_TRUE(cutter.Feed(two.data(), two.size()));
  EXPECT_EQ(types, (std::vector<uint16_t>{1, 2}));
  EXPECT_EQ(cutter.WantedBytes(), 14u);
  ASSERT_TRUE(cutter.Feed(partial.data() + 6, partial.size() - 6));
  EXPECT_EQ(types.size(), 3u);
  EXPECT_EQ(cutter.WantedBytes(), 4u);
}

TEST(PduCutter, UnframableLengthBreaksTheStream) {
  int delivered = 0;
  net::PduCutter cutter([&](uint16_t, const uint8_t*, uint16_t) { ++delivered; });
  const Bytes bad = {1, 0, 0xFD, 0xFF, 0, 0, 0, 0};  // length 65533: total wraps to 1
  EXPECT_FALSE(cutter.Feed(bad.data(), bad.size()));
  EXPECT_TRUE(cutter.Broken());
  const Bytes good = Pdu(5, {1});
  EXPECT_FALSE(cutter.Feed(good.data(), good.size()));
  EXPECT_EQ(delivered, 0);
}

TEST(QrBaseNet, ConnectionKeyFromTable) {
  uint8_t a[32], b[32];
  net::ConnectionCipher::DefaultKey(a);
  net::ConnectionCipher::DefaultKey(b);
  EXPECT_EQ(Bytes(a, a + 32), Bytes(b, b + 32));
  net::ConnectionCipher c;
  EXPECT_TRUE(c.ok());
}

TEST(QrBaseNet, WrapperRoundTripsForEveryFlag) {
  net::ConnectionCipher sender, receiver;
  for (uint16_t flags = 0; flags < 4; ++flags) {
    for (size_t size : {size_t{0}, size_t{1}, size_t{99}, size_t{100}, size_t{4000}, size_t{65531}}) {
      const Bytes body = Pattern(size, static_cast<uint8_t>(flags));
      Bytes wire;
      if (!net::EncodePdu(0x77, body.data(), body.size(), flags, &sender, wire)) {
        // Padding an almost full PDU for encryption outgrows the wrapper.
        EXPECT_TRUE(flags & net::kFlagEncrypted) << size;
        EXPECT_GT(size, 65520u);
        continue;
      }
      const bool wrapped = size > 0 && (flags & 1 || (flags & 2 && size >= 100));
      EXPECT_EQ(vx::ReadLE16(wire.data()), wrapped ? 0 : 0x77);
      Bytes inner;
      bool dropped = true;
      ASSERT_EQ(net::DecodePdu(wire.data(), wire.size(), &receiver, inner, dropped), 0) << flags << " " << size;
      EXPECT_FALSE(dropped);
      EXPECT_EQ(inner, Pdu(0x77, body));
    }
  }
}

TEST(QrBaseNet, SmallBodiesAreNeverCompressed) {
  const Bytes body(99, 0);
  Bytes wire;
  ASSERT_TRUE(net::EncodePdu(3, body.data(), body.size(), net::kFlagCompressed, nullptr, wire));
  EXPECT_EQ(wire, Pdu(3, body));
  const Bytes big(100, 0);
  ASSERT_TRUE(net::EncodePdu(3, big.data(), big.size(), net::kFlagCompressed, nullptr, wire));
  EXPECT_EQ(vx::ReadLE16(&wire[0]), 0);
  EXPECT_EQ(vx::ReadLE16(&wire[4]), net::kFlagCompressed);
  EXPECT_EQ(vx::ReadLE32(&wire[6]), 104u);  // stated inner length
  EXPECT_LT(wire.size(), 104u);
  // Encryption without a cipher fails the send.
  EXPECT_FALSE(net::EncodePdu(3, big.data(), big.size(), net::kFlagEncrypted, nullptr, wire));
}

TEST(QrBaseNet, BadWrappersAreRejected) {
  const Bytes body(500, 'x');
  Bytes wire, inner;
  bool dropped = false;
  ASSERT_TRUE(net::EncodePdu(3, body.data(), body.size(), net::kFlagCompressed, nullptr, wire));
  Bytes wrong = wire;
  vx::WriteLE32(&wrong[6], 503);  // stated length differs from the data
  EXPECT_EQ(net::DecodePdu(wrong.data(), wrong.size(), nullptr, inner, dropped), net::kErrorWrapper);
  // Flags 0: dropped, not an error.
  const Bytes empty = {0, 0, 2, 0, 0, 0};
  EXPECT_EQ(net::DecodePdu(empty.data(), empty.size(), nullptr, inner, dropped), 0);
  EXPECT_TRUE(dropped);
  // Encrypted payload not a multiple of 16.
  net::ConnectionCipher c;
  ASSERT_TRUE(net::EncodePdu(3, body.data(), body.size(), net::kFlagEncrypted, &c, wire));
  Bytes cut(wire.begin(), wire.end() - 1);
  vx::WriteLE16(&cut[2], static_cast<uint16_t>(cut.size() - 4));
  EXPECT_EQ(net::DecodePdu(cut.data(), cut.size(), &c, inner, dropped), net::kErrorWrapper);
  // Another key decrypts to garbage that fails the inner header check or is
  // at least not the original.
  net::ConnectionCipher other;
  uint8_t key[32] = {1};
  other.SetDecryptKey(key);
  const int r = net::DecodePdu(wire.data(), wire.size(), &other, inner, dropped);
  EXPECT_TRUE(r == net::kErrorWrapper || inner != Pdu(3, body));
}

TEST(QrBaseNet, ScrambledDatagrams) {
  for (uint16_t type : {0x0001, 0x1235, 0x00FF, 0x0107}) {
    const Bytes pdu = Pdu(type, Pattern(37));
    const Bytes datagram = net::ScrambleDatagram(pdu.data(), pdu.size());
    EXPECT_EQ(vx::ReadLE16(datagram.data()), 0xF000);
    EXPECT_NE(Bytes(datagram.begin() + 3, datagram.end()), pdu);
    Bytes back;
    ASSERT_TRUE(net::UnscrambleDatagram(datagram.data(), datagram.size(), back));
    EXPECT_EQ(back, pdu);
  }
  Bytes out;
  const Bytes tiny = {1};
  EXPECT_FALSE(net::UnscrambleDatagram(tiny.data(), tiny.size(), out));
  const Bytes plain = Pdu(9, {1, 2});
  ASSERT_TRUE(net::UnscrambleDatagram(plain.data(), plain.size(), out));
  EXPECT_EQ(out, plain);
}

// Mutated wire bytes into the decoder, the cutter and the datagram reader:
// each refuses with its error or yields a well-framed PDU inside its bounds.
TEST(QrBaseNet, MutatedInputIsRefusedOrStaysInItsBounds) {
  std::mt19937 rng(3);
  net::ConnectionCipher c;
  int unwrapped = 0, refused = 0, dropped = 0;
  for (int round = 0; round < 3000; ++round) {
    const Bytes body = Pattern(rng() % 700, static_cast<uint8_t>(round));
    Bytes wire;
    ASSERT_TRUE(net::EncodePdu(static_cast<uint16_t>(rng()), body.data(), body.size(), rng() % 4, &c, wire));
    for (int e = 0, n = 1 + rng() % 4; e < n; ++e) wire[rng() % wire.size()] = static_cast<uint8_t>(rng());
    if (rng() % 3 == 0) wire.resize(rng() % (wire.size() + 1));
    std::unique_ptr<uint8_t[]> exact(new uint8_t[wire.size() + 1]);
    std::copy(wire.begin(), wire.end(), exact.get());

    Bytes inner;
    bool wasDropped = false;
    const int result = net::DecodePdu(exact.get(), wire.size(), &c, inner, wasDropped);
    if (result == 0 && wasDropped) {
      EXPECT_TRUE(inner.empty());
      ++dropped;
    } else if (result == 0) {
      ASSERT_GE(inner.size(), net::kPduHeaderSize);
      EXPECT_EQ(inner.size(), net::kPduHeaderSize + (inner[2] | inner[3] << 8));
      EXPECT_LE(inner.size(), net::kPduHeaderSize + net::kMaxPduBody);
      // A plain PDU comes back as it is.
      if (wire.size() >= 2 && (wire[0] | wire[1]) != 0) EXPECT_EQ(inner, wire);
      ++unwrapped;
    } else {
      EXPECT_EQ(result, net::kErrorWrapper);
      ++refused;
    }

    // The cutter delivers only whole PDUs from what it was fed, and keeps the
    // rest until it is broken.
    size_t delivered = 0;
    const uint8_t* fed = exact.get();
    net::PduCutter cutter([&](uint16_t, const uint8_t*, uint16_t length) {
      EXPECT_LE(length, net::kMaxPduBody);
      delivered += net::kPduHeaderSize + length;
    });
    const size_t split = wire.empty() ? 0 : rng() % wire.size();
    const bool intact = cutter.Feed(fed, split) && cutter.Feed(fed + split, wire.size() - split);
    EXPECT_EQ(intact, !cutter.Broken());
    EXPECT_LE(delivered, wire.size());
    if (intact) EXPECT_EQ(delivered + cutter.Buffered(), wire.size());

    Bytes pdu;
    if (net::UnscrambleDatagram(exact.get(), wire.size(), pdu)) EXPECT_LE(pdu.size(), wire.size());
  }
  EXPECT_GT(unwrapped, 100);
  EXPECT_GT(refused, 100);
  EXPECT_GT(dropped + unwrapped + refused, 2999);
}

#include "base/vx_assert.h"
#include "net/qr_base_net.h"

namespace {

struct Collect : net::QR_PduHandler {
  void OnPdu(uint16_t type, uint16_t length, const uint8_t* body) override {
    got.push_back({type, Bytes(body, body + length)});
  }
  std::vector<Delivered> got;
};

struct AssertionSeen {
  std::string expression;
};
void Throw(const char* e, const char*, int) { throw AssertionSeen{e}; }

}  // namespace

TEST(QrBaseNet, ConnectionsTalkThroughTheWrapper) {
  Bytes wire;
  std::vector<int> errors;
  net::QR_BaseNet a([&](const uint8_t* d, size_t n) { wire.insert(wire.end(), d, d + n); return true; },
                    [&](int e, const char*) { errors.push_back(e); });
  net::QR_BaseNet b(nullptr, [&](int e, const char*) { errors.push_back(e); });
  Collect first, second;
  b.RegisterPduHandler(&first);
  b.RegisterPduHandler(&second);
  const Bytes big = Pattern(3000);
  ASSERT_EQ(a.SendPdu(10, big.data(), big.size(), net::kFlagCompressed | net::kFlagEncrypted), 0);
  ASSERT_EQ(a.SendPdu(11, nullptr, 0, net::kFlagEncrypted), 0);  // empty: flags cleared
  const Bytes flagsZero = {0, 0, 2, 0, 0, 0};                   // wrapper with flags 0: dropped
  wire.insert(wire.end(), flagsZero.begin(), flagsZero.end());
  ASSERT_EQ(a.SendPdu(12, big.data(), 50, 0), 0);
  for (size_t at = 0; at < wire.size(); at += 7) b.OnStreamData(&wire[at], std::min<size_t>(7, wire.size() - at));
  ASSERT_EQ(first.got.size(), 3u);
  EXPECT_EQ(first.got[0].type, 10);
  EXPECT_EQ(first.got[0].body, big);
  EXPECT_EQ(first.got[1].type, 11);
  EXPECT_EQ(first.got[2].body, Bytes(big.begin(), big.begin() + 50));
  EXPECT_EQ(second.got.size(), 3u);
  EXPECT_TRUE(errors.empty());

  // A corrupt wrapper reports -4 and the stream goes on.
  Bytes bad = {0, 0, 6, 0, 2, 0, 1, 2, 3, 4};
  b.OnStreamData(bad.data(), bad.size());
  ASSERT_EQ(errors, std::vector<int>{net::kErrorWrapper});
  const Bytes plain = Pdu(13, {5});
  b.OnStreamData(plain.data(), plain.size());
  EXPECT_EQ(first.got.back().type, 13);

  // Datagrams, scrambled or not.
  const Bytes dg = net::ScrambleDatagram(plain.data(), plain.size());
  b.OnDatagram(dg.data(), dg.size());
  b.OnDatagram(plain.data(), 1);  // too short: ignored
  EXPECT_EQ(first.got.size(), 5u);

  // Registering twice and library timer events are assertions.
  const auto previous = vx::SetAssertHandler(&Throw);
  try {
    b.RegisterPduHandler(&first);
    ADD_FAILURE();
  } catch (const AssertionSeen& s) {
    EXPECT_EQ(s.expression, "m_arrayPduHandler.GetAt(i) != lpHandler");
  }
  try {
    b.OnTimerEvent(1);
    ADD_FAILURE();
  } catch (const AssertionSeen& s) {
    EXPECT_EQ(s.expression, "event >= TE_BASE");
  }
  vx::SetAssertHandler(previous);
  // Encryption on a connection without key context fails the send.
  net::QR_BaseNet none([](const uint8_t*, size_t) { return true; }, nullptr, false);
  EXPECT_EQ(none.SendPdu(1, big.data(), 200, net::kFlagEncrypted), -1);
}
