// lu-defaults PROGRAM [NAME VALUE]
// Lists, or rewrites one of, the build-time defaults held in a built program
// (either target): finds the block by its signature and edits the field in place.
// Says in words which packages the program takes (after a listing, and after a
// rewrite of PackageKey, AllowUnauthenticated or MaxPackageSize).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "net/trust_policy.h"
#include "settings/build_defaults.h"

namespace {

int Fail(const std::string& message) {
  std::fprintf(stderr, "lu-defaults: %s\n", message.c_str());
  return 1;
}

// Offsets of every occurrence of the signature, read in bounded chunks.
std::vector<int64_t> FindBlocks(std::fstream& file) {
  const std::string signature = defaults::Signature();
  const size_t keep = signature.size() - 1;  // a signature may straddle two chunks
  std::vector<int64_t> found;
  std::string window;
  std::vector<char> chunk(1 << 16);
  int64_t windowStart = 0;  // file offset of window[0]
  file.seekg(0);
  for (;;) {
    file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const std::streamsize got = file.gcount();
    if (got <= 0) break;
    window.append(chunk.data(), static_cast<size_t>(got));
    for (size_t at = window.find(signature); at != std::string::npos; at = window.find(signature, at + 1))
      found.push_back(windowStart + static_cast<int64_t>(at));
    if (window.size() > keep) {
      const size_t drop = window.size() - keep;
      window.erase(0, drop);
      windowStart += static_cast<int64_t>(drop);
    }
  }
  return found;
}

bool IsPolicyField(int index) {
  for (const char* name : {"PackageKey", "AllowUnauthenticated", "MaxPackageSize"})
    if (index == defaults::FindField(name)) return true;
  return false;
}

net::TTrustPolicy PolicyOf(const std::vector<std::string>& values) {
  return net::TTrustPolicy::FromDefaults(values[defaults::FindField("PackageKey")],
                                         values[defaults::FindField("AllowUnauthenticated")],
                                         values[defaults::FindField("MaxPackageSize")]);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr,
                 "usage: lu-defaults PROGRAM            list the build-time defaults\n"
                 "       lu-defaults PROGRAM NAME VALUE rewrite one of them\n");
    return 1;
  }
  const std::string program = argv[1];
  {
    const bool write = argc == 4;
    int index = -1;
    std::string value;
    if (write) {
      index = defaults::FindField(argv[2]);
      if (index < 0) {
        std::string names;
        for (const defaults::FieldInfo& f : defaults::kFields) names += std::string(" ") + f.Name;
        return Fail(std::string("no field named '") + argv[2] + "'; the fields are:" + names);
      }
      value = argv[3];
      const uint32_t capacity = defaults::kFields[index].Capacity;
      if (value.size() > capacity - 1)
        return Fail(std::string(defaults::kFields[index].Name) + " holds at most " + std::to_string(capacity - 1) +
                    " bytes; the value has " + std::to_string(value.size()));
      if (value.find('\0') != std::string::npos) return Fail("a value cannot contain a NUL byte");
      // These name what the program makes and later removes; empty, they name
      // something larger: the logon entry becomes the whole Run key, the product
      // key the root of the user's registry, the group the Programs folder itself.
      for (const char* name : {"ApplicationName", "UpdaterFileName", "ProgramGroupName", "ProductRegistryKey"})
        if (value.empty() && index == defaults::FindField(name))
          return Fail(std::string(name) + " cannot be empty; the program was left as it was");
    }

    std::fstream file(program,
                      write ? std::ios::in | std::ios::out | std::ios::binary : std::ios::in | std::ios::binary);
    if (!file) return Fail("cannot open " + program + (write ? " for writing: " : ": ") + std::strerror(errno));
    const std::vector<int64_t> blocks = FindBlocks(file);
    if (file.bad()) return Fail("cannot read " + program);
    file.clear();
    file.seekg(0, std::ios::end);
    const int64_t size = static_cast<int64_t>(file.tellg());
    if (blocks.empty()) return Fail(std::string(argv[1]) + " holds no block of build-time defaults");
    if (blocks.size() > 1)
      return Fail(std::string(argv[1]) + " holds " + std::to_string(blocks.size()) +
                  " blocks of build-time defaults; refusing to guess which one counts");
    const int64_t base = blocks[0];
    if (size - base < static_cast<int64_t>(defaults::kBlockSize))
      return Fail(std::string(argv[1]) + " ends inside its block of build-time defaults");

    std::vector<std::string> values;
    std::vector<char> field;
    for (int i = 0; i < defaults::kFieldCount; ++i) {
      const defaults::FieldInfo& f = defaults::kFields[i];
      field.assign(f.Capacity, '\0');
      file.seekg(base + static_cast<int64_t>(defaults::FieldOffset(i)));
      file.read(field.data(), f.Capacity);
      if (!file) return Fail("cannot read " + program);
      values.push_back(defaults::FieldText(field.data(), f.Capacity));
    }
    if (write) values[index] = value;
    // Keys the updater cannot use, or a setting it cannot read, would refuse
    // every package: better said now.
    std::string policy;
    try {
      policy = PolicyOf(values).Describe();
    } catch (const Exception& e) {
      if (write && IsPolicyField(index)) return Fail(e.Message + " The program was left as it was.");
      policy = "cannot be read: " + e.Message;
    }

    if (!write) {
      for (int i = 0; i < defaults::kFieldCount; ++i)
        std::printf("%-24s %4u  %s\n", defaults::kFields[i].Name, static_cast<unsigned>(defaults::kFields[i].Capacity),
                    values[i].c_str());
      std::printf("Policy: %s\n", policy.c_str());
      return 0;
    }

    // The whole field is written: the value, then NULs to its end, so nothing of
    // an older, longer value stays behind.
    field.assign(defaults::kFields[index].Capacity, '\0');
    std::memcpy(field.data(), value.data(), value.size());
    file.clear();
    file.seekp(base + static_cast<int64_t>(defaults::FieldOffset(index)));
    file.write(field.data(), static_cast<std::streamsize>(field.size()));
    file.close();
    if (file.fail()) return Fail("could not write " + program);
    std::printf("%s = %s\n", defaults::kFields[index].Name, value.c_str());
    if (IsPolicyField(index)) std::printf("Policy: %s\n", policy.c_str());
    return 0;
  }
}
