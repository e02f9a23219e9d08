// A scripted HTTP server on 127.0.0.1 for the network tests. The listening
// socket is bound (port 0) and listening before the constructor returns, so a
// client may connect at once: no fixed port, no sleep.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "net/net_errors.h"
#include "net/socket.h"
#include "support/deadline.h"

namespace nettest {

// Reads one request head (up to the empty line) from a connection; "" when the
// client closed first.
inline std::string ReadRequestHead(net::TSocket& s) {
  std::string got;
  char c;
  while (got.size() < 65536) {
    if (s.Receive(&c, 1, 0) == 0) return "";
    got += c;
    if (got.size() >= 4 && got.compare(got.size() - 4, 4, "\r\n\r\n") == 0) return got;
  }
  return got;
}

// Waits until the client closes its side (keeps the connection open meanwhile).
inline void WaitForClientClose(net::TSocket& s) {
  char buf[4096];
  try {
    while (s.Receive(buf, sizeof buf, 0) > 0) {
    }
  } catch (const Exception&) {
  }
}

inline void Send(net::TSocket& s, const std::string& data) { s.SendAll(data.data(), data.size()); }

// n bytes of a fixed pseudo-random pattern, every byte value in it.
inline std::string Pattern(size_t n) {
  std::string s(n, '\0');
  uint32_t x = 12345;
  for (auto& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return s;
}

class TScriptedServer {
 public:
  using Script = std::function<void(net::TSocket& connection, int index)>;

  // Runs script once per accepted connection, connections times, on one thread.
  explicit TScriptedServer(Script script, int connections = 1) : script_(std::move(script)) {
    thread_ = std::thread([this, connections] {
      for (int i = 0; i < connections; ++i) {
        try {
          net::TSocket s = listener_.Accept();
          script_(s, i);
        } catch (const std::exception& e) {
          std::lock_guard<std::mutex> g(lock_);
          errors_.push_back(e.what());
          return;
        }
      }
    });
  }
  // A test that failed before its client connected must not hang here.
  ~TScriptedServer() { Stop(); }

  // Waits for the script to end (the test's client must have done its part).
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // Ends a server still waiting for a connection that will not come.
  void Stop() {
    listener_.Abort();
    Join();
  }

  uint16_t Port() const { return listener_.Port(); }
  std::string Url(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Port()) + path; }
  std::vector<std::string> Errors() {
    std::lock_guard<std::mutex> g(lock_);
    return errors_;
  }

 private:
  net::TListener listener_;
  Script script_;
  std::thread thread_;
  std::mutex lock_;
  std::vector<std::string> errors_;
};

// The commonest script: read the request, record it, answer, close.
inline TScriptedServer::Script Answer(std::string response, std::string* request = nullptr) {
  return [response, request](net::TSocket& s, int) {
    std::string head = ReadRequestHead(s);
    if (request) *request = head;
    Send(s, response);
  };
}

// The run's log while the object lives, for a test to read.
class TLogCapture {
 public:
  TLogCapture() : sink_(std::make_shared<Sink>()) { previous_ = logging::SetSink(sink_); }
  ~TLogCapture() { logging::SetSink(previous_); }
  TLogCapture(const TLogCapture&) = delete;
  TLogCapture& operator=(const TLogCapture&) = delete;
  // Every line so far, each ended by a LF.
  std::string Text() const {
    std::lock_guard<std::mutex> g(sink_->lock);
    std::string all;
    for (const auto& l : sink_->lines) all += l + "\n";
    return all;
  }

 private:
  struct Sink : logging::TLogSink {
    void Write(const std::string& line) override {
      std::lock_guard<std::mutex> g(lock);
      lines.push_back(line);
    }
    std::mutex lock;
    std::vector<std::string> lines;
  };
  std::shared_ptr<Sink> sink_;
  std::shared_ptr<logging::TLogSink> previous_;
};

}  // namespace nettest
