// The language text table: every text the user sees, one field per key, filled
// from a section of the embedded language document or from built-in English
// texts. Written once on the main thread at start-up, read freely afterwards.
#pragma once

#include <string>

class TFileXML {
 public:
  TFileXML() = default;

  // The section in use, in capitals as its tag: "ENGLISH", "FRENCH", "PORTUGUESE".
  std::string Language;

  std::string S_Download;
  std::string S_Unzip;
  std::string S_Kill;
  std::string S_Copy;
  std::string S_ExecBatch;
  std::string S_Delete;
  std::string S_StartApp;
  std::string S_KillError;
  std::string S_DownloadError;
  std::string S_UnknownError;
  std::string S_Successfull;
  std::string S_FormCaption;
  std::string S_ProgressBarCaption;
  std::string S_CloseApp;
  std::string S_LabelTopProgress;
  std::string S_LabelTopComplete;
  std::string S_CopyError;
  std::string S_ZipEmpty;
  std::string S_Fail;
  std::string S_Complete;
  std::string S_LabelTopFolder;
  std::string S_LabelFolder;
  std::string S_BChangeFolder;
  std::string S_BInstall;
  std::string S_UnableCreateFolder;
  std::string S_LabelCreateDesktopIcon;
  std::string S_UninstallLabelTop;
  std::string S_LabelUninstall;
  std::string S_BUninstall;
  std::string S_BCancel;
  std::string S_UninstallFiles;
  std::string S_UninstallShortCuts;
  std::string S_UninstallRegistries;
  std::string S_AutoUninstall;
  std::string S_UninstallComplete;
  std::string S_CBRestart;
  std::string S_UninstallMessage;
  std::string S_CodeLanguage;
  std::string S_FRetryCaption;
  std::string S_FRetryLabel;
  std::string S_BRetry;
  // A package refused because it does not carry its publisher's signature.
  std::string S_BadSignature;
  // A package refused because it is older than the installed version.
  std::string S_OlderPackage;
  // Another updater runs: this one does nothing.
  std::string S_AlreadyRunning;
  // A file of the run that this computer would not let be written (a full disk,
  // a denied access): no fault of the server's.
  std::string S_WriteError;
  // An update a kill, a crash or a lost journal left in doubt that recovery could
  // not make whole: nothing is installed until it is.
  std::string S_UpdateInDoubt;
  // The view that asks for a proxy's user name and password.
  std::string S_ProxyCaption;
  std::string S_ProxyLabel;
  std::string S_ProxyUser;
  std::string S_ProxyPassword;
  // The folder needs an administrator's rights, and the consent prompt was declined.
  std::string S_ElevationDeclined;

  // An empty name stands for "ENGLISH"; otherwise taken as given.
  void SetLanguage(const std::string& name);
  // Fills every text from the embedded document of that resource name (case
  // ignored): the section named by Language, else the ENGLISH section (Language
  // then becomes "ENGLISH"), else the built-in texts. Never raises.
  void LoadTexts(const std::string& resourceName);
  // The same from a document already in memory (the resource's bytes).
  void LoadTextsFromDocument(const std::string& document);
  // Each text from its key's entries in the section; a missing key gives "".
  void AssignTexts(const std::string& section);
  // The built-in English texts. Language is left alone.
  void SetDefaultTexts();

  // The number of texts and the key of each, in field order.
  static constexpr int KeyCount = 51;
  static const char* KeyName(int index);
  // The built-in text of a key; "" for an unknown key.
  static std::string DefaultText(const std::string& key);
  // The text a control shows for a key: its text, or the built-in one when the
  // section left it empty (the PORTUGUESE section has no folder-view or retry
  // texts, and a button without a caption cannot be told from another).
  std::string ShownText(const std::string& key) const;
  // The text of a key by name (case-sensitive, as written in the document);
  // nullptr for an unknown key.
  const std::string* Text(const std::string& key) const;
  std::string* Text(const std::string& key);
};

// The document text as the reader sees it: lines (ended by CR, LF or CR LF; a
// NUL ends the document) joined again with CR LF after every line.
std::string NormalizeLineBreaks(const std::string& bytes);
