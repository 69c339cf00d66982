// Benchmark: a whole online install over loopback (connect, file list, every
// file downloaded, checked and decoded into the install folder) against a
// plain socket copy of the same published bytes, disk to disk, in alternating
// rounds of the same run (medians compared).
//   bench_online_install [MB=200] [files=10] [rounds=3]
// Relayed: the install through the link relay (round trip and rate per
// connection) against curl fetching the published files over HTTP/1.1 through
// the same relay, five at a time on kept-alive connections, plus decoding them.
//   bench_online_install relayed [rtt_ms=100] [rate=1000000] [files=149] [MB=32] [rounds=1]
#include "update/asio_config.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "base/utf16.h"
#include "tests/support/file_io.h"
#include "tests/support/update_install_loop.h"
#include "tools/link_relay/link_relay.h"
#include "tools/update_server/publisher.h"
#include "tools/update_server/update_server.h"
#include "update/download_decoder.h"
#include "update/local_path.h"
#include "update/update_install.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from, Clock::time_point to) { return std::chrono::duration<double>(to - from).count(); }

double PlainCopy(const std::vector<fs::path>& sources, const fs::path& folder) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  const uint16_t port = acceptor.local_endpoint().port();
  const auto start = Clock::now();
  for (size_t i = 0; i < sources.size(); ++i) {
    std::thread reader([&] {
      asio::ip::tcp::socket s = acceptor.accept();
      std::ofstream out(folder / std::to_string(i), std::ios::binary);
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
      std::ifstream in(sources[i], std::ios::binary);
      std::vector<char> buf(1 << 16);
      while (in.read(buf.data(), std::streamsize(buf.size())) || in.gcount() > 0)
        asio::write(out, asio::buffer(buf.data(), size_t(in.gcount())));
    }
    reader.join();
  }
  return Seconds(start, Clock::now());
}

// The client's main thread, noting when the last transfer ended (progress
// 100 % while the file is not yet done: decoding follows).
class TimedHost : public testing_support::LoopHost {
 public:
  Clock::time_point lastTransfer{};
  void EntryChanged(const update::DownloadEntry& e) override {
    if (e.eFileStatus != update::kFileDone && e.progress >= 100.0f) lastTransfer = Clock::now();
  }
};

struct OnlineRound {
  bool ok = false;
  double total = 0, connect = 0, transfer = 0;  // transfer: until the last file was in
};

OnlineRound OnlineInstall(const std::string& address, uint16_t port, const fs::path& root, const fs::path& product) {
  OnlineRound r;
  fs::remove_all(root / "install");
  fs::remove_all(root / "tmp");
  TimedHost host;
  const auto start = Clock::now();
  auto connectedAt = start;
  {
    update::UpdateInstall client(host, root / "tmp");
    host.client = &client;
    client.SetServerList(vx::Utf8ToUtf16(address + ":" + std::to_string(port)));
    client.ConnectUpdateSrv();
    host.RunUntil([&] { return host.connected > 0 || !host.errors.empty(); }, std::chrono::seconds(60));
    connectedAt = Clock::now();
    client.SetInstallDirectory(update::InstallText(root / "install"));
    client.ReloadFileList();
    client.CreateDirectories();
    client.StartDownload(5, 5);
    host.RunUntil([&] { return host.complete > 0 || !host.errors.empty(); }, std::chrono::seconds(600));
  }
  const auto end = Clock::now();
  if (std::getenv("BENCH_MARKS"))  // for profilers recording with the monotonic clock
    std::fprintf(stderr, "online install from %.6f to %.6f\n", start.time_since_epoch().count() / 1e9,
                 end.time_since_epoch().count() / 1e9);
  if (host.complete != 1) {
    std::fprintf(stderr, "bench_online_install: the install did not complete (error %d)\n",
                 host.errors.empty() ? 0 : host.errors[0].first);
    return r;
  }
  // Every file as published: same size (the decoder checked length and MD5).
  for (const auto& e : fs::recursive_directory_iterator(product)) {
    if (!e.is_regular_file()) continue;
    const fs::path installed = root / "install" / fs::relative(e.path(), product);
    std::error_code ec;
    if (fs::file_size(installed, ec) != e.file_size()) {
      std::fprintf(stderr, "bench_online_install: %s missing or of another size\n", installed.string().c_str());
      return r;
    }
  }
  r.ok = true;
  r.total = Seconds(start, end);
  r.connect = Seconds(start, connectedAt);
  r.transfer = host.lastTransfer == Clock::time_point{} ? r.total : Seconds(start, host.lastTransfer);
  return r;
}

