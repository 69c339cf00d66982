#include "update/update_net_manager.h"

#include "update/asio_config.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "base/le_int.h"
#include "net/pdu_frame.h"
#include "update/log_rate_limiter.h"
#include "update/proxy_header.h"
#include "update/update_log.h"

namespace update {
namespace {

constexpr size_t kReceiveChunk = 1 << 18;  // a few PDUs per read: fewer reads, fewer split PDUs
constexpr auto kAcceptRetryFirst = std::chrono::milliseconds(10);
constexpr auto kAcceptRetryMost = std::chrono::milliseconds(1000);
constexpr auto kSweepInterval = std::chrono::milliseconds(1000);
constexpr auto kEvictGraceNever = std::chrono::milliseconds(0);  // nothing acted on yet: goes first
constexpr auto kEvictGraceIdle = std::chrono::seconds(30);          // nothing acted on for so long

// Sockets wait for readability and are read into the I/O thread's one buffer,
// so an idle connection holds no receive buffer. Overlapped reads on Windows
// need a buffer of their own per read.
// Non-blocking sockets also let SendPdu write at once on the caller's thread
// when nothing is queued, without waking the I/O thread.
#ifdef _WIN32
constexpr bool kSharedInbox = false;
constexpr bool kInlineSend = false;
#else
constexpr bool kSharedInbox = true;
constexpr bool kInlineSend = true;
#endif
// Bytes read for one connection before the I/O thread turns to the others.
constexpr size_t kReadBurst = 4 * kReceiveChunk;
// Socket buffers of both directions: a few read chunks in flight, so a
// sender and a receiver on different cores wake each other less often (and
// a fixed size is the same on every system).
constexpr int kSocketBuffer = 4 << 20;

}  // namespace

struct UpdateNetManager::Impl {
  struct Connection {
    int handle;
    asio::ip::tcp::socket socket;
    asio::steady_timer unrecv;
    asio::steady_timer unsend;
    net::PduCutter cutter;
    std::vector<uint8_t> inbox;                 // own read buffer where reads need one
    std::mutex sendLock;                        // guards the send state below
    std::vector<std::vector<uint8_t>> pending;  // queued by SendPdu from any thread
    size_t pendingSent = 0;                     // bytes of pending[0] already written
    bool flushPosted = false;
    bool sendClosed = false;
    bool inlineSend = false;                    // SendPdu may write itself while nothing is queued
    bool writeBusy = false;                     // an asynchronous write is under way
    std::atomic<size_t> queuedBytes{0};         // handed to SendPdu, not yet written
    bool accepted = false;                      // counted against the accept limits
    bool proxied = false;                       // from a trusted balancer: its PROXY header comes first
    bool screening = false;                     // the first bytes may not be a PROXY header
    std::vector<uint8_t> preamble;              // first bytes held back while one of the above
    bool reading = false;                       // a read is posted
    bool readPaused = false;                    // too much queued: reading waits for writes
    bool closing = false;                       // CloseWhenSent: no more reads
    std::optional<std::chrono::steady_clock::time_point> partialSince;  // a PDU begun
    std::chrono::steady_clock::time_point since = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> lastPdu;        // the last PDU the sink acted on
    std::vector<std::vector<uint8_t>> writing;  // the batch on the wire
    size_t writingSent = 0;                     // bytes of writing[0] written before the batch
    std::chrono::steady_clock::time_point writeSince;  // the batch on the wire began
    bool unsendArmed = false;
    std::string address;
    uint16_t port = 0;
    bool open = true;
    std::chrono::steady_clock::time_point lastReceive;
    Connection(int h, asio::io_context& io, net::PduCutter::Sink sink)
        : handle(h), socket(io), unrecv(io), unsend(io), cutter(std::move(sink)) {}
  };

  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  std::thread thread;
  std::thread::id ioThreadId;  // set before any connection exists
  std::mutex lock;  // guards the context table and the sink pointer
  std::map<int, std::shared_ptr<Connection>> table;
  int nextHandle = 1;
  UpdateNetSink* sink = nullptr;
  UpdateLog* log = nullptr;
  unsigned unrecvMs = kUnrecvTimeoutMs, unsendMs = kUnsendTimeoutMs;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
  asio::steady_timer acceptRetry{io};
  std::chrono::milliseconds acceptBackoff = kAcceptRetryFirst;
  asio::steady_timer sweep{io};
  UpdateNetLimits limits;
  std::map<std::string, size_t> acceptedByAddress;  // under lock
  std::vector<std::string> trustedProxies;           // set before Listen
  size_t acceptedCount = 0;                          // under lock
  std::atomic<size_t> totalQueued{0};
  std::vector<uint8_t> sharedInbox;                  // the I/O thread's read buffer
  LogRateLimiter rate;
  // Buffers of written PDUs, handed out again by AcquireBuffer: at most so
  // many, and so many bytes.
  static constexpr size_t kPoolLimit = 256;
  static constexpr size_t kPoolBytes = 16 << 20;
  std::mutex poolLock;
  std::vector<std::vector<uint8_t>> pool;
  size_t poolBytes = 0;

