#include "update/update_net_manager.h"

#include "update/asio_config.h"

#include <atomic>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <thread>

#include "base/le_int.h"
#include "net/pdu_frame.h"
#include "update/update_log.h"

namespace update {
namespace {

constexpr size_t kReceiveChunk = 1 << 18;  // a few PDUs per read: fewer reads, fewer split PDUs

}  // namespace

struct UpdateNetManager::Impl {
  struct Connection {
    int handle;
    asio::ip::tcp::socket socket;
    asio::steady_timer unrecv;
    asio::steady_timer unsend;
    net::PduCutter cutter;
    std::vector<uint8_t> inbox;
    std::mutex sendLock;                        // guards pending and flushPosted
    std::vector<std::vector<uint8_t>> pending;  // queued by SendPdu from any thread
    bool flushPosted = false;
    std::atomic<size_t> queuedBytes{0};         // handed to SendPdu, not yet written
    std::vector<std::vector<uint8_t>> writing;  // the batch on the wire
    bool writeBusy = false;
    std::string address;
    uint16_t port = 0;
    bool open = true;
    std::chrono::steady_clock::time_point lastReceive;
    Connection(int h, asio::io_context& io, net::PduCutter::Sink sink)
        : handle(h), socket(io), unrecv(io), unsend(io), cutter(std::move(sink)), inbox(kReceiveChunk) {}
  };

  asio::io_context io;
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  std::thread thread;
  std::mutex lock;  // guards the context table and the sink pointer
  std::map<int, std::shared_ptr<Connection>> table;
  int nextHandle = 1;
  UpdateNetSink* sink = nullptr;
  UpdateLog* log = nullptr;
  unsigned unrecvMs = kUnrecvTimeoutMs, unsendMs = kUnsendTimeoutMs;
  std::unique_ptr<asio::ip::tcp::acceptor> acceptor;
  // Buffers of written PDUs, handed out again by AcquireBuffer.
  static constexpr size_t kPoolLimit = 64;
  std::mutex poolLock;
  std::vector<std::vector<uint8_t>> pool;

  void Recycle(std::vector<std::vector<uint8_t>>& written) {
    std::lock_guard<std::mutex> g(poolLock);
    for (auto& b : written) {
      if (pool.size() >= kPoolLimit) break;
      pool.push_back(std::move(b));
    }
    written.clear();
  }

  void Log(const std::string& line) {
    if (log) log->Write(line);
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
    std::error_code ec;
    c->socket.close(ec);
    c->unrecv.cancel();
    c->unsend.cancel();
    {
      std::lock_guard<std::mutex> g(lock);
      table.erase(c->handle);
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

  void Receive(const std::shared_ptr<Connection>& c) {
    c->socket.async_read_some(asio::buffer(c->inbox), [this, c](const std::error_code& ec, size_t n) {
      if (!c->open) return;
      if (ec) {
        Drop(c, ec.value() ? ec.value() : -1, true);
        return;
      }
      c->lastReceive = std::chrono::steady_clock::now();
      if (!c->cutter.Feed(c->inbox.data(), n)) {
        Drop(c, -1, true);  // a length no sender can frame
        return;
      }
      if (c->open) Receive(c);
    });
  }

  void Started(const std::shared_ptr<Connection>& c) {
    c->lastReceive = std::chrono::steady_clock::now();
    ArmUnrecv(c, c->lastReceive);
    Receive(c);
  }

  // Writes everything queued so far as one gathered write.
  void Flush(const std::shared_ptr<Connection>& c) {
    if (!c->open || c->writeBusy) return;
    {
      std::lock_guard<std::mutex> g(c->sendLock);
      c->flushPosted = false;
      if (c->pending.empty()) return;
      c->writing.swap(c->pending);
    }
    c->writeBusy = true;
    std::vector<asio::const_buffer> buffers;
    buffers.reserve(c->writing.size());
    for (const auto& b : c->writing) buffers.emplace_back(asio::buffer(b));
    c->unsend.expires_after(std::chrono::milliseconds(unsendMs));
    c->unsend.async_wait([this, c](const std::error_code& ec) {
      if (ec || !c->open) return;
      Log("[WARNING] OnSocketUnsendTimer");
      Drop(c, -1, true);
    });
    asio::async_write(c->socket, buffers, [this, c](const std::error_code& ec, size_t) {
      if (!c->open) return;
      c->unsend.cancel();
      c->writeBusy = false;
      size_t written = 0;
      for (const auto& b : c->writing) written += b.size();
      c->queuedBytes -= written;
      Recycle(c->writing);
      if (ec) {
        Drop(c, ec.value(), true);
        return;
      }
      Flush(c);
    });
  }

  void Accept() {
    acceptor->async_accept([this](const std::error_code& ec, asio::ip::tcp::socket socket) {
      if (ec) return;  // the acceptor was closed
      auto c = Add();
      c->socket = std::move(socket);
      std::error_code e;
      const auto peer = c->socket.remote_endpoint(e);
      {
        std::lock_guard<std::mutex> g(lock);
        c->address = e ? "" : peer.address().to_string();
        c->port = e ? 0 : peer.port();
      }
      c->socket.set_option(asio::ip::tcp::no_delay(true), e);
      if (UpdateNetSink* s = Sink()) s->OnAccept(c->handle, c->address);
      Started(c);
      Accept();
    });
  }
};

UpdateNetManager::UpdateNetManager(UpdateLog* log) : m_pImpl(new Impl) {
  m_pImpl->log = log;
  m_pImpl->thread = std::thread([this] { m_pImpl->io.run(); });
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
    char line[96];
    std::snprintf(line, sizeof line, "[ERROR] hConn = %d, m_lpSocketMgr = %d.", hConn, c ? 1 : 0);
    m_pImpl->Log(line);
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
    c->queuedBytes += buffer.size();
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

size_t UpdateNetManager::QueuedBytes(int hConn) {
  auto c = m_pImpl->Find(hConn);
  return c ? c->queuedBytes.load() : 0;
}

void UpdateNetManager::Close(int hConn) {
  if (auto c = m_pImpl->Find(hConn)) asio::post(m_pImpl->io, [this, c] { m_pImpl->Drop(c, 0, false); });
}

void UpdateNetManager::CloseAll() {
  std::promise<void> done;
  auto finished = done.get_future();
  asio::post(m_pImpl->io, [this, &done] {
    std::vector<std::shared_ptr<Impl::Connection>> all;
    {
      std::lock_guard<std::mutex> g(m_pImpl->lock);
      for (auto& [h, c] : m_pImpl->table) all.push_back(c);
    }
    for (auto& c : all) m_pImpl->Drop(c, 0, false);
    if (m_pImpl->acceptor) {
      std::error_code ec;
      m_pImpl->acceptor->close(ec);
    }
    done.set_value();
  });
  if (m_pImpl->thread.get_id() != std::this_thread::get_id()) finished.wait();
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
