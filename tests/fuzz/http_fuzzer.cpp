// libFuzzer target: the HTTP response reader over arbitrary server bytes (see
// http_target.h).
#include "fuzz/http_target.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::RunHttpResponse(data, size); }