  void Recycle(std::vector<uint8_t>& b) {
    if (b.capacity() == 0) return;
    std::lock_guard<std::mutex> g(poolLock);
    if (pool.size() >= kPoolLimit || poolBytes + b.capacity() > kPoolBytes) return;
    poolBytes += b.capacity();
    pool.push_back(std::move(b));
  }
  void Recycle(std::vector<std::vector<uint8_t>>& written) {
    for (auto& b : written) Recycle(b);
    written.clear();
  }

  void Log(const std::string& line) {
    if (log) log->Write(line);
  }
  // Lines that a peer can make repeat are kept to a few per key and window.
  void LogLimited(const std::string& key, const std::string& line) {
    if (!log) return;
    if (auto kept = rate.Filter(key, line)) log->Write(*kept);
  }

  UpdateNetSink* Sink() {
    std::lock_guard<std::mutex> g(lock);
    return sink;
  }

  std::shared_ptr<Connection> Find(int h) {
    std::lock_guard<std::mutex> g(lock);
    auto it = table.find(h);
    return it == table.end() ? nullptr : it->second;
  }

  std::shared_ptr<Connection> Add() {
    std::lock_guard<std::mutex> g(lock);
    const int h = nextHandle++;
    auto c = std::make_shared<Connection>(h, io, [this, h](uint16_t type, const uint8_t* body, uint16_t n) {
      if (UpdateNetSink* s = Sink()) s->OnPdu(0, h, type, body, n);
    });
    table[h] = c;
    return c;
  }

  // Deletes the connection; `notify` tells the sink with `error`.
  void Drop(const std::shared_ptr<Connection>& c, int error, bool notify) {
    if (!c->open) return;
    c->open = false;
    {
      // Before the socket closes: no SendPdu writes to it any more.
      std::lock_guard<std::mutex> g(c->sendLock);
      c->sendClosed = true;
      c->inlineSend = false;
      totalQueued -= c->queuedBytes.exchange(0);
      c->pending.clear();
      c->pendingSent = 0;
    }
    std::error_code ec;
    c->socket.close(ec);
    c->unrecv.cancel();
    c->unsend.cancel();
    c->partialSince.reset();
    c->inbox = {};
    {
      std::lock_guard<std::mutex> g(lock);
      table.erase(c->handle);
      if (c->accepted) {
        --acceptedCount;
        auto it = acceptedByAddress.find(c->address);
        if (it != acceptedByAddress.end() && --it->second == 0) acceptedByAddress.erase(it);
      }
    }
    if (notify)
      if (UpdateNetSink* s = Sink()) s->OnPdu(error ? error : -1, c->handle, 0, nullptr, 0);
  }

  // One timer per connection, re-armed from the time of the last receive
  // when it fires rather than reset by every receive.
  void ArmUnrecv(const std::shared_ptr<Connection>& c, std::chrono::steady_clock::time_point from) {
    c->unrecv.expires_at(from + std::chrono::milliseconds(unrecvMs));
    c->unrecv.async_wait([this, c](const std::error_code& ec) {
      if (ec || !c->open) return;
      const auto deadline = c->lastReceive + std::chrono::milliseconds(unrecvMs);
      if (std::chrono::steady_clock::now() < deadline) {
        ArmUnrecv(c, c->lastReceive);
        return;
      }
      Log("[WARNING] OnSocketUnrecvTimer");
      Drop(c, -1, true);
    });
  }

  // Whether the connection must wait with reading until its writes drain.
  bool MustWait(const Connection& c) const {
    const size_t queued = c.queuedBytes.load();
    if (limits.maxQueuedBytes && queued > limits.maxQueuedBytes) return true;
    return limits.maxTotalQueuedBytes && queued > 0 && totalQueued.load() > limits.maxTotalQueuedBytes;
  }

