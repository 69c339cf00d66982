// Benchmark: a whole online install over loopback (connect, file list, every
// file downloaded, checked and decoded into the install folder) against a
// plain socket copy of the same published bytes, disk to disk, in the same run.
//   bench_online_install [MB=200] [files=10]
#include "update/asio_config.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/utf16.h"
#include "tests/support/file_io.h"
#include "tests/support/update_install_loop.h"
#include "tools/update_server/publisher.h"
#include "tools/update_server/update_server.h"
#include "update/local_path.h"
#include "update/update_install.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

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
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const double mb = argc > 1 ? std::stod(argv[1]) : 200;
  const int count = argc > 2 ? std::stoi(argv[2]) : 10;
  const fs::path root = fs::temp_directory_path() / "bench_online_install";
  fs::remove_all(root);
  const size_t each = size_t(mb * 1048576 / count);
  std::mt19937 random(1);
  for (int i = 0; i < count; ++i) {
    std::vector<uint8_t> data(each);
    for (auto& b : data) b = uint8_t(random() & 0x3F);  // compresses to about 3/4
    testing_support::WriteAll(root / "product" / ("part" + std::to_string(i) + ".bin"), data);
  }
  update_server::PublishOptions p;
  p.files = root / "product";
  p.version = "bench";
  p.output = root / "published";
  update_server::PublishSummary summary;
  std::string error;
  if (!update_server::Publish(p, summary, error)) {
    std::fprintf(stderr, "bench_online_install: %s\n", error.c_str());
    return 1;
  }
  update_server::UpdateServer server;
  update_server::ServerOptions o;
  o.published = p.output;
  if (!server.Start(o, error)) {
    std::fprintf(stderr, "bench_online_install: %s\n", error.c_str());
    return 1;
  }

  std::vector<fs::path> published;
  for (const auto& e : fs::recursive_directory_iterator(p.output / "files"))
    if (e.is_regular_file()) published.push_back(e.path());
  fs::create_directories(root / "plain");
  const double plain = PlainCopy(published, root / "plain");

  testing_support::LoopHost host;
  const auto start = Clock::now();
  auto connectedAt = start;
  {
    update::UpdateInstall client(host, root / "tmp");
    host.client = &client;
    client.SetServerList(vx::Utf8ToUtf16("127.0.0.1:" + std::to_string(server.Port())));
    client.ConnectUpdateSrv();
    host.RunUntil([&] { return host.connected > 0 || !host.errors.empty(); }, std::chrono::seconds(60));
    connectedAt = Clock::now();
    client.SetInstallDirectory(update::InstallText(root / "install"));
    client.ReloadFileList();
    client.CreateDirectories();
    client.StartDownload(5, 5);
    host.RunUntil([&] { return host.complete > 0 || !host.errors.empty(); }, std::chrono::seconds(600));
  }
  const double online = std::chrono::duration<double>(Clock::now() - start).count();
  if (host.complete != 1) {
    std::fprintf(stderr, "bench_online_install: the install did not complete (error %d)\n",
                 host.errors.empty() ? 0 : host.errors[0].first);
    return 1;
  }
  const double wire = double(summary.publishedBytes) / 1048576;
  std::printf("product %.0f MB in %d files, %.0f MB published (what travels)\n", mb, count, wire);
  std::printf("  plain socket copy     %7.2f s  %8.1f MB/s\n", plain, wire / plain);
  std::printf("  connect and file list %7.2f s\n", std::chrono::duration<double>(connectedAt - start).count());
  std::printf("  online install        %7.2f s  %8.1f MB/s  %5.1f %% of plain (goal 80 %%)\n", online,
              wire / online, 100 * plain / online);
  server.Stop();
  fs::remove_all(root);
  return 0;
}
