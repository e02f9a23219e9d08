// The embedded language documents read through the text table, every text
// checked against the table it must reproduce.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/language_xml.h"

namespace {

struct Expected {
  const char* Key;
  const char* Text;
};

// clang-format off
const Expected kEnglish[] = {
    {"S_Download", "Downloading"},
    {"S_Unzip", "Decompressing"},
    {"S_Kill", "Terminating Application"},
    {"S_Copy", "Copying new files"},
    {"S_ExecBatch", "Configuring application"},
    {"S_Delete", "Deleting temporary files"},
    {"S_StartApp", "Starting application"},
    {"S_KillError", "Unable to terminate the application that need to be installed.\r\nPlease terminate this application manually and restart this setup.\r\nIf it doesn't work, download the full package from the web site."},
    {"S_DownloadError", "Unable to download installation file from the server!\r\nTry redoing the installation.\r\nIf the problem persist, contact technical support."},
    {"S_BadSignature", "The downloaded installation file is not signed by its publisher.\r\nNothing was installed. Contact technical support."},
    {"S_OlderPackage", "The installation file offered is older than the installed version.\r\nNothing was installed."},
    {"S_AlreadyRunning", "Another installation is already in progress.\r\nWait until it has finished, then redo the installation."},
    {"S_WriteError", "Unable to write the files on this computer."},
    {"S_UpdateInDoubt", "An earlier installation was interrupted and could not be completed or undone.\r\nNothing was installed. The folder named below needs checking; contact technical support."},
    {"S_ProxyCaption", "Proxy sign-in"},
    {"S_ProxyLabel", "The proxy asks for a user name and password:"},
    {"S_ProxyUser", "User name"},
    {"S_ProxyPassword", "Password"},
    {"S_ElevationDeclined", "Only an administrator may change the installation folder, and the permission was not given.\r\nNothing was installed."},
    {"S_UnknownError", "We are deeply sorry, but the application encountered a problem.\r\nTry redoing the installation.\r\nIf the problem persist, contact technical support."},
    {"S_Successfull", "The application was installed successfully!"},
    {"S_FormCaption", "Kestrova installer"},
    {"S_ProgressBarCaption", "Install progress"},
    {"S_CloseApp", "Are you sure you want to abort the installation process?"},
    {"S_LabelTopProgress", "Installation in Progress"},
    {"S_LabelTopComplete", "Installation Complete"},
    {"S_CopyError", "Unable to copy one or more files.\r\nPlease close all running applications and redo the installation."},
    {"S_ZipEmpty", "The server provided an invalid file."},
    {"S_Fail", "Installation Fail"},
    {"S_Complete", "Installation Complete"},
    {"S_LabelTopFolder", "Select the installation folder"},
    {"S_LabelFolder", "Folder"},
    {"S_BChangeFolder", "Change"},
    {"S_BInstall", "Install"},
    {"S_UnableCreateFolder", "Unable to create the specified folder!"},
    {"S_LabelCreateDesktopIcon", "Create desktop shortcut"},
    {"S_BUninstall", "Uninstall"},
    {"S_BCancel", "Cancel"},
    {"S_CodeLanguage", "EN"},
    {"S_FRetryCaption", "File Copy Problem"},
    {"S_FRetryLabel", "Install was unable to copy some files. Try closing any application that might be using those files and click Retry."},
    {"S_BRetry", "Retry"},
};
const Expected kFrench[] = {
    {"S_Download", "T\xE9" "l\xE9" "chargement"},
    {"S_Unzip", "D\xE9" "compression"},
    {"S_Kill", "Arr\xEA" "t de l'application"},
    {"S_Copy", "Copie des fichiers"},
    {"S_ExecBatch", "Configuration"},
    {"S_Delete", "Suppression des fichiers temporaires"},
    {"S_StartApp", "D\xE9" "marrage de l'application"},
    {"S_KillError", "Impossible de terminer l'application.\r\nFermez manuellement l'application et recommencer l'installation.\r\nSe cela ne fonctionne pas, t\xE9" "l\xE9" "chargez l'application directement du site Web."},
    {"S_DownloadError", "Impossible de t\xE9" "l\xE9" "charger le fichier \xE0" " partir du serveur.\r\nEssayez de nouveau.\r\nSi le probl\xE8" "me persiste, contactez le soutien technique."},
    {"S_BadSignature", "Le fichier d'installation t\xE9" "l\xE9" "charg\xE9" " n'est pas sign\xE9" " par son \xE9" "diteur.\r\nRien n'a \xE9" "t\xE9" " install\xE9" ". Contactez le soutien technique."},
    {"S_OlderPackage", "Le fichier d'installation propos\xE9" " est plus ancien que la version install\xE9" "e.\r\nRien n'a \xE9" "t\xE9" " install\xE9" "."},
    {"S_AlreadyRunning", "Une autre installation est d\xE9" "j\xE0" " en cours.\r\nAttendez qu'elle soit termin\xE9" "e, puis recommencez l'installation."},
    {"S_WriteError", "Impossible d'\xE9" "crire les fichiers sur cet ordinateur."},
    {"S_UpdateInDoubt", "Une installation pr\xE9" "c\xE9" "dente a \xE9" "t\xE9" " interrompue et n'a pu \xEA" "tre ni termin\xE9" "e ni annul\xE9" "e.\r\nRien n'a \xE9" "t\xE9" " install\xE9" ". Le dossier indiqu\xE9" " ci-dessous doit \xEA" "tre v\xE9" "rifi\xE9" " ; contactez le support technique."},
    {"S_ProxyCaption", "Identification du proxy"},
    {"S_ProxyLabel", "Le proxy demande un nom d'utilisateur et un mot de passe :"},
    {"S_ProxyUser", "Nom d'utilisateur"},
    {"S_ProxyPassword", "Mot de passe"},
    {"S_ElevationDeclined", "Seul un administrateur peut modifier le dossier d'installation, et l'autorisation n'a pas \xE9" "t\xE9" " donn\xE9" "e.\r\nRien n'a \xE9" "t\xE9" " install\xE9" "."},
    {"S_UnknownError", "Nous sommes profond\xE9" "ment d\xE9" "sol\xE9" ". L'application a rencontr\xE9" " un probl\xEA" "me.\r\nEssayez de nouveau.\r\nSi le probl\xE8" "me persiste, contactez le soutien technique."},
    {"S_Successfull", "L'application a \xE9" "t\xE9" " install\xE9" "e avec succ\xE8" "s!"},
    {"S_FormCaption", "Installation de Kestrova"},
    {"S_ProgressBarCaption", "Progression"},
    {"S_CloseApp", "\xCA" "tes-vous certain de vouloir interrompre l'installation?"},
    {"S_LabelTopProgress", "Installation en cours"},
    {"S_LabelTopComplete", "Installation termin\xE9" "e"},
    {"S_CopyError", "Impossible de copier un ou plusieurs fichiers.\r\nFermer toutes les application et recommencer l'installation."},
    {"S_ZipEmpty", "Le serveur a fourni un fichier invalide."},
    {"S_Fail", "Erreur lors de l'installation"},
    {"S_Complete", "Installation termin\xE9" "e"},
    {"S_LabelTopFolder", "Choisissez le r\xE9" "pertoire d'installation"},
    {"S_LabelFolder", "R\xE9" "pertoire"},
    {"S_BChangeFolder", "Changer"},
    {"S_BInstall", "Installer"},
    {"S_UnableCreateFolder", "Impossible de cr\xE9" "er le r\xE9" "pertoire sp\xE9" "cifi\xE9" "!"},
    {"S_LabelCreateDesktopIcon", "Cr\xE9" "er un raccourci sur le bureau"},
    {"S_BUninstall", "D\xE9" "sinstaller"},
    {"S_BCancel", "Annuler"},
    {"S_CodeLanguage", "FR"},
    {"S_FRetryCaption", "Probl\xE8" "me de copie de fichier"},
    {"S_FRetryLabel", "L'installation \xE0" " \xE9" "t\xE9" " incapable de copier certains fichiers. Essayer de fermer les applications qui pourraient pr\xE9" "sentement utiliser ces fichiers et cliquez sur Ressayer."},
    {"S_BRetry", "Ressayer"},
};
const Expected kPortuguese[] = {
    {"S_Download", "Baixando arquivos"},
    {"S_Unzip", "Descompacta\xE7" "\xE3" "o"},
    {"S_Kill", "Fechando aplica\xE7" "\xF5" "es"},
    {"S_Copy", "Copiando arquivos"},
    {"S_ExecBatch", "Configurando"},
    {"S_Delete", "Apagando arquvos tempor\xE1" "rios"},
    {"S_StartApp", "Partindo aplica\xE7" "\xF5" "es"},
    {"S_KillError", "Foi impossivel de terminar a aplica\xE7" "\xE3" "o\r\nFechar manualmente a aplica\xE7" "\xE3" "o e recomen\xE7" "ar a atualiza\xE7" "\xE3" "o.\r\nSe isto n\xE3" "o funcionar, baixar a aplica\xE7" "\xE3" "o diretamente do endere\xE7" "o Web."},
    {"S_DownloadError", "Impossivel de baixar a atualiza\xE7" "\xE3" "o do servidor.\r\nTente outra vez.\r\nSe o problema continuar, entre em contato com o suporte t\xE9" "cnico."},
    {"S_BadSignature", "O arquivo de instala\xE7" "\xE3" "o baixado n\xE3" "o est\xE1" " assinado pelo seu editor.\r\nNada foi instalado. Entre em contato com o suporte t\xE9" "cnico."},
    {"S_OlderPackage", "O arquivo de instala\xE7" "\xE3" "o oferecido \xE9" " mais antigo que a vers\xE3" "o instalada.\r\nNada foi instalado."},
    {"S_AlreadyRunning", "Outra instala\xE7" "\xE3" "o j\xE1" " est\xE1" " em andamento.\r\nAguarde o fim dela e recomece a instala\xE7" "\xE3" "o."},
    {"S_WriteError", "N\xE3" "o foi poss\xED" "vel gravar os arquivos neste computador."},
    {"S_UpdateInDoubt", "Uma instala\xE7" "\xE3" "o anterior foi interrompida e n\xE3" "o p\xF4" "de ser conclu\xED" "da nem desfeita.\r\nNada foi instalado. A pasta indicada abaixo precisa ser verificada; contate o suporte t\xE9" "cnico."},
    {"S_ProxyCaption", "Identifica\xE7" "\xE3" "o do proxy"},
    {"S_ProxyLabel", "O proxy pede um nome de usu\xE1" "rio e uma senha:"},
    {"S_ProxyUser", "Nome de usu\xE1" "rio"},
    {"S_ProxyPassword", "Senha"},
    {"S_ElevationDeclined", "Somente um administrador pode alterar a pasta de instala\xE7" "\xE3" "o, e a permiss\xE3" "o n\xE3" "o foi dada.\r\nNada foi instalado."},
    {"S_UnknownError", "Nos pedimos desculpas. A aplica\xE7" "\xE3" "o encontrou problemas.\r\nTente outra vez.\r\nSe o problema continuar, entre em contato com o suporte t\xE9" "cnico."},
    {"S_Successfull", "O processo de instala\xE7" "\xE3" "o terminou com sucesso!"},
    {"S_FormCaption", "Instala\xE7" "\xE3" "o de Kestrova"},
    {"S_ProgressBarCaption", "Progresso"},
    {"S_CloseApp", "Voce quer realmente terminar o processo de atualiza\xE7" "\xE3" "o?"},
    {"S_LabelTopProgress", "Processo de Instala\xE7" "\xE3" "o"},
    {"S_LabelTopComplete", "Fim da Insatala\xE7" "\xE3" "o"},
    {"S_CopyError", "Impossivel de copiar um ou v\xE1" "rios arquivos.\r\nFechar todas as applica\xE7" "\xF5" "es e recomen\xE7" "ar a atualiza\xE7" "\xE3" "o."},
    {"S_ZipEmpty", "O servidor retornou um arquivo invalide."},
    {"S_Fail", "Erro de instala\xE7" "\xE3" "o"},
    {"S_Complete", "Fim da Instala\xE7" "\xE3" "o"},
    {"S_BUninstall", "Desinstalar"},
    {"S_BCancel", "Anular"},
    {"S_CodeLanguage", "PO"},
};
const Expected kBuiltIn[] = {
    {"S_Download", "Downloading"},
    {"S_Unzip", "Decompressing"},
    {"S_Kill", "Terminating Application"},
    {"S_Copy", "Copying new files"},
    {"S_ExecBatch", "Configuring application"},
    {"S_Delete", "Deleting temporary files"},
    {"S_StartApp", "Starting application"},
    {"S_KillError", "Unable to terminate the application that need to be updated. Please \r\nterminate this application manually and restart this setup. If it doesn't \r\nwork, download the full package from the web site."},
    {"S_DownloadError", "Unable to download update from the server! \r\nTry redoing the live update. \r\nIf the problem persist, contact technical support."},
    {"S_UnknownError", "We are deeply sorry, but the application encountered a problem.\r\nTry redoing the live update. \r\nIf the problem persist, contact technical support."},
    {"S_Successfull", "The application was updated succesfully!"},
    {"S_FormCaption", "Drevanto Live Update"},
    {"S_ProgressBarCaption", "Update progress"},
    {"S_CloseApp", "Are you sure you want to abort the update process?"},
    {"S_LabelTopProgress", "Installation in Progress"},
    {"S_LabelTopComplete", "Installation Complete"},
    {"S_CopyError", "Unable to copy one or more files.\r\nPlease close all running applications and redo the update."},
    {"S_ZipEmpty", "The server provided no update."},
    {"S_Fail", "Installation Fail"},
    {"S_Complete", "Installation Complete"},
    {"S_LabelTopFolder", "Select the installation folder"},
    {"S_LabelFolder", "Folder"},
    {"S_BChangeFolder", "Change"},
    {"S_BInstall", "Install"},
    {"S_UnableCreateFolder", "Unable to create the specified folder!"},
    {"S_LabelCreateDesktopIcon", "Create desktop shortcut"},
    {"S_UninstallLabelTop", "Uninstall application"},
    {"S_LabelUninstall", "The application will be uninstalled."},
    {"S_BUninstall", "Uninstall"},
    {"S_BCancel", "Cancel"},
    {"S_UninstallFiles", "Deleting files"},
    {"S_UninstallShortCuts", "Deleting shortcuts"},
    {"S_UninstallRegistries", "Deleting registries"},
    {"S_AutoUninstall", "Auto uninstall"},
    {"S_UninstallComplete", "Uninstall completed. You should restart your computer to complete the uninstall."},
    {"S_CBRestart", "Restart computer"},
    {"S_UninstallMessage", "You should restart your computer to complete the uninstall."},
    {"S_CodeLanguage", "EN"},
    {"S_FRetryCaption", "File Copy Problem"},
    {"S_FRetryLabel", "Install was unable to copy some files. Try closing any application that might be using those files and click retry."},
    {"S_BRetry", "Retry"},
    {"S_BadSignature", "The downloaded update is not signed by its publisher.\r\nNothing was installed. Contact technical support."},
    {"S_OlderPackage", "The update offered is older than the installed version.\r\nNothing was installed."},
    {"S_AlreadyRunning", "Another update is already in progress.\r\nWait until it has finished, then redo the update."},
    {"S_WriteError", "Unable to write the files on this computer."},
    {"S_UpdateInDoubt", "An earlier update was interrupted and could not be completed or undone.\r\nNothing was installed. The folder named below needs checking; contact technical support."},
    {"S_ProxyCaption", "Proxy sign-in"},
    {"S_ProxyLabel", "The proxy asks for a user name and password:"},
    {"S_ProxyUser", "User name"},
    {"S_ProxyPassword", "Password"},
    {"S_ElevationDeclined", "Only an administrator may change the installation folder, and the permission was not given.\r\nNothing was changed."},
};
// clang-format on

const char* kUninstallKeys[] = {"S_UninstallLabelTop",  "S_LabelUninstall",      "S_UninstallFiles",
                                "S_UninstallShortCuts", "S_UninstallRegistries", "S_AutoUninstall",
                                "S_UninstallComplete",  "S_CBRestart",           "S_UninstallMessage"};
const char* kFolderViewKeys[] = {"S_LabelTopFolder", "S_LabelFolder",        "S_BChangeFolder",
                                 "S_BInstall",       "S_UnableCreateFolder", "S_LabelCreateDesktopIcon"};

bool In(const char* key, const char* const* keys, size_t n) {
  for (size_t i = 0; i < n; ++i)
    if (std::strcmp(keys[i], key) == 0) return true;
  return false;
}

// Every one of the texts: the listed ones as listed, all others empty.
template <size_t N>
void ExpectExactly(const TFileXML& texts, const Expected (&expected)[N]) {
  for (int i = 0; i < TFileXML::KeyCount; ++i) {
    const std::string key = TFileXML::KeyName(i);
    const char* want = "";
    for (const Expected& e : expected)
      if (key == e.Key) want = e.Text;
    ASSERT_NE(texts.Text(key), nullptr) << key;
    EXPECT_EQ(*texts.Text(key), want) << key;
  }
}

TFileXML Loaded(const std::string& language, const std::string& resource = "KVI_XMLFile") {
  TFileXML texts;
  texts.SetLanguage(language);
  texts.LoadTexts(resource);
  return texts;
}

std::string Document(const std::string& resource) {
  const auto bytes = platform::EmbeddedResource(resource);
  EXPECT_TRUE(bytes.has_value()) << resource;
  return bytes ? *bytes : std::string();
}

}  // namespace