  // Looks at the bytes held back: a trusted balancer's PROXY header names the
  // address the connection is then admitted and counted for; any other peer
  // may not send one. False when the connection went.
  bool Preamble(const std::shared_ptr<Connection>& c) {
    const uint8_t* data = c->preamble.data();
    const size_t size = c->preamble.size();
    if (c->screening) {
      const ProxyParse looks = ProxySignature(data, size);
      if (looks == ProxyParse::NeedMore) return true;
      c->screening = false;
      if (looks == ProxyParse::Invalid) return true;
      LogLimited("untrusted proxy " + c->address, "[WARNING] connection from " + c->address +
                                                      " closed: a PROXY header from a peer not trusted to send one");
      Drop(c, -1, true);
      return false;
    }
    ProxyHeader header;
    const ProxyParse parsed = ParseProxyHeader(data, size, header);
    if (parsed == ProxyParse::NeedMore) return true;
    if (parsed == ProxyParse::Invalid) {
      LogLimited("bad proxy " + c->address,
                 "[WARNING] connection from " + c->address + " closed: no valid PROXY header from the balancer");
      Drop(c, -1, false);
      return false;
    }
    const std::string address = header.source.empty() ? c->address : header.source;
    const std::string refused = Admit(address);
    if (!refused.empty()) {
      LogLimited("refused " + address,
                 "[WARNING] connection from " + address + " (through " + c->address + ") refused: " + refused);
      Drop(c, -1, false);
      return false;
    }
    {
      std::lock_guard<std::mutex> g(lock);
      c->address = address;
      if (!header.source.empty()) c->port = header.sourcePort;
      c->accepted = true;
      c->proxied = false;
    }
    c->preamble.erase(c->preamble.begin(), c->preamble.begin() + std::ptrdiff_t(header.length));
    if (UpdateNetSink* s = Sink()) s->OnAccept(c->handle, c->address);
    return c->open;
  }

  // Hands `n` bytes read into `data` to the cutter; `data` null: they were
  // read into its Tail(). False when the connection went.
  bool Received(const std::shared_ptr<Connection>& c, const uint8_t* data, size_t n) {
    c->lastReceive = std::chrono::steady_clock::now();
    if (c->proxied || c->screening) {  // nothing is cut yet: `data` is set
      c->preamble.insert(c->preamble.end(), data, data + n);
      if (!Preamble(c)) return false;
      if (c->proxied || c->screening) {
        if (!c->partialSince) c->partialSince = c->lastReceive;
        return true;
      }
      std::vector<uint8_t> rest;
      rest.swap(c->preamble);
      c->partialSince.reset();
      if (rest.empty()) return true;
      data = rest.data();
      n = rest.size();
      if (!c->cutter.Feed(data, n)) {
        Drop(c, -1, true);
        return false;
      }
      if (!c->open) return false;
      if (c->cutter.Buffered() != 0) c->partialSince = c->lastReceive;
      return true;
    }
    if (data) {
      if (!c->cutter.Feed(data, n)) {
        Drop(c, -1, true);  // a length no sender can frame
        return false;
      }
    } else {
      c->cutter.Commit(n);
    }
    if (!c->open) return false;
    if (c->cutter.Buffered() == 0)
      c->partialSince.reset();
    else if (!c->partialSince)
      c->partialSince = c->lastReceive;
    return true;
  }

