#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "update/ftt_progress_record.h"
#include "update/ftt_protocol.h"
#include "update/ftt_types.h"

using Bytes = std::vector<uint8_t>;

TEST(FttTypes, ResultNamesAndLimits) {
  EXPECT_STREQ(ftt::ResultName(0), "FTTR_OPERATE_SUCCESS");
  EXPECT_STREQ(ftt::ResultName(13), "FTTR_ERR_OPERATE_ABORT");
  EXPECT_STREQ(ftt::ResultName(23), "FTTR_ERR_AUTH_DENIED");
  EXPECT_STREQ(ftt::ResultName(26), "FTTR_ERR_CANT_CREATE_TARGET_FILE");
  EXPECT_STREQ(ftt::ResultName(27), "FTTR_UNKNOWN");
  EXPECT_STREQ(ftt::ResultName(0x203), "FTTR_ERR_PROGRESS");
  EXPECT_STREQ(ftt::ResultName(0x20A), "FTTR_NODE_STATE_CHANGED");
  EXPECT_STREQ(ftt::ResultName(0x20B), "FTTR_UNKNOWN");
  EXPECT_STREQ(ftt::ResultName(0x1FF), "FTTR_UNKNOWN");
  EXPECT_EQ(ftt::ELAPSE_TASK_CONNECT_LIMIT, 630000u);
}

TEST(ReceivedRanges, MergesAndFindsGaps) {
  ftt::ReceivedRanges r;
  r.Add(100, 200);
  r.Add(300, 400);
  r.Add(0, 50);
  r.Add(50, 60);    // touches: merged
  r.Add(150, 320);  // bridges two
  r.Add(10, 10);    // empty: ignored
  EXPECT_EQ(r.ranges(), (std::vector<ftt::ByteRange>{{0, 60}, {100, 400}}));
  EXPECT_EQ(r.Bytes(), 360);
  EXPECT_FALSE(r.Complete(400));
  EXPECT_EQ(r.NextMissing(500, 0, 1000), (ftt::ByteRange{60, 100}));
  EXPECT_EQ(r.NextMissing(500, 100, 50), (ftt::ByteRange{400, 450}));
  EXPECT_EQ(r.NextMissing(400, 200, 1000), (ftt::ByteRange{60, 100}));  // wraps
  r.Add(60, 100);
  EXPECT_TRUE(r.Complete(400));
  EXPECT_EQ(r.NextMissing(400, 0, 10), (ftt::ByteRange{}));
  EXPECT_TRUE(ftt::ReceivedRanges().Complete(0));
  EXPECT_EQ(ftt::ProgressTenths(0, 0), 1000);
  EXPECT_EQ(ftt::ProgressTenths(1, 3), 333);
  EXPECT_EQ(ftt::ProgressTenths(3, 3), 1000);
}

TEST(ProgressRecord, RoundTripsAndRefusesInconsistentRecords) {
  ftt::ProgressRecord record;
  record.identity = u"5d41402abc4b2a76b9719d911017c592";
  record.fileLength = 1 << 20;
  record.date = 20261209, record.time = 123456;
  record.received.Add(0, 32768);
  record.received.Add(65536, 98304);
  record.position = 98304;
  const Bytes bytes = ftt::EncodeProgressRecord(record);
  ASSERT_GE(bytes.size(), 64u);
  EXPECT_EQ(std::memcmp(bytes.data(), ftt::kProgressTag, sizeof ftt::kProgressTag), 0);
  EXPECT_EQ(bytes[63], 0);
  ftt::ProgressRecord back;
  std::string error;
  ASSERT_TRUE(ftt::DecodeProgressRecord(bytes.data(), bytes.size(), back, error)) << error;
  EXPECT_EQ(back.identity, record.identity);
  EXPECT_EQ(back.fileLength, record.fileLength);
  EXPECT_EQ(back.received.ranges(), record.received.ranges());
  EXPECT_EQ(back.position, record.position);

  // Cut, extended or with a foreign tag: refused.
  for (size_t n = 0; n < bytes.size(); ++n) EXPECT_FALSE(ftt::DecodeProgressRecord(bytes.data(), n, back, error));
  Bytes longer = bytes;
  longer.push_back(0);
  EXPECT_FALSE(ftt::DecodeProgressRecord(longer.data(), longer.size(), back, error));
  Bytes foreign = bytes;
  foreign[10] = 'X';
  EXPECT_FALSE(ftt::DecodeProgressRecord(foreign.data(), foreign.size(), back, error));

  // Ranges beyond the file, and a position outside it.
  ftt::ProgressRecord bad = record;
  bad.fileLength = 90000;
  Bytes b = ftt::EncodeProgressRecord(bad);
  EXPECT_FALSE(ftt::DecodeProgressRecord(b.data(), b.size(), back, error));
  bad = record;
  bad.position = bad.fileLength + 1;
  b = ftt::EncodeProgressRecord(bad);
  EXPECT_FALSE(ftt::DecodeProgressRecord(b.data(), b.size(), back, error));

  // Random damage never crashes; whatever decodes is consistent.
  std::mt19937 random(5);
  for (int round = 0; round < 5000; ++round) {
    Bytes m = bytes;
    for (int e = 0; e < 1 + int(random() % 3); ++e) m[64 + random() % (m.size() - 64)] = uint8_t(random());
    if (ftt::DecodeProgressRecord(m.data(), m.size(), back, error)) {
      for (const auto& r : back.received.ranges()) {
        EXPECT_LT(r.start, r.end);
        EXPECT_LE(r.end, back.fileLength);
      }
    }
  }
}

