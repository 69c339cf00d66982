// Load against a running update-server: many downloading clients at once plus
// hostile ones, and a normal client probing all along; then attacks that hold
// a port full, each with a normal client trying 25 downloads. Prints figures.
//   bench_update_server_load PORT TRANSFER_PORT [CLIENTS=200] [SECONDS=20]
// Downloading clients only, through a balancer or the servers an address
// server names (tried in order), each starting again up to 3 times when a
// connection breaks; with --ramp they start evenly over SECONDS:
//   bench_update_server_load clients HOST:PORT CLIENTS [--address-server] [--ramp SECONDS]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "base/utf16.h"
#include "net/pdu_frame.h"
#include "net/qr_base_net.h"
#include "update/address_messages.h"
#include "update/download_file.h"
#include "update/ftt_protocol.h"
#include "update/update_install.h"
#include "update/update_messages.h"

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

std::string g_host = "127.0.0.1";
uint16_t g_port = 0, g_transferPort = 0;

// 127.a.b.c for client number n of group g.
std::string AddressOf(int group, int n) {
  return "127." + std::to_string(group) + "." + std::to_string(n / 250) + "." + std::to_string(1 + n % 250);
}

int Dial(const std::string& from, uint16_t port, const std::string& host = g_host) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  inet_pton(AF_INET, from.c_str(), &a.sin_addr);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return ::close(fd), -1;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  inet_pton(AF_INET, host.c_str(), &to.sin_addr);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) return ::close(fd), -1;
  timeval t{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
  return fd;
}

