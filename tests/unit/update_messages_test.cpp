#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "update/address_messages.h"
#include "update/update_log.h"
#include "update/update_messages.h"
#include "tests/support/temp_folder.h"

using namespace update;
using Bytes = std::vector<uint8_t>;

namespace {

template <class M>
M RoundTrip(const M& m) {
  const Bytes b = Encode(m);
  EXPECT_FALSE(b.empty());
  M back;
  EXPECT_TRUE(Decode(b.data(), b.size(), back));
  // Every shorter body fails.
  for (size_t cut = 0; cut < b.size(); ++cut) {
    M partial;
    EXPECT_FALSE(Decode(b.data(), cut, partial)) << M::kType << " cut at " << cut;
  }
  return back;
}

}  // namespace

TEST(UpdateMessages, RequestsInWireOrder) {
  GetVersionInfoExRequest v;
  v.productNumber = 100;
  EXPECT_EQ(Encode(v), (Bytes{9, 0, 0, 0, 100, 0, 0, 0}));
  EXPECT_EQ(Encode(GetAuthCodeFtRequest{}), (Bytes{5, 0, 0, 0}));
  EXPECT_EQ(Encode(KeepAliveRequest{}), (Bytes{3, 0, 0, 0, 0, 0, 0, 0}));
  DownloadFileFtRequest d;
  d.nFileID = 7;
  d.authCode = u"AB";
  d.secretKey = u"";
  d.strFileKey = u"VMSkin\\a.bmp";
  const Bytes b = Encode(d);
  const Bytes head = {6, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0, 2, 'A', 'B', 0, 12};
  EXPECT_EQ(Bytes(b.begin(), b.begin() + head.size()), head);
  const DownloadFileFtRequest back = RoundTrip(d);
  EXPECT_EQ(back.strFileKey, d.strFileKey);
  EXPECT_EQ(back.flag, 1);
  DownloadFileInfoExFtRequest x;
  x.authCode = u"code";
  x.secretKey = u"\u5bc6\u94a5";
  EXPECT_EQ(RoundTrip(x).secretKey, x.secretKey);
  EchoRequest e;
  e.data = {1, 2, 3};
  EXPECT_EQ(RoundTrip(e).data, e.data);
  DownloadUpdateContentFtRequest u;
  u.number = -5;
  u.text2 = u"t";
  EXPECT_EQ(RoundTrip(u).number, -5);
  DownloadFileRequest r;
  r.block.values[4] = 9;
  EXPECT_EQ(RoundTrip(r).block.values[4], 9);
  GetUpdateServersRequest q;
  q.productNumber = 1001;
  EXPECT_EQ(Encode(q), (Bytes{12, 0, 0, 0, 0xE9, 3, 0, 0}));
}

