#include "tools/link_relay/relay_link.h"

#include <algorithm>

namespace link_relay {

namespace {

std::chrono::milliseconds Delay(const RelayPort& port) { return std::chrono::milliseconds(port.rule.delayMs); }

}  // namespace

RelayLink::RelayLink(std::shared_ptr<RelayPort> port, asio::ip::tcp::socket client)
    : m_port(std::move(port)),
      m_client(std::move(client)),
      m_target(m_client.get_executor()),
      m_up(m_client, m_target, m_port->bytesUp, m_client.get_executor()),
      m_down(m_target, m_client, m_port->bytesDown, m_client.get_executor()) {}

void RelayLink::Start() {
  auto self = shared_from_this();
  m_target.async_connect(m_port->target, [this, self](const asio::error_code& error) {
    if (m_closed) return;
    if (error) {
      ++m_port->failed;
      Close();
      return;
    }
    asio::error_code ignored;
    m_client.set_option(asio::ip::tcp::no_delay(true), ignored);
    m_target.set_option(asio::ip::tcp::no_delay(true), ignored);
    Read(m_up);
    Read(m_down);
  });
}

void RelayLink::Close() {
  if (m_closed) return;
  m_closed = true;
  asio::error_code ignored;
  m_up.timer.cancel();
  m_down.timer.cancel();
  m_client.close(ignored);
  m_target.close(ignored);
}

void RelayLink::Read(Direction& d) {
  const size_t room = std::min(d.pipe.Room(), d.buffer.size());
  if (m_closed || d.reading || d.ended || room == 0) return;
  d.reading = true;
  auto self = shared_from_this();
  d.from.async_read_some(asio::buffer(d.buffer.data(), room), [this, self, &d](const asio::error_code& error, size_t n) {
    d.reading = false;
    if (m_closed) return;
    const auto now = DelayedPipe::Clock::now();
    if (error == asio::error::eof) {
      d.ended = true;
      d.pipe.PushEnd(now, Delay(*m_port));
    } else if (error) {
      Close();
      return;
    } else {
      d.pipe.Push(d.buffer.data(), n, now, Delay(*m_port));
      Read(d);
    }
    Pump(d);
  });
}

void RelayLink::Pump(Direction& d) {
  if (m_closed || d.writing || d.waiting || d.pipe.Empty()) return;
  const uint64_t rate = m_port->rule.rate;
  const auto now = DelayedPipe::Clock::now();
  if (d.pipe.EndDue(now)) {
    d.pipe.PopEnd();
    d.finished = true;
    asio::error_code ignored;
    d.to.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    if (m_up.finished && m_down.finished) Close();
    return;
  }
  auto self = shared_from_this();
  const DelayedPipe::Slice slice = d.pipe.Writable(now, rate);
  if (slice.size == 0) {
    d.waiting = true;
    d.timer.expires_at(d.pipe.NextDue(rate));
    d.timer.async_wait([this, self, &d](const asio::error_code&) {
      d.waiting = false;
      Pump(d);
    });
    return;
  }
  d.writing = true;
  asio::async_write(d.to, asio::buffer(slice.data, slice.size),
                    [this, self, &d, now, rate](const asio::error_code& error, size_t n) {
                      d.writing = false;
                      if (m_closed) return;
                      if (error) {
                        Close();
                        return;
                      }
                      d.pipe.Consume(n, now, rate);
                      d.counter += n;  // delivered, not just read
                      Read(d);
                      Pump(d);
                    });
}

}  // namespace link_relay
