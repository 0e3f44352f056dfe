// Fuzzes the Gif reader and the writers on what it accepts (see fuzz_codec.h).
#include "fuzz/fuzz_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return qel::fuzz::checkCodec(data, size, qel::ImageFormat::Gif);
}
