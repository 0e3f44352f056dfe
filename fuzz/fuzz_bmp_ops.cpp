// Runs one operation of each family on whatever the document BMP reader
// accepts (small pictures only, so every input is quick).
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_operations.h"
#include "core/image/dib_image.h"
#include "fuzz/verbose.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qel::DibImage image;
    std::string why;
    if (!image.loadBytes(data, size, nullptr, &why)) {
        qel::fuzz::sayWhy("refused", why);
        return 0;
    }
    qel::fuzz::runOperations(image);
    return 0;
}
