// libFuzzer target: the Deflate decoder over arbitrary bytes (layout in decoder_targets.h).
#include "fuzz/decoder_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fuzz::RunDecoder(fuzz::Method::Inflate, data, size);
}
