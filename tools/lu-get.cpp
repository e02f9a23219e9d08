// lu-get URL FILE: downloads one address into FILE the way the updater's download
// step does: through the proxies the system would use, resumed where a line that
// fails stopped, judged complete only when every announced byte was counted,
// given up when no byte arrives for 60 seconds. Exit status as the updater's: 0
// when FILE holds the complete body, 2 when the download failed, 6 when FILE
// could not be written, 1 otherwise (FILE removed).
// FILE may be the null device (/dev/null, NUL), to measure or check a transfer.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "argument_path.h"
#include "base/text.h"
#include "engine/steps.h"
#include "net/http_client.h"
#include "net/proxy_resolver.h"
#include "net/resuming_download.h"
#include "platform/file_stream.h"
#include "platform/files.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: lu-get [--stall-seconds N] [--attempts N] URL FILE\n"
               "Downloads URL (http or https) into FILE through the user's proxy setting.\n"
               "FILE may be /dev/null or NUL to keep nothing.\n");
  return engine::kExitFailed;
}

// Coalesced progress on a terminal: at most about ten redraws a second.
class TProgressLine {
 public:
  explicit TProgressLine(bool enabled) : enabled_(enabled) {}
  void Show(int64_t count, int64_t max, bool force = false) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    if (max > 0)
      std::printf("\r%lld / %lld bytes  %3d%%", static_cast<long long>(count), static_cast<long long>(max),
                  static_cast<int>(count * 100 / max));
    else
      std::printf("\r%lld bytes", static_cast<long long>(count));
    std::fflush(stdout);
    shown_ = true;
  }
  void Finish() {
    if (shown_) std::printf("\n");
  }

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

bool IsNullDevice(const std::string& p) {
  return p == "/dev/null" || text::SameText(p, "NUL") || text::SameText(p, "\\\\.\\NUL");
}

}  // namespace

int main(int argc, char** argv) {
  int stallSeconds = 60;
  net::TDownloadOptions options;
  int i = 1;
  for (; i + 1 < argc && std::strncmp(argv[i], "--", 2) == 0; i += 2) {
    const int value = std::atoi(argv[i + 1]);
    if (value < 1) return Usage();
    if (std::strcmp(argv[i], "--stall-seconds") == 0)
      stallSeconds = value;
    else if (std::strcmp(argv[i], "--attempts") == 0)
      options.MaxAttempts = value;
    else
      return Usage();
  }
  if (argc - i != 2) return Usage();
  std::string url = argv[i];
  std::string file = argv[i + 1];
  const bool discard = IsNullDevice(file);
  if (!discard) file = ArgumentPath(file);

  net::THTTPClient client;
  client.StallTimeout = stallSeconds * 1000;
  net::TProxyResolver proxies;
  client.ResolveProxy = [&proxies](const std::string& address) { return proxies.Resolve(address); };

  TProgressLine progress(isatty(fileno(stdout)) != 0);
  int64_t max = 0, position = 0;
  std::string error;
  bool failed = false;
  bool created = false;
  bool complete = false;
  int status = engine::kExitDownloadFailed;
  {
    client.OnWorkBegin = [&](net::THTTPClient*, net::TWorkMode, int64_t n) {
      max = n;
      position = 0;
      progress.Show(position, max, true);
    };
    client.OnWork = [&](net::THTTPClient*, net::TWorkMode, int64_t n) {
      position = n;
      progress.Show(position, max);
    };
    try {
      if (discard) {
        // The device itself cannot be presized or cut, and must never be removed
        // after a failure: a sink that keeps nothing stands in for it.
        net::TCappedTextStream out(0);
        complete = client.Get(url, out).Complete;
      } else {
        status = engine::kExitCannotWrite;
        platform::TFileStream out(file, platform::TFileMode::CreateExclusive);
        created = true;
        status = engine::kExitDownloadFailed;
        try {
          complete = net::DownloadWithRetries(client, url, out, options).Complete;
        } catch (const EStreamError&) {
          status = engine::kExitCannotWrite;
          throw;
        }
        if (!out.Close()) {
          error = "The file could not be closed: " + file;
          status = engine::kExitCannotWrite;
        }
      }
    } catch (const EUnknownProtocol&) {
      // Its message is empty; say what is wrong instead.
      error = "Unsupported address (only http and https are known): " + url;
    } catch (const Exception& e) {
      error = e.Message;
      failed = true;
    } catch (const std::exception& e) {
      error = e.what();
      failed = true;
      status = engine::kExitFailed;
    }
  }
  progress.Show(position, max, true);
  progress.Finish();
  // As the updater judges it (an answer without length always passes).
  if (error.empty() && !complete)
    error = "Incomplete download: " + std::to_string(position) + " of " + std::to_string(max) + " bytes.";
  if (!error.empty() || failed) {
    // An error whose text is empty still fails the run.
    std::fprintf(stderr, "%s\n", error.empty() ? "Download failed." : error.c_str());
    if (created) platform::EraseFile(file);
    return status;
  }
  return engine::kExitDone;
}
