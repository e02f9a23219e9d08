// Files and folders. Paths are Windows path texts on both targets (drive letter,
// backslashes, doubled separators allowed); the Linux port maps them to host paths
// (C: lives under $ORBAX_PREFIX/drive_c, Z: is /). Texts are single-byte ANSI
// strings; the Linux port hands names to the host in UTF-8 and reads host names
// back in 1252, escaping what 1252 cannot spell as "?XX" (posix/posix_internal.h).
// Failures set the last error (system.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "base/exception.h"

namespace platform {

// Linux port: the host path a Windows path text stands for, in UTF-8 ("" when its
// drive is not accessible). Win32: the text unchanged.
std::string HostPath(const std::string& path);
// Linux port: the Windows path text for a host path ("Z:\..." or "C:\..." when it
// lies inside the prefix's drive), its names read as 1252. Win32: the text unchanged.
std::string FromHostPath(const std::string& hostPath);
// Whether the drive of a path (or of the current folder when it names none) can
// be reached.
bool DriveAccessible(const std::string& path);

// MS-DOS attribute bits, as the system reports them on both targets.
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faNormal = 0x80;
constexpr uint32_t faInvalid = 0xFFFFFFFFu;

bool FileExists(const std::string& path);  // a file, not a folder
// Whether a file (not a folder) is there and, on the Linux port, which one, for
// THeldFiles.
struct TFileLook {
  bool Exists = false;
  uint64_t Volume = 0, Id = 0;
};
TFileLook LookAtFile(const std::string& path);
bool DirectoryExists(const std::string& path);  // a folder
// One level; false when it exists already or the parent is missing.
bool CreateDir(const std::string& path);
// With all missing parents. A path shorter than three characters, or a folder
// that exists already, counts as created.
bool ForceDirectories(const std::string& path);
// A folder for one run's files that only this user can enter: made only where
// nothing exists (a link is not followed). Linux port: mode 0700. Win32: a
// protected access list granting the user and SYSTEM alone, inherited by what is
// made inside, and, when the process runs elevated, a high integrity label, so
// that the user's programs at medium integrity cannot write into it. False, with
// the last error and nothing left at the path, when it cannot be made so.
bool CreatePrivateFolder(const std::string& path);
// Succeeds only for an empty folder.
bool RemoveDir(const std::string& path);
// known: rkSourceFree when the caller knows that no other program holds the
// file and takes it whatever its attributes (as after SetAttributesNormal).
bool EraseFile(const std::string& path, uint32_t known = 0);
// faInvalid when the path does not exist.
uint32_t GetAttributes(const std::string& path);
// Sets the MS-DOS attributes. unixMode, when not 0, is the Unix mode an archive
// stored for the file: the Linux port gives it read and write for all and that
// mode's execute bits, less the process's umask (0666 becomes 0644, 0777 and 4755
// become 0755 under umask 022; never a set-id bit). Win32 ignores it.
bool SetAttributes(const std::string& path, uint32_t attributes, uint32_t unixMode = 0);
bool SetAttributesNormal(const std::string& path);
// Renames; fails when the destination exists or is held by another process.
bool MoveFileTo(const std::string& source, const std::string& destination);
// Renames within one volume and never copies: fails when the destination exists,
// when the source is held by another process (sharing violation), and across
// volumes (ERROR_NOT_SAME_DEVICE), so that a name never holds a file in part.
// known: what the caller knows, which spares the move its own checks where the
// system does not make them as it moves (the Linux port): that no other program
// holds the source (the run's own files, or THeldFiles says so) and that no file
// has the destination's name in any spelling (it has just looked).
constexpr uint32_t rkSourceFree = 1, rkDestinationFree = 2;
bool RenameFile(const std::string& source, const std::string& destination, uint32_t known = 0);

class TFileStream;
// The files of one volume that other programs hold, listed once for many files:
// the Linux port reads the system's list of locks. witness: a file this process
// holds, on that volume, by which the list is checked to name files as
// LookAtFile does; where it does not (another kind of file system), every file
// may be held. Win32 lists nothing: its moves check as they move.
class THeldFiles {
 public:
  explicit THeldFiles(const TFileStream& witness);
  bool MayBeHeld(const TFileLook& file) const;

