#pragma once
// The update network manager: TCP connections over Asio carrying plain PDUs
// (4-byte header, body). One I/O thread runs every connection; events reach
// the sink on that thread. Connections are named by small integer handles.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace update {

class UpdateLog;

class UpdateNetSink {
 public:
  virtual ~UpdateNetSink() = default;
  // error 0: connected. Otherwise the connection is already gone.
  virtual void OnConnect(int error, int hConn) = 0;
  // A server's accepted connection (error 0).
  virtual void OnAccept(int hConn, const std::string& peer) {}
  // error 0: one PDU. Otherwise the connection is gone and there is no data.
  virtual void OnPdu(int error, int hConn, uint16_t type, const uint8_t* body, uint16_t length) = 0;
};

// Bounds that keep one peer from taking the manager's memory or sockets.
// 0 means no bound.
struct UpdateNetLimits {
  size_t maxConnections = 0;      // accepted connections open at once
  size_t maxPerAddress = 0;       // accepted connections from one peer address
  size_t maxQueuedBytes = 0;      // a connection stops reading while more is queued on it
  size_t maxTotalQueuedBytes = 0; // over it, only connections with nothing queued read
  unsigned pduDeadlineMs = 60000; // a PDU begun must be complete within this
  unsigned idleMs = 0;            // an accepted connection nothing was acted on for so long is closed
};

class UpdateNetManager {
 public:
  static constexpr unsigned kUnrecvTimeoutMs = 180000;
  static constexpr unsigned kUnsendTimeoutMs = 60000;

  explicit UpdateNetManager(UpdateLog* log = nullptr);
  ~UpdateNetManager();  // closes everything and stops the I/O thread
  UpdateNetManager(const UpdateNetManager&) = delete;
  UpdateNetManager& operator=(const UpdateNetManager&) = delete;

  void SetSink(UpdateNetSink* sink);
  void SetTimeouts(unsigned unrecvMs, unsigned unsendMs);
  // Before Listen or the first connection.
  void SetLimits(const UpdateNetLimits& limits);

  // Before Listen: peers that are TCP balancers. Their connections begin
  // with a PROXY header (version 1 or 2) naming the client, for whose address
  // the limits count and PeerAddress answers; a connection from them without
  // one is closed, as is one from any other peer that begins with one.
  void SetTrustedProxies(const std::vector<std::string>& addresses);

  // Returns the handle, or -1.
  int CreateConnection(const std::string& address, uint16_t port);
  // Starts connecting to an IP address or a host name (resolved first);
  // the sink's OnConnect follows. False when not started.
  bool Connect(int hConn, const std::string& address, uint16_t port);
  // A buffer of `size` bytes for SendPdu, recycled from PDUs already written
  // when one is free (its contents are then unspecified), else a new one.
  std::vector<uint8_t> AcquireBuffer(size_t size);
  // `buffer` begins with 4 reserved bytes that receive type and body length.
  // False (and a log line) without such a connection, or when the body is too
  // long to be framed.
  bool SendPdu(int hConn, uint16_t type, std::vector<uint8_t> buffer, size_t totalLength);
  // The sink acted on a PDU of the connection: at the connection limits,
  // connections that got nothing acted on for long go first.
  void MarkActive(int hConn);
  // Bytes handed to SendPdu on the connection and not yet written.
  size_t QueuedBytes(int hConn);
  // Closes one connection without an event; PDUs already queued on it may be lost.
  void Close(int hConn);
  // Stops reading, writes what is queued, then closes without an event.
  void CloseWhenSent(int hConn);
  // Bytes queued on every connection together.
  size_t TotalQueuedBytes() const;
  // Connections in the context table.
  size_t ConnectionCount();
  // SendPdu of `body`, copied behind the 4 reserved bytes.
  bool SendBody(int hConn, uint16_t type, const std::vector<uint8_t>& body);
  void CloseAll();
  std::string PeerAddress(int hConn);

  // Server side: accepts on address:port (0: any free port, returned).
  bool Listen(const std::string& address, uint16_t& port);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_pImpl;
};

}  // namespace update
