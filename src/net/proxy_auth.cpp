#include "net/proxy_auth.h"

#include "base/text.h"
#include "net/base64.h"

namespace net {
namespace {

// The items of a header value, split at commas outside quoted strings.
std::vector<std::string> Items(const std::string& value) {
  std::vector<std::string> items;
  std::string item;
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    const char c = value[i];
    if (c == '"') quoted = !quoted;
    if (c == '\\' && quoted && i + 1 < value.size()) {
      item += c;
      item += value[++i];
      continue;
    }
    if (c == ',' && !quoted) {
      items.push_back(text::Trim(item));
      item.clear();
    } else {
      item += c;
    }
  }
  items.push_back(text::Trim(item));
  return items;
}

// A parameter's value without its quotes.
std::string Unquoted(const std::string& s) {
  if (s.size() < 2 || s.front() != '"' || s.back() != '"') return s;
  std::string out;
  for (size_t i = 1; i + 1 < s.size(); ++i) {
    if (s[i] == '\\' && i + 2 < s.size()) ++i;
    out += s[i];
  }
  return out;
}

void TakeParameter(TAuthChallenge& c, const std::string& param) {
  const size_t eq = param.find('=');
  if (eq != std::string::npos && text::SameText(text::Trim(param.substr(0, eq)), "realm"))
    c.Realm = Unquoted(text::Trim(param.substr(eq + 1)));
}

}  // namespace

std::vector<TAuthChallenge> ParseChallenges(const std::vector<std::string>& values) {
  std::vector<TAuthChallenge> out;
  for (const std::string& value : values) {
    for (const std::string& item : Items(value)) {
      if (item.empty()) continue;
      const size_t blank = item.find_first_of(" \t");
      const std::string first = item.substr(0, blank);
      // "name=value" continues the challenge before it (RFC 9110 section 11.2).
      if (first.find('=') != std::string::npos) {
        if (!out.empty()) TakeParameter(out.back(), item);
        continue;
      }
      TAuthChallenge c;
      c.Scheme = first;
      const std::string rest = blank == std::string::npos ? "" : text::Trim(item.substr(blank));
      // A token68 may end in "=" padding; a parameter has a name before its "=".
      const size_t eq = rest.find('=');
      if (eq != std::string::npos && rest.find_first_not_of('=', eq) != std::string::npos)
        TakeParameter(c, rest);
      else
        c.Data = rest;
      out.push_back(c);
    }
  }
  return out;
}

std::optional<std::string> TProxyAuthenticator::Respond(const std::vector<std::string>& values,
                                                        const std::string& proxyHost, bool connectionKept) {
  const std::vector<TAuthChallenge> challenges = ParseChallenges(values);
  for (const auto& c : challenges) offered_.insert(text::UpperCase(c.Scheme));
  bool dropped = false;
  auto offered = [&challenges](const std::string& scheme) -> const TAuthChallenge* {
    for (const auto& c : challenges)
      if (text::SameText(c.Scheme, scheme)) return &c;
    return nullptr;
  };
  if (context_) {
    // The next round of a handshake, or the end of one that was refused.
    const TAuthChallenge* c = offered(scheme_);
    std::string input, output;
    if (c && !c->Data.empty() && connectionKept && Base64Decode(c->Data, input) && context_->Next(input, output)) {
      contextBound_ = true;
      return scheme_ + " " + Base64Encode(output);
    }
    context_.reset();
    failed_.insert(text::UpperCase(scheme_));
    dropped = true;
  } else if (basicSent_) {
    basicSent_ = false;
    const TAuthChallenge* c = offered("Basic");
    const std::string answer = c ? BasicAnswer(c->Realm, ++basicAttempt_) : "";
    if (!answer.empty()) return answer;
    failed_.insert("BASIC");
  }
  for (const char* scheme : {"Negotiate", "NTLM", "Basic"}) {
    const TAuthChallenge* c = offered(scheme);
    if (!c || failed_.count(text::UpperCase(scheme))) continue;
    const std::string answer = Start(*c, proxyHost);
    if (!answer.empty()) return answer;
    failed_.insert(text::UpperCase(scheme));
  }
  // A proxy names only the scheme of a handshake under way; asked afresh, it
  // names the others again.
  if (dropped)
    for (const char* scheme : {"NEGOTIATE", "NTLM", "BASIC"})
      if (offered_.count(scheme) && !failed_.count(scheme)) return std::string();
  return std::nullopt;
}

std::string TProxyAuthenticator::Start(const TAuthChallenge& challenge, const std::string& proxyHost) {
  if (text::SameText(challenge.Scheme, "Basic")) {
    basicAttempt_ = 1;
    return BasicAnswer(challenge.Realm, basicAttempt_);
  }
  const std::string scheme = text::SameText(challenge.Scheme, "NTLM") ? "NTLM" : "Negotiate";
  std::unique_ptr<TSecurityContext> context = NewSecurityContext(scheme, "HTTP/" + proxyHost);
  std::string output;
  if (!context || !context->Next("", output)) return "";
  context_ = std::move(context);
  contextBound_ = false;
  scheme_ = scheme;
  return scheme + " " + Base64Encode(output);
}

std::string TProxyAuthenticator::BasicAnswer(const std::string& realm, int attempt) {
  std::string user, password;
  if (!Credentials || !Credentials(realm, attempt, user, password)) return "";
  basicSent_ = true;
  scheme_ = "Basic";
  return "Basic " + Base64Encode(user + ":" + password);
}

void TProxyAuthenticator::Accepted() {
  context_.reset();
  basicSent_ = false;
  basicAttempt_ = 0;
}

void TProxyAuthenticator::ConnectionClosed() {
  if (contextBound_) context_.reset();
  contextBound_ = false;
}

void TProxyAuthenticator::Reset() {
  Accepted();
  failed_.clear();
  offered_.clear();
  scheme_.clear();
}

}  // namespace net