 private:
  bool listed_ = false;
  uint64_t volume_ = 0;
  std::unordered_set<uint64_t> held_;
};
// Copies, replacing an existing destination when failIfExists is false.
bool CopyFileTo(const std::string& source, const std::string& destination, bool failIfExists);

// A local calendar time, to the second.
struct TLocalTime {
  int Year = 1980, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0;
};
TLocalTime Now();
bool SetLastWriteTime(const std::string& path, const TLocalTime& time);
std::optional<TLocalTime> GetLastWriteTime(const std::string& path);

// The short (8.3) form of an existing path, as GetShortPathNameA gives it into a
// buffer of bufferSize characters; "" when the system fails. The Linux port has
// no short names and returns the path.
std::string ShortPathName(const std::string& path, uint32_t bufferSize = 261);

bool SetCurrentDir(const std::string& path);
std::string GetCurrentDir();
// The Windows folder ("C:\Windows" on the Linux port).
std::string WindowsDir();
// The temporary folder with its trailing backslash, as the system returns it into
// a buffer of 1024 characters.
std::string TempDir();

// Makes a new private folder (as CreatePrivateFolder above) below parent, named
// prefix followed by a new GUID. Returns its path (parent's trailing separators
// dropped, one "\" before the name); "" with the last error set when it cannot be
// made.
std::string CreatePrivateFolder(const std::string& parent, const std::string& prefix);

// Durability. The names made, renamed or removed in a folder reach the disk
// (Linux port: fsync of the folder; Win32: NTFS keeps names in its own log, in
// order with the files' own changes, so there is nothing to do and the answer is
// whether the folder exists).
bool FlushFolder(const std::string& path);
// Everything written to the volume that holds path reaches the disk: its files'
// data and names (Linux port: syncfs; Win32: the volume's buffers, which only an
// administrator may flush: false with ERROR_ACCESS_DENIED for others).
bool FlushVolume(const std::string& path);
// One file's data and size reach the disk.
bool FlushFile(const std::string& path);
// Whether this process must flush new files below folder one by one, each
// through the handle that wrote it, because the system refuses it the flush of
// the whole volume (Win32 without administrator rights, a share, a mount point;
// it tries that flush to know). The Linux port: never.
bool FlushesFileByFile(const std::string& folder);

// Removes a folder and everything below it, deepest first, never through a link:
// a symbolic link, junction or other reparse point met on the way (the path
// itself included) is removed as a link and what it leads to is left alone, and
// each folder is held open while the walk works in it, so that one swapped for a
// link meanwhile is not entered. Read-only files go too; a file another program
// holds stays, with the folders above it (held, when given, names the free ones
// without asking each). True when nothing is left at the path.
bool RemoveTree(const std::string& path, const THeldFiles* held = nullptr);
// Whether the folders from folder down to the one that holds relative (either
// separator) are all real folders, none a link or reparse point, so that an
// operation on folder\relative stays below folder. folder itself, and relative's
// last name, are not asked; a folder that is missing ends the walk (nothing
// below it can be reached).
bool NoLinkBelow(const std::string& folder, const std::string& relative);
// Reads a whole file of at most maxBytes into bytes: a regular file, never one a
// link leads to. False with the last error otherwise (ERROR_FILE_TOO_LARGE for a
// larger one, ERROR_ACCESS_DENIED for a link or what is no file).
bool ReadOwnFile(const std::string& path, size_t maxBytes, std::string& bytes);
// Whether path is a folder, not a link, that belongs to the user this process
// runs as (on Win32 also one whose owner is the default owner the process gives
// what it makes, as an elevated process gives the Administrators group).
bool OwnFolder(const std::string& path);

// Lists the names (not paths) in a folder, folders first marked by a trailing "\";
// each group sorted by name without regard to case. Empty when it cannot be read.
std::vector<std::string> ListDir(const std::string& path);

}  // namespace platform
