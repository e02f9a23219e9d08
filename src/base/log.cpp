#include "base/log.h"

#include <exception>
#include <mutex>

namespace logging {
namespace {

// One lock for the sink and its calls: lines never interleave, and a sink
// replaced meanwhile is not freed under a writer.
std::mutex& Lock() {
  static std::mutex lock;
  return lock;
}
std::shared_ptr<TLogSink>& Sink() {
  static std::shared_ptr<TLogSink> sink;
  return sink;
}

}  // namespace

std::shared_ptr<TLogSink> SetSink(std::shared_ptr<TLogSink> sink) {
  std::lock_guard<std::mutex> guard(Lock());
  Sink().swap(sink);
  return sink;
}

bool Enabled() {
  std::lock_guard<std::mutex> guard(Lock());
  return Sink() != nullptr;
}

void Log(const std::string& event) noexcept {
  try {
    std::lock_guard<std::mutex> guard(Lock());
    if (!Sink()) return;
    std::string line = event;
    for (char& c : line)
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    Sink()->Write(line);
  } catch (...) {
    // The log is a help, never a reason for a run to fail: the line is lost.
  }
}

std::string HandledErrorText() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an error of no known kind";
  }
}

}  // namespace logging
