#include "archive/unzip.h"
#include "archive/unzip_errors.h"
#include "engine/steps.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

void ConfigureUnpack(archive::TUnZip& unzip, const std::string& extractFolder) {
  unzip.ConfirmOverwrites = false;
  unzip.RecurseDirs = true;
  unzip.FileSpec.clear();
  unzip.FileSpec.push_back("*.*");
  unzip.SetExtractDir(extractFolder);
}

bool Unpack(TStepContext& run, archive::TUnZip& unzip, TStream& package) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  run.Progress.SetPosition(0);
  run.Progress.SetMax(100);
  run.Progress.SetCaption(t.S_Unzip);
  run.Progress.StepOverall();

  s.ExtractFolderName = platform::NewGuidText();
  const std::string extractFolder = s.RunFolder + "\\" + s.ExtractFolderName;
  // Made new in the run's private folder: only this extraction writes there.
  const bool ownFolder = platform::CreateDir(extractFolder);
  s.ExtractedFiles.clear();

  unzip.OnBegin = [&s](archive::TUnZip*, const std::string& name, int, bool&) { s.ExtractedFiles.push_back(name); };
  // Any problem with an entry means the package must not be installed.
  bool failed = false;
  int firstLocal = 0;  // the first failure that lies with this machine
  unzip.OnError = [&](archive::TUnZip*, const std::string&, const std::string&, const std::string&, int code) {
    failed = true;
    if (firstLocal == 0 && archive::IsMachineError(code)) firstLocal = code;
  };
  // The download step's own handle: nothing else could change the file since its check.
  unzip.SetArchiveStream(package, s.RunFolder + "\\" + s.ArchiveFileName);
  ConfigureUnpack(unzip, extractFolder);
  unzip.OwnFolder = ownFolder;
  unzip.Extract();
  unzip.OnError = nullptr;

  // A package that yields no file, or any entry the extraction could not write
  // whole and correct, is not installed.
  if (!s.ExtractedFiles.empty() && !failed) return true;
  // Nothing of a package that is not installed stays in the temporary folder.
  RemoveFolders(extractFolder, true);
  const std::string& local = unzip.LocalErrorText();
  // A full disk or a folder that cannot be written is no fault of the server's:
  // say what went wrong here, as the download step does.
  if (firstLocal == archive::kErrUnexpected)
    run.Fail(t.S_UnknownError + "\r\n" + local, kExitFailed);
  else if (firstLocal != 0)
    run.Fail(t.S_WriteError + "\r\n" + local, kExitCannotWrite);
  else
    run.Fail(local.empty() ? t.S_ZipEmpty : t.S_ZipEmpty + "\r\n" + local, kExitDamaged);
  return false;
}

}  // namespace engine