TEST(LanguageDocument, FieldOrderAndBuiltInTexts) {
  static_assert(sizeof(kBuiltIn) / sizeof(kBuiltIn[0]) == TFileXML::KeyCount);
  for (int i = 0; i < TFileXML::KeyCount; ++i) {
    EXPECT_STREQ(TFileXML::KeyName(i), kBuiltIn[i].Key);
    EXPECT_EQ(TFileXML::DefaultText(kBuiltIn[i].Key), kBuiltIn[i].Text) << kBuiltIn[i].Key;
  }
  EXPECT_EQ(TFileXML::KeyName(TFileXML::KeyCount), nullptr);
  EXPECT_EQ(TFileXML::DefaultText("S_LabelTop"), "");
  TFileXML texts;
  EXPECT_EQ(texts.Text("S_LabelTop"), nullptr);
  EXPECT_EQ(texts.Text("s_download"), nullptr);
  texts.Language = "FRENCH";
  texts.SetDefaultTexts();
  EXPECT_EQ(texts.Language, "FRENCH");
  ExpectExactly(texts, kBuiltIn);
}

TEST(LanguageDocument, EnglishSection) {
  const TFileXML texts = Loaded("ENGLISH");
  EXPECT_EQ(texts.Language, "ENGLISH");
  ExpectExactly(texts, kEnglish);
  for (const char* key : kUninstallKeys) EXPECT_EQ(*texts.Text(key), "") << key;
  EXPECT_EQ(texts.S_KillError.find("\r\n\r\n"), std::string::npos);
  EXPECT_NE(texts.S_KillError.substr(texts.S_KillError.size() - 2), "\r\n");
}

