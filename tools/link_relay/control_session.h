#pragma once
// One connection to the relay's control port: a command a line, each
// answered before the next is read.
#include <functional>
#include <memory>
#include <string>

#include <asio.hpp>

namespace link_relay {

class ControlSession : public std::enable_shared_from_this<ControlSession> {
 public:
  using Handler = std::function<std::string(const std::string& line)>;
  ControlSession(asio::ip::tcp::socket socket, Handler handler)
      : m_socket(std::move(socket)), m_handler(std::move(handler)) {}

  void Start() { ReadLine(); }
  void Close() {
    asio::error_code ignored;
    m_socket.close(ignored);
  }

 private:
  void ReadLine() {
    auto self = shared_from_this();
    asio::async_read_until(m_socket, m_input, '\n', [this, self](const asio::error_code& error, size_t n) {
      if (error) return;  // closed, or a line longer than the buffer
      const auto begin = asio::buffers_begin(m_input.data());
      const std::string line(begin, begin + n);
      m_input.consume(n);
      m_reply = m_handler(line);
      if (m_reply.empty()) return;
      asio::async_write(m_socket, asio::buffer(m_reply), [this, self](const asio::error_code& error, size_t) {
        if (!error) ReadLine();
      });
    });
  }

  asio::ip::tcp::socket m_socket;
  Handler m_handler;
  asio::streambuf m_input{4096};
  std::string m_reply;
};

}  // namespace link_relay
