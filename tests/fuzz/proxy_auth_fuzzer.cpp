// libFuzzer target: see net_targets.h.
#include "fuzz/net_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return fuzz::RunProxyChallenges(data, size); }
