#include "settings/build_defaults.h"

#include <cstring>

#include "base/text.h"
#include "build_defaults_values.h"

namespace defaults {

// The block as the program holds it. Not const, so it lands in initialised
// writable data and the compiler may not treat its texts as known constants.
struct Block {
  char Signature[kSignatureSize];
  char DefaultUserName[132];
  char DefaultPlaceCode[36];
  char DefaultDownloadURL[260];
  char DefaultLanguage[36];
  char ApplicationCommand[260];
  char DefaultInstallPath[260];
  char ProgramGroupName[36];
  char ApplicationName[36];
  char ProductRegistryKey[132];
  char UpdaterFileName[36];
  char DefaultDownloadLocation[36];
  char PackageKey[3072];
  char AllowUnauthenticated[4];
  char MaxPackageSize[24];
};
static_assert(sizeof(Block) == kBlockSize, "block layout differs from the field table");
static_assert(offsetof(Block, DefaultDownloadURL) == FieldOffset(2), "block layout differs from the field table");
static_assert(offsetof(Block, DefaultDownloadLocation) == FieldOffset(10), "block layout differs from the field table");
static_assert(offsetof(Block, PackageKey) == FieldOffset(11), "block layout differs from the field table");
static_assert(offsetof(Block, MaxPackageSize) == FieldOffset(13), "block layout differs from the field table");

// External linkage, and every read goes through an opaque pointer: the file's
// copy of the block is rewritten after the build.
extern Block luDefaultsBlock;
Block luDefaultsBlock = {
    {'\xA7', 'L', 'U', '-', 'D', 'E', 'F', 'A', 'U', 'L', 'T', 'S', '\x0B', '\x2E', '\x9C', '\x43'},
    LU_DEFAULT_USER_NAME,
    LU_DEFAULT_PLACE_CODE,
    LU_DEFAULT_DOWNLOAD_URL,
    LU_DEFAULT_LANGUAGE,
    LU_APPLICATION_COMMAND,
    LU_DEFAULT_INSTALL_PATH,
    LU_PROGRAM_GROUP_NAME,
    LU_APPLICATION_NAME,
    LU_PRODUCT_REGISTRY_KEY,
    LU_UPDATER_FILE_NAME,
    LU_DEFAULT_DOWNLOAD_LOCATION,
    LU_PACKAGE_KEY,
    LU_ALLOW_UNAUTHENTICATED,
    LU_MAX_PACKAGE_SIZE,
};

namespace {
const char* BlockBytes() {
  const char* p = reinterpret_cast<const char*>(&luDefaultsBlock);
  // Hide where p points from the optimiser.
  asm volatile("" : "+r"(p) : : "memory");
  return p;
}
}  // namespace

std::string Signature() {
  // A volatile mask keeps the compiler from folding the plain signature into
  // this program's code.
  volatile uint8_t mask = kSignatureMask;
  std::string s(kSignatureSize, '\0');
  for (size_t i = 0; i < kSignatureSize; ++i) s[i] = static_cast<char>(kMaskedSignature[i] ^ mask);
  return s;
}

int FindField(const std::string& name) {
  for (int i = 0; i < kFieldCount; ++i)
    if (text::SameText(name, kFields[i].Name)) return i;
  return -1;
}

std::string FieldText(const char* field, size_t capacity) {
  const void* nul = std::memchr(field, 0, capacity);
  return std::string(field, nul ? static_cast<const char*>(nul) - field : capacity);
}

std::string Value(int index) {
  if (index < 0 || index >= kFieldCount) return std::string();
  return FieldText(BlockBytes() + FieldOffset(index), kFields[index].Capacity);
}

std::string DefaultUserName() { return Value(0); }
std::string DefaultPlaceCode() { return Value(1); }
std::string DefaultDownloadURL() { return Value(2); }
std::string DefaultLanguage() { return Value(3); }
std::string ApplicationCommand() { return Value(4); }
std::string DefaultInstallPath() { return Value(5); }
std::string ProgramGroupName() { return Value(6); }
std::string ApplicationName() { return Value(7); }
std::string ProductRegistryKey() { return Value(8); }
std::string UpdaterFileName() { return Value(9); }
std::string DefaultDownloadLocation() { return Value(10); }
std::string PackageKey() { return Value(11); }
std::string AllowUnauthenticated() { return Value(12); }
std::string MaxPackageSize() { return Value(13); }

}  // namespace defaults