TEST(LanguageDocument, FrenchSection) {
  const TFileXML texts = Loaded("FRENCH");
  EXPECT_EQ(texts.Language, "FRENCH");
  ExpectExactly(texts, kFrench);
  // Single bytes of ISO-8859-1, not UTF-8 pairs.
  EXPECT_EQ(texts.S_Download,
            "T\xE9l\xE9"
            "chargement");
  EXPECT_EQ(texts.S_Download.size(), 14u);
  EXPECT_EQ(texts.S_CloseApp[0], '\xCA');
}

TEST(LanguageDocument, PortugueseSection) {
  const TFileXML texts = Loaded("PORTUGUESE");
  EXPECT_EQ(texts.Language, "PORTUGUESE");
  ExpectExactly(texts, kPortuguese);
  for (const char* key : kFolderViewKeys) EXPECT_EQ(*texts.Text(key), "") << key;
  EXPECT_EQ(texts.S_FRetryCaption, "");
  EXPECT_EQ(texts.S_BRetry, "");
}

TEST(LanguageDocument, UnknownOrEmptyLanguageFallsBackToEnglishSection) {
  const TFileXML german = Loaded("GERMAN");
  EXPECT_EQ(german.Language, "ENGLISH");
  ExpectExactly(german, kEnglish);
  TFileXML empty;
  empty.SetLanguage("");
  EXPECT_EQ(empty.Language, "ENGLISH");
  empty.LoadTexts("kvi_xmlfile");
  ExpectExactly(empty, kEnglish);
  // Names are taken as given: a lower-case name finds no section.
  const TFileXML lower = Loaded("french");
  EXPECT_EQ(lower.Language, "ENGLISH");
  EXPECT_EQ(lower.S_CodeLanguage, "EN");
}