  void Receive(const std::shared_ptr<Connection>& c) {
    if (!c->open || c->reading || c->closing) return;
    if (MustWait(*c)) {
      c->readPaused = true;
      return;
    }
    c->readPaused = false;
    c->reading = true;
    if (!kSharedInbox) {
      // The rest of a PDU begun goes straight into its buffer; otherwise a
      // chunk into the connection's own.
      size_t missing = 0;
      uint8_t* tail = c->cutter.Tail(missing);
      if (!tail && c->inbox.empty()) c->inbox.resize(kReceiveChunk);
      const auto into = tail ? asio::buffer(tail, missing) : asio::buffer(c->inbox);
      c->socket.async_read_some(into, [this, c, direct = tail != nullptr](const std::error_code& ec, size_t n) {
        c->reading = false;
        if (!c->open) return;
        if (ec) {
          Drop(c, ec.value() ? ec.value() : -1, true);
          return;
        }
        if (Received(c, direct ? nullptr : c->inbox.data(), n)) Receive(c);
      });
      return;
    }
    if (c->cutter.Buffered() == 0) c->cutter.Release();  // idle connections hold no buffer
    c->socket.async_wait(asio::ip::tcp::socket::wait_read, [this, c](const std::error_code& ec) {
      c->reading = false;
      if (!c->open) return;
      if (ec) {
        Drop(c, ec.value() ? ec.value() : -1, true);
        return;
      }
      if (sharedInbox.empty()) sharedInbox.resize(kReceiveChunk);
      // A full read means more is waiting: read on before waiting again. The
      // rest of a PDU begun is read straight into its buffer.
      for (size_t burst = 0; burst < kReadBurst;) {
        size_t missing = 0;
        uint8_t* tail = c->cutter.Tail(missing);
        const auto into = tail ? asio::buffer(tail, missing) : asio::buffer(sharedInbox);
        std::error_code e;
        const size_t n = c->socket.read_some(into, e);
        if (e == asio::error::would_block || e == asio::error::try_again) break;
        if (e) {
          Drop(c, e == asio::error::eof ? asio::error::eof : e.value() ? e.value() : -1, true);
          return;
        }
        if (!Received(c, tail ? nullptr : sharedInbox.data(), n)) return;
        burst += n;
        if (n < into.size() || MustWait(*c) || c->closing) break;
      }
      Receive(c);
    });
  }

  void Started(const std::shared_ptr<Connection>& c) {
    std::error_code e;
    if (kSharedInbox) c->socket.non_blocking(true, e);
    if (kInlineSend && !e) {
      std::lock_guard<std::mutex> g(c->sendLock);
      c->inlineSend = !c->sendClosed;
    }
    c->lastReceive = std::chrono::steady_clock::now();
    ArmUnrecv(c, c->lastReceive);
    Receive(c);
  }

  // One timer per connection while it writes, not one per batch: when it
  // fires it looks at the batch under way and waits on for it, or drops the
  // connection when that batch has taken too long.
  void ArmUnsend(const std::shared_ptr<Connection>& c, std::chrono::steady_clock::time_point at) {
    c->unsendArmed = true;
    c->unsend.expires_at(at);
    c->unsend.async_wait([this, c](const std::error_code& ec) {
      c->unsendArmed = false;
      if (ec || !c->open) return;
      bool busy = false;
      {
        std::lock_guard<std::mutex> g(c->sendLock);
        busy = c->writeBusy;
      }
      if (!busy) return;  // the next batch arms it again
      const auto deadline = c->writeSince + std::chrono::milliseconds(unsendMs);
      if (std::chrono::steady_clock::now() < deadline) {
        ArmUnsend(c, deadline);
        return;
      }
      Log("[WARNING] OnSocketUnsendTimer");
      Drop(c, -1, true);
    });
  }

  // Writes everything queued so far as one gathered write.
  void Flush(const std::shared_ptr<Connection>& c) {
    if (!c->open) return;
    bool idle = false;
    {
      std::lock_guard<std::mutex> g(c->sendLock);
      if (c->writeBusy) return;
      c->flushPosted = false;
      idle = c->pending.empty();
      if (!idle) {
        c->writing.swap(c->pending);
        c->writingSent = c->pendingSent;
        c->pendingSent = 0;
        c->writeBusy = true;
      }
    }
    if (idle) {
      if (c->closing) {
        std::error_code e;
        c->socket.shutdown(asio::ip::tcp::socket::shutdown_send, e);
        Drop(c, 0, false);
      }
      return;
    }
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(c->writing.size());
    for (const auto& b : c->writing) buffers.emplace_back(asio::buffer(b));
    buffers.front() += c->writingSent;  // the part SendPdu wrote itself
    c->writeSince = std::chrono::steady_clock::now();
    if (!c->unsendArmed) ArmUnsend(c, c->writeSince + std::chrono::milliseconds(unsendMs));
    asio::async_write(c->socket, buffers, [this, c](const std::error_code& ec, size_t) {
      if (!c->open) return;
      size_t written = 0;
      for (const auto& b : c->writing) written += b.size();
      written -= c->writingSent;
      {
        std::lock_guard<std::mutex> g(c->sendLock);
        c->writeBusy = false;
        c->queuedBytes -= written;
        totalQueued -= written;
      }
      Recycle(c->writing);
      if (ec) {
        Drop(c, ec.value(), true);
        return;
      }
      if (c->readPaused) Receive(c);
      Flush(c);
    });
  }

