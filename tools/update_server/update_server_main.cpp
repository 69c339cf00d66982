// update-server: publishes product folders for online installs and serves them.
//   update-server publish --files DIR --version V --build N -o PUBLISHED
//   update-server serve PUBLISHED [--address A] [--port P] [--transfer-port T] [--key-file KEY]
//                                 [--trusted-balancers A1[,A2...]]
//   update-server new-key KEY
#include <arpa/inet.h>
#include <signal.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/fs_path.h"
#include "base/memory_budget.h"
#include "tools/update_server/address_server.h"
#include "tools/update_server/publisher.h"
#include "tools/update_server/update_server.h"
#include "update/update_install.h"

namespace {

constexpr int kDefaultPort = 17800, kDefaultTransferPort = 17801;

void PrintUsage(FILE* to) {
  std::fprintf(to,
               "usage: update-server publish --files DIR --version V --build N -o PUBLISHED\n"
               "                             [--threads N] [--memory SIZE]\n"
               "       update-server serve PUBLISHED [--address A] [--port P] [--transfer-port T]\n"
               "                           [--key-file KEY] [--trusted-balancers A1[,A2...]]\n"
               "       update-server new-key KEY\n"
               "       update-server address-server --servers H1:P1[,H2:P2...] [--listen A:P]\n"
               "                                    [--probe-every MS]\n"
               "       update-server --help | --version\n"
               "       (defaults: 127.0.0.1, ports %d and %d; publish on every core within a\n"
               "        quarter of the memory, at most 2G)\n",
               kDefaultPort, kDefaultTransferPort);
}

// A usage error: the usage on standard error, exit code 2.
int Usage() {
  PrintUsage(stderr);
  return 2;
}

// A decimal number from `least` to `most`, nothing else.
bool ParseNumber(const char* text, long least, long most, long& number) {
  char* end = nullptr;
  errno = 0;
  const long n = std::strtol(text, &end, 10);
  if (!*text || *end || errno == ERANGE || n < least || n > most) return false;
  number = n;
  return true;
}

bool ParsePort(const char* value, uint16_t& port) {
  long n = 0;
  if (!ParseNumber(value, 0, 65535, n)) return false;
  port = uint16_t(n);
  return true;
}

// "A1,A2": IP addresses, written as the server writes a peer's.
bool ParseAddresses(const std::string& text, std::vector<std::string>& addresses) {
  addresses.clear();
  for (size_t at = 0; at <= text.size();) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string item = text.substr(at, comma - at);
    unsigned char binary[16];
    char canonical[64];
    const int family = item.find(':') == std::string::npos ? AF_INET : AF_INET6;
    if (inet_pton(family, item.c_str(), binary) != 1 || !inet_ntop(family, binary, canonical, sizeof canonical))
      return false;
    addresses.push_back(canonical);
    at = comma + 1;
  }
  return !addresses.empty();
}

// SIGINT and SIGTERM, taken by sigwait rather than a handler.
sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

// Before any thread starts, so that every thread has them blocked.
void BlockStopSignals() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

int WaitForStop() {
  const sigset_t signals = StopSignals();
  int received = 0;
  sigwait(&signals, &received);
  return received;
}

int RunServe(int argc, char** argv) {
  if (argc < 3) return Usage();
  update_server::ServerOptions options;
  options.published = vx::PathFromUtf8(argv[2]);
  options.port = kDefaultPort;
  options.transferPort = kDefaultTransferPort;
  for (int i = 3; i < argc; i += 2) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* value = argv[i + 1];
    if (arg == "--address") {
      options.address = value;
    } else if (arg == "--key-file") {
      std::string error;
      auto codes = update_server::SharedCodes::Load(vx::PathFromUtf8(value), error);
      if (!codes) {
        std::fprintf(stderr, "update-server: %s\n", error.c_str());
        return 1;
      }
      options.sharedCodes = std::make_shared<const update_server::SharedCodes>(*codes);
    } else if (arg == "--trusted-balancers") {
      if (!ParseAddresses(value, options.trustedProxies)) {
        std::fprintf(stderr, "update-server: --trusted-balancers takes IP addresses separated by \",\"\n");
        return 2;
      }
    } else if ((arg == "--port" && !ParsePort(value, options.port)) ||
               (arg == "--transfer-port" && !ParsePort(value, options.transferPort))) {
      std::fprintf(stderr, "update-server: %s takes a port number\n", arg.c_str());
      return 2;
    } else if (arg != "--port" && arg != "--transfer-port") {
      return Usage();
    }
  }
  // As many descriptors as allowed; the connection limits stay inside them
  // (a transfer connection also holds the file it serves).
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    getrlimit(RLIMIT_NOFILE, &files);
    const size_t share = files.rlim_cur > 160 ? size_t(files.rlim_cur - 64) / 3 : 32;
    options.controlLimits.maxConnections = std::min(options.controlLimits.maxConnections, share);
    options.transferLimits.maxConnections = std::min(options.transferLimits.maxConnections, share);
  }
  options.log = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  BlockStopSignals();

  update_server::UpdateServer server;
  std::string error;
  if (!server.Start(options, error)) {
    std::fprintf(stderr, "update-server: %s\n", error.c_str());
    return 1;
  }
  for (const std::string& balancer : options.trustedProxies)
    std::printf("PROXY headers accepted from %s only\n", balancer.c_str());
  std::printf("serving %s on %s:%u, transfer service on port %u\n", vx::PathToUtf8(options.published).c_str(),
              options.address.c_str(), unsigned(server.Port()), unsigned(server.TransferPort()));
  std::fflush(stdout);
  const int received = WaitForStop();
  server.Stop();
  std::printf("stopped (signal %d)\n", received);
  return 0;
}