TEST(LanguageDocument, MissingResourceGivesBuiltInTexts) {
  const TFileXML french = Loaded("FRENCH", "NO_SUCH_RESOURCE");
  EXPECT_EQ(french.Language, "ENGLISH");
  ExpectExactly(french, kBuiltIn);
  const TFileXML english = Loaded("ENGLISH", "NO_SUCH_RESOURCE");
  EXPECT_EQ(english.Language, "ENGLISH");
  ExpectExactly(english, kBuiltIn);
}

TEST(LanguageDocument, DocumentBytes) {
  const std::string doc = Document("KVI_XMLFILE");
  const char declaration[] = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n";
  EXPECT_EQ(doc.compare(0, sizeof declaration - 1, declaration), 0);
  EXPECT_EQ(doc.substr(doc.size() - 2), "\r\n");
  for (size_t i = 0; i < doc.size(); ++i) {
    if (doc[i] == '\n') {
      ASSERT_EQ(doc[i - 1], '\r') << "bare LF at " << i;
    }
    if (doc[i] == '\r') {
      ASSERT_EQ(doc[i + 1], '\n') << "bare CR at " << i;
    }
    // No UTF-8 encoding of a Latin-1 letter (0xC3 and a continuation byte).
    if (static_cast<unsigned char>(doc[i]) == 0xC3) {
      ASSERT_NE(static_cast<unsigned char>(doc[i + 1]) & 0xC0, 0x80u) << "UTF-8 at " << i;
    }
  }
  EXPECT_EQ(NormalizeLineBreaks(doc), doc);
  // The three entry forms all occur.
  EXPECT_NE(doc.find("<S_CodeLanguage Value = \"EN\" />"), std::string::npos);
  EXPECT_NE(doc.find("<S_Download Value=\"Downloading\" />"), std::string::npos);
  EXPECT_NE(doc.find("<S_BInstall = \"Install\" />"), std::string::npos);
}