  // How little a connection does for its place: 0 nothing acted on yet
  // (after a grace period), 1 nothing acted on for long, 2 busy.
  static int Usefulness(const Connection& c, std::chrono::steady_clock::time_point now) {
    if (!c.lastPdu) return now - c.since >= kEvictGraceNever ? 0 : 2;
    return now - *c.lastPdu > kEvictGraceIdle ? 1 : 2;
  }

  // At the per-address limit: the address's own connection that does least,
  // when it does nothing. Under lock.
  std::shared_ptr<Connection> IdleOf(const std::string& address) {
    const auto now = std::chrono::steady_clock::now();
    std::shared_ptr<Connection> best;
    for (auto& [h, c] : table) {
      if (!c->accepted || !c->open || c->address != address || Usefulness(*c, now) == 2) continue;
      if (!best || Usefulness(*c, now) < Usefulness(*best, now) ||
          (Usefulness(*c, now) == Usefulness(*best, now) && c->since < best->since))
        best = c;
    }
    return best;
  }

  // At the connection limit: a connection of an address that holds the most,
  // when that is more than `address` holds; the one doing least, else the
  // oldest. So a new address always gets in and no address can hold out
  // others by holding more. Under lock.
  std::shared_ptr<Connection> FromLargestHolder(const std::string& address) {
    const size_t own = acceptedByAddress.count(address) ? acceptedByAddress[address] : 0;
    size_t most = 0;
    for (const auto& [a, n] : acceptedByAddress) most = std::max(most, n);
    if (most <= own) return nullptr;
    const auto now = std::chrono::steady_clock::now();
    std::shared_ptr<Connection> best;
    for (auto& [h, c] : table) {
      if (!c->accepted || !c->open) continue;
      auto held = acceptedByAddress.find(c->address);
      if (held == acceptedByAddress.end() || held->second != most) continue;
      if (!best || Usefulness(*c, now) < Usefulness(*best, now) ||
          (Usefulness(*c, now) == Usefulness(*best, now) && c->since < best->since))
        best = c;
    }
    return best;
  }

  // Why a new connection from `address` is refused, or empty. Counts it when
  // not; may make room by closing another connection.
  std::string Admit(const std::string& address) {
    std::shared_ptr<Connection> evict;
    std::string why;
    {
      std::lock_guard<std::mutex> g(lock);
      const size_t fromAddress = acceptedByAddress.count(address) ? acceptedByAddress[address] : 0;
      if (limits.maxPerAddress && fromAddress >= limits.maxPerAddress) {
        why = std::to_string(fromAddress) + " connections open from this address (limit " +
              std::to_string(limits.maxPerAddress) + ")";
        evict = IdleOf(address);
      } else if (limits.maxConnections && acceptedCount >= limits.maxConnections) {
        why = std::to_string(acceptedCount) + " connections open (limit " + std::to_string(limits.maxConnections) + ")";
        evict = FromLargestHolder(address);
      }
      if (why.empty()) {
        ++acceptedByAddress[address];
        ++acceptedCount;
        return {};
      }
    }
    if (!evict) return why;
    LogLimited("evicted", "[WARNING] connection " + std::to_string(evict->handle) + " from " + evict->address +
                              " closed for one from " + address + ": " + why);
    Drop(evict, -1, true);
    std::lock_guard<std::mutex> g(lock);
    ++acceptedByAddress[address];
    ++acceptedCount;
    return {};
  }

