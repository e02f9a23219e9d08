// Real servers on 127.0.0.1 for the network tests, started by local-servers.sh
// beside this file: nginx with TLS and a test CA, tinyproxy. The Windows build
// runs under Wine, which starts host programs too and reaches the host's files as
// Z:, so the same class serves both builds.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/processes.h"
#include "platform/system.h"
#include "support/test_platform.h"
#ifdef _WIN32
#include "helpers/win32/chain_check.h"
#endif

namespace nettest {

class THostServers {
 public:
  // kind: "tls", "tinyproxy" or "tinyproxy-auth". Waits until the servers are ready or failed.
  explicit THostServers(const std::string& kind) {
    for (const char* root : {"/", "Z:\\"})
      if (std::filesystem::exists(Host(root, "usr/bin/sh"))) root_ = root;
    if (root_.empty()) {
      missing_ = "no POSIX shell to start servers with";
      return;
    }
    static int serial = 0;
    dir_ = "/tmp/lu-servers-" + std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(++serial);
    // A folder of that name left by a program that died (Wine gives the same
    // process ids again in a new prefix) would read as ready at once.
    std::error_code ignored;
    std::filesystem::remove_all(Host(root_, dir_.substr(1)), ignored);
    std::string command = Host(root_, "usr/bin/sh") + " " + Script() + " " + kind + " " + dir_;
    if (kind == "tls") command += " " + SharedCa(root_);
    platform::StartProcess(command, true);
    for (int i = 0; i < 1200 && !ready_; ++i) {  // a minute at most: the script gives up sooner
      if (std::filesystem::exists(Local("missing"))) {
        missing_ = Read("missing");
        return;
      }
      if (std::filesystem::exists(Local("failed"))) {
        failure_ = Read("failed");
        return;
      }
      ready_ = std::filesystem::exists(Local("ready"));
      if (!ready_) platform::SleepMs(50);
    }
    if (!ready_) failure_ = "the servers did not start in time";
    std::istringstream ports(Read("ports"));
    std::string name;
    int port;
    while (ports >> name >> port) ports_[name] = static_cast<uint16_t>(port);
  }
  // The script removes the folder once the servers have ended; Wine cannot wait
  // for a host program, so the folder's going is what is waited for.
  ~THostServers() {
    if (dir_.empty()) return;
    platform::StartProcess(Host(root_, "usr/bin/sh") + " " + Script() + " stop " + dir_, true);
    const std::string folder = Host(root_, dir_.substr(1));
    for (int i = 0; i < 200 && std::filesystem::exists(folder); ++i) platform::SleepMs(50);
  }
  THostServers(const THostServers&) = delete;
  THostServers& operator=(const THostServers&) = delete;

  bool Ready() const { return ready_; }
  // Why the servers cannot run here (a tool is not installed); "" when they can.
  const std::string& Missing() const { return missing_; }
  const std::string& Failure() const { return failure_; }
  uint16_t Port(const std::string& name) const {
    auto it = ports_.find(name);
    return it == ports_.end() ? 0 : it->second;
  }
  // A file of the servers' folder as this program names it.
  std::string Local(const std::string& name) const { return Host(root_, dir_.substr(1) + "/" + name); }
  // The same file as a host program names it.
  std::string HostPath(const std::string& name) const { return dir_ + "/" + name; }
  std::string Read(const std::string& name) const {
    std::ifstream f(Local(name), std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }

 private:
  static std::string Script() { return std::string(LU_SOURCE_DIR) + "/tests/unit/net/local-servers.sh"; }
  // The folder of the test CA that every "tls" set of this program shares (see
  // TTrustedTestCa), as host programs name it; it goes as the program ends.
  static std::string SharedCa(const std::string& root) {
    struct TFolder {
      std::string host, local;
      ~TFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(local, ignored);
      }
    };
    static const TFolder folder = [&] {
      // The clock too, for the process ids Wine gives again.
      const std::string host = "/tmp/lu-ca-" + std::to_string(platform::CurrentProcessId()) + "-" +
                               std::to_string(std::chrono::system_clock::now().time_since_epoch().count());
      return TFolder{host, Host(root, host.substr(1))};
    }();
    return folder.host;
  }
  static std::string Host(const std::string& root, std::string path) {
    if (root != "/")
      for (char& c : path)
        if (c == '/') c = '\\';
    return root + path;
  }

  std::string root_, dir_, missing_, failure_;
  bool ready_ = false;
  std::map<std::string, uint16_t> ports_;
};

// Makes the test CA of a "tls" server set trusted for as long as it lives, for
// this program and the programs it starts, and never for the machine: the Linux
// port reads it from SSL_CERT_FILE, the Windows build from the root store of the
// Wine prefix the tests run in (a helper program adds it there and removes it).
// Wine's chain engine reads the root store once a program, at its first chain:
// so the sets of one program share one CA, and the good server's chain is
// checked as the https client checks it both in a program started now (the
// helper) and in this one, which must have made no chain before it first trusted
// that CA.
class TTrustedTestCa {
 public:
  explicit TTrustedTestCa(const THostServers& servers) : servers_(servers) {
#ifdef _WIN32
    if (!platform::RunHiddenAndWait("add-root-cert.exe add \"" + servers.Local("ca.der") + "\" \"" +
                                    servers.Local("trust.txt") + "\" \"" + servers.Local("good.chain.pem") +
                                    "\" localhost")) {
      why_ = "add-root-cert.exe could not be started";
      return;
    }
    added_ = true;
    why_ = servers.Read("trust.txt");
    while (!why_.empty() && (why_.back() == '\n' || why_.back() == '\r')) why_.pop_back();
    if (why_.empty()) why_ = "add-root-cert.exe wrote no report";
    if (why_ != "trusted") return;
    const std::string here = chaincheck::CheckServerChain(servers.Read("good.chain.pem"), "localhost");
    if (here != "trusted")
      why_ =
          "a program started now trusts the CA, but not this one (Wine reads the root store once a program, at "
          "its first chain): " +
          here;
#else
    saved_ = platform::GetEnv("SSL_CERT_FILE");
    added_ = platform::SetEnv("SSL_CERT_FILE", servers.HostPath("ca.pem"));
    why_ = added_ ? "trusted" : "SSL_CERT_FILE cannot be set";
#endif
  }
  ~TTrustedTestCa() {
    if (!added_) return;
#ifdef _WIN32
    platform::RunHiddenAndWait("add-root-cert.exe remove \"" + servers_.Local("ca.der") + "\"");
#else
    if (saved_.empty())
      platform::UnsetEnv("SSL_CERT_FILE");
    else
      platform::SetEnv("SSL_CERT_FILE", saved_);
#endif
  }
  TTrustedTestCa(const TTrustedTestCa&) = delete;
  TTrustedTestCa& operator=(const TTrustedTestCa&) = delete;
  bool Trusted() const { return why_ == "trusted"; }
  // "trusted", or why a client would refuse the test servers.
  const std::string& Why() const { return why_; }

 private:
  const THostServers& servers_;
  std::string saved_, why_;
  bool added_ = false;
};

}  // namespace nettest
