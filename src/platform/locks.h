// Exclusion between updaters: one at a time for a user's session, and one at a
// time for an installation folder whoever runs it. Neither can be held by an
// account that could not run the update itself.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// One updater at a time for the user: on Win32 a mutex in the session's own
// namespace named with the user's SID, open to that user alone; on the Linux port
// an flock'ed file in the emulated machine ($ORBAX_PREFIX). Held from a successful
// Acquire until the object goes or the process ends; programs the holder starts
// do not inherit it.
class TUpdaterLock {
 public:
  TUpdaterLock() = default;
  TUpdaterLock(const TUpdaterLock&) = delete;
  TUpdaterLock& operator=(const TUpdaterLock&) = delete;
  ~TUpdaterLock();
  // Takes the lock without waiting. False with the last error ERROR_ALREADY_EXISTS
  // (183) when another updater holds it, with the system's own error when the
  // lock could not be taken for another cause.
  bool Acquire();

 private:
  intptr_t handle_ = 0;
};

// One updater at a time in a folder, whichever account runs it: a file of that
// folder, made by the holder and shared with nobody, held for the span that
// changes the folder and gone when released (on Win32 also when the process
// dies). Only who may write the folder can make or hold it; a link is never
// followed to it.
class TFileLock {
 public:
  TFileLock() = default;
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;
  ~TFileLock() { Release(); }
  // As TUpdaterLock::Acquire, for the lock file at path.
  bool Acquire(const std::string& path);
  void Release();
  bool Held() const { return handle_ != 0; }

 private:
  intptr_t handle_ = 0;
  std::string host_;  // Linux port: the file's host path, removed on release
};

}  // namespace platform