  void Accept() {
    if (!acceptor || !acceptor->is_open()) return;
    acceptor->async_accept([this](const std::error_code& ec, asio::ip::tcp::socket socket) {
      if (!acceptor || !acceptor->is_open()) return;  // closed
      if (ec) {
        // Out of descriptors, aborted handshakes, ...: wait a little and go on.
        LogLimited("accept", "[ERROR] accept failed: " + ec.message() + "; accepting again in " +
                                 std::to_string(acceptBackoff.count()) + " ms");
        acceptRetry.expires_after(acceptBackoff);
        acceptBackoff = std::min(acceptBackoff * 2, std::chrono::duration_cast<std::chrono::milliseconds>(kAcceptRetryMost));
        acceptRetry.async_wait([this](const std::error_code& e) {
          if (!e) Accept();
        });
        return;
      }
      acceptBackoff = kAcceptRetryFirst;
      std::error_code e;
      const auto peer = socket.remote_endpoint(e);
      const std::string address = e ? "" : peer.address().to_string();
      const bool proxied = std::find(trustedProxies.begin(), trustedProxies.end(), address) != trustedProxies.end();
      const std::string refused = proxied ? std::string() : Admit(address);  // a balancer's: once its header names the client
      if (!refused.empty()) {
        LogLimited("refused " + address, "[WARNING] connection from " + address + " refused: " + refused);
        socket.close(e);
        Accept();
        return;
      }
      auto c = Add();
      c->socket = std::move(socket);
      {
        std::lock_guard<std::mutex> g(lock);
        c->address = address;
        c->port = e ? 0 : peer.port();
        c->accepted = !proxied;
        c->proxied = proxied;
        c->screening = !proxied;
      }
      c->socket.set_option(asio::ip::tcp::no_delay(true), e);
      c->socket.set_option(asio::socket_base::receive_buffer_size(kSocketBuffer), e);
      c->socket.set_option(asio::socket_base::send_buffer_size(kSocketBuffer), e);
      if (!proxied)
        if (UpdateNetSink* s = Sink()) s->OnAccept(c->handle, c->address);
      Started(c);
      Accept();
    });
  }

  // Drops connections that began a PDU and did not finish it in time, and
  // accepted ones nothing was acted on for too long.
  void Sweep() {
    sweep.expires_after(kSweepInterval);
    sweep.async_wait([this](const std::error_code& ec) {
      if (ec) return;
      if (limits.idleMs) {
        std::vector<std::shared_ptr<Connection>> idle;
        const auto now = std::chrono::steady_clock::now();
        {
          std::lock_guard<std::mutex> g(lock);
          for (auto& [h, c] : table)
            if (c->accepted && c->open && now - (c->lastPdu ? *c->lastPdu : c->since) > std::chrono::milliseconds(limits.idleMs))
              idle.push_back(c);
        }
        for (auto& c : idle) {
          LogLimited("idle " + c->address, "[WARNING] connection " + std::to_string(c->handle) + " from " + c->address +
                                               " closed: nothing to act on for " + std::to_string(limits.idleMs) + " ms");
          Drop(c, -1, true);
        }
      }
      if (limits.pduDeadlineMs) {
        std::vector<std::shared_ptr<Connection>> all;
        {
          std::lock_guard<std::mutex> g(lock);
          for (auto& [h, c] : table) all.push_back(c);
        }
        const auto now = std::chrono::steady_clock::now();
        const auto deadline = std::chrono::milliseconds(limits.pduDeadlineMs);
        for (auto& c : all)
          if (c->open && c->partialSince && now - *c->partialSince > deadline) {
            LogLimited("deadline " + c->address, "[WARNING] connection " + std::to_string(c->handle) + " from " +
                                                     c->address + " closed: a PDU not completed within " +
                                                     std::to_string(limits.pduDeadlineMs) + " ms");
            Drop(c, -1, true);
          }
      }
      Sweep();
    });
  }

  void CloseEverything() {
    std::vector<std::shared_ptr<Connection>> all;
    {
      std::lock_guard<std::mutex> g(lock);
      for (auto& [h, c] : table) all.push_back(c);
    }
    for (auto& c : all) Drop(c, 0, false);
    if (acceptor) {
      std::error_code ec;
      acceptor->close(ec);
    }
    acceptRetry.cancel();
  }
};

UpdateNetManager::UpdateNetManager(UpdateLog* log) : m_pImpl(new Impl) {
  m_pImpl->log = log;
  m_pImpl->Sweep();
  m_pImpl->thread = std::thread([this] { m_pImpl->io.run(); });
  m_pImpl->ioThreadId = m_pImpl->thread.get_id();
}

UpdateNetManager::~UpdateNetManager() {
  CloseAll();
  m_pImpl->work.reset();
  m_pImpl->io.stop();
  m_pImpl->thread.join();
}

void UpdateNetManager::SetSink(UpdateNetSink* sink) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  m_pImpl->sink = sink;
}

void UpdateNetManager::SetLimits(const UpdateNetLimits& limits) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  m_pImpl->limits = limits;
}

void UpdateNetManager::SetTrustedProxies(const std::vector<std::string>& addresses) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  m_pImpl->trustedProxies = addresses;
}

