// Fuzzes the document BMP reader, then builds the display bitmap and runs one
// operation of each family on what it read (small pictures only, so every run is quick).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_operations.h"
#include "image/dib_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qel::DibImage image;
    if (!image.loadBytes(data, size)) return 0;
    qel::fuzz::runOperations(image);
    return 0;
}
