#include "settings/file_xml.h"

#include "base/log.h"

#include "platform/system.h"
#include "settings/language_xml.h"

namespace {

struct Key {
  const char* Name;
  std::string TFileXML::*Field;
  const char* Default;
};

#define LU_KEY(name, text) \
  { #name, &TFileXML::name, text }

// Field order; the defaults carry the live-update wording.
const Key kKeys[TFileXML::KeyCount] = {
    LU_KEY(S_Download, "Downloading"),
    LU_KEY(S_Unzip, "Decompressing"),
    LU_KEY(S_Kill, "Terminating Application"),
    LU_KEY(S_Copy, "Copying new files"),
    LU_KEY(S_ExecBatch, "Configuring application"),
    LU_KEY(S_Delete, "Deleting temporary files"),
    LU_KEY(S_StartApp, "Starting application"),
    LU_KEY(S_KillError,
           "Unable to terminate the application that need to be updated. Please \r\n"
           "terminate this application manually and restart this setup. If it doesn't \r\n"
           "work, download the full package from the web site."),
    LU_KEY(S_DownloadError,
           "Unable to download update from the server! \r\n"
           "Try redoing the live update. \r\n"
           "If the problem persist, contact technical support."),
    LU_KEY(S_UnknownError,
           "We are deeply sorry, but the application encountered a problem.\r\n"
           "Try redoing the live update. \r\n"
           "If the problem persist, contact technical support."),
    LU_KEY(S_Successfull, "The application was updated succesfully!"),
    LU_KEY(S_FormCaption, "Drevanto Live Update"),
    LU_KEY(S_ProgressBarCaption, "Update progress"),
    LU_KEY(S_CloseApp, "Are you sure you want to abort the update process?"),
    LU_KEY(S_LabelTopProgress, "Installation in Progress"),
    LU_KEY(S_LabelTopComplete, "Installation Complete"),
    LU_KEY(S_CopyError,
           "Unable to copy one or more files.\r\n"
           "Please close all running applications and redo the update."),
    LU_KEY(S_ZipEmpty, "The server provided no update."),
    LU_KEY(S_Fail, "Installation Fail"),
    LU_KEY(S_Complete, "Installation Complete"),
    LU_KEY(S_LabelTopFolder, "Select the installation folder"),
    LU_KEY(S_LabelFolder, "Folder"),
    LU_KEY(S_BChangeFolder, "Change"),
    LU_KEY(S_BInstall, "Install"),
    LU_KEY(S_UnableCreateFolder, "Unable to create the specified folder!"),
    LU_KEY(S_LabelCreateDesktopIcon, "Create desktop shortcut"),
    LU_KEY(S_UninstallLabelTop, "Uninstall application"),
    LU_KEY(S_LabelUninstall, "The application will be uninstalled."),
    LU_KEY(S_BUninstall, "Uninstall"),
    LU_KEY(S_BCancel, "Cancel"),
    LU_KEY(S_UninstallFiles, "Deleting files"),
    LU_KEY(S_UninstallShortCuts, "Deleting shortcuts"),
    LU_KEY(S_UninstallRegistries, "Deleting registries"),
    LU_KEY(S_AutoUninstall, "Auto uninstall"),
    LU_KEY(S_UninstallComplete, "Uninstall completed. You should restart your computer to complete the uninstall."),
    LU_KEY(S_CBRestart, "Restart computer"),
    LU_KEY(S_UninstallMessage, "You should restart your computer to complete the uninstall."),
    LU_KEY(S_CodeLanguage, "EN"),
    LU_KEY(S_FRetryCaption, "File Copy Problem"),
    LU_KEY(S_FRetryLabel,
           "Install was unable to copy some files. Try closing any application that might be using those "
           "files and click retry."),
    LU_KEY(S_BRetry, "Retry"),
    LU_KEY(S_BadSignature,
           "The downloaded update is not signed by its publisher.\r\n"
           "Nothing was installed. Contact technical support."),
    LU_KEY(S_OlderPackage,
           "The update offered is older than the installed version.\r\n"
           "Nothing was installed."),
    LU_KEY(S_AlreadyRunning,
           "Another update is already in progress.\r\n"
           "Wait until it has finished, then redo the update."),
    LU_KEY(S_WriteError, "Unable to write the files on this computer."),
    LU_KEY(S_UpdateInDoubt,
           "An earlier update was interrupted and could not be completed or undone.\r\n"
           "Nothing was installed. The folder named below needs checking; contact technical support."),
    LU_KEY(S_ProxyCaption, "Proxy sign-in"),
    LU_KEY(S_ProxyLabel, "The proxy asks for a user name and password:"),
    LU_KEY(S_ProxyUser, "User name"),
    LU_KEY(S_ProxyPassword, "Password"),
    LU_KEY(S_ElevationDeclined,
           "Only an administrator may change the installation folder, and the permission was not given.\r\n"
           "Nothing was changed."),
};

#undef LU_KEY

const Key* FindKey(const std::string& name) {
  for (const Key& key : kKeys)
    if (name == key.Name) return &key;
  return nullptr;
}

const char kEnglish[] = "ENGLISH";

}  // namespace

void TFileXML::SetLanguage(const std::string& name) { Language = name.empty() ? kEnglish : name; }

void TFileXML::LoadTexts(const std::string& resourceName) {
  try {
    // A missing resource reads as an empty document and so ends in the defaults.
    const std::optional<std::string> bytes = platform::EmbeddedResource(resourceName);
    LoadTextsFromDocument(bytes ? *bytes : std::string());
  } catch (...) {
    logging::Log("Texts: " + resourceName + " cannot be read (" + logging::HandledErrorText() +
                 "); the built-in English ones");
    SetDefaultTexts();
  }
}

void TFileXML::LoadTextsFromDocument(const std::string& document) {
  try {
    const std::string block = ExtractElement("LANGUAGE", NormalizeLineBreaks(document));
    std::string section = ExtractElement(Language, block);
    if (!section.empty()) {
      AssignTexts(section);
    } else if (Language != kEnglish) {
      Language = kEnglish;
      section = ExtractElement(Language, block);
      if (!section.empty())
        AssignTexts(section);
      else
        SetDefaultTexts();
    } else {
      SetDefaultTexts();
    }
  } catch (...) {
    logging::Log("Texts: the language document cannot be read (" + logging::HandledErrorText() +
                 "); the built-in English ones");
    SetDefaultTexts();
  }
}

void TFileXML::AssignTexts(const std::string& section) {
  for (const Key& key : kKeys) this->*key.Field = ReadValue(key.Name, section);
}

void TFileXML::SetDefaultTexts() {
  for (const Key& key : kKeys) this->*key.Field = key.Default;
}

const char* TFileXML::KeyName(int index) { return index >= 0 && index < KeyCount ? kKeys[index].Name : nullptr; }

std::string TFileXML::DefaultText(const std::string& key) {
  const Key* found = FindKey(key);
  return found ? found->Default : std::string();
}

std::string TFileXML::ShownText(const std::string& key) const {
  const std::string* text = Text(key);
  return text && !text->empty() ? *text : DefaultText(key);
}

const std::string* TFileXML::Text(const std::string& key) const {
  const Key* found = FindKey(key);
  return found ? &(this->*found->Field) : nullptr;
}

std::string* TFileXML::Text(const std::string& key) {
  const Key* found = FindKey(key);
  return found ? &(this->*found->Field) : nullptr;
}

std::string NormalizeLineBreaks(const std::string& bytes) {
  std::string result;
  result.reserve(bytes.size() + 2);
  size_t i = 0;
  const size_t n = bytes.size();
  bool open = false;  // a line has begun and not yet ended
  while (i < n && bytes[i] != '\0') {
    const char c = bytes[i++];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i < n && bytes[i] == '\n') ++i;
      result += "\r\n";
      open = false;
    } else {
      result += c;
      open = true;
    }
  }
  if (open) result += "\r\n";
  return result;
}
