#include "archive/unzip.h"
#include "engine/worker.h"
#include "platform/platform.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"

bool TThreadLiveUpdate::Unpack() {
  TFileXML& t = Texts();
  Controls.PBPending->SetPosition(0);
  Controls.PBPending->SetMax(100);
  Controls.LabelPending->SetCaption(t.S_Unzip);
  Controls.PBOverall->StepBy(1);

  Settings.ExtractFolderName = platform::NewGuidText();
  const std::string extractFolder = Settings.TempFolder + "\\" + Settings.ExtractFolderName;
  platform::CreateDir(extractFolder);
  Settings.ExtractedFiles.clear();

  unpackFailed_ = false;
  UnZip->SetArchiveFile(Settings.TempFolder + "\\" + Settings.ArchiveFileName);
  UnZip->ConfirmOverwrites = false;
  UnZip->RecurseDirs = true;
  UnZip->FileSpec.clear();
  UnZip->FileSpec.push_back("*.*");
  UnZip->SetExtractDir(extractFolder);
  UnZip->Extract();

  // A package that yields no file, or any entry the extraction could not write
  // whole and correct, is not installed.
  if (!Settings.ExtractedFiles.empty() && !unpackFailed_) return true;
  Report(t.S_ZipEmpty, mtWarning);
  return false;
}

void TThreadLiveUpdate::UnpackProgress(int progressByFile, int progressByArchive) {
  Controls.PBPending->SetPosition(progressByArchive);
}

void TThreadLiveUpdate::UnpackBegin(const std::string& fileName, int count, bool& extract) {
  Settings.ExtractedFiles.push_back(fileName);
}