// Decodes every published file once more on this thread (copies, into a
// scratch folder): what checking and decoding alone cost, without transfer.
double DecodeAlone(const fs::path& published, const fs::path& product, const fs::path& scratch) {
  fs::remove_all(scratch);
  fs::create_directories(scratch);
  std::vector<update::DecodeJob> jobs;
  for (const auto& e : fs::recursive_directory_iterator(published)) {
    if (!e.is_regular_file()) continue;
    update::DecodeJob job;
    job.temporary = scratch / (std::to_string(jobs.size()) + ".udt!");
    job.final = scratch / std::to_string(jobs.size());
    job.expectedSize = fs::file_size(product / fs::relative(e.path(), published));
    fs::copy_file(e.path(), job.temporary);
    jobs.push_back(job);
  }
  // CPU time of this thread: what a loaded machine disturbs least.
  auto cpu = [] {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
  };
  const double start = cpu();
  for (const auto& job : jobs) {
    std::string error;
    if (!update::DecodeDownloadedFile(job, nullptr, error)) std::fprintf(stderr, "decode: %s\n", error.c_str());
  }
  const double seconds = cpu() - start;
  fs::remove_all(scratch);
  return seconds;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Peak resident memory since the last ResetPeakMemory, in MB (-1: unknown).
long PeakMemoryMb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) / 1024;
  return -1;
}
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a.empty() ? "unknown" : a + " " + b + " " + c;
}

// `count` files of `mb` MB in all, each byte drawn from `alphabet` values
// (64: compresses to about 3/4; 4: to about 0.28). Spread sizes: from 1 to
// 1024 parts, the same total.
void WriteProduct(const fs::path& folder, double mb, int count, uint32_t alphabet, bool spread) {
  std::vector<double> weights;
  for (int i = 0; i < count; ++i) weights.push_back(spread ? double(1u << ((i * 7) % 11)) : 1.0);
  double sum = 0;
  for (double w : weights) sum += w;
  std::mt19937 random(1);
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> data(size_t(mb * 1048576 * weights[size_t(i)] / sum));
    for (size_t k = 0; k < data.size(); k += 4) {
      const uint32_t w = random();
      for (size_t j = 0; j < 4 && k + j < data.size(); ++j) data[k + j] = uint8_t(((w >> (8 * j)) & 0xFF) % alphabet);
    }
    testing_support::WriteAll(folder / ("part" + std::to_string(i) + ".bin"), data);
  }
}

struct Cleanup {
  fs::path root;
  ~Cleanup() {
    std::error_code ec;
    fs::remove_all(root, ec);  // also when a round fails
  }
};

// A child process; killed and waited for at the end.
class Child {
 public:
  // Starts `argv`; its standard output goes to `out` (read end) when asked.
  bool Start(std::vector<std::string> argv, int* out = nullptr) {
    int pipeFds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out) {
      if (::pipe(pipeFds) != 0) return false;
      posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
      posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    }
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    const int failed = posix_spawnp(&m_pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (out) {
      ::close(pipeFds[1]);
      *out = pipeFds[0];
    }
    if (failed) m_pid = -1;
    return !failed;
  }
  // Exit status, or -1.
  int Wait() {
    int status = 0;
    if (m_pid <= 0 || ::waitpid(m_pid, &status, 0) != m_pid) return -1;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  ~Child() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGTERM);
    Wait();
  }

 private:
  pid_t m_pid = -1;
};

// A plain HTTP/1.1 server (keep-alive, threads) over `folder` on 127.0.0.1.
bool StartHttpServer(Child& child, const fs::path& folder, uint16_t& port) {
  static const char kScript[] =
      "import functools, http.server, sys\n"
      "class Handler(http.server.SimpleHTTPRequestHandler):\n"
      "    protocol_version = 'HTTP/1.1'\n"
      "    def log_message(self, *args): pass\n"
      "server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), functools.partial(Handler, directory=sys.argv[1]))\n"
      "print(server.server_address[1], flush=True)\n"
      "server.serve_forever()\n";
  int out = -1;
  if (!child.Start({"python3", "-c", kScript, folder.string()}, &out)) return false;
  char line[32] = {};
  size_t n = 0;
  while (n + 1 < sizeof line && ::read(out, line + n, 1) == 1 && line[n] != '\n') ++n;
  ::close(out);
  port = uint16_t(std::atoi(line));
  return port != 0;
}

