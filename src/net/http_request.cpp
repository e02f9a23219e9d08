#include "net/http_request.h"

#include "base/text.h"
#include "net/base64.h"
#include "net/net_errors.h"

namespace net {

void AddHeaderLine(std::string& out, const char* name, const std::string& value) {
  if (value.empty()) return;
  out += name;
  out += ": ";
  out += value;
  out += "\r\n";
}

TRequestTarget PlanRequest(const std::string& url, int32_t defaultPort, const std::string& proxyServer,
                           int32_t proxyPort) {
  for (char c : url)
    if (c == '\r' || c == '\n' || c == '\0') throw EURIException("Invalid character in address");
  TRequestTarget t;
  t.uri = TURI::Parse(url);
  t.scheme = text::LowerCase(t.uri.Protocol);
  if (t.uri.Port.empty()) {
    if (defaultPort == 0 || defaultPort == 80 || defaultPort == 443) {
      if (t.scheme == "http")
        t.port = 80;
      else if (t.scheme == "https")
        t.port = 443;
      else
        throw EUnknownProtocol();
    } else {
      t.port = defaultPort;
    }
  } else if (!text::TryStrToInt(t.uri.Port, t.port)) {
    throw EURIException("Invalid port: " + t.uri.Port);
  }
  const std::string host = AddressHost(t.uri.Host);
  t.hostHeader = t.port == 80 ? host : host + ":" + std::to_string(t.port);

  t.tls = t.scheme == "https";
  t.viaProxy = !proxyServer.empty();
  t.proxy = t.viaProxy ? text::UpperCase(proxyServer) + ":" + std::to_string(proxyPort) : "";
  if (!t.viaProxy) {
    t.connectHost = t.uri.Host;
    t.connectPort = t.port;
    t.requestTarget = t.uri.Target();
  } else {
    if (t.uri.Host.empty()) throw EURIException();
    t.connectHost = proxyServer;
    t.connectPort = proxyPort;
    // A proxy gets the absolute address, always with its port; through a tunnel
    // the request goes to the server itself.
    t.requestTarget =
        t.tls ? t.uri.Target() : t.uri.Protocol + "://" + host + ":" + std::to_string(t.port) + t.uri.Target();
  }
  t.connectionKey = text::UpperCase(t.connectHost) + ":" + std::to_string(t.connectPort);
  if (t.tls) t.connectionKey += " TLS " + text::UpperCase(t.uri.Host) + ":" + std::to_string(t.port);
  return t;
}

std::string BuildGetRequest(const TRequestTarget& t, const THTTPRequest& r, THTTPProtocolVersion version,
                            const TGetOptions& options, const std::string& proxyAuthorization,
                            const std::string& cookie) {
  const bool v10 = version == THTTPProtocolVersion::pv1_0;
  std::string out = "GET " + t.requestTarget + (v10 ? " HTTP/1.0" : " HTTP/1.1") + "\r\n";
  std::string connection = r.Connection, proxyConnection = r.ProxyConnection;
  if (v10 && !t.ProxyForm() && connection.empty()) connection = "keep-alive";
  if (v10 && t.ProxyForm() && proxyConnection.empty()) proxyConnection = "keep-alive";

  AddHeaderLine(out, "Connection", connection);
  AddHeaderLine(out, "Content-Version", r.ContentVersion);
  AddHeaderLine(out, "Content-Encoding", r.ContentEncoding);
  AddHeaderLine(out, "Content-Language", r.ContentLanguage);
  AddHeaderLine(out, "Content-Type", r.ContentType);
  if (r.ContentLength >= 0) AddHeaderLine(out, "Content-Length", std::to_string(r.ContentLength));
  AddHeaderLine(out, "Cache-control", r.CacheControl);
  AddHeaderLine(out, "Date", r.Date);
  AddHeaderLine(out, "Expires", r.Expires);
  AddHeaderLine(out, "Pragma", r.Pragma);
  out += r.CustomHeaders.Text();
  AddHeaderLine(out, "If-Range", options.IfRange);
  AddHeaderLine(out, "Proxy-Connection", proxyConnection);
  AddHeaderLine(out, "Host", t.hostHeader);
  AddHeaderLine(out, "Accept", r.Accept);
  AddHeaderLine(out, "Accept-Charset", r.AcceptCharset);
  AddHeaderLine(out, "Accept-Encoding", r.AcceptEncoding);
  AddHeaderLine(out, "Accept-Language", r.AcceptLanguage);
  AddHeaderLine(out, "From", r.From);
  AddHeaderLine(out, "Referer", r.Referer);
  AddHeaderLine(out, "User-Agent", r.UserAgent);
  AddHeaderLine(out, "If-Modified-Since", r.IfModifiedSince);
  AddHeaderLine(out, "Range", options.Range);
  const bool ownCredentials = !options.Username.empty();
  const std::string& user = ownCredentials ? options.Username : t.uri.Username;
  if (options.BasicAuthentication && !user.empty())
    AddHeaderLine(out, "Authorization",
                  "Basic " + Base64Encode(user + ":" + (ownCredentials ? options.Password : t.uri.Password)));
  // Never through a tunnel: the server at its end is not the proxy.
  if (t.ProxyForm()) AddHeaderLine(out, "Proxy-Authorization", proxyAuthorization);
  AddHeaderLine(out, "Cookie", cookie);
  out += "\r\n";
  return out;
}

bool AnswerKeepsConnectionOpen(const THTTPResponse& answer, THTTPProtocolVersion version) {
  const std::string conn = text::Trim(answer.Connection), proxyConn = text::Trim(answer.ProxyConnection);
  if (version == THTTPProtocolVersion::pv1_1)
    return !text::SameText(conn, "CLOSE") && !text::SameText(proxyConn, "CLOSE");
  return text::SameText(conn, "KEEP-ALIVE") || text::SameText(proxyConn, "KEEP-ALIVE");
}

}  // namespace net
