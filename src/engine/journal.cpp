#include "engine/journal.h"

#include <algorithm>
#include <cstdio>

#include "archive/crc32.h"
#include "base/assert.h"
#include "base/text.h"
#include "engine/steps.h"
#include "install/uninstall.h"
#include "platform/file_stream.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace engine {

const char* const kJournalFolderName = "~ORBAXLU.journal";
const char* const kRecoverSwitch = "/RECOVER";

std::string RecoverValueName(const std::string& applicationName) { return "!ORBAXLU_RECOVER_" + applicationName; }

namespace {

using TRecord = std::vector<std::string>;

const char* const kJournalFileName = "journal";
const char* const kFormatVersion = "1";

std::string Escape(const std::string& field) {
  std::string out;
  out.reserve(field.size());
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && c != '%') {
      out += c;
      continue;
    }
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", byte);
    out += hex;
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(const std::string& field, std::string& out) {
  out.clear();
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] != '%') {
      out += field[i];
      continue;
    }
    if (field.size() - i < 3 || HexDigit(field[i + 1]) < 0 || HexDigit(field[i + 2]) < 0) return false;
    out += static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
    i += 2;
  }
  return true;
}

std::string Line(const TRecord& fields) {
  std::string line;
  for (const std::string& field : fields) line += Escape(field) + '\t';
  char crc[9];
  std::snprintf(crc, sizeof crc, "%08X", static_cast<unsigned>(archive::Crc32(line.data(), line.size())));
  return line + crc + '\n';
}

// A relative path the journal may name: below the installation folder, never
// above it or elsewhere.
bool InsideFolder(const std::string& relative) {
  if (relative.empty() || relative.find(':') != std::string::npos) return false;
  size_t at = 0;
  for (;;) {
    const size_t end = relative.find('\\', at);
    const std::string name = relative.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (name.empty() || name == "." || name == "..") return false;
    if (end == std::string::npos) return true;
    at = end + 1;
  }
}

bool WellFormed(const TRecord& r, bool first) {
  if (first) return r.size() == 7 && r[0] == "JOURNAL" && r[1] == kFormatVersion;
  if (r[0] == "REG") return r.size() == 7;
  if (r[0] == "MKDIR" || r[0] == "ADD") return r.size() == 2 && InsideFolder(r[1]);
  if (r[0] == "MOVE")
    return r.size() == 3 && InsideFolder(r[1]) && !r[2].empty() &&
           std::all_of(r[2].begin(), r[2].end(), [](char c) { return c >= '0' && c <= '9'; });
  return r.size() == 1 && r[0] == "COMMIT";
}

// The records of a journal file as far as they are whole: the first line that is
// cut, fails its CRC or is not one of ours ends it.
std::vector<TRecord> ReadRecords(const std::string& path) {
  std::string text;
  try {
    platform::TFileStream file(path, platform::TFileMode::OpenRead);
    text.resize(static_cast<size_t>(file.Size()));
    text.resize(static_cast<size_t>(file.Read(text.data(), static_cast<int64_t>(text.size()))));
  } catch (const Exception&) {
    return {};
  }
  std::vector<TRecord> records;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) break;
    // The fields, each followed by a TAB, then the CRC of all of them.
    if (end - at < 9 || text[end - 9] != '\t') break;
    const size_t crcAt = end - 8;
    uint32_t crc = 0;
    bool hex = true;
    for (size_t i = crcAt; i < end; ++i) {
      hex = hex && HexDigit(text[i]) >= 0;
      crc = crc * 16 + static_cast<uint32_t>(std::max(HexDigit(text[i]), 0));
    }
    if (!hex || archive::Crc32(text.data() + at, crcAt - at) != crc) break;
    TRecord record;
    for (size_t field = at; field < crcAt;) {
      const size_t tab = text.find('\t', field);
      record.emplace_back();
      if (!Unescape(text.substr(field, tab - field), record.back())) return records;
      field = tab + 1;
    }
    if (!WellFormed(record, records.empty())) break;
    records.push_back(std::move(record));
    at = end + 1;
  }
  return records;
}

// What the system says went wrong, for a report.
std::string Failure(const std::string& what) { return what + ": " + platform::SysErrorMessage(platform::LastError()); }

void Collect(std::string& failures, const std::string& failure) {
  failures += (failures.empty() ? "" : "\r\n") + failure;
}

bool ReadValue(const install::TRegValueName& v, platform::TRegValue& value) {
  platform::TRegKey key;
  return key.Open(v.Root, v.Key, false, true) && key.GetValue(v.Name, value);
}

// Puts a registry value back as a REG record has it; a value that is as it was is
// left alone.
bool RestoreValue(const TRecord& r) {
  const install::TRegValueName v{static_cast<uint32_t>(text::StrToInt64(r[1])), r[2], r[3]};
  const bool existed = r[4] == "1";
  const platform::TRegValue old{static_cast<uint32_t>(text::StrToInt64(r[5])), r[6]};
  platform::TRegValue now;
  const bool exists = ReadValue(v, now);
  if (exists == existed && (!existed || (now.Type == old.Type && now.Data == old.Data))) return true;
  platform::TRegKey key;
  if (!existed) return !key.Open(v.Root, v.Key, false, false) || key.DeleteValue(v.Name) || !key.HasValue(v.Name);
  return key.Open(v.Root, v.Key, true, false) && key.SetValue(v.Name, old) && key.Flush();
}