// curl fetching every published file through the relay, five at a time on
// kept-alive connections; wall time, or -1 when a file is missing or wrong.
double CurlFetch(uint16_t httpPort, const fs::path& published, const fs::path& into) {
  fs::remove_all(into);
  fs::create_directories(into);
  std::ofstream config(into / "curl.config");
  std::vector<std::pair<fs::path, uintmax_t>> expected;
  for (const auto& e : fs::recursive_directory_iterator(published / "files")) {
    if (!e.is_regular_file()) continue;
    const fs::path out = into / std::to_string(expected.size());
    expected.emplace_back(out, e.file_size());
    std::string url = "http://127.0.0.2:" + std::to_string(httpPort) + "/";
    for (char c : fs::relative(e.path(), published).generic_string()) {  // published names are plain; spaces and such escaped
      if (std::isalnum(static_cast<unsigned char>(c)) || std::strchr("/._-", c)) {
        url += c;
      } else {
        char escaped[4];
        std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
        url += escaped;
      }
    }
    config << "url = \"" << url << "\"\noutput = \"" << out.string() << "\"\n";
  }
  config.close();
  const auto start = Clock::now();
  Child curl;
  if (!curl.Start({"curl", "--silent", "--no-progress-meter", "--show-error", "--fail", "--parallel", "--parallel-max", "5", "--config",
                   (into / "curl.config").string()}) ||
      curl.Wait() != 0) {
    std::fprintf(stderr, "bench_online_install: curl failed (is it installed? scripts/bootstrap.sh installs it)\n");
    return -1;
  }
  const double seconds = Seconds(start, Clock::now());
  for (const auto& [path, size] : expected) {
    std::error_code ec;
    if (fs::file_size(path, ec) != size) {
      std::fprintf(stderr, "bench_online_install: curl left %s missing or of another size\n", path.string().c_str());
      return -1;
    }
  }
  return seconds;
}

// The product under `root` published to `root`/published and served on
// loopback; false, said on standard error, when either fails.
struct Served {
  fs::path root;
  fs::path files = root / "product", output = root / "published";
  bool Start(update_server::UpdateServer& server, update_server::PublishSummary& summary) const {
    update_server::PublishOptions p;
    p.files = files;
    p.version = "bench";
    p.output = output;
    update_server::ServerOptions o;
    o.published = output;
    std::string error;
    if (update_server::Publish(p, summary, error) && server.Start(o, error)) return true;
    std::fprintf(stderr, "bench_online_install: %s\n", error.c_str());
    return false;
  }
};

