#include "archive/unzip.h"
#include "archive/unzip_errors.h"
#include "base/log.h"
#include "engine/steps.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

namespace engine {

namespace {

// Problems of one package that are logged one by one; the rest are counted.
constexpr int kLoggedProblems = 5;

}  // namespace

void ConfigureUnpack(archive::TUnZip& unzip, const std::string& extractFolder) {
  unzip.ConfirmOverwrites = false;
  unzip.RecurseDirs = true;
  unzip.FileSpec.clear();
  unzip.FileSpec.push_back("*.*");
  unzip.SetExtractDir(extractFolder);
}

bool Unpack(TStepContext& run, archive::TUnZip& unzip, TStream& package) {
  TFileXML& t = run.Texts();
  run.Progress.SetPosition(0);
  run.Progress.SetMax(100);
  run.Progress.SetCaption(t.S_Unzip);
  run.Progress.StepOverall();

  run.ExtractFolderName = platform::NewGuidText();
  const std::string extractFolder = run.RunFolder + "\\" + run.ExtractFolderName;
  // Made new in the run's private folder: only this extraction writes there.
  const bool ownFolder = platform::CreateDir(extractFolder);
  run.ExtractedFiles.clear();

  unzip.OnBegin = [&run](archive::TUnZip*, const std::string& name, int, bool&) { run.ExtractedFiles.push_back(name); };
  // Any problem with an entry means the package must not be installed. The first
  // few go to the log, each with its entry and what failed, for support to read.
  int problems = 0;
  int firstLocal = 0;  // the first failure that lies with this machine
  unzip.OnError = [&](archive::TUnZip* sender, const std::string& fileName, const std::string& extended,
                      const std::string&, int code) {
    if (firstLocal == 0 && archive::IsMachineError(code)) firstLocal = code;
    if (++problems > kLoggedProblems) return;
    const std::string& folder = sender->ExtractDir();
    const bool inFolder = !folder.empty() && fileName.compare(0, folder.size(), folder) == 0;
    logging::Log("Unpack: " +
                 archive::UnZipErrorLine(code, inFolder ? fileName.substr(folder.size()) : fileName, extended));
  };
  // The download step's own handle: nothing else could change the file since its check.
  unzip.SetArchiveStream(package, run.RunFolder + "\\" + run.ArchiveFileName);
  ConfigureUnpack(unzip, extractFolder);
  unzip.OwnFolder = ownFolder;
  run.FlushFileByFile = platform::FlushesFileByFile(run.Settings.InstallFolder);
  unzip.FlushFiles = run.FlushFileByFile;
  unzip.Extract();
  unzip.OnError = nullptr;
  if (problems > kLoggedProblems)
    logging::Log("Unpack: " + std::to_string(problems - kLoggedProblems) + " more problems not listed");

  // A package that yields no file, or any entry the extraction could not write
  // whole and correct, is not installed.
  if (!run.ExtractedFiles.empty() && problems == 0) return true;
  // Nothing of a package that is not installed stays in the temporary folder.
  platform::RemoveTree(extractFolder);
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