TEST(UpdateMessages, ResponsesCarryTypeAndResult) {
  GetVersionInfoResponse v;
  v.version.build = 2026;
  v.version.timeOfDay = 863999999;
  v.version.fileListName = u"client\\list";
  v.version.versionString = u"4.0.2026";
  v.trailer = u"x";
  const Bytes b = Encode(v);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 8), (Bytes{0, 0, 0, 0, 0, 0, 0, 0}));
  const GetVersionInfoResponse back = RoundTrip(v);
  EXPECT_EQ(back.version.build, 2026);
  EXPECT_EQ(back.version.versionString, u"4.0.2026");
  EXPECT_EQ(back.version.UdtName(), u"client\\list.udt!");
  EXPECT_EQ(VersionRecord{}.UdtName(), u"");

  GetAuthCodeFtResponse a;
  a.result = FAILED;
  a.port = 5555;
  a.authCode = u"0123456789abcdef";
  a.secretKey = u"k";
  const GetAuthCodeFtResponse ab = RoundTrip(a);
  EXPECT_EQ(ab.result, FAILED);
  EXPECT_EQ(ab.port, 5555);
  EXPECT_EQ(ab.authCode, a.authCode);

  DownloadFileResponse block;
  block.block.values[3] = 3;
  block.block.data = {7, 8, 9};
  EXPECT_EQ(RoundTrip(block).block.data, block.block.data);
  block.block.values[3] = 4;  // count and data disagree
  EXPECT_TRUE(Encode(block).empty());

  EXPECT_EQ(RoundTrip(DownloadFileFtResponse{SUCCESSED, 12, u"key"}).nFileID, 12);
  EXPECT_EQ(RoundTrip(DownloadFileInfoExFtResponse{SUCCESSED, u"list.udt!"}).fileKey, u"list.udt!");
  EXPECT_EQ(RoundTrip(KeepAliveResponse{NOTINIT}).result, NOTINIT);
  EXPECT_EQ(RoundTrip(DownloadUpdateContentFtResponse{SUCCESSED, u"a", u"b"}).text, u"b");
  const GetUpdateServersResponse servers = RoundTrip(GetUpdateServersResponse{SUCCESSED, u"10.0.0.2:17800,h:1"});
  EXPECT_EQ(servers.servers, u"10.0.0.2:17800,h:1");
  EXPECT_EQ(RoundTrip(GetUpdateServersResponse{NOSRVCANUSED, u""}).result, NOSRVCANUSED);

  // A body of another type is not read.
  const Bytes keep = Encode(KeepAliveResponse{});
  GetAuthCodeFtResponse wrong;
  EXPECT_FALSE(Decode(keep.data(), keep.size(), wrong));
}

TEST(UpdateMessages, Names) {
  EXPECT_STREQ(ResultName(0), "SUCCESSED");
  EXPECT_STREQ(ResultName(7), "NONEEDUPDATE");
  EXPECT_STREQ(ResultName(10), "FILENOTEXIST");
  EXPECT_STREQ(ResultName(11), "UNKNOWN");
  EXPECT_STREQ(ResultName(-1), "UNKNOWN");
  EXPECT_STREQ(RequestName(9), "QR_UDT_GETVERSIONINFOEX_REQUEST");
  EXPECT_STREQ(RequestName(10), "");
}

TEST(FileList, RoundTripAndEmpty) {
  std::vector<FileInfo> files = {{1, kFileTypeDirectory, 0, u"VMSkin", u"1"},
                                 {2, 0, 9270, u"VMSkin\\login.bmp", u"2"},
                                 {3, kFileTypeNoDownload, 10, u"skip.dat", u""}};
  const Bytes b = EncodeFileList(files);
  std::vector<FileInfo> back;
  ASSERT_TRUE(DecodeFileList(b.data(), b.size(), back));
  EXPECT_EQ(back, files);
  const Bytes empty = EncodeFileList({});
  EXPECT_EQ(empty, (Bytes{0, 0, 0, 0}));
  ASSERT_TRUE(DecodeFileList(empty.data(), empty.size(), back));
  EXPECT_TRUE(back.empty());
  const Bytes lying = {0xFF, 0xFF, 0xFF, 0x7F};
  EXPECT_FALSE(DecodeFileList(lying.data(), lying.size(), back));
  // More entries than a client holds, each of them well formed.
  std::vector<FileInfo> many(kMaxFileListEntries + 1, FileInfo{2, 0, 1, u"a", u""});
  const Bytes tooMany = EncodeFileList(many);
  EXPECT_FALSE(DecodeFileList(tooMany.data(), tooMany.size(), back));
  many.pop_back();
  const Bytes most = EncodeFileList(many);
  EXPECT_TRUE(DecodeFileList(most.data(), most.size(), back));
  EXPECT_FALSE(DecodeFileList(most.data(), kMaxFileListBytes + 1, back));  // refused before a byte is read
  for (size_t cut = 0; cut < b.size(); ++cut) EXPECT_FALSE(DecodeFileList(b.data(), cut, back)) << cut;
}