void UpdateNetManager::SetTimeouts(unsigned unrecvMs, unsigned unsendMs) {
  asio::post(m_pImpl->io, [this, unrecvMs, unsendMs] {
    m_pImpl->unrecvMs = unrecvMs;
    m_pImpl->unsendMs = unsendMs;
  });
}

int UpdateNetManager::CreateConnection(const std::string& address, uint16_t port) {
  auto c = m_pImpl->Add();
  c->address = address;
  c->port = port;
  return c->handle;
}

bool UpdateNetManager::Connect(int hConn, const std::string& address, uint16_t port) {
  auto c = m_pImpl->Find(hConn);
  if (!c || address.empty()) return false;
  std::error_code ec;
  const auto ip = asio::ip::make_address(address, ec);
  const bool byName = bool(ec);  // a host name: resolved on the I/O thread
  {
    std::lock_guard<std::mutex> g(m_pImpl->lock);
    c->address = address;
    c->port = port;
  }
  auto connected = [this, c](const std::error_code& ec) {
    if (!c->open) return;
    if (ec) {
      const int error = ec.value() ? ec.value() : -1;
      m_pImpl->Drop(c, error, false);
      if (UpdateNetSink* s = m_pImpl->Sink()) s->OnConnect(error, c->handle);
      return;
    }
    std::error_code e;
    c->socket.set_option(asio::ip::tcp::no_delay(true), e);
    c->socket.set_option(asio::socket_base::receive_buffer_size(kSocketBuffer), e);
    c->socket.set_option(asio::socket_base::send_buffer_size(kSocketBuffer), e);
    m_pImpl->Started(c);
    if (UpdateNetSink* s = m_pImpl->Sink()) s->OnConnect(0, c->handle);
  };
  asio::post(m_pImpl->io, [this, c, ip, byName, address, port, connected] {
    if (!byName) {
      c->socket.async_connect({ip, port}, connected);
      return;
    }
    auto resolver = std::make_shared<asio::ip::tcp::resolver>(m_pImpl->io);
    resolver->async_resolve(
        asio::ip::tcp::v4(), address, std::to_string(port), asio::ip::resolver_base::numeric_service,
        [c, resolver, connected](const std::error_code& ec, asio::ip::tcp::resolver::results_type results) {
          if (ec || results.empty()) {
            connected(ec ? ec : std::make_error_code(std::errc::host_unreachable));
            return;
          }
          asio::async_connect(c->socket, results,
                              [connected](const std::error_code& e, const asio::ip::tcp::endpoint&) { connected(e); });
        });
  });
  return true;
}

std::vector<uint8_t> UpdateNetManager::AcquireBuffer(size_t size) {
  std::vector<uint8_t> buffer;
  {
    std::lock_guard<std::mutex> g(m_pImpl->poolLock);
    auto& pool = m_pImpl->pool;
    for (size_t i = pool.size(); i-- > 0;)
      if (pool[i].capacity() >= size) {
        m_pImpl->poolBytes -= pool[i].capacity();
        buffer = std::move(pool[i]);
        pool[i] = std::move(pool.back());
        pool.pop_back();
        break;
      }
  }
  buffer.resize(size);
  return buffer;
}

