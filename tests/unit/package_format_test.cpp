#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "base/le_int.h"
#include "setup/package/instance_marker.h"
#include "setup/package/lzma_stream.h"
#include "setup/package/package_header.h"
#include "setup/package/payload_table.h"

using namespace package;
using Bytes = std::vector<uint8_t>;

namespace {

// Shaped like the reference package: four program-group entries, one entry in
// each other list, no autostart programs.
PackageHeader ReferenceShaped() {
  PackageHeader h;
  h.ProductNameGb = h.ProductNameBig5 = h.ProductNameEn = h.ProductNameJp = u"\u89c6\u9891\u4f1a\u8bae\u8f6f\u4ef6";
  h.VersionLabel = u"v3.0.2012";
  h.FolderNameEn = std::u16string(259, u'F');
  h.MainExe = u"ZepClient.exe";
  h.ProductID = u"{3C0B5D2E-8A41-4F7C-B6D3-1E9A2F4C7B80}";
  h.CommentText = std::u16string(399, u'c');
  h.DefaultLanguage = 1;
  h.TotalSize = 39089257;
  h.NoAutostart = h.SkipServerAddress = 1;
  h.DrivenProgramGroup = h.DrivenStartMenu = h.DrivenDesktop = h.DrivenQuickLaunch = 1;
  h.ServerAllLanguages = 1;
  h.ProgramGroupGb = u"\u89c6\u9891";
  h.ProgramGroupEn = u"Video";
  for (const char16_t* t : {u"ZepClient.exe", u"Qrdraw.exe", u"qrplayer.exe", u"qrvoteedit.exe"})
    h.ProgramGroupShortcuts.push_back({u"caption", u"", u"", u"", t});
  h.StartMenuShortcuts = h.DesktopShortcuts = h.QuickLaunchShortcuts = {{u"c", u"", u"", u"", u"ZepClient.exe"}};
  return h;
}

Bytes Written(const PackageHeader& h) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(WriteHeader(h, out, error)) << error;
  return out;
}

HeaderError Read(const Bytes& b, PackageHeader& h, size_t& total) {
  MemorySource src(b.data(), b.size());
  return ReadHeader(src, h, total);
}

}  // namespace

TEST(PackageHeader, ReferenceShapeRoundTripsAt14240Bytes) {
  const PackageHeader h = ReferenceShaped();
  const Bytes b = Written(h);
  EXPECT_EQ(b.size(), 14240u);
  EXPECT_EQ(HeaderSize(h), 14240u);
  // Spot checks of the fixed layout.
  EXPECT_EQ(b[0x690], 'Z');
  EXPECT_EQ(vx::ReadLE32(&b[0x104C]), 39089257u);
  EXPECT_EQ(vx::ReadLE32(&b[0xCD8]), 1u);
  EXPECT_EQ(vx::ReadLE32(&b[4220]), 0u);  // autostart count
  EXPECT_EQ(vx::ReadLE32(&b[4224]), 4u);  // program-group count
  PackageHeader back;
  size_t total = 0;
  ASSERT_EQ(Read(b, back, total), HeaderError::None);
  EXPECT_EQ(total, 14240u);
  EXPECT_EQ(back, h);
}

TEST(PackageHeader, EmptyProgramGroupHasNoGroupNames) {
  PackageHeader h;
  h.ProgramGroupEn = u"ignored";
  h.AutostartPrograms = {u"a.exe", u"b.exe"};
  const Bytes b = Written(h);
  EXPECT_EQ(b.size(), 4220u + 4 + 160 + 4 * 4);
  PackageHeader back;
  size_t total = 0;
  ASSERT_EQ(Read(b, back, total), HeaderError::None);
  EXPECT_EQ(back.AutostartPrograms, h.AutostartPrograms);
  EXPECT_TRUE(back.ProgramGroupEn.empty());
}

TEST(PackageHeader, TooLongTextNamesItsField) {
  PackageHeader h = ReferenceShaped();
  h.MainExe = std::u16string(40, u'x');
  Bytes out;
  std::string error;
  EXPECT_FALSE(WriteHeader(h, out, error));
  EXPECT_NE(error.find("MainExe"), std::string::npos) << error;
  h = ReferenceShaped();
  h.DesktopShortcuts[0].CaptionEn = std::u16string(260, u'x');
  EXPECT_FALSE(WriteHeader(h, out, error));
  EXPECT_NE(error.find("DesktopShortcuts[0].CaptionEn"), std::string::npos) << error;
}

