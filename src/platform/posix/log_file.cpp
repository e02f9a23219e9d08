// The log file on the Linux port: opened through the path mapping, appended to
// with O_APPEND so that a line is one write even beside another writer. The
// user's alone (0600), and only a file of its own: a link or a second name
// planted where it should be (TEMP may be a shared /tmp) is refused.
#include "platform/log_file.h"

#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdio>
#include <ctime>

#include "platform/files.h"
#include "platform/posix/posix_internal.h"

namespace platform {

bool TLogFile::Open() {
  const std::string host = HostPath(path_);
  if (host.empty()) return false;
  // O_NONBLOCK: a FIFO planted at the name must not hold the run.
  const int fd = posix::OpenCloexec(host, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0600);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != geteuid()) {
    ::close(fd);
    return false;
  }
  if ((st.st_mode & 077) != 0) fchmod(fd, st.st_mode & 0700);
  size_ = static_cast<int64_t>(st.st_size);
  handle_ = fd;
  return true;
}

bool TLogFile::Append(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(static_cast<int>(handle_), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void TLogFile::Close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
  size_ = 0;
}

std::string LogTimeStamp() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm local;
  const time_t seconds = tv.tv_sec;
  localtime_r(&seconds, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(tv.tv_usec / 1000));
  return text;
}

const char* LogLineEnd() { return "\n"; }

}  // namespace platform
