#pragma once
// The link relay in-process, on its own thread: `ports` and `extra` as on
// its command line ("0:7001", "--delay 50ms ...").
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <asio.hpp>

#include "tools/link_relay/link_relay.h"
#include "tools/link_relay/relay_options.h"

namespace testing_support {

class RelayThread {
 public:
  explicit RelayThread(const std::string& ports, const std::string& extra = {}) {
    std::vector<std::string> args{"--ports", ports};
    std::istringstream words(extra);
    for (std::string w; words >> w;) args.push_back(w);
    bool help = false;
    std::string error;
    EXPECT_TRUE(link_relay::ParseRelayArguments(args, m_options, help, error)) << error;
    m_relay = std::make_unique<link_relay::LinkRelay>(m_io, m_options);
    EXPECT_TRUE(m_relay->Start(error)) << error;
    m_thread = std::thread([this] { m_io.run(); });
  }
  ~RelayThread() {
    asio::post(m_io, [this] {
      m_relay->Stop();
      m_work.reset();
    });
    m_thread.join();
  }
  RelayThread(const RelayThread&) = delete;
  RelayThread& operator=(const RelayThread&) = delete;

  uint16_t Port(size_t index = 0) const { return m_relay->ListenPort(index); }
  // A control command ("cut", "refuse 7001", ...); its reply.
  std::string Command(const std::string& line) {
    std::promise<std::string> reply;
    asio::post(m_io, [&] { reply.set_value(m_relay->Command(line)); });
    return reply.get_future().get();
  }

 private:
  link_relay::RelayOptions m_options;
  asio::io_context m_io;
  asio::executor_work_guard<asio::io_context::executor_type> m_work{m_io.get_executor()};  // a dropped port leaves no work
  std::unique_ptr<link_relay::LinkRelay> m_relay;
  std::thread m_thread;
};

}  // namespace testing_support
