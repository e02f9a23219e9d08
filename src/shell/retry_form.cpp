#include "shell/retry_form.h"

#include "base/text.h"
#include "settings/file_xml.h"
#include "shell/backend.h"

std::string FileFolder(const std::string& path) { return text::WithoutTrailingSeparators(text::ExtractFilePath(path)); }

std::string RetryLine(const std::string& path) { return text::ExtractFileName(path) + " (" + FileFolder(path) + ")"; }

TFRetry::TFRetry(TFileXML& texts) {
  Caption = texts.ShownText("S_FRetryCaption");
  LRetryMessage.SetCaption(texts.ShownText("S_FRetryLabel"));
  BRetry.SetCaption(texts.ShownText("S_BRetry"));
  BCancel.SetCaption(texts.ShownText("S_BCancel"));
}

bool TFRetry::AskRetry(const std::vector<std::string>& files, TBackend& backend) {
  LBRetry.clear();
  for (const std::string& path : files) LBRetry.push_back(RetryLine(path));
  return backend.ShowRetryModal(*this) == 1;
}

TFProxyLogin::TFProxyLogin(TFileXML& texts) {
  Caption = texts.ShownText("S_ProxyCaption");
  LUser.SetCaption(texts.ShownText("S_ProxyUser"));
  LPassword.SetCaption(texts.ShownText("S_ProxyPassword"));
  BOk.SetCaption("OK");
  BCancel.SetCaption(texts.ShownText("S_BCancel"));
  LMessage.SetCaption(texts.ShownText("S_ProxyLabel"));
}

bool TFProxyLogin::Ask(const std::string& proxy, TBackend& backend) {
  LMessage.SetCaption(LMessage.Caption() + " " + proxy);
  EUser.SetText("");
  EPassword.SetText("");
  return backend.ShowProxyLoginModal(*this) == 1;
}
