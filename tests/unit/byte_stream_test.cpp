#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/vx_assert.h"
#include "base/vx_byte_stream.h"

using vx::VX_ByteStream;
using vx::VX_StreamError;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Stored(void (*fill)(VX_ByteStream&)) {
  VX_ByteStream s;
  fill(s);
  return s.TakeBytes();
}

uint32_t LoadError(const Bytes& b, void (*read)(VX_ByteStream&)) {
  VX_ByteStream s(VX_ByteStream::LoadFrom, b.data(), b.size());
  try {
    read(s);
  } catch (const VX_StreamError& e) {
    return e.code();
  }
  return 0;
}

struct AssertionThrown {
  std::string expression;
};

void ThrowingHandler(const char* expression, const char*, int) { throw AssertionThrown{expression}; }

}  // namespace

TEST(ByteStream, IntegersAreLittleEndian) {
  EXPECT_EQ(Stored([](VX_ByteStream& s) { s.WriteInt32(100); }), (Bytes{0x64, 0, 0, 0}));
  EXPECT_EQ(Stored([](VX_ByteStream& s) { s.WriteUInt16(0x1234); }), (Bytes{0x34, 0x12}));
  EXPECT_EQ(Stored([](VX_ByteStream& s) { s.WriteInt64(-2); }),
            (Bytes{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

  Bytes b = Stored([](VX_ByteStream& s) {
    s.WriteInt32(-7);
    s.WriteUInt32(0xDEADBEEF);
    s.WriteInt64(0x0102030405060708LL);
    s.WriteUInt8(9);
  });
  VX_ByteStream in(VX_ByteStream::LoadFrom, b.data(), b.size());
  EXPECT_EQ(in.ReadInt32(), -7);
  EXPECT_EQ(in.ReadUInt32(), 0xDEADBEEFu);
  EXPECT_EQ(in.ReadInt64(), 0x0102030405060708LL);
  EXPECT_EQ(in.ReadUInt8(), 9);
  EXPECT_EQ(in.Remaining(), 0u);
}

TEST(ByteStream, CompactPrefixBoundaries) {
  struct Case {
    uint32_t value;
    Bytes encoded;
  };
  const Case cases[] = {
      {0, {0x00}},
      {127, {0x7F}},
      {128, {0x80, 0x80}},
      {0x3FFF, {0xBF, 0xFF}},
      {0x4000, {0xC0, 0x40, 0x00}},
      {0x1FFFFF, {0xDF, 0xFF, 0xFF}},
      {0x200000, {0xE0, 0x20, 0x00, 0x00}},
      {0x0FFFFFFF, {0xEF, 0xFF, 0xFF, 0xFF}},
      {0x10000000, {0xF0, 0x10, 0x00, 0x00, 0x00}},
      {0xFFFFFFFF, {0xF0, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    VX_ByteStream out;
    out.WriteLength(c.value);
    EXPECT_EQ(out.TakeBytes(), c.encoded) << c.value;
    VX_ByteStream in(VX_ByteStream::LoadFrom, c.encoded.data(), c.encoded.size());
    EXPECT_EQ(in.ReadLength(), c.value);
    EXPECT_EQ(in.Remaining(), 0u);
  }
}

TEST(ByteStream, StringsCarryCompactPrefixAndUtf8) {
  EXPECT_EQ(Stored([](VX_ByteStream& s) { s.WriteString(u""); }), Bytes{0x00});

  const Bytes b127 = Stored([](VX_ByteStream& s) { s.WriteStringUtf8(std::string(127, 'a')); });
  ASSERT_EQ(b127.size(), 128u);
  EXPECT_EQ(b127[0], 0x7F);

  const Bytes b128 = Stored([](VX_ByteStream& s) { s.WriteStringUtf8(std::string(128, 'a')); });
  ASSERT_EQ(b128.size(), 130u);
  EXPECT_EQ(b128[0], 0x80);
  EXPECT_EQ(b128[1], 0x80);

  // One, two and three bytes per character.
  const std::u16string text = u"a\u00e9\u89c6\u9891";
  const Bytes b = Stored([](VX_ByteStream& s) { s.WriteString(u"a\u00e9\u89c6\u9891"); });
  EXPECT_EQ(b, (Bytes{9, 'a', 0xC3, 0xA9, 0xE8, 0xA7, 0x86, 0xE9, 0xA2, 0x91}));
  VX_ByteStream in(VX_ByteStream::LoadFrom, b.data(), b.size());
  EXPECT_EQ(in.ReadString(), text);
}

TEST(ByteStream, LongPrefixAndBlocks) {
  const Bytes b = Stored([](VX_ByteStream& s) {
    s.WriteStringUtf8("xyz", VX_ByteStream::Prefix::Long);
    const uint8_t raw[] = {1, 2, 3};
    s.WriteBlock(raw, 3);
    s.WriteBlock(nullptr, 0);
  });
  EXPECT_EQ(b, (Bytes{3, 0, 0, 0, 'x', 'y', 'z', 3, 0, 0, 0, 1, 2, 3, 0, 0, 0, 0}));
  VX_ByteStream in(VX_ByteStream::LoadFrom, b.data(), b.size());
  EXPECT_EQ(in.ReadStringUtf8(VX_ByteStream::Prefix::Long), "xyz");
  EXPECT_EQ(in.ReadBlock(), (Bytes{1, 2, 3}));
  EXPECT_TRUE(in.ReadBlock().empty());
}

TEST(ByteStream, ReadsPastTheEndRaiseLoadError) {
  EXPECT_EQ(LoadError({1, 2, 3}, [](VX_ByteStream& s) { s.ReadInt32(); }), vx::kStreamErrorLoad);
  EXPECT_EQ(LoadError({}, [](VX_ByteStream& s) { s.ReadUInt8(); }), vx::kStreamErrorLoad);
  EXPECT_EQ(LoadError({5, 'a', 'b'}, [](VX_ByteStream& s) { s.ReadString(); }), vx::kStreamErrorLoad);
  EXPECT_EQ(LoadError({0x80}, [](VX_ByteStream& s) { s.ReadLength(); }), vx::kStreamErrorLoad);
  EXPECT_EQ(LoadError({0xF1, 0, 0, 0, 0}, [](VX_ByteStream& s) { s.ReadLength(); }),
            vx::kStreamErrorLoad);
  EXPECT_EQ(LoadError({0xFF}, [](VX_ByteStream& s) { s.ReadLength(); }), vx::kStreamErrorLoad);
  // Huge declared lengths fail without allocating.
  EXPECT_EQ(LoadError({0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 'a'}, [](VX_ByteStream& s) { s.ReadString(); }),
            vx::kStreamErrorLoad);
  EXPECT_EQ(LoadError({0xFF, 0xFF, 0xFF, 0x7F}, [](VX_ByteStream& s) { s.ReadBlock(); }),
            vx::kStreamErrorLoad);
  EXPECT_EQ(LoadError({0xFF, 0xFF, 0xFF, 0xFF}, [](VX_ByteStream& s) { s.ReadBlock(); }),
            vx::kStreamErrorLoad);
  // A failed read consumes nothing.
  const Bytes b{1, 2};
  VX_ByteStream in(VX_ByteStream::LoadFrom, b.data(), b.size());
  EXPECT_THROW(in.ReadInt32(), VX_StreamError);
  EXPECT_EQ(in.Position(), 0u);
  EXPECT_EQ(in.ReadUInt16(), 0x0201);
}

TEST(ByteStream, StoreIntoFixedBufferRaisesStoreError) {
  uint8_t buffer[6];
  VX_ByteStream out(VX_ByteStream::StoreInto, buffer, sizeof buffer);
  out.WriteInt32(1);
  try {
    out.WriteInt32(2);
    FAIL() << "no error";
  } catch (const VX_StreamError& e) {
    EXPECT_EQ(e.code(), vx::kStreamErrorStore);
  }
  out.WriteUInt16(3);
  EXPECT_EQ(out.Size(), 6u);
}

TEST(ByteStream, GrowingStoreAndItsLimit) {
  VX_ByteStream out(16, 100);
  for (int i = 0; i < 25; ++i) out.WriteInt32(i);
  EXPECT_EQ(out.Size(), 100u);
  EXPECT_THROW(out.WriteUInt8(0), VX_StreamError);
  VX_ByteStream in(VX_ByteStream::LoadFrom, out.Data(), out.Size());
  for (int i = 0; i < 25; ++i) EXPECT_EQ(in.ReadInt32(), i);
}

TEST(ByteStream, WrongDirectionIsAnAssertion) {
  const auto previous = vx::SetAssertHandler(&ThrowingHandler);
  const Bytes b{1, 2, 3, 4};
  VX_ByteStream in(VX_ByteStream::LoadFrom, b.data(), b.size());
  try {
    in.WriteInt32(1);
    ADD_FAILURE() << "no assertion";
  } catch (const AssertionThrown& a) {
    EXPECT_EQ(a.expression, "!m_bLoad && pData");
  }
  VX_ByteStream out;
  try {
    out.ReadInt32();
    ADD_FAILURE() << "no assertion";
  } catch (const AssertionThrown& a) {
    EXPECT_EQ(a.expression, "m_bLoad && pData");
  }
  VX_ByteStream none(VX_ByteStream::LoadFrom, nullptr, 4);
  EXPECT_THROW(none.ReadUInt8(), AssertionThrown);
  vx::SetAssertHandler(previous);
}

// Random buffers read with random sequences of operations: only stream errors
// may come out, never a crash or a read past the buffer (checked by running
// the test under the sanitizers of the debug build).
TEST(ByteStream, RandomBuffersNeverCrash) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 20000; ++round) {
    Bytes b(rng() % 48);
    for (auto& x : b) x = static_cast<uint8_t>(rng() % 4 == 0 ? 0xF0 + rng() % 16 : rng());
    // Exact-size heap copy so an over-read touches unowned memory.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[b.size() + 1]);
    std::copy(b.begin(), b.end(), exact.get());
    VX_ByteStream in(VX_ByteStream::LoadFrom, exact.get(), b.size());
    try {
      for (int op = 0; op < 16; ++op) {
        switch (rng() % 8) {
          case 0: in.ReadUInt8(); break;
          case 1: in.ReadUInt16(); break;
          case 2: in.ReadInt32(); break;
          case 3: in.ReadInt64(); break;
          case 4: in.ReadString(); break;
          case 5: in.ReadStringUtf8(VX_ByteStream::Prefix::Long); break;
          case 6: in.ReadBlock(); break;
          default: in.ReadLength(); break;
        }
        ASSERT_LE(in.Position(), b.size());
      }
    } catch (const VX_StreamError& e) {
      ASSERT_EQ(e.code(), vx::kStreamErrorLoad);
    }
  }
}

TEST(ByteStream, EmptyBufferLoadsWithStreamError) {
  const Bytes empty;
  EXPECT_EQ(LoadError(empty, [](VX_ByteStream& s) { s.ReadInt32(); }), vx::kStreamErrorLoad);
}