TEST(LanguageDocument, LabelTopIsReadButNotATableKey) {
  const std::string block = ExtractElement("LANGUAGE", NormalizeLineBreaks(Document("KVI_XMLFile")));
  const std::string english = ExtractElement("ENGLISH", block);
  EXPECT_EQ(ReadValue("S_LabelTop", english), "Installation in progress");
  EXPECT_EQ(ReadValue("S_LabelTopProgress", english), "Installation in Progress");
  EXPECT_EQ(ReadValue("S_LabelTop", ExtractElement("FRENCH", block)), "Installation en cours");
  EXPECT_EQ(ReadValue("S_LabelTop", ExtractElement("PORTUGUESE", block)), "Processo de Instala\xE7\xE3o");
  EXPECT_EQ(ReadValue("S_LabelCreateDesktopIcon", ExtractElement("PORTUGUESE", block)), "");
  EXPECT_EQ(ReadValue("S_UninstallFiles", english), "");
}

TEST(LanguageDocument, LiveUpdateDocument) {
  // Its ENGLISH section is the built-in wording, without the folder view.
  const TFileXML english = Loaded("ENGLISH", "LU_XMLFILE");
  for (int i = 0; i < TFileXML::KeyCount; ++i) {
    const std::string key = TFileXML::KeyName(i);
    const bool folderView = In(key.c_str(), kFolderViewKeys, 6);
    EXPECT_EQ(*english.Text(key), folderView ? std::string() : TFileXML::DefaultText(key)) << key;
  }
  for (const char* language : {"FRENCH", "PORTUGUESE"}) {
    const TFileXML texts = Loaded(language, "lu_xmlfile");
    EXPECT_EQ(texts.Language, language);
    for (int i = 0; i < TFileXML::KeyCount; ++i) {
      const std::string key = TFileXML::KeyName(i);
      const bool folderView = In(key.c_str(), kFolderViewKeys, 6);
      EXPECT_EQ(texts.Text(key)->empty(), folderView) << language << " " << key;
    }
    for (const char* key : kUninstallKeys) EXPECT_NE(*texts.Text(key), *english.Text(key)) << language << key;
    EXPECT_EQ(std::count(texts.S_KillError.begin(), texts.S_KillError.end(), '\n'), 2) << language;
  }
  EXPECT_EQ(Loaded("FRENCH", "LU_XMLFILE").S_CodeLanguage, "FR");
  EXPECT_EQ(Loaded("PORTUGUESE", "LU_XMLFILE").S_CodeLanguage, "PO");
}
