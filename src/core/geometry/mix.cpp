// Blending a rectangle of a second BMP file into a 24-bit picture. The file is
// read here with a small reader of its own, independent of the document reader:
// 14-byte file header, 40-byte info header, colour table, then the rows.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "core/geometry/geometry.h"
#include "core/geometry/picture24.h"
#include "core/image/bmp_file.h"
#include "core/image/file_io.h"

namespace qel {

using geometry_detail::Rows24;
using geometry_detail::rows24;

namespace {

// The file's picture as the mix reads it.
struct MixSource {
    int64_t width = 0;
    int64_t height = 0;
    int bitCount = 0;  // 4, 8 or 24
    int64_t stride = 0;
    const uint8_t* table = nullptr;  // entries blue, green, red, reserved
    const uint8_t* rows = nullptr;   // bottom row first

    // Colour of pixel (x, y), y from the top, as blue, green, red.
    void bgr(int64_t x, int64_t y, uint8_t out[3]) const {
        const uint8_t* row = rows + (height - 1 - y) * stride;
        const uint8_t* c;
        switch (bitCount) {
        case 24: c = row + 3 * x; break;
        case 8: c = table + 4 * row[x]; break;
        default: c = table + 4 * ((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)); break;
        }
        out[0] = c[0];
        out[1] = c[1];
        out[2] = c[2];
    }
};

MixStatus readMixSource(const uint8_t* data, size_t size, MixSource& src) {
    BitmapInfoHeader hd;
    if (!readInfoHeader(data, size, hd) || hd.biSize != static_cast<uint32_t>(kHeaderSize)) return MixStatus::NotBitmap;
    const uint32_t bfSize = le32(data + 2);
    const int64_t width = hd.biWidth;
    const int64_t height = hd.biHeight;
    // The table size decides the pixel format; a file whose depth says otherwise
    // (an 8-bit file with 16 entries, say) is refused rather than misread.
    const int entries = tableEntries(hd);
    int format;
    switch (entries) {
    case 16: format = 4; break;
    case 256: format = 8; break;
    case 0: format = 24; break;
    default: return MixStatus::Unsupported;
    }
    if (hd.biBitCount != format || hd.biCompression != 0) return MixStatus::Unsupported;
    // Top-down files and empty pictures are not read.
    if (width <= 0 || height <= 0) return MixStatus::Unsupported;
    // Nor pictures beyond the readers' limits (their row bytes could overflow 64 bits).
    if (!sizeWithinLimits(width, height)) return MixStatus::Unsupported;

    const int64_t tableEnd = kFileHeaderSize + kHeaderSize + 4 * int64_t(entries);
    if (static_cast<int64_t>(size) < tableEnd) return MixStatus::NotBitmap;
    // Pixel data follows the table directly; its length is what bfSize leaves, bounded by the file.
    const int64_t available = std::min<int64_t>(int64_t(bfSize), int64_t(size)) - tableEnd;
    const int64_t stride = format == 4 ? ((width + 7) & ~int64_t(7)) / 2 : strideFor(width, format);
    if (available < stride * height) return MixStatus::Truncated;

    src.width = width;
    src.height = height;
    src.bitCount = format;
    src.stride = stride;
    src.table = data + kFileHeaderSize + kHeaderSize;
    src.rows = data + tableEnd;
    return MixStatus::Mixed;
}

// The rows a mix writes to, or false when the picture cannot take one (not 24-bit, rows
// missing) or a number of the rectangle or copy point is negative.
bool mixTarget(DibImage& image, Rows24& dst, std::initializer_list<int32_t> numbers) {
    return rows24(image, dst) && std::ranges::none_of(numbers, [](int32_t n) { return n < 0; });
}

}  // namespace

const DisplayBitmap* mixBytes(DibImage& image, const uint8_t* data, size_t size, int32_t startX, int32_t startY,
                              int32_t width, int32_t height, int32_t copyX, int32_t copyY, float ratio,
                              uint32_t transparent, MixStatus* status) {
    MixStatus dummy;
    MixStatus& st = status ? *status : dummy;
    st = MixStatus::NotApplied;
    Rows24 dst;
    if (!mixTarget(image, dst, {startX, startY, width, height, copyX, copyY})) return image.displayBitmap.get();

    float r = ratio;
    if (r < 0.0f || std::isnan(r)) r = 0.5f;
    if (r > 1.0f) r = 1.0f;

    MixSource src;
    st = readMixSource(data, size, src);
    if (st != MixStatus::Mixed) return image.displayBitmap.get();

    // Clip to the picture, then to the file (each a bound on the extent).
    int64_t w = width, h = height;
    if (startX + w > dst.width) w = dst.width - startX;
    if (startY + h > dst.height) h = dst.height - startY;
    if (w + copyX > src.width) w = src.width - copyX;
    if (copyY + h > src.height) h = src.height - copyY;

    if (w > 0 && h > 0) {
        // Every (file, picture) channel pair blends to one byte; products in double.
        const float keep = 1.0f - r;
        std::vector<uint8_t> blend(256 * 256);
        for (int f = 0; f < 256; ++f)
            for (int p = 0; p < 256; ++p) {
                const double v = static_cast<double>(f) * static_cast<double>(r) +
                                 static_cast<double>(p) * static_cast<double>(keep);
                blend[f * 256 + p] = static_cast<uint8_t>(std::min(255.0, v));
            }
        const uint8_t keyR = uint8_t(transparent), keyG = uint8_t(transparent >> 8), keyB = uint8_t(transparent >> 16);
        for (int64_t j = 0; j < h; ++j) {
            uint8_t* out = dst.rowFromTop(startY + j) + 3 * int64_t(startX);
            for (int64_t i = 0; i < w; ++i, out += 3) {
                uint8_t c[3];
                src.bgr(copyX + i, copyY + j, c);
                if (c[2] == keyR && c[1] == keyG && c[0] == keyB) continue;
                out[0] = blend[c[0] * 256 + out[0]];
                out[1] = blend[c[1] * 256 + out[1]];
                out[2] = blend[c[2] * 256 + out[2]];
            }
        }
    }
    return image.rebuildDisplay();
}

const DisplayBitmap* mixFile(DibImage& image, const std::string& path, int32_t startX, int32_t startY,
                             int32_t width, int32_t height, int32_t copyX, int32_t copyY, float ratio,
                             uint32_t transparent, MixStatus* status) {
    MixStatus dummy;
    MixStatus& st = status ? *status : dummy;
    st = MixStatus::NotApplied;
    Rows24 dst;
    if (path.empty() || !mixTarget(image, dst, {startX, startY, width, height, copyX, copyY}))
        return image.displayBitmap.get();
    std::vector<uint8_t> data;
    if (!readFileBytes(path, data, kMaxVariantFileBytes)) {
        st = MixStatus::CannotOpen;
        return image.displayBitmap.get();
    }
    return mixBytes(image, data.data(), data.size(), startX, startY, width, height, copyX, copyY, ratio,
                    transparent, status);
}

}  // namespace qel
