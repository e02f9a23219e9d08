// libFuzzer target: TUnZip over arbitrary archive files (see unzip_target.h).
#include "fuzz/unzip_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::RunUnZip(data, size); }
