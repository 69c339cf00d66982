#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/file_io.h"
#include "update/download_decoder.h"
#include "update/download_file.h"
#include "update/update_log.h"

namespace fs = std::filesystem;
using testing_support::ReadAll;
using testing_support::WriteAll;

namespace {

struct MemoryLog : update::UpdateLog {
  std::vector<std::string> lines;
  void Write(const std::string& m) override { lines.push_back(m); }
};

struct DecoderTest : ::testing::Test {
  fs::path dir = fs::temp_directory_path() / ("decoder-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
  void SetUp() override { fs::remove_all(dir); fs::create_directories(dir); }
  void TearDown() override { fs::remove_all(dir); }

  update::DecodeJob Job(const std::vector<uint8_t>& data, const std::vector<uint8_t>& published) {
    update::DecodeJob job;
    job.nFileID = 7;
    job.temporary = dir / "a.txt.udt!";
    job.final = dir / "sub" / "dir" / "a.txt";
    job.expectedSize = data.size();
    job.expectedDigest = update::Md5Hex(data.data(), data.size());
    WriteAll(job.temporary, published);
    return job;
  }
};

std::vector<uint8_t> Published(const std::vector<uint8_t>& data) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(update::EncodeDownloadFile(data, out));
  return out;
}

}  // namespace

TEST_F(DecoderTest, WritesTheCheckedFileAndDropsTheDownload) {
  const std::vector<uint8_t> data(100000, 'x');
  update::DecodeJob job = Job(data, Published(data));
  std::string error;
  MemoryLog log;
  ASSERT_TRUE(update::DecodeDownloadedFile(job, &log, error)) << error;
  EXPECT_EQ(ReadAll(job.final), data);
  EXPECT_FALSE(fs::exists(job.temporary));
  EXPECT_TRUE(log.lines.empty());

  // An empty product file arrives as an empty download, and as a published one.
  for (const std::vector<uint8_t>& published : {std::vector<uint8_t>{}, Published({})}) {
    update::DecodeJob empty = Job({}, published);
    WriteAll(empty.final, {1, 2, 3});  // an older file is replaced
    ASSERT_TRUE(update::DecodeDownloadedFile(empty, nullptr, error)) << error;
    EXPECT_TRUE(fs::exists(empty.final));
    EXPECT_EQ(fs::file_size(empty.final), 0u);
  }
}

TEST_F(DecoderTest, RefusesDataThatIsNotTheListedFile) {
  const std::vector<uint8_t> data(5000, 'y');
  std::vector<uint8_t> other = data;
  other[10] = 'z';
  std::vector<uint8_t> corrupt = Published(data);
  corrupt[corrupt.size() / 2] ^= 0x55;
  std::vector<uint8_t> otherDigest = Published(other);  // sound file, another digest than listed
  struct Case {
    const char* what;
    std::vector<uint8_t> published;
    uint64_t size;
  };
  const std::vector<Case> cases = {
      {"corrupt stream", corrupt, data.size()},
      {"other data", otherDigest, data.size()},
      {"cut short", std::vector<uint8_t>(otherDigest.begin(), otherDigest.end() - 3), data.size()},
      {"empty download of a listed 5000-byte file", {}, data.size()},
      {"listed size differs", Published(data), data.size() + 1},
  };
  for (const Case& c : cases) {
    update::DecodeJob job = Job(data, c.published);
    job.expectedSize = c.size;
    MemoryLog log;
    std::string error;
    EXPECT_FALSE(update::DecodeDownloadedFile(job, &log, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
    ASSERT_EQ(log.lines.size(), 1u) << c.what;
    EXPECT_TRUE(log.lines[0].starts_with("Uncompress file error.")) << c.what;
    EXPECT_TRUE(fs::exists(job.temporary)) << c.what;  // kept for the caller
    EXPECT_FALSE(fs::exists(job.final)) << c.what;
  }
  // A digest that is not one (no MD5 identity) is not checked.
  update::DecodeJob job = Job(data, Published(data));
  job.expectedDigest = update::DigestOfIdentity(u"not a digest");
  EXPECT_TRUE(job.expectedDigest.empty());
  std::string error;
  EXPECT_TRUE(update::DecodeDownloadedFile(job, nullptr, error)) << error;
  EXPECT_EQ(update::DigestOfIdentity(u"D41D8CD98F00B204E9800998ECF8427E"), "d41d8cd98f00b204e9800998ecf8427e");

  // Missing temporary file.
  MemoryLog log;
  job.temporary = dir / "missing.udt!";
  EXPECT_FALSE(update::DecodeDownloadedFile(job, &log, error));
  ASSERT_EQ(log.lines.size(), 1u);
  EXPECT_NE(log.lines[0].find("src file not exist"), std::string::npos);
}

TEST_F(DecoderTest, WorkersAreJoinedBeforeTheOwnerGoesOn) {
  std::atomic<int> done{0}, ok{0};
  {
    update::DecodeWorkers workers;
    for (int i = 0; i < 8; ++i) {
      std::vector<uint8_t> data(200000 + size_t(i), uint8_t(i));
      update::DecodeJob job;
      job.nFileID = i;
      job.temporary = dir / ("f" + std::to_string(i) + ".udt!");
      job.final = dir / ("f" + std::to_string(i));
      job.expectedSize = data.size();
      WriteAll(job.temporary, Published(data));
      workers.Start(job, [&](int32_t, bool good, const std::string&) {
        ok += good ? 1 : 0;
        ++done;
      });
    }
    workers.JoinAll();
    EXPECT_EQ(done.load(), 8);
    EXPECT_EQ(ok.load(), 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(fs::file_size(dir / ("f" + std::to_string(i))), 200000u + unsigned(i));
  }
}