TEST(PackageHeader, BadInputFailsWithTheRightCheck) {
  const Bytes good = Written(ReferenceShaped());
  PackageHeader h;
  size_t total = 0;
  // Truncated inside the fixed part: the 4220 check, not a read error.
  for (size_t cut : {0u, 1u, 100u, 4219u})
    EXPECT_EQ(Read(Bytes(good.begin(), good.begin() + cut), h, total), HeaderError::FixedPartShort);
  // Truncated inside the lists.
  for (size_t cut : {4220u, 4223u, 4300u, 14239u})
    EXPECT_EQ(Read(Bytes(good.begin(), good.begin() + cut), h, total), HeaderError::ShortRead) << cut;
  // A negative count.
  Bytes neg = good;
  vx::WriteLE32Signed(&neg[4224], -1);
  EXPECT_EQ(Read(neg, h, total), HeaderError::NegativeCount);
  // A hostile count fails on the data actually there, without a huge allocation.
  Bytes huge = good;
  vx::WriteLE32Signed(&huge[4220], 0x1000000);
  EXPECT_EQ(Read(huge, h, total), HeaderError::ShortRead);
  vx::WriteLE32Signed(&huge[4220], 0x7FFFFFFF);
  EXPECT_EQ(Read(huge, h, total), HeaderError::Allocation);
}

TEST(LzmaStream, CompressedAndStoredFormsDecode) {
  Bytes data(300000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * i) >> 7);
  bool stored = true;
  const Bytes packed = EncodeStream(data.data(), data.size(), &stored);
  EXPECT_FALSE(stored);
  EXPECT_LT(packed.size(), data.size());
  EXPECT_EQ(packed[0], 0x5D);
  EXPECT_EQ(vx::ReadLE32(&packed[1]), 1u << 24);
  EXPECT_EQ(DeclaredSize(packed.data()), data.size());
  EXPECT_EQ(packed[12], 0);
  Bytes out;
  EXPECT_EQ(DecodeStreamToVector(packed.data(), packed.size(), out), static_cast<int64_t>(data.size()));
  EXPECT_EQ(out, data);

  std::mt19937 rng(1);
  Bytes noise(5000);
  for (auto& b : noise) b = static_cast<uint8_t>(rng());
  const Bytes kept = EncodeStream(noise.data(), noise.size(), &stored);
  EXPECT_TRUE(stored);
  EXPECT_EQ(kept.size(), noise.size() + 13);
  EXPECT_EQ(kept[12], 1);
  EXPECT_EQ(DecodeStreamToVector(kept.data(), kept.size(), out), 5000);
  EXPECT_EQ(out, noise);
}

TEST(LzmaStream, DecodesInBoundedPiecesAndHonoursTheDeclaredSize) {
  // 64 MiB of zeros: a ratio far above 10:1, decoded without holding it.
  const Bytes zeros(64u << 20, 0);
  Bytes packed;
  ASSERT_TRUE(CompressStream(zeros.data(), zeros.size(), packed));
  EXPECT_LT(packed.size(), 64u * 1024);
  uint64_t total = 0;
  size_t largest = 0;
  StreamDecoder decoder([&](const uint8_t* d, size_t n) {
    total += n;
    largest = std::max(largest, n);
    return d[0] == 0 && d[n - 1] == 0;
  });
  // Fed in small pieces.
  StreamDecoder::Status s = StreamDecoder::Status::NeedInput;
  for (size_t at = 0; at < packed.size() && s == StreamDecoder::Status::NeedInput; at += 1000) {
    const size_t n = std::min<size_t>(1000, packed.size() - at);
    s = decoder.Feed(&packed[at], n, at + n == packed.size());
  }
  EXPECT_EQ(s, StreamDecoder::Status::Done);
  EXPECT_EQ(total, zeros.size());
  EXPECT_LE(largest, 1u << 16);

  // A smaller declared size stops the output there.
  Bytes shorter = packed;
  vx::WriteLE32(&shorter[5], 1000);
  Bytes out;
  EXPECT_EQ(DecodeStreamToVector(shorter.data(), shorter.size(), out), 1000);

  // A sink that fails stops decoding.
  StreamDecoder failing([](const uint8_t*, size_t) { return false; });
  EXPECT_EQ(failing.Feed(packed.data(), packed.size(), true), StreamDecoder::Status::SinkFailed);
}

