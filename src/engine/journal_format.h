// The update journal's file, apart from what recovery does with it: text, one
// record a line, fields separated by TAB, each field with '%', CR, LF, TAB and
// the other bytes below 0x20 written as %XX, and last the CRC-32 of the line
// before it (8 upper-case hexadecimal digits). A pure reader and writer over
// bytes, so that every damage a disk or a hand can do is tried from memory.
//
// Records, in order of writing (format 2; format 1 kept each original as o\<n>):
//   JOURNAL 2 <install folder> <run folder> <RunOnce value> <its command> <recovery copy> <originals' folder>
//   JOURNAL 1 <install folder> <run folder> <RunOnce value> <its command> <recovery copy>
//   REG <root> <key> <name> <existed 0|1> <type> <data>   a value as it was
//   MKDIR <folder>              before a folder is made that did not exist
//   MOVE <file>                 before an original is moved aside to <originals' folder>\<file>
//   MOVE <file> <n>             the same in format 1: to o\<n>
//   ADD <file>                  before a file is placed where none was
//   COMMIT                      files, configuration, record and settings done
// Folders and files are relative to the installation folder.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace engine::journal {

// The format this program writes; it reads 1 and 2.
extern const char* const kFormat;  // "2"

// The fields of one record.
using TRecord = std::vector<std::string>;

// The line of a record, ending in LF.
std::string Line(const TRecord& fields);

// What a journal file holds.
struct TParsed {
  std::vector<TRecord> Records;  // every whole record, the header first
  // Why the journal cannot be trusted ("" when it can). Only the last line may be
  // cut or fail its CRC (a write that never finished); anything else is damage:
  // an empty file, a bad line with a whole one after it, a record of a kind or
  // shape the journal never writes, a path that leaves the installation folder.
  std::string Damage;
};
TParsed Parse(std::string_view bytes);

// The largest journal read: a package of a hundred thousand files, and every
// registry value an update keeps, with room to spare.
constexpr size_t kMaxJournalBytes = 64u << 20;

// Whether a relative path names a place below the installation folder, with
// either separator: no name made only of dots and blanks (Windows drops trailing
// ones, so "..." and ". ." climb or stay as ".." and "." do), no empty name, no
// drive or stream colon, no control character, never the updater's own names in
// the folder.
bool RelativeInside(const std::string& relative);

// The name of a folder of originals in the work folder: "o-<k>", k a number.
bool OriginalsFolderName(const std::string& name);

// The updater's own names in the installation folder, which no package file and
// no journal record may take: the work folder and the lock.
bool UpdaterOwnName(const std::string& name);

}  // namespace engine::journal