// The install and curl through one relay: the update server's two ports and
// the HTTP server's, 127.0.0.2 -> 127.0.0.1, each with half the round trip
// one way and the rate cap per connection.
int Relayed(int argc, char** argv) {
  const int rtt = argc > 2 ? std::stoi(argv[2]) : 100;
  const uint64_t rate = argc > 3 ? std::stoull(argv[3]) : 1000000;
  const int count = argc > 4 ? std::stoi(argv[4]) : 149;
  const double mb = argc > 5 ? std::stod(argv[5]) : 32;
  const int rounds = argc > 6 ? std::max(1, std::stoi(argv[6])) : 1;
  const fs::path root = fs::temp_directory_path() / ("bench_online_install." + std::to_string(::getpid()));
  fs::remove_all(root);
  Cleanup cleanup{root};
  WriteProduct(root / "product", mb, count, 4, true);
  update_server::UpdateServer server;
  update_server::PublishSummary summary;
  std::string error;
  const Served p{root};
  if (!p.Start(server, summary)) return 1;
  Child http;
  uint16_t httpPort = 0;
  if (!StartHttpServer(http, p.output, httpPort)) {
    std::fprintf(stderr, "bench_online_install: no HTTP server (python3)\n");
    return 1;
  }
  link_relay::RelayOptions relayOptions;
  for (uint16_t port : {server.Port(), server.TransferPort(), httpPort}) {
    link_relay::PortRule rule;
    rule.listen = rule.target = port;
    rule.delayMs = rtt / 2;
    rule.rate = rate;
    relayOptions.ports.push_back(rule);
  }
  asio::io_context io;
  auto work = asio::make_work_guard(io);
  link_relay::LinkRelay relay(io, relayOptions);
  if (!relay.Start(error)) {
    std::fprintf(stderr, "bench_online_install: %s\n", error.c_str());
    return 1;
  }
  std::thread relayThread([&] { io.run(); });
  struct StopRelay {
    asio::io_context& io;
    link_relay::LinkRelay& relay;
    decltype(work)& guard;
    std::thread& thread;
    ~StopRelay() {
      asio::post(io, [&] {
        relay.Stop();
        guard.reset();
      });
      thread.join();
    }
  } stopRelay{io, relay, work, relayThread};

  std::vector<double> curl, online, connect, transfer;
  for (int i = 0; i < rounds; ++i) {
    const double fetched = CurlFetch(httpPort, p.output, root / "curl");
    if (fetched < 0) return 1;
    curl.push_back(fetched);
    const OnlineRound r = OnlineInstall("127.0.0.2", server.Port(), root, p.files);
    if (!r.ok) return 1;
    online.push_back(r.total);
    connect.push_back(r.connect);
    transfer.push_back(r.transfer);
    std::printf("round %d: curl %.2f s, online install %.2f s\n", i + 1, fetched, r.total);
  }
  const double decode = DecodeAlone(p.output / "files", p.files, root / "decode");
  const double cu = Median(curl) + decode, on = Median(online);
  std::printf("product %.0f MB in %d files, %.1f MB published; through the relay: %d ms round trip, %llu B/s per "
              "connection; medians of %d rounds; load average %s\n",
              mb, count, double(summary.publishedBytes) / 1048576, rtt, static_cast<unsigned long long>(rate), rounds,
              LoadAverage().c_str());
  std::printf("  curl, 5 at a time     %7.2f s  (transfer %.2f s + decoding alone %.2f s CPU)\n", cu, Median(curl),
              decode);
  std::printf("  online install        %7.2f s  %5.2fx curl (goal at most 1.10x)\n", on, on / cu);
  std::printf("    connect, file list  %7.2f s\n", Median(connect));
  std::printf("    last file in at     %7.2f s\n", Median(transfer));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "relayed") return Relayed(argc, argv);
  const double mb = argc > 1 ? std::stod(argv[1]) : 200;
  const int count = argc > 2 ? std::stoi(argv[2]) : 10;
  const int rounds = argc > 3 ? std::max(1, std::stoi(argv[3])) : 3;
  const fs::path root = fs::temp_directory_path() / ("bench_online_install." + std::to_string(::getpid()));
  fs::remove_all(root);
  Cleanup cleanup{root};
  WriteProduct(root / "product", mb, count, 64, false);
  update_server::UpdateServer server;
  update_server::PublishSummary summary;
  std::string error;
  const Served p{root};
  if (!p.Start(server, summary)) return 1;
  std::vector<fs::path> published;
  for (const auto& e : fs::recursive_directory_iterator(p.output / "files"))
    if (e.is_regular_file()) published.push_back(e.path());

  // Alternating rounds, so that both see the same machine load.
  std::vector<double> plain, online, connect, transfer;
  long peak = -1;
  for (int i = 0; i < rounds; ++i) {
    fs::remove_all(root / "plain");
    fs::create_directories(root / "plain");
    plain.push_back(PlainCopy(published, root / "plain"));
    ResetPeakMemory();  // what the server and one install hold, not the publishing
    const OnlineRound r = OnlineInstall("127.0.0.1", server.Port(), root, p.files);
    peak = std::max(peak, PeakMemoryMb());
    if (!r.ok) return 1;
    online.push_back(r.total);
    connect.push_back(r.connect);
    transfer.push_back(r.transfer);
    std::printf("round %d: plain %.2f s, online install %.2f s (%.1f %%)\n", i + 1, plain.back(), r.total,
                100 * plain.back() / r.total);
  }
  server.Stop();
  const double decode = DecodeAlone(p.output / "files", p.files, root / "decode");
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const double wire = double(summary.publishedBytes) / 1048576;
  const double pc = Median(plain), on = Median(online);
  std::printf("product %.0f MB in %d files, %.0f MB published (what travels); medians of %d rounds; load average %s\n",
              mb, count, wire, rounds, LoadAverage().c_str());
  std::printf("  plain socket copy     %7.2f s  %8.1f MB/s\n", pc, wire / pc);
  std::printf("  online install        %7.2f s  %8.1f MB/s  %5.1f %% of plain (goal 80 %%)\n", on, wire / on,
              100 * pc / on);
  std::printf("    connect, file list  %7.2f s\n", Median(connect));
  std::printf("    peak memory         %7ld MB (process: server and client)\n", peak);
  std::printf("    last file in at     %7.2f s  (then decoding the rest)\n", Median(transfer));
  std::printf("  decoding alone        %7.2f s  CPU (inflate, MD5 check and write of every file, one thread)\n", decode);
  const double floor = std::max(pc, decode / cores);
  std::printf("  floor on %u cores      %7.2f s  = %5.1f %% of plain: decoding shared by the cores, or the copy\n",
              cores, floor, 100 * pc / floor);
  std::printf("  online install        %7.2f s  = %5.1f %% of the floor's speed\n", on, 100 * floor / on);
  fs::remove_all(root);
  return 0;
}
