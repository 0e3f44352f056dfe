// The image-information text: height, width, bytes of pixel data and the
// number of colours the depth allows.
#pragma once

#include <cstdint>
#include <string>

namespace qel {

// "縦：H\n横：W\nサイズ：S\n色：C", C = 2^bitCount truncated to an integer.
std::string imageInformationText(int32_t imageHeight, int32_t imageWidth, int32_t bitsSize, int bitCount);

}  // namespace qel
