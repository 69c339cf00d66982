// Benchmark: PDU throughput between two update network managers over
// loopback, against a plain Asio socket copy of the same bytes, in one run.
//   bench_pdu_throughput [MB] [body bytes] [rounds] [both|plain|managers]
// (one side alone is for profilers).
#include "update/asio_config.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "update/update_net_manager.h"

namespace {

using Clock = std::chrono::steady_clock;

double PlainCopy(size_t total, size_t chunk) {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  const uint16_t port = acceptor.local_endpoint().port();
  std::thread reader([&] {
    asio::ip::tcp::socket s = acceptor.accept();
    std::vector<uint8_t> buf(1 << 16);
    size_t got = 0;
    std::error_code ec;
    while (got < total && !ec) got += s.read_some(asio::buffer(buf), ec);
  });
  asio::ip::tcp::socket out(io);
  out.connect({asio::ip::make_address("127.0.0.1"), port});
  std::vector<uint8_t> data(chunk + 4, 0x5A);
  const auto start = Clock::now();
  for (size_t sent = 0; sent < total; sent += data.size()) asio::write(out, asio::buffer(data));
  reader.join();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class CountingSink : public update::UpdateNetSink {
 public:
  void OnConnect(int, int) override {
    std::lock_guard<std::mutex> g(m);
    connected = true;
    cv.notify_all();
  }
  void OnPdu(int error, int, uint16_t, const uint8_t*, uint16_t n) override {
    std::lock_guard<std::mutex> g(m);
    if (!error) bytes += n + 4;
    if (bytes >= target) cv.notify_all();  // wake the waiter only when it can go on
  }
  // Waits until `atLeast` bytes have arrived.
  void WaitFor(size_t atLeast) {
    std::unique_lock<std::mutex> g(m);
    target = atLeast;
    cv.wait(g, [&] { return bytes >= atLeast; });
  }
  std::mutex m;
  std::condition_variable cv;
  bool connected = false;
  size_t bytes = 0;
  size_t target = 0;
};

double Managers(size_t total, size_t body) {
  CountingSink serverSink, clientSink;
  update::UpdateNetManager server, client;
  server.SetSink(&serverSink);
  client.SetSink(&clientSink);
  uint16_t port = 0;
  server.Listen("127.0.0.1", port);
  const int h = client.CreateConnection("127.0.0.1", port);
  client.Connect(h, "127.0.0.1", port);
  {
    std::unique_lock<std::mutex> g(clientSink.m);
    clientSink.cv.wait(g, [&] { return clientSink.connected; });
  }
  const auto start = Clock::now();
  // At most 16 MB in flight, as a sender with flow control would keep it.
  constexpr size_t kWindow = 16 << 20;
  size_t sent = 0;
  for (; sent < total; sent += body + 4) {
    if (sent >= kWindow && sent % (kWindow / 2) < body + 4) serverSink.WaitFor(sent - kWindow / 2);
    // Buffers of written PDUs come back through the manager's pool.
    client.SendPdu(h, 1, client.AcquireBuffer(body + 4), body + 4);
  }
  serverSink.WaitFor(sent);
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// CPU seconds of the whole process (every thread), user and system.
double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto s = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

std::string LoadAverage() {
  std::FILE* f = std::fopen("/proc/loadavg", "r");
  char line[64] = {};
  if (f) {
    if (!std::fgets(line, sizeof line, f)) line[0] = 0;
    std::fclose(f);
  }
  std::string s(line);
  const size_t third = s.find(' ', s.find(' ', s.find(' ') + 1) + 1);
  return third == std::string::npos ? "unknown" : s.substr(0, third);
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mb = argc > 1 ? std::stoul(argv[1]) : 256;
  const size_t body = argc > 2 ? std::stoul(argv[2]) : 65531;
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 5;
  const std::string mode = argc > 4 ? argv[4] : "both";
  const size_t total = mb << 20;
  // Alternating rounds, so both see the same machine load; medians compared.
  // CPU time (all threads) is the figure a loaded machine disturbs least.
  std::vector<double> plain, ours, plainCpu, oursCpu;
  for (int i = 0; i < rounds; ++i) {
    double c = CpuSeconds();
    plain.push_back(mode == "managers" ? 1 : PlainCopy(total, body));
    plainCpu.push_back(CpuSeconds() - c);
    c = CpuSeconds();
    ours.push_back(mode == "plain" ? 1 : Managers(total, body));
    oursCpu.push_back(CpuSeconds() - c);
  }
  const double p = Median(plain), o = Median(ours);
  std::printf("bytes: %zu MB in PDUs of %zu bytes, median of %d rounds, load average %s\n", mb, body, rounds,
              LoadAverage().c_str());
  std::printf("plain Asio copy:  %8.1f MB/s  CPU %5.2f ms/MB\n", mb / p, 1000 * Median(plainCpu) / double(mb));
  std::printf("update managers:  %8.1f MB/s  CPU %5.2f ms/MB  (%.0f%% of plain; goal 90%%)\n", mb / o,
              1000 * Median(oursCpu) / double(mb), 100.0 * p / o);
  return 0;
}