// A decoder fed a mutated body either refuses it and leaves its output as it
// was, or decodes a message that survives another round trip.
template <class M>
bool CheckDecodeOutcome(const Bytes& body, const uint8_t* exact) {
  M out;
  const Bytes before = Encode(out);
  if (!Decode(exact, body.size(), out)) {
    EXPECT_EQ(Encode(out), before) << "refused body changed the output, type " << M::kType;
    return false;
  }
  // Texts decode leniently (U+FFFD for an invalid sequence, a length in a
  // longer form than needed), so the check is that what came out encodes to
  // bytes that decode to the same message.
  const Bytes again = Encode(out);
  M back;
  EXPECT_TRUE(Decode(again.data(), again.size(), back)) << "type " << M::kType;
  EXPECT_EQ(Encode(back), again) << "type " << M::kType;
  return true;
}

TEST(UpdateMessages, MutatedBodiesAreRefusedOrDecodeToWhatTheyHold) {
  std::mt19937 rng(5);
  GetVersionInfoResponse v;
  v.version.fileListName = u"list";
  const std::vector<Bytes> seeds = {Encode(v), Encode(GetAuthCodeFtResponse{0, 1, 2, u"a", u"b"}),
                                    Encode(DownloadFileFtResponse{0, 1, u"k"}),
                                    Encode(GetUpdateServersResponse{0, u"127.0.0.1:1,a:2"}),
                                    EncodeFileList({{1, 0, 5, u"a", u"b"}, {2, -1, 0, u"c", u""}})};
  int decoded = 0, refused = 0;
  for (int round = 0; round < 20000; ++round) {
    Bytes m = seeds[rng() % seeds.size()];
    for (int e = 0, n = 1 + rng() % 4; e < n && !m.empty(); ++e) m[rng() % m.size()] = static_cast<uint8_t>(rng());
    if (rng() % 4 == 0) m.resize(rng() % (m.size() + 1));
    // An allocation of exactly the body's size, so an over-read is caught by
    // the sanitizer build.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[m.size() + 1]);
    std::copy(m.begin(), m.end(), exact.get());
    const bool any = CheckDecodeOutcome<GetVersionInfoResponse>(m, exact.get()) |
                     CheckDecodeOutcome<GetAuthCodeFtResponse>(m, exact.get()) |
                     CheckDecodeOutcome<DownloadFileFtResponse>(m, exact.get()) |
                     CheckDecodeOutcome<DownloadFileResponse>(m, exact.get()) |
                     CheckDecodeOutcome<EchoResponse>(m, exact.get()) |
                     CheckDecodeOutcome<GetUpdateServersResponse>(m, exact.get());
    std::vector<FileInfo> f = {{9, 9, 9, u"untouched", u""}};
    if (DecodeFileList(exact.get(), m.size(), f)) {
      const Bytes again = EncodeFileList(f);
      std::vector<FileInfo> back;
      EXPECT_TRUE(DecodeFileList(again.data(), again.size(), back));
      EXPECT_EQ(back, f);
      EXPECT_LE(f.size(), m.size() / 14);
      ++decoded;
    } else {
      EXPECT_EQ(f, (std::vector<FileInfo>{{9, 9, 9, u"untouched", u""}}));
      if (!any) ++refused;
    }
    if (any) ++decoded;
  }
  // Both outcomes occur, or the mutations did not test anything.
  EXPECT_GT(decoded, 1000);
  EXPECT_GT(refused, 1000);
}

TEST(UpdateLog, LineFormatAndFile) {
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 0;
  t.tm_mday = 5;
  t.tm_hour = 7;
  t.tm_min = 3;
  t.tm_sec = 9;
  EXPECT_EQ(LogLine(t, "[WARNING] OnSocketUnrecvTimer"), "<2026-1-5 7:3:9> [WARNING] OnSocketUnrecvTimer\r\n");

  const auto dir = testing_support::TempFolder("update_log_test");
  std::filesystem::remove_all(dir);
  FileUpdateLog log(dir.string(), "setup.exe", 42);
  log.Write("one");
  log.Write("two");
  EXPECT_EQ(std::filesystem::path(log.Path()).filename(), "setup.exe 42.log");
  std::string text;
  {
    std::ifstream in(log.Path(), std::ios::binary);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  EXPECT_NE(text.find("> one\r\n<"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 7), "> two\r\n");
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}