TEST(LzmaStream, CorruptStreamsAreErrors) {
  Bytes data(100000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 251 + (i >> 12));
  Bytes packed;
  ASSERT_TRUE(CompressStream(data.data(), data.size(), packed));
  Bytes out;
  Bytes bad = packed;
  for (size_t i = 13; i < bad.size(); i += 97) bad[i] ^= 0x5A;
  EXPECT_EQ(DecodeStreamToVector(bad.data(), bad.size(), out), -1);
  Bytes props = packed;
  props[0] = 0xFF;  // no valid lc/lp/pb
  EXPECT_EQ(DecodeStreamToVector(props.data(), props.size(), out), -1);
  EXPECT_EQ(DecodeStreamToVector(packed.data(), 12, out), -1);  // shorter than the header
  // Input that ends early yields what was decoded (less than declared).
  const int64_t n = DecodeStreamToVector(packed.data(), packed.size() / 2, out);
  EXPECT_LT(n, static_cast<int64_t>(data.size()));
}

TEST(LzmaStream, DictionaryIsBoundedByTheDeclaredSizeAndTheFormat) {
  Bytes data(150000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>((i * 7) ^ (i >> 9));
  Bytes packed;
  ASSERT_TRUE(CompressStream(data.data(), data.size(), packed));
  uint32_t dictionary = 0;
  ASSERT_TRUE(DecoderDictionary(packed.data(), dictionary));
  EXPECT_EQ(dictionary, data.size());  // not the 16 MiB of the field
  Bytes tiny = packed;
  vx::WriteLE32(&tiny[5], 10);
  ASSERT_TRUE(DecoderDictionary(tiny.data(), dictionary));
  EXPECT_EQ(dictionary, kMinDictionary);
  // A dictionary field above 16 MiB (here 4 GiB - 1) is refused, not allocated.
  for (uint32_t field : {0xFFFFFFFFu, (1u << 24) + 1}) {
    Bytes huge = packed;
    vx::WriteLE32(&huge[1], field);
    EXPECT_FALSE(DecoderDictionary(huge.data(), dictionary));
    Bytes out;
    EXPECT_EQ(DecodeStreamToVector(huge.data(), huge.size(), out), -1) << field;
  }
  // The stored form needs no dictionary.
  Bytes stored = StoreStream(data.data(), 1000);
  vx::WriteLE32(&stored[1], 0xFFFFFFFFu);
  Bytes out;
  EXPECT_EQ(DecodeStreamToVector(stored.data(), stored.size(), out), 1000);
}

TEST(InstanceMarker, FoundOnlyOnceAndAligned) {
  Bytes image(4096, 0x11);
  PatchMarkerGroup(image.data(), 1024, kFreshMarker, 0);
  auto g = FindMarkerGroup(image.data(), image.size());
  ASSERT_TRUE(g);
  EXPECT_EQ(g->position, 1024u);
  EXPECT_EQ(RoleOfMarker(g->pair), Role::FreshPackage);
  PatchMarkerGroup(image.data(), 1024, kUninstallerMarker, 777);
  g = FindMarkerGroup(image.data(), image.size());
  ASSERT_TRUE(g);
  EXPECT_EQ(g->headerOffset, 777u);
  EXPECT_EQ(RoleOfMarker(g->pair), Role::Uninstaller);
  EXPECT_EQ(RoleOfMarker({1, 2}), Role::FreshPackage);

  Bytes unaligned(4096, 0);
  PatchMarkerGroup(unaligned.data(), 1028, kUpdateMarker, 5);
  EXPECT_FALSE(FindMarkerGroup(unaligned.data(), unaligned.size()));

  Bytes twice(4096, 0);
  PatchMarkerGroup(twice.data(), 8, kFreshMarker, 0);
  PatchMarkerGroup(twice.data(), 2048, kUpdateMarker, 0);
  EXPECT_FALSE(FindMarkerGroup(twice.data(), twice.size()));
  EXPECT_EQ(FindMarkerPositions(twice.data(), twice.size(), kFreshMarker).size(), 1u);
}

TEST(PayloadTable, RoundTripAndTruncation) {
  PayloadWriter w;
  std::string error;
  ASSERT_TRUE(w.Begin(3, u"V4.0", error));
  const Bytes s1 = StoreStream(reinterpret_cast<const uint8_t*>("abc"), 3);
  ASSERT_TRUE(w.AddEntry(u"a.exe", s1, error));
  ASSERT_TRUE(w.AddEntry(u"VMSkin\\login.bmp", {}, error));
  ASSERT_TRUE(w.AddEntry(u"z.txt", s1, error));
  ASSERT_TRUE(w.End({u"logs", u"data\\cache"}, error));
  const Bytes b = w.Take();
  EXPECT_EQ(b.size(), 4 + 200 + 3 * 524 + 2 * 16 + 4 + 2 * 520);

  MemorySource src(b.data(), b.size());
  PayloadTable t;
  std::vector<Bytes> streams;
  ASSERT_EQ(ReadPayloadTable(src, t, &streams), PayloadError::None);
  EXPECT_EQ(t.PackageKind, u"V4.0");
  ASSERT_EQ(t.entries.size(), 3u);
  EXPECT_EQ(t.entries[1].path, u"VMSkin\\login.bmp");
  EXPECT_EQ(t.entries[1].streamSize, 0u);
  EXPECT_EQ(t.entries[0].streamOffset, 4u + 200 + 524);
  EXPECT_EQ(streams[2], s1);
  EXPECT_EQ(t.ExtraFolders, (std::vector<std::u16string>{u"logs", u"data\\cache"}));
  EXPECT_EQ(t.size, b.size());

  for (size_t cut = 0; cut < b.size(); cut += 37) {
    MemorySource part(b.data(), cut);
    EXPECT_EQ(ReadPayloadTable(part, t), PayloadError::ShortRead) << cut;
  }
  Bytes hostile = b;
  vx::WriteLE32(&hostile[4 + 200 + 520], 0x7FFFFFF0);  // first stream's L
  MemorySource h(hostile.data(), hostile.size());
  EXPECT_EQ(ReadPayloadTable(h, t), PayloadError::ShortRead);
}

// Mutated headers and payloads: the readers refuse with an error or return
// what lies inside the package; the decoder yields at most the declared size,
// and an untouched stream still decodes to its data.
TEST(PackageFuzz, MutatedPackagesAreRefusedOrReadInBounds) {
  Bytes image = Written(ReferenceShaped());
  PayloadWriter w;
  std::string error;
  Bytes data(4000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i / 7);
  const Bytes originals[] = {EncodeStream(data.data(), data.size()), StoreStream(data.data(), 100)};
  const Bytes expected[] = {data, Bytes(data.begin(), data.begin() + 100)};
  w.Begin(2, u"V4.0", error);
  w.AddEntry(u"a.bin", originals[0], error);
  w.AddEntry(u"b.bin", originals[1], error);
  w.End({}, error);
  const Bytes payload = w.Take();
  image.insert(image.end(), payload.begin(), payload.end());

  std::mt19937 rng(99);
  int headerRefused = 0, tableRefused = 0, intactStreams = 0;
  for (int round = 0; round < 1500; ++round) {
    Bytes m = image;
    const int edits = 1 + rng() % 8;
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % m.size();
      switch (rng() % 3) {
        case 0: m[at] = static_cast<uint8_t>(rng()); break;
        case 1: vx::WriteLE32(&m[at - at % 4], rng()); break;
        default: m.resize(at); break;
      }
      if (m.size() < 8) break;
    }
    MemorySource src(m.data(), m.size());
    PackageHeader h;
    size_t total = 0;
    if (ReadHeader(src, h, total) != HeaderError::None) {
      ++headerRefused;
      continue;
    }
    ASSERT_LE(total, m.size());
    PayloadTable t;
    std::vector<Bytes> streams;
    if (ReadPayloadTable(src, t, &streams) != PayloadError::None) {
      ++tableRefused;
      continue;
    }
    ASSERT_EQ(streams.size(), t.entries.size());
    size_t streamBytes = 0;
    for (size_t i = 0; i < streams.size(); ++i) {
      EXPECT_EQ(streams[i].size(), t.entries[i].streamSize);
      streamBytes += streams[i].size();
    }
    EXPECT_LE(streamBytes, m.size() - total);
    for (const Bytes& s : streams) {
      Bytes out;
      const int64_t n = DecodeStreamToVector(s.data(), s.size(), out);
      if (n < 0) continue;
      EXPECT_EQ(static_cast<size_t>(n), out.size());
      if (s.size() >= kStreamHeaderSize) EXPECT_LE(out.size(), DeclaredSize(s.data()));
      for (int k = 0; k < 2; ++k) {
        if (s != originals[k]) continue;
        EXPECT_EQ(out, expected[k]);
        ++intactStreams;
      }
    }
  }
  EXPECT_GT(headerRefused, 100);
  EXPECT_GT(tableRefused, 20);
  EXPECT_GT(intactStreams, 50);
}