bool UpdateNetManager::SendPdu(int hConn, uint16_t type, std::vector<uint8_t> buffer, size_t totalLength) {
  auto c = hConn == -1 ? nullptr : m_pImpl->Find(hConn);
  if (!c) {
    // The socket manager is this manager's I/O context: present while it runs.
    char line[96];
    std::snprintf(line, sizeof line, "[ERROR] hConn = %d, m_lpSocketMgr = %d.", hConn,
                  static_cast<int>(reinterpret_cast<uintptr_t>(&m_pImpl->io)));
    m_pImpl->LogLimited("send", line);
    return false;
  }
  if (totalLength < net::kPduHeaderSize || totalLength > buffer.size() ||
      totalLength - net::kPduHeaderSize > net::kMaxPduBody)
    return false;
  buffer.resize(totalLength);
  vx::WriteLE16(&buffer[0], type);
  vx::WriteLE16(&buffer[2], static_cast<uint16_t>(totalLength - net::kPduHeaderSize));
  bool post = false;
  {
    std::lock_guard<std::mutex> g(c->sendLock);
    if (c->sendClosed) return false;
    size_t sent = 0;
    // Nothing queued, and called from another thread (the I/O thread's own
    // sends are flushed right after its handler, after the reads it is
    // cutting, which keeps their accounting as it was): write what the socket
    // takes now, on this thread. The lock keeps the bytes in order and the
    // socket open meanwhile.
    if (c->inlineSend && !c->writeBusy && c->pending.empty() && std::this_thread::get_id() != m_pImpl->ioThreadId) {
      std::error_code ec;
      sent = c->socket.write_some(asio::buffer(buffer), ec);
      if (ec) sent = 0;  // would block, or an error the queued write reports
      if (sent == buffer.size()) {
        m_pImpl->Recycle(buffer);
        return true;
      }
    }
    const size_t queued = buffer.size() - sent;
    c->queuedBytes += queued;
    m_pImpl->totalQueued += queued;
    if (c->pending.empty()) c->pendingSent = sent;
    c->pending.push_back(std::move(buffer));
    post = !c->flushPosted;
    c->flushPosted = true;
  }
  if (post) asio::post(m_pImpl->io, [this, c] { m_pImpl->Flush(c); });
  return true;
}

bool UpdateNetManager::SendBody(int hConn, uint16_t type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> buffer = AcquireBuffer(net::kPduHeaderSize + body.size());
  std::copy(body.begin(), body.end(), buffer.begin() + net::kPduHeaderSize);
  const size_t total = buffer.size();
  return SendPdu(hConn, type, std::move(buffer), total);
}

void UpdateNetManager::MarkActive(int hConn) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  auto it = m_pImpl->table.find(hConn);
  if (it != m_pImpl->table.end()) it->second->lastPdu = std::chrono::steady_clock::now();
}

size_t UpdateNetManager::QueuedBytes(int hConn) {
  auto c = m_pImpl->Find(hConn);
  return c ? c->queuedBytes.load() : 0;
}

void UpdateNetManager::Close(int hConn) {
  if (auto c = m_pImpl->Find(hConn)) asio::post(m_pImpl->io, [this, c] { m_pImpl->Drop(c, 0, false); });
}

void UpdateNetManager::CloseWhenSent(int hConn) {
  if (auto c = m_pImpl->Find(hConn))
    asio::post(m_pImpl->io, [this, c] {
      if (!c->open) return;
      c->closing = true;
      m_pImpl->Flush(c);  // closes at once when nothing is queued or being written
    });
}

size_t UpdateNetManager::TotalQueuedBytes() const { return m_pImpl->totalQueued.load(); }

size_t UpdateNetManager::ConnectionCount() {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  return m_pImpl->table.size();
}

void UpdateNetManager::CloseAll() {
  // On the I/O thread (from a sink) the work is done in place: nobody could
  // wait for a posted handler there.
  if (m_pImpl->thread.get_id() == std::this_thread::get_id()) {
    m_pImpl->CloseEverything();
    return;
  }
  std::promise<void> done;
  auto finished = done.get_future();
  asio::post(m_pImpl->io, [this, &done] {
    m_pImpl->CloseEverything();
    done.set_value();
  });
  finished.wait();
}

std::string UpdateNetManager::PeerAddress(int hConn) {
  std::lock_guard<std::mutex> g(m_pImpl->lock);
  auto it = m_pImpl->table.find(hConn);
  return it == m_pImpl->table.end() ? std::string() : it->second->address;
}

bool UpdateNetManager::Listen(const std::string& address, uint16_t& port) {
  std::error_code ec;
  const auto ip = asio::ip::make_address(address, ec);
  if (ec) return false;
  auto acceptor = std::make_unique<asio::ip::tcp::acceptor>(m_pImpl->io);
  const asio::ip::tcp::endpoint endpoint(ip, port);
  acceptor->open(endpoint.protocol(), ec);
  if (!ec) acceptor->set_option(asio::ip::tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor->bind(endpoint, ec);
  if (!ec) acceptor->listen(asio::socket_base::max_listen_connections, ec);
  if (ec) return false;
  port = acceptor->local_endpoint().port();
  std::promise<void> done;
  auto started = done.get_future();
  asio::post(m_pImpl->io, [this, &done, a = std::move(acceptor)]() mutable {
    m_pImpl->acceptor = std::move(a);
    m_pImpl->Accept();
    done.set_value();
  });
  started.wait();
  return true;
}

}  // namespace update