// "512M", "2G", "1048576": bytes; at least 16 MiB.
int RunAddressServer(int argc, char** argv) {
  update_server::AddressServerOptions options;
  options.port = kDefaultPort;
  for (int i = 2; i < argc; i += 2) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const std::string value = argv[i + 1];
    if (arg == "--servers") {
      for (const update::ServerEntry& e : update::ParseServerList(vx::Utf8ToUtf16(value)))
        options.servers.emplace_back(e.address, e.port);
      if (options.servers.empty()) {
        std::fprintf(stderr, "update-server: --servers takes ADDRESS:PORT items separated by \",\"\n");
        return 2;
      }
    } else if (arg == "--listen") {
      const size_t colon = value.rfind(':');
      if (colon == std::string::npos || colon == 0 || !ParsePort(value.c_str() + colon + 1, options.port)) {
        std::fprintf(stderr, "update-server: --listen takes ADDRESS:PORT\n");
        return 2;
      }
      options.address = value.substr(0, colon);
    } else if (arg == "--probe-every") {
      long ms = 0;
      if (!ParseNumber(value.c_str(), 100, 3600000, ms)) {
        std::fprintf(stderr, "update-server: --probe-every takes milliseconds from 100 to 3600000\n");
        return 2;
      }
      options.probeEvery = std::chrono::milliseconds(ms);
    } else {
      return Usage();
    }
  }
  if (options.servers.empty()) return Usage();
  options.log = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  BlockStopSignals();
  update_server::AddressServer server;
  std::string error;
  if (!server.Start(options, error)) {
    std::fprintf(stderr, "update-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("answering on %s:%u for %zu update servers\n", options.address.c_str(), unsigned(server.Port()),
              options.servers.size());
  std::fflush(stdout);
  const int received = WaitForStop();
  server.Stop();
  std::printf("stopped (signal %d)\n", received);
  return 0;
}

int RunPublish(int argc, char** argv) {
  update_server::PublishOptions options;
  bool haveFiles = false, haveOutput = false, haveBuild = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage();
    const char* value = argv[++i];
    if (arg == "--files") {
      options.files = vx::PathFromUtf8(value), haveFiles = true;
    } else if (arg == "--version") {
      options.version = value;
    } else if (arg == "--build") {
      long n = 0;
      if (!ParseNumber(value, 0, 0x7FFFFFFF, n)) {
        std::fprintf(stderr, "update-server: --build takes a number from 0 to 2147483647\n");
        return 2;
      }
      options.build = int32_t(n), haveBuild = true;
    } else if (arg == "-o") {
      options.output = vx::PathFromUtf8(value), haveOutput = true;
    } else if (arg == "--threads") {
      long n = 0;
      if (!ParseNumber(value, 1, 256, n)) {
        std::fprintf(stderr, "update-server: --threads takes a number from 1 to 256\n");
        return 2;
      }
      options.threads = unsigned(n);
    } else if (arg == "--memory") {
      if (!vx::ParseMemorySize(value, options.memory)) {
        std::fprintf(stderr, "update-server: --memory takes a size such as 512M or 2G (at least 16M)\n");
        return 2;
      }
    } else {
      return Usage();
    }
  }
  if (!haveFiles || !haveOutput || !haveBuild || options.version.empty()) return Usage();
  options.progress = [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
  update_server::PublishSummary summary;
  std::string error;
  if (!update_server::Publish(options, summary, error)) {
    std::fprintf(stderr, "update-server: %s\n", error.c_str());
    return 1;
  }
  std::printf("published %s build %d: %zu files, %zu folders, %llu bytes -> %llu bytes in %s\n",
              options.version.c_str(), options.build, summary.files, summary.directories,
              static_cast<unsigned long long>(summary.bytes), static_cast<unsigned long long>(summary.publishedBytes),
              vx::PathToUtf8(options.output).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h")) {
    PrintUsage(stdout);
    return 0;
  }
  if (argc == 2 && std::string(argv[1]) == "--version") {
    std::printf("update-server %s\n", VC_TOOL_VERSION);
    return 0;
  }
  if (argc >= 2 && std::string(argv[1]) == "publish") return RunPublish(argc, argv);
  if (argc >= 2 && std::string(argv[1]) == "serve") return RunServe(argc, argv);
  if (argc >= 2 && std::string(argv[1]) == "address-server") return RunAddressServer(argc, argv);
  if (argc == 3 && std::string(argv[1]) == "new-key") {
    std::string error;
    if (!update_server::SharedCodes::CreateKeyFile(vx::PathFromUtf8(argv[2]), error)) {
      std::fprintf(stderr, "update-server: %s\n", error.c_str());
      return 1;
    }
    std::printf("key written to %s (owner only)\n", argv[2]);
    return 0;
  }
  return Usage();
}