// Undoes the intents, newest first. Returns what could not be put back.
std::string RollBackRecords(const std::vector<TRecord>& records, const std::string& install, const std::string& work) {
  std::string failures;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    const TRecord& r = *it;
    const std::string path = r.size() > 1 ? install + "\\" + r[1] : std::string();
    if (r[0] == "MOVE") {
      const std::string backup = work + "\\o\\" + r[2];
      if (!platform::FileExists(backup)) continue;  // the original never left
      platform::SetAttributesNormal(path);
      if ((platform::FileExists(path) && !platform::EraseFile(path)) || !platform::RenameFile(backup, path))
        Collect(failures, Failure(path) + " (the original is kept as " + backup + ")");
    } else if (r[0] == "ADD") {
      if (!platform::FileExists(path)) continue;
      platform::SetAttributesNormal(path);
      if (!platform::EraseFile(path)) Collect(failures, Failure(path));
    } else if (r[0] == "MKDIR") {
      platform::RemoveDir(path);  // one that holds what others put there stays
    } else if (r[0] == "REG") {
      if (!RestoreValue(r)) Collect(failures, Failure(r[2] + "\\" + r[3]));
    }
  }
  return failures;
}

// The end of a journal whose installation is whole: the journal first (nothing is
// in doubt from then on), then what it kept, its RunOnce entry and its recovery
// copy. What a running program still holds stays for a later run.
void EndJournal(const std::string& work, const TRecord* header, const platform::THeldFiles* held) {
  const std::string journal = work + "\\" + kJournalFileName;
  platform::EraseFile(journal);
  RemoveFolders(work, true, held);
  if (!header) return;
  const std::string& valueName = (*header)[4];
  const std::string& command = (*header)[5];
  platform::TRegKey runOnce;
  platform::TRegValue value;
  if (runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, false, false) &&
      runOnce.GetValue(valueName, value) && value.Data == command)
    runOnce.DeleteValue(valueName);
  platform::EraseFile((*header)[6]);
}

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

// The highest number among the names of a folder of originals or copies.
uint32_t HighestNumber(const std::string& folder) {
  uint32_t highest = 0;
  for (const std::string& name : platform::ListDir(folder)) {
    int64_t n = 0;
    if (text::TryStrToInt64(name, n) && n > 0 && n < UINT32_MAX) highest = std::max(highest, static_cast<uint32_t>(n));
  }
  return highest;
}

}  // namespace

std::string RecoverJournal(const std::string& workFolder, const platform::THeldFiles* held) {
  // Only a folder of ours, and the installation is the folder that holds it,
  // wherever it was when the journal began.
  if (!text::AnsiSameText(text::ExtractFileName(workFolder), kJournalFolderName)) return workFolder + ": not a journal";
  if (!platform::DirectoryExists(workFolder)) return std::string();
  const std::vector<TRecord> records = ReadRecords(workFolder + "\\" + kJournalFileName);
  if (records.empty()) {
    // Cut before its first record was whole: nothing was changed yet.
    EndJournal(workFolder, nullptr, held);
    return std::string();
  }
  const bool committed = std::any_of(records.begin(), records.end(), [](const TRecord& r) { return r[0] == "COMMIT"; });
  if (!committed) {
    const std::string failures = RollBackRecords(records, text::ExtractFileDir(workFolder), workFolder);
    if (!failures.empty()) return failures;
  }
  EndJournal(workFolder, &records.front(), held);
  return std::string();
}

std::string RecoveredFolder(const std::string& command) {
  const std::vector<std::string> args = platform::SplitCommandLine(command);
  for (size_t i = 1; i + 1 < args.size(); ++i)
    if (text::SameText(args[i], kRecoverSwitch)) return args[i + 1];
  return std::string();
}

TUpdateJournal::TUpdateJournal(std::string work, std::unique_ptr<platform::TFileStream> file, int64_t size,
                               uint32_t next)
    : work_(std::move(work)), file_(std::move(file)), size_(size), next_(next) {
  installFolder_ = text::ExtractFileDir(work_);
}

TUpdateJournal::~TUpdateJournal() = default;

