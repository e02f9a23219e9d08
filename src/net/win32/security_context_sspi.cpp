// Negotiate and NTLM through SSPI (secur32), with the credentials of the user
// who is logged on: no password passes through the program.
#define SECURITY_WIN32
#include <windows.h>
#include <security.h>
#include <sspi.h>

#include "net/security_context.h"

namespace net {
namespace {

class TSspiContext : public TSecurityContext {
 public:
  TSspiContext(const std::string& package, const std::string& target) : target_(target) {
    TimeStamp expiry;
    // No identity: the logged-on user's.
    haveCredentials_ =
        ::AcquireCredentialsHandleA(nullptr, const_cast<char*>(package.c_str()), SECPKG_CRED_OUTBOUND, nullptr, nullptr,
                                    nullptr, nullptr, &credentials_, &expiry) == SEC_E_OK;
  }
  ~TSspiContext() override {
    if (haveContext_) ::DeleteSecurityContext(&context_);
    if (haveCredentials_) ::FreeCredentialsHandle(&credentials_);
  }
  TSspiContext(const TSspiContext&) = delete;
  TSspiContext& operator=(const TSspiContext&) = delete;

  bool Ready() const { return haveCredentials_; }

  bool Next(const std::string& input, std::string& output) override {
    if (!haveCredentials_ || done_) return false;
    if (haveContext_ && input.empty()) return false;  // a later step needs the peer's token
    SecBuffer in{static_cast<unsigned long>(input.size()), SECBUFFER_TOKEN, const_cast<char*>(input.data())};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &in};
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    unsigned long attributes = 0;
    TimeStamp expiry;
    const SECURITY_STATUS status = ::InitializeSecurityContextA(
        &credentials_, haveContext_ ? &context_ : nullptr, const_cast<char*>(target_.c_str()),
        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_CONNECTION,  // the package allocates the token; one connection
        0, SECURITY_NATIVE_DREP, haveContext_ ? &inDesc : nullptr, 0, &context_, &outDesc, &attributes, &expiry);
    // A failure, or a step the client's part of Negotiate and NTLM never asks for
    // (CompleteAuthToken, which the older systems' secur32 may lack).
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
      Free(out);
      return false;
    }
    haveContext_ = true;
    output.clear();
    if (out.pvBuffer) output.assign(static_cast<const char*>(out.pvBuffer), out.cbBuffer);
    Free(out);
    if (status == SEC_E_OK) done_ = true;
    return !output.empty();
  }

 private:
  static void Free(SecBuffer& b) {
    if (b.pvBuffer) ::FreeContextBuffer(b.pvBuffer);
    b.pvBuffer = nullptr;
  }

  std::string target_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false, haveContext_ = false, done_ = false;
};

}  // namespace

std::unique_ptr<TSecurityContext> NewSecurityContext(const std::string& package, const std::string& target) {
  auto context = std::make_unique<TSspiContext>(package, target);
  if (!context->Ready()) return nullptr;
  return context;
}

}  // namespace net
