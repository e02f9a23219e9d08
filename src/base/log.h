// The run's log: one line per event, for support to read after the fact. The
// program says where lines go once (a sink; platform/log_file.h writes a file),
// and any layer and any thread may then log. Logging never throws and never
// fails a run: without a sink, or when the sink fails, the line is dropped.
//
// What is logged is the caller's concern: never a password, an Authorization or
// Proxy-Authorization value, or another secret.
#pragma once

#include <memory>
#include <string>

namespace logging {

// Where lines go. Write is called for one line at a time, never from two
// threads at once; it may raise, and the line is then lost.
class TLogSink {
 public:
  virtual ~TLogSink() = default;
  virtual void Write(const std::string& line) = 0;
};

// Makes sink the process's log (nullptr: no log); returns the one it replaces.
std::shared_ptr<TLogSink> SetSink(std::shared_ptr<TLogSink> sink);
// Whether a sink is set, for callers that would build a costly line.
bool Enabled();
// Hands one event to the sink. Line breaks and other control characters in it
// become blanks, so an event is one line whatever text it quotes.
void Log(const std::string& event) noexcept;
// Inside a handler (catch (...) too): what the exception being handled says, for
// its log line; "an error of no known kind" for one that says nothing.
std::string HandledErrorText();

}  // namespace logging