std::unique_ptr<TUpdateJournal> TUpdateJournal::Begin(const TStart& start) {
  const std::string work = start.InstallFolder + "\\" + kJournalFolderName;
  if (platform::DirectoryExists(work)) {
    const std::string left = RecoverJournal(work);
    if (!left.empty()) throw EInOutError("An earlier update could not be undone:\r\n" + left, 0);
  }
  const std::string copy = start.RunFolder + "\\" + start.UpdaterFileName;
  const std::string valueName = RecoverValueName(start.ApplicationName);
  const std::string command = Quote(copy) + " " + kRecoverSwitch + " " + Quote(work);
  platform::TRegKey runOnce;
  bool valueWritten = false;
  try {
    // The way back is in place before anything it would undo: the recovery copy,
    // then its entry, then the journal.
    if (!platform::CopyFileTo(platform::ProgramPath(), copy, false)) throw EInOutError(Failure(copy), 0);
    valueWritten = runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, true, false) &&
                   runOnce.SetValue(valueName, {platform::REG_SZ_TYPE, command}) && runOnce.Flush();
    if (!valueWritten) throw EInOutError(Failure(std::string("RunOnce\\") + valueName), 0);
    if (!platform::DirectoryExists(work) && !platform::CreateDir(work)) throw EInOutError(Failure(work), 0);
    platform::SetAttributes(work, platform::faHidden);
    for (const char* sub : {"\\o", "\\n"})
      if (!platform::ForceDirectories(work + sub)) throw EInOutError(Failure(work + sub), 0);
    // Originals a running program held at the end of an earlier update may be
    // there still: numbers go on after theirs.
    const uint32_t next = std::max(HighestNumber(work + "\\o"), HighestNumber(work + "\\n")) + 1;
    auto file =
        std::make_unique<platform::TFileStream>(work + "\\" + kJournalFileName, platform::TFileMode::CreateExclusive);
    std::unique_ptr<TUpdateJournal> journal(new TUpdateJournal(work, std::move(file), 0, next));
    journal->Note({"JOURNAL", kFormatVersion, start.InstallFolder, start.RunFolder, valueName, command, copy});
    for (const install::TRegValueName& v : start.Values) {
      platform::TRegValue value;
      const bool existed = ReadValue(v, value);
      journal->Note(
          {"REG", text::IntToStr(v.Root), v.Key, v.Name, existed ? "1" : "0", text::IntToStr(value.Type), value.Data});
    }
    journal->Flush();
    // The journal's own name, and the work folder's, last as the journal does.
    platform::FlushFolder(work);
    platform::FlushFolder(start.InstallFolder);
    return journal;
  } catch (const Exception& e) {
    const uint32_t code = platform::LastError();
    RemoveFolders(work, true);
    if (valueWritten) runOnce.DeleteValue(valueName);
    platform::EraseFile(copy);
    throw EInOutError(e.Message, static_cast<int>(code));
  }
}

void TUpdateJournal::Note(std::vector<std::string> fields) {
  LU_ASSERT(!ended_);
  pending_ += Line(fields);
}

std::string TUpdateJournal::Relative(const std::string& path) const {
  LU_ASSERT(text::AnsiSameText(path.substr(0, installFolder_.size() + 1), installFolder_ + "\\"));
  return path.substr(installFolder_.size() + 1);
}

void TUpdateJournal::NoteFolder(const std::string& folder) {
  // A folder is noted before anything below it, so that undoing newest first
  // empties each folder before its parent: none noted so far lies below it.
  const std::string below = text::AnsiUpperCase(folder) + "\\";
  const auto next = notedFolders_.lower_bound(below);
  LU_ASSERT(next == notedFolders_.end() || next->compare(0, below.size(), below) != 0);
  notedFolders_.insert(below);
  Note({"MKDIR", Relative(folder)});
}

std::string TUpdateJournal::NoteReplace(const std::string& path) {
  const std::string n = text::IntToStr(next_++);
  placed_.push_back(path);
  Note({"MOVE", Relative(path), n});
  return work_ + "\\o\\" + n;
}

void TUpdateJournal::NoteAdd(const std::string& path) {
  placed_.push_back(path);
  Note({"ADD", Relative(path)});
}

std::string TUpdateJournal::NewCopyPath() { return work_ + "\\n\\" + text::IntToStr(next_++); }

void TUpdateJournal::Flush() {
  LU_ASSERT(!ended_);
  if (pending_.empty()) return;
  try {
    file_->WriteAt(size_, pending_.data(), static_cast<int64_t>(pending_.size()));
  } catch (const Exception&) {
    throw EInOutError(Failure(work_ + "\\" + kJournalFileName), static_cast<int>(platform::LastError()));
  }
  if (!file_->Flush())
    throw EInOutError(Failure(work_ + "\\" + kJournalFileName), static_cast<int>(platform::LastError()));
  size_ += static_cast<int64_t>(pending_.size());
  pending_.clear();
}

void TUpdateJournal::Commit() {
  LU_ASSERT(Flushed());
  // The new files reach the disk before the journal says they are there to stay.
  if (!platform::FlushVolume(installFolder_))
    for (const std::string& path : placed_) platform::FlushFile(path);
  Note({"COMMIT"});
  Flush();
  ended_ = true;
  // Asked while the journal's lock still vouches for the list.
  const platform::THeldFiles held(*file_);
  file_.reset();
  RecoverJournal(work_, &held);  // forward: what remains is the book-keeping's end
}

std::string TUpdateJournal::RollBack() {
  LU_ASSERT(!ended_);
  ended_ = true;
  pending_.clear();  // intents never written were never acted on
  file_.reset();
  return RecoverJournal(work_);
}

}  // namespace engine
