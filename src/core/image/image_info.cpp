#include "core/image/image_info.h"

#include <cmath>

namespace qel {

std::string imageInformationText(int32_t imageHeight, int32_t imageWidth, int32_t bitsSize, int bitCount) {
    const auto colours = static_cast<long long>(std::pow(2.0, bitCount));
    return "縦：" + std::to_string(imageHeight) + "\n横：" + std::to_string(imageWidth) + "\nサイズ：" +
           std::to_string(bitsSize) + "\n色：" + std::to_string(colours);
}

}  // namespace qel
