#include "archive/unzip.h"
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
  platform::CreateDir(extractFolder);
  s.ExtractedFiles.clear();

  unzip.OnBegin = [&s](archive::TUnZip*, const std::string& name, int, bool&) { s.ExtractedFiles.push_back(name); };
  // Any problem with an entry means the package must not be installed.
  bool failed = false;
  unzip.OnError = [&failed](archive::TUnZip*, const std::string&, const std::string&, const std::string&, int) {
    failed = true;
  };
  // The download step's own handle: nothing else could change the file since its check.
  unzip.SetArchiveStream(package, s.RunFolder + "\\" + s.ArchiveFileName);
  ConfigureUnpack(unzip, extractFolder);
  unzip.Extract();
  unzip.OnError = nullptr;

  // A package that yields no file, or any entry the extraction could not write
  // whole and correct, is not installed.
  if (!s.ExtractedFiles.empty() && !failed) return true;
  // A full disk or a folder that cannot be written is no fault of the server's:
  // say what went wrong here, as the download step does.
  // Nothing of a package that is not installed stays in the temporary folder.
  RemoveFolders(extractFolder, true);
  const std::string& local = unzip.LocalErrorText();
  run.Report(local.empty() ? t.S_ZipEmpty : t.S_ZipEmpty + "\r\n" + local, mtWarning);
  return false;
}

}  // namespace engine