bool SendPdu(int fd, uint16_t type, const Bytes& body) {
  Bytes pdu;
  net::FramePdu(type, body.data(), body.size(), pdu);
  size_t at = 0;
  while (at < pdu.size()) {
    const ssize_t n = ::send(fd, pdu.data() + at, pdu.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += size_t(n);
  }
  return true;
}

bool ReadExact(int fd, uint8_t* p, size_t n) {
  while (n) {
    const ssize_t r = ::recv(fd, p, n, 0);
    if (r <= 0) return false;
    p += r, n -= size_t(r);
  }
  return true;
}

bool ReadPdu(int fd, uint16_t& type, Bytes& body) {
  uint8_t h[4];
  if (!ReadExact(fd, h, 4)) return false;
  type = uint16_t(h[0] | h[1] << 8);
  body.resize(size_t(h[2] | h[3] << 8));
  return ReadExact(fd, body.data(), body.size());
}

std::atomic<bool> g_quiet{false};  // failures expected: not each told

template <class... Args>
void Say(const char* format, Args... args) {
  if (!g_quiet) std::fprintf(stderr, format, args...);
}

template <class Response, class Request>
bool Ask(int fd, const Request& request, Response& response) {
  uint16_t type = 0;
  Bytes body;
  return SendPdu(fd, uint16_t(Request::kType), update::Encode(request)) && ReadPdu(fd, type, body) &&
         type == Response::kType && update::Decode(body.data(), body.size(), response) && response.result == 0;
}

// One client's whole job: credentials, list, every file, from the update
// server (or balancer) at host:port and the transfer port it names on that
// host; true when every file decodes to its listed MD5.
bool Download(const std::string& from, size_t& files, const std::string& host = g_host, uint16_t port = g_port) {
  const int c = Dial(from, port, host);
  if (c < 0) {
    Say("%s: cannot connect: %s\n", from.c_str(), std::strerror(errno));
    return false;
  }
  update::GetAuthCodeFtResponse code;
  bool ok = Ask(c, update::GetAuthCodeFtRequest{}, code);
  if (!ok) Say("%s: no authorisation code\n", from.c_str());
  auto fetch = [&](const std::u16string& key, Bytes& out) {
    const int t = Dial(from, code.port, host);
    if (t < 0) return false;
    ftt::AuthRequest auth{ftt::kProtocolVersion, vx::Utf16ToUtf8(code.authCode), key, u"id",
                          ftt::KeyProof(vx::Utf16ToUtf8(code.secretKey).c_str(), key)};
    uint16_t type = 0;
    Bytes body;
    ftt::AuthResponse granted;
    bool good = SendPdu(t, ftt::PDU_FTT_AUTH, ftt::EncodeAuthRequest(auth)) && ReadPdu(t, type, body) &&
                ftt::DecodeAuthResponse(body.data(), body.size(), granted) && granted.result == 0;
    out.assign(size_t(good ? granted.fileLength : 0), 0);
    for (int64_t at = 0; good && at < granted.fileLength;) {
      const int32_t want = int32_t(std::min<int64_t>(256 * 1024, granted.fileLength - at));
      good = SendPdu(t, ftt::PDU_FTT_DOWNLOAD_REQUEST, ftt::EncodeDownloadRequest({at, want}));
      for (int64_t end = at + want; good && at < end;) {
        int64_t offset = 0;
        const uint8_t* data = nullptr;
        size_t n = 0;
        do good = ReadPdu(t, type, body);
        while (good && type == ftt::PDU_FTT_FEATURES);  // the sender's feature bits: not used here
        good = good && type == ftt::PDU_FTT_DOWNLOAD_RESPONSE &&
               ftt::ParseDownloadResponse(body.data(), body.size(), offset, data, n) && offset == at;
        if (good) std::memcpy(out.data() + at, data, n), at += int64_t(n);
      }
    }
    if (good) SendPdu(t, ftt::PDU_FTT_NOTIFY_RECVED, ftt::EncodeInt64Notice(granted.fileLength));
    ::close(t);
    return good;
  };
  update::DownloadFileInfoExFtRequest listRequest;
  listRequest.authCode = code.authCode;
  listRequest.secretKey = code.secretKey;
  update::DownloadFileInfoExFtResponse listKey;
  Bytes listBytes;
  std::vector<update::FileInfo> list;
  ok = ok && Ask(c, listRequest, listKey) && fetch(listKey.fileKey, listBytes) &&
       update::DecodeFileList(listBytes.data(), listBytes.size(), list);
  if (!ok) Say("%s: no file list\n", from.c_str());
  for (const auto& info : list) {
    if (!ok || info.type == update::kFileTypeDirectory) continue;
    update::DownloadFileFtRequest r;
    r.nFileID = info.nFileID;
    r.authCode = code.authCode;
    r.secretKey = code.secretKey;
    update::DownloadFileFtResponse key;
    Bytes published, data;
    std::string error;
    const bool asked = Ask(c, r, key);
    const bool fetched = asked && fetch(key.fileKey, published);
    const bool decoded = fetched && update::DecodeDownloadFile(published.data(), published.size(), data, error);
    ok = decoded && vx::Utf8ToUtf16(update::Md5Hex(data.data(), data.size())) == info.fileIdText;
    if (!ok) Say("%s: asked %d fetched %d decoded %d %s\n", from.c_str(), asked, fetched, decoded, error.c_str());
    files += ok;
    if (!ok) Say("%s: %s not intact\n", from.c_str(), vx::Utf16ToUtf8(info.strFileKey).c_str());
  }
  ::close(c);
  return ok;
}


Bytes Framed(uint16_t type, const Bytes& body) {
  Bytes pdu;
  net::FramePdu(type, body.data(), body.size(), pdu);
  return pdu;
}

// Holds a port full: `addresses` x `each` connections from group `group`,
// each sending `first(address)` once in and `tick` every 20-24 s, reading
// what comes and dialling again when the server closes it.
class Filler {
 public:
  Filler(int group, int addresses, int each, uint16_t port, std::function<Bytes(int)> first, Bytes tick)
      : m_thread([=, this] { Run(group, addresses, each, port, first, tick); }) {}
  ~Filler() {
    m_stop = true;
    m_thread.join();
  }
  int Redials() const { return m_redials; }

 private:
  void Run(int group, int addresses, int each, uint16_t port, const std::function<Bytes(int)>& first,
           const Bytes& tick) {
    struct Slot {
      int fd = -1, address = 0;
      Clock::time_point next{}, retry{};
    };
    std::vector<Slot> slots(size_t(addresses * each));
    std::mt19937 random{unsigned(group)};
    for (size_t i = 0; i < slots.size(); ++i) slots[i].address = int(i) % addresses;
    auto send = [](int fd, const Bytes& b) { return ::send(fd, b.data(), b.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0; };
    std::vector<pollfd> polled;
    std::vector<Slot*> owners;
    while (!m_stop) {
      const auto now = Clock::now();
      polled.clear(), owners.clear();
      for (auto& slot : slots) {
        if (slot.fd < 0 && now >= slot.retry) {
          slot.fd = Dial(AddressOf(group, slot.address), port);
          if (slot.fd >= 0 && send(slot.fd, first(slot.address))) {
            slot.next = now + std::chrono::milliseconds(20000 + random() % 4000);
          } else {
            if (slot.fd >= 0) ::close(slot.fd);
            slot.fd = -1;
            slot.retry = now + std::chrono::milliseconds(100);
            continue;
          }
        }
        if (slot.fd < 0) continue;
        if (now >= slot.next) {
          send(slot.fd, tick);
          slot.next = now + std::chrono::milliseconds(20000 + random() % 4000);
        }
        polled.push_back({slot.fd, POLLIN, 0});
        owners.push_back(&slot);
      }
      ::poll(polled.data(), polled.size(), 50);
      for (size_t i = 0; i < polled.size(); ++i) {
        if (!polled[i].revents) continue;
        uint8_t sink[4096];
        const ssize_t n = ::recv(polled[i].fd, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) continue;
        ::close(owners[i]->fd);  // closed by the server: in again
        owners[i]->fd = -1;
        owners[i]->retry = Clock::now() + std::chrono::milliseconds(100);
        ++m_redials;
      }
    }
    for (auto& slot : slots)
      if (slot.fd >= 0) ::close(slot.fd);
  }

  std::atomic<bool> m_stop{false};
  std::atomic<int> m_redials{0};
  std::thread m_thread;
};

// A normal client's 25 downloads one after another (from new addresses).
int ServedOf25(int group) {
  int served = 0;
  for (int i = 0; i < 25; ++i) {
    size_t files = 0;
    served += Download(AddressOf(group, i), files);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return served;
}

// The attacks that held a port full; true when the normal client was served
// every time under each.
bool HoldingAttacks() {
  g_quiet = true;
  bool all = true;
  const Bytes keepAlive = Framed(update::QR_UDT_KEEPALIVE, update::Encode(update::KeepAliveRequest{}));
  for (const int addresses : {32, 40}) {
    Filler filler(40 + addresses, addresses, 16, g_port, [&](int) { return keepAlive; }, keepAlive);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int served = ServedOf25(50 + addresses);
    std::printf("normal client with the control port held by %d addresses x 16 connections, a request each "
                "every 20-24 s: %d of 25 served (%d redials)\n", addresses, served, filler.Redials());
    all = all && served == 25;
  }
  {
    // Authenticated transfer connections that then send only a PDU the
    // server ignores.
    std::map<int, Bytes> auths;
    const std::u16string key = u"big.bin";
    for (int a = 0; a < 32; ++a) {
      const int c = Dial(AddressOf(60, a), g_port);
      update::GetAuthCodeFtResponse code;
      if (c >= 0 && Ask(c, update::GetAuthCodeFtRequest{}, code)) {
        ftt::AuthRequest auth{ftt::kProtocolVersion, vx::Utf16ToUtf8(code.authCode), key, u"id",
                              ftt::KeyProof(vx::Utf16ToUtf8(code.secretKey).c_str(), key)};
        auths[a] = Framed(ftt::PDU_FTT_AUTH, ftt::EncodeAuthRequest(auth));
      }
      if (c >= 0) ::close(c);
    }
    Filler filler(60, 32, 16, g_transferPort, [&](int a) { return auths[a]; },
                  Framed(ftt::PDU_FTT_IGNORED, Bytes(4, 0)));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const int served = ServedOf25(61);
    std::printf("normal client with the transfer port held by 32 addresses x 16 authenticated connections, an "
                "ignored PDU each every 20-24 s: %d of 25 served (%d redials)\n", served, filler.Redials());
    all = all && served == 25;
  }
  g_quiet = false;
  return all;
}

// The update servers an address server names, in its order.
std::vector<std::pair<std::string, uint16_t>> AskAddressServer(const std::string& from, const std::string& host,
                                                               uint16_t port) {
  std::vector<std::pair<std::string, uint16_t>> servers;
  const int fd = Dial(from, port, host);
  update::GetUpdateServersRequest request;
  if (fd < 0 || !SendPdu(fd, uint16_t(request.kType), update::Encode(request))) {
    if (fd >= 0) ::close(fd);
    return servers;
  }
  struct Answer : net::QR_PduHandler {
    update::GetUpdateServersResponse response;
    bool got = false;
    void OnPdu(uint16_t type, uint16_t length, const uint8_t* body) override {
      got = type == uint16_t(update::QR_AS_GETUPDATESERVERS) && update::Decode(body, length, response);
    }
  } answer;
  net::QR_BaseNet codec([](const uint8_t*, size_t) { return true; }, [](int, const char*) {});
  codec.RegisterPduHandler(&answer);
  uint8_t chunk[4096];
  for (ssize_t n; !answer.got && (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;) codec.OnStreamData(chunk, size_t(n));
  ::close(fd);
  if (answer.got && answer.response.result == update::SUCCESSED)
    for (const update::ServerEntry& e : update::ParseServerList(answer.response.servers))
      servers.emplace_back(e.address, e.port);
  return servers;
}

// Clients only: see the usage at the top.
int RunClients(const std::string& host, uint16_t port, int clients, bool viaAddressServer, double rampSeconds) {
  g_quiet = true;
  std::atomic<int> completed{0}, broken{0}, brokenCompleted{0};
  std::atomic<size_t> filesIntact{0};
  std::mutex lock;
  std::map<std::string, int> servedBy;  // the server each client finished on
  const auto start = Clock::now();
  std::vector<std::thread> threads;
  for (int i = 0; i < clients; ++i)
    threads.emplace_back([&, i] {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(rampSeconds * i / clients));
      const std::string from = AddressOf(10, i);
      std::vector<std::pair<std::string, uint16_t>> servers = {{host, port}};
      if (viaAddressServer) servers = AskAddressServer(from, host, port);
      bool ok = false, lost = false;
      std::string on;
      for (int attempt = 0; attempt < 3 && !ok && !servers.empty(); ++attempt)
        for (const auto& [address, p] : servers) {  // in the answer's order, as the setup program does
          size_t files = 0;
          ok = Download(from, files, address, p);
          if (ok) {
            filesIntact += files;
            on = address + ":" + std::to_string(p);
            break;
          }
          lost = true;
        }
      completed += ok;
      broken += lost;
      brokenCompleted += lost && ok;
      std::lock_guard<std::mutex> g(lock);
      ++servedBy[ok ? on : "none"];
    });
  for (auto& t : threads) t.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("clients: %d of %d completed with every file intact (%zu files) in %.1f s\n", completed.load(), clients,
              filesIntact.load(), took);
  std::printf("clients that lost a connection (e.g. to a stopped instance): %d, of which %d completed on another\n",
              broken.load(), brokenCompleted.load());
  if (viaAddressServer)
    for (const auto& [server, n] : servedBy) std::printf("  finished on %s: %d\n", server.c_str(), n);
  return completed == clients ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::string(argv[1]) == "clients") {
    const std::string target = argv[2];
    const size_t colon = target.rfind(':');
    if (colon == std::string::npos) return 2;
    bool viaAddressServer = false;
    double ramp = 0;
    for (int i = 4; i < argc; ++i) {
      const std::string option = argv[i];
      if (option == "--address-server") viaAddressServer = true;
      else if (option == "--ramp" && i + 1 < argc) ramp = std::atof(argv[++i]);
      else return 2;
    }
    return RunClients(target.substr(0, colon), uint16_t(std::atoi(target.c_str() + colon + 1)), std::atoi(argv[3]),
                      viaAddressServer, ramp);
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_update_server_load PORT TRANSFER_PORT [CLIENTS=200] [SECONDS=20]\n");
    return 2;
  }
  g_port = uint16_t(std::atoi(argv[1]));
  g_transferPort = uint16_t(std::atoi(argv[2]));
  const int clients = argc > 3 ? std::atoi(argv[3]) : 200;
  const int seconds = argc > 4 ? std::atoi(argv[4]) : 20;
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  std::vector<int> held;  // hostile sockets, closed at the end
  std::mutex heldLock;
  auto hold = [&](int fd) {
    if (fd < 0) return;
    std::lock_guard<std::mutex> g(heldLock);
    held.push_back(fd);
  };

  // Hostile: ECHO floods that never read (control port).
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&, i] {
      const int fd = Dial(AddressOf(20, i), g_port);
      update::EchoRequest echo;
      echo.data = Bytes(1000, 1);
      const Bytes body = update::Encode(echo);
      while (!stop && fd >= 0 && SendPdu(fd, update::QR_UDT_ECHO, body)) {
      }
      hold(fd);
    });
  // Hostile: 40 transfer clients asking for 16 MiB each, reading nothing.
  for (int i = 0; i < 40; ++i)
    threads.emplace_back([&, i] {
      const std::string from = AddressOf(21, i);
      const int c = Dial(from, g_port);
      update::GetAuthCodeFtResponse code;
      if (c < 0 || !Ask(c, update::GetAuthCodeFtRequest{}, code)) return;
      const int t = Dial(from, g_transferPort);
      const std::u16string key = u"big.bin";
      ftt::AuthRequest auth{ftt::kProtocolVersion, vx::Utf16ToUtf8(code.authCode), key, u"id",
                            ftt::KeyProof(vx::Utf16ToUtf8(code.secretKey).c_str(), key)};
      if (t < 0 || !SendPdu(t, ftt::PDU_FTT_AUTH, ftt::EncodeAuthRequest(auth))) return;
      for (int r = 0; r < 16 && !stop; ++r)
        if (!SendPdu(t, ftt::PDU_FTT_DOWNLOAD_REQUEST, ftt::EncodeDownloadRequest({int64_t(r) << 20, 1 << 20}))) break;
      hold(c), hold(t);
    });
  // Hostile: 2000 idle transfer connections and 1100 control connections
  // from 100 addresses; a trickler; a code hoarder.
  threads.emplace_back([&] {
    for (int i = 0; i < 2000 && !stop; ++i) hold(Dial(AddressOf(22, i % 100), g_transferPort));
    for (int i = 0; i < 1100 && !stop; ++i) hold(Dial(AddressOf(23, i % 100), g_port));
  });
  threads.emplace_back([&] {
    const int fd = Dial(AddressOf(24, 0), g_transferPort);
    const uint8_t header[4] = {0x01, 0xCC, 100, 0};
    if (fd >= 0) ::send(fd, header, 4, MSG_NOSIGNAL);
    while (!stop && fd >= 0) {
      std::this_thread::sleep_for(std::chrono::seconds(2));
      if (::send(fd, header, 1, MSG_NOSIGNAL) <= 0) break;
    }
    hold(fd);
  });
  std::atomic<int> hoarded{0};
  threads.emplace_back([&] {
    const int fd = Dial(AddressOf(25, 0), g_port);
    update::GetAuthCodeFtResponse code;
    for (int i = 0; i < 5000 && !stop && fd >= 0 && Ask(fd, update::GetAuthCodeFtRequest{}, code); ++i) ++hoarded;
    hold(fd);
  });

  // The normal client: one full download after another while the rest runs.
  std::atomic<int> probes{0}, probeFailures{0};
  std::thread probe([&] {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    int n = 0;
    while (Clock::now() < end) {
      size_t files = 0;
      if (!Download(AddressOf(30, n++ % 250), files)) ++probeFailures;
      ++probes;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  });

  // The downloading clients, all at once.
  std::atomic<int> intact{0}, failed{0};
  std::atomic<size_t> filesIntact{0};
  const auto start = Clock::now();
  std::vector<std::thread> downloaders;
  for (int i = 0; i < clients; ++i)
    downloaders.emplace_back([&, i] {
      size_t files = 0;
      (Download(AddressOf(10, i), files) ? intact : failed)++;
      filesIntact += files;
    });
  for (auto& t : downloaders) t.join();
  const double took = std::chrono::duration<double>(Clock::now() - start).count();
  probe.join();
  stop = true;
  for (auto& t : threads) t.join();
  for (int fd : held) ::close(fd);

  std::printf("clients: %d of %d downloaded every file intact (%zu files, %d failed) in %.1f s\n", intact.load(),
              clients, filesIntact.load(), failed.load(), took);
  std::printf("normal client: %d of %d probes served%s\n", probes.load() - probeFailures.load(), probes.load(),
              probeFailures ? "" : " (served throughout)");
  {
    // The load's own peak memory: every downloading client holds its files whole.
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[128];
    long peak = -1;
    while (f && std::fgets(line, sizeof line, f))
      if (std::strncmp(line, "VmHWM:", 6) == 0) peak = std::atol(line + 6);
    if (f) std::fclose(f);
    if (peak >= 0) std::printf("load clients' peak memory: %ld MB (%d clients in one process)\n", peak / 1024, clients);
  }
  std::printf("hostile: 4 unread ECHO floods, 40 unread 16 MiB requests, 2000 idle transfer and 1100 idle control "
              "connections, 1 trickler, %d codes hoarded\n", hoarded.load());
  const bool heldOff = HoldingAttacks();
  return intact == clients && probeFailures == 0 && heldOff ? 0 : 1;
}