TEST(FttProtocol, BodiesRoundTripAndRefuseBadInput) {
  ftt::AuthRequest auth;
  auth.authCode = "A1B2C3D4E5F6G7H8";
  auth.fileKey = u"VMSkin\\skin.bmp";
  auth.identity = u"abc";
  auth.keyProof = ftt::KeyProof("secret-key-16byt", auth.fileKey);
  EXPECT_EQ(auth.keyProof.size(), 32u);
  EXPECT_NE(auth.keyProof, ftt::KeyProof("secret-key-16byX", auth.fileKey));
  Bytes b = ftt::EncodeAuthRequest(auth);
  ftt::AuthRequest authBack;
  ASSERT_TRUE(ftt::DecodeAuthRequest(b.data(), b.size(), authBack));
  EXPECT_EQ(authBack, auth);

  ftt::AuthResponse response{ftt::FTTR_ERR_AUTH_DENIED, 0};
  b = ftt::EncodeAuthResponse(response);
  ftt::AuthResponse responseBack;
  ASSERT_TRUE(ftt::DecodeAuthResponse(b.data(), b.size(), responseBack));
  EXPECT_EQ(responseBack, response);

  ftt::DownloadRequest request{1 << 20, 65536};
  b = ftt::EncodeDownloadRequest(request);
  ftt::DownloadRequest requestBack;
  ASSERT_TRUE(ftt::DecodeDownloadRequest(b.data(), b.size(), requestBack));
  EXPECT_EQ(requestBack, request);
  for (ftt::DownloadRequest wrong : {ftt::DownloadRequest{-1, 10}, ftt::DownloadRequest{0, 0},
                                     ftt::DownloadRequest{0, ftt::kMaxRequestLength + 1}}) {
    b = ftt::EncodeDownloadRequest(wrong);
    EXPECT_FALSE(ftt::DecodeDownloadRequest(b.data(), b.size(), requestBack));
  }

  ftt::DownloadResponse data{4096, Bytes(ftt::FTT_MAX_PACKAGE_SIZE, 7)};
  b = ftt::EncodeDownloadResponse(data);
  EXPECT_EQ(b.size(), 8 + ftt::FTT_MAX_PACKAGE_SIZE);
  ftt::DownloadResponse dataBack;
  ASSERT_TRUE(ftt::DecodeDownloadResponse(b.data(), b.size(), dataBack));
  EXPECT_EQ(dataBack, data);
  data.data.push_back(1);
  EXPECT_TRUE(ftt::EncodeDownloadResponse(data).empty());
  b.push_back(1);
  EXPECT_FALSE(ftt::DecodeDownloadResponse(b.data(), b.size(), dataBack));

  ftt::ErrorNotice notice{ftt::FTTR_ERR_BAD_DATA, u"bad data"};
  b = ftt::EncodeErrorNotice(notice);
  ftt::ErrorNotice noticeBack;
  ASSERT_TRUE(ftt::DecodeErrorNotice(b.data(), b.size(), noticeBack));
  EXPECT_EQ(noticeBack, notice);
  int32_t progress = 0;
  b = ftt::EncodeInt32Notice(1000);
  ASSERT_TRUE(ftt::DecodeInt32Notice(b.data(), b.size(), progress));
  EXPECT_EQ(progress, 1000);
  b.push_back(0);  // trailing bytes
  EXPECT_FALSE(ftt::DecodeInt32Notice(b.data(), b.size(), progress));
  // Feature bits leave room for later fields, but not for fewer bytes.
  int32_t features = 0;
  EXPECT_TRUE(ftt::DecodeFeatures(b.data(), b.size(), features));
  EXPECT_EQ(features, 1000);
  EXPECT_FALSE(ftt::DecodeFeatures(b.data(), 3, features));

  // Mutated and random bodies: the decoders are strict, so whatever decodes
  // encodes back to exactly the bytes it came from, within its bounds.
  std::mt19937 random(9);
  const Bytes seeds[] = {ftt::EncodeAuthRequest(auth), ftt::EncodeDownloadRequest(request),
                         ftt::EncodeErrorNotice(notice)};
  int decoded = 0, refused = 0;
  for (int round = 0; round < 20000; ++round) {
    Bytes m = seeds[round % 3];
    if (random() % 2) m.resize(random() % (m.size() + 4), uint8_t(random()));
    for (int e = 0; e < 1 + int(random() % 3) && !m.empty(); ++e) m[random() % m.size()] = uint8_t(random());
    std::unique_ptr<uint8_t[]> exact(new uint8_t[m.size() + 1]);
    std::copy(m.begin(), m.end(), exact.get());
    const uint8_t* p = exact.get();
    ftt::AuthRequest a;
    ftt::AuthResponse ar;
    ftt::DownloadRequest r;
    ftt::DownloadResponse d;
    ftt::ErrorNotice n;
    int64_t v64 = 0;
    int32_t v32 = 0;
    bool any = false;
    // Fixed layouts encode back to exactly their bytes. Texts decode leniently
    // (an invalid UTF-8 sequence becomes U+FFFD, a length may take a longer
    // form), so those must encode to bytes that decode to the same value.
    auto encodesBack = [&](const Bytes& again) {
      EXPECT_EQ(again, m);
      return true;
    };
    auto decodesAgain = [&](const auto& value, const Bytes& again, auto decode) {
      std::decay_t<decltype(value)> back;
      EXPECT_TRUE(decode(again.data(), again.size(), back));
      EXPECT_TRUE(back == value);
      return true;
    };
    if (ftt::DecodeAuthRequest(p, m.size(), a)) any |= decodesAgain(a, ftt::EncodeAuthRequest(a), ftt::DecodeAuthRequest);
    if (ftt::DecodeAuthResponse(p, m.size(), ar)) any |= encodesBack(ftt::EncodeAuthResponse(ar));
    if (ftt::DecodeDownloadRequest(p, m.size(), r)) {
      EXPECT_LE(r.length, ftt::kMaxRequestLength);
      any |= encodesBack(ftt::EncodeDownloadRequest(r));
    }
    if (ftt::DecodeDownloadResponse(p, m.size(), d)) {
      EXPECT_LE(d.data.size(), ftt::FTT_MAX_PACKAGE_SIZE);
      any |= decodesAgain(d, ftt::EncodeDownloadResponse(d), ftt::DecodeDownloadResponse);
    }
    if (ftt::DecodeErrorNotice(p, m.size(), n)) any |= decodesAgain(n, ftt::EncodeErrorNotice(n), ftt::DecodeErrorNotice);
    if (ftt::DecodeInt64Notice(p, m.size(), v64)) any |= encodesBack(ftt::EncodeInt64Notice(v64));
    if (ftt::DecodeInt32Notice(p, m.size(), v32)) any |= encodesBack(ftt::EncodeInt32Notice(v32));
    ++(any ? decoded : refused);
  }
  EXPECT_GT(decoded, 1000);
  EXPECT_GT(refused, 1000);
}
