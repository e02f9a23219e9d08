// The build-time defaults. The texts live together in one block of the
// program's data behind a signature, each NUL-terminated in a field of fixed
// capacity, so that lu-defaults can re-point a built program without a
// compiler. The block's layout is described here once, for the program and the
// tool alike: the signature, then the fields in table order, no padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace defaults {

struct FieldInfo {
  const char* Name;
  uint32_t Capacity;  // bytes, the terminating NUL included
};

constexpr int kFieldCount = 14;
// PackageKey: the Base64 of the publisher's DER public keys, up to four separated
// by commas (four RSA-4096 ones take 4 x 736 characters and 3 commas); empty,
// packages are taken unsigned. AllowUnauthenticated: "1" lets a program without
// a key take packages over plain http; "0" (or empty) only over verified https.
// MaxPackageSize: the most bytes of a package taken without a statement,
// decimal; empty for the built-in 4 GiB.
constexpr FieldInfo kFields[kFieldCount] = {
    {"DefaultUserName", 132},    {"DefaultPlaceCode", 36},    {"DefaultDownloadURL", 260},     {"DefaultLanguage", 36},
    {"ApplicationCommand", 260}, {"DefaultInstallPath", 260}, {"ProgramGroupName", 36},        {"ApplicationName", 36},
    {"ProductRegistryKey", 132}, {"UpdaterFileName", 36},     {"DefaultDownloadLocation", 36}, {"PackageKey", 3072},
    {"AllowUnauthenticated", 4}, {"MaxPackageSize", 24},
};

constexpr size_t kSignatureSize = 16;
// The signature, stored masked so that no program holds it a second time
// outside the block (a tool that searches for it would count that copy).
constexpr uint8_t kSignatureMask = 0x5A;
// Its last byte changes with the layout, so that a tool and a program of
// different layouts do not find each other's block instead of misreading it.
constexpr uint8_t kMaskedSignature[kSignatureSize] = {
    0xA7 ^ 0x5A, 'L' ^ 0x5A, 'U' ^ 0x5A, '-' ^ 0x5A, 'D' ^ 0x5A,  'E' ^ 0x5A,  'F' ^ 0x5A,  'A' ^ 0x5A,
    'U' ^ 0x5A,  'L' ^ 0x5A, 'T' ^ 0x5A, 'S' ^ 0x5A, 0x0B ^ 0x5A, 0x2E ^ 0x5A, 0x9C ^ 0x5A, 0x43 ^ 0x5A,
};
// The signature bytes, built at run time.
std::string Signature();

// Byte offset of field index within the block (the signature counted), and the
// block's whole size.
constexpr size_t FieldOffset(int index) {
  size_t offset = kSignatureSize;
  for (int i = 0; i < index; ++i) offset += kFields[i].Capacity;
  return offset;
}
constexpr size_t kBlockSize = FieldOffset(kFieldCount);

// Index of a field by name (case ignored); -1 when there is none.
int FindField(const std::string& name);
// The text of a field: the bytes up to the first NUL (all of them when there is
// none); what stands after the NUL is ignored.
std::string FieldText(const char* field, size_t capacity);

// The values of this program's block.
std::string Value(int index);
std::string DefaultUserName();
std::string DefaultPlaceCode();
std::string DefaultDownloadURL();
std::string DefaultLanguage();
std::string ApplicationCommand();
std::string DefaultInstallPath();
std::string ProgramGroupName();
std::string ApplicationName();
std::string ProductRegistryKey();
std::string UpdaterFileName();
std::string DefaultDownloadLocation();
std::string PackageKey();
std::string AllowUnauthenticated();
std::string MaxPackageSize();

constexpr const char* BatchFileName = "LiveUpdate.bat";
constexpr uint32_t FileReplaceTimeout = 1000;  // milliseconds

}  // namespace defaults
