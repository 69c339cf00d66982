// Benchmark: one file through the file-transfer service and a receive task
// over loopback, with 1 and 5 connections, against a plain socket copy of the
// same file (read from disk, written to disk) in the same run.
//   bench_ftt_transfer [MB=200] [rounds=3]
#include "update/asio_config.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "update/ftt_send_service.h"
#include "update/ftt_task_manager.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double PlainCopy(const fs::path& source, const fs::path& target) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  const uint16_t port = acceptor.local_endpoint().port();
  const auto start = Clock::now();
  std::thread reader([&] {
    asio::ip::tcp::socket s = acceptor.accept();
    std::ofstream out(target, std::ios::binary);
    std::vector<char> buf(1 << 16);
    std::error_code ec;
    for (;;) {
      const size_t n = s.read_some(asio::buffer(buf), ec);
      if (ec) break;
      out.write(buf.data(), std::streamsize(n));
    }
  });
  {
    asio::ip::tcp::socket out(io);
    out.connect({asio::ip::make_address("127.0.0.1"), port});
    std::ifstream in(source, std::ios::binary);
    std::vector<char> buf(1 << 16);
    while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0)
      asio::write(out, asio::buffer(buf.data(), size_t(in.gcount())));
  }
  reader.join();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Catalogue : public ftt::FileCatalogue {
 public:
  explicit Catalogue(fs::path file) : m_file(std::move(file)) {}
  std::optional<std::string> SecretKeyOf(const std::string& code, const std::string&) override {
    return code == "BENCH" ? std::optional<std::string>("secret") : std::nullopt;
  }
  std::optional<vx::FilePath> FileOf(const std::u16string&) override { return m_file; }

 private:
  fs::path m_file;
};

class DoneSink : public ftt::FttNoticeSink {
 public:
  void OnNoticeTaskStatus(const ftt::TaskNotice& n) override {
    std::lock_guard<std::mutex> g(m);
    if ((n.result == ftt::FTTR_ERR_PROGRESS && n.progress == 1000 && n.node == -1) ||
        (n.result != ftt::FTTR_ERR_PROGRESS && n.result != ftt::FTTR_NODE_STATE_CHANGED))
      done = true, ok = n.result == ftt::FTTR_ERR_PROGRESS;
    cv.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return done; });
    return ok;
  }
  std::mutex m;
  std::condition_variable cv;
  bool done = false, ok = false;
};

double Transfer(const fs::path& source, const fs::path& target, int connections) {
  Catalogue catalogue(source);
  ftt::FttSendService service(catalogue);
  uint16_t port = 0;
  if (!service.Start("127.0.0.1", port)) return -1;
  DoneSink sink;
  ftt::VX_FtTaskMgr manager;
  manager.SetNoticeSink(&sink);
  manager.FttMgrStart();
  manager.SetTransferService("127.0.0.1", port);
  ftt::NodeRecord node;
  node.nMaxConnCnt = connections;
  std::strcpy(node.authCode, "BENCH");
  std::strcpy(node.szSecretKey, "secret");
  const auto start = Clock::now();
  manager.CreateRecvTask(u"bench", false, target, 0, 0, true, u"bench");
  manager.AddNode(true, u"bench", node);
  const bool ok = sink.Wait();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  manager.SetNoticeSink(nullptr);
  return ok ? seconds : -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? size_t(std::stoul(argv[1])) : 200;
  const int rounds = argc > 2 ? std::stoi(argv[2]) : 3;
  const fs::path dir = fs::temp_directory_path() / "bench_ftt_transfer";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path source = dir / "source.bin";
  {
    std::mt19937 random(1);
    std::vector<uint32_t> block(1 << 18);
    std::ofstream out(source, std::ios::binary);
    for (size_t written = 0; written < megabytes << 20; written += block.size() * 4) {
      for (auto& w : block) w = random();
      out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size() * 4));
    }
  }
  const double mb = double(fs::file_size(source)) / (1 << 20);
  std::vector<double> plain, one, five;
  for (int r = 0; r < rounds; ++r) {  // alternating, so that drifts hit all three alike
    fs::remove(dir / "plain.bin");
    plain.push_back(PlainCopy(source, dir / "plain.bin"));
    for (auto [connections, times] : {std::pair{1, &one}, std::pair{5, &five}}) {
      fs::remove(dir / "target.bin");
      const double t = Transfer(source, dir / "target.bin", connections);
      if (t < 0 || fs::file_size(dir / "target.bin") != fs::file_size(source)) {
        std::fprintf(stderr, "bench_ftt_transfer: the transfer with %d connections failed\n", connections);
        return 1;
      }
      times->push_back(t);
    }
  }
  const double p = Median(plain), o = Median(one), f = Median(five);
  std::printf("file %.0f MB, %d rounds (medians)\n", mb, rounds);
  std::printf("  plain socket copy    %8.1f MB/s\n", mb / p);
  std::printf("  transfer, 1 conn     %8.1f MB/s  %5.1f %% of plain\n", mb / o, 100 * p / o);
  std::printf("  transfer, 5 conns    %8.1f MB/s  %5.1f %% of plain (goal 80 %%)\n", mb / f, 100 * p / f);
  fs::remove_all(dir);
  return 0;
}
