// Blending a rectangle of a second picture file into a 24-bit picture. A classic BMP
// file is read here with a small reader of its own, independent of the document
// reader: 14-byte file header, 40-byte info header, colour table, then the rows. Any
// other file Qel reads (PNG, JPEG, other BMP variants...) goes through the document
// reader and is mixed from its colours.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "core/geometry/geometry.h"
#include "core/geometry/picture24.h"
#include "core/formats/bmp_file.h"
#include "core/formats/file_io.h"
#include "core/image/dib_image.h"

namespace qel {

using geometry_detail::Rows24;
using geometry_detail::rows24;
using geometry_detail::kNeedsRows24;

namespace {

constexpr const char* kNegativeRectangle = "a negative position or size";

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

// Reads the file's header; anything but Mixed comes with the reason in `why`.
MixStatus readMixSource(const uint8_t* data, size_t size, MixSource& src, std::string& why) {
    const auto refuse = [&why](MixStatus status, std::string reason) {
        why = std::move(reason);
        return status;
    };
    BitmapInfoHeader hd;
    if (!readInfoHeader(data, size, hd, &why)) return MixStatus::NotBitmap;
    if (hd.biSize != static_cast<uint32_t>(kHeaderSize))
        return refuse(MixStatus::NotBitmap, "an info header of " + std::to_string(hd.biSize) + " bytes, not 40");
    const uint32_t bfSize = le32(data + 2);
    const int64_t width = hd.biWidth;
    const int64_t height = hd.biHeight;
    // The table size decides the pixel format; a file whose depth says otherwise
    // (an 8-bit file with 16 entries, say) is refused rather than misread.
    const int entries = tableEntries(hd);
    const std::string withTable =
        std::to_string(hd.biBitCount) + "-bit pixels with " + std::to_string(entries) + " table entries";
    int format;
    switch (entries) {
    case 16: format = 4; break;
    case 256: format = 8; break;
    case 0: format = 24; break;
    default: return refuse(MixStatus::Unsupported, withTable);
    }
    if (hd.biBitCount != format) return refuse(MixStatus::Unsupported, withTable);
    if (hd.biCompression != 0) return refuse(MixStatus::Unsupported, "compression " + std::to_string(hd.biCompression));
    // Top-down files and empty pictures are not read.
    if (height < 0) return refuse(MixStatus::Unsupported, "top-down rows");
    const std::string sides = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width <= 0 || height == 0) return refuse(MixStatus::Unsupported, sides);
    // Nor pictures beyond the readers' limits (their row bytes could overflow 64 bits).
    if (!sizeWithinLimits(width, height)) return refuse(MixStatus::Unsupported, sides + ", beyond the size limits");

    const int64_t tableEnd = kFileHeaderSize + kHeaderSize + 4 * int64_t(entries);
    if (static_cast<int64_t>(size) < tableEnd)
        return refuse(MixStatus::NotBitmap, endsEarly("the colour table", uint64_t(tableEnd - int64_t(size))));
    // Pixel data follows the table directly; its length is what bfSize leaves, bounded by the file.
    const int64_t available = std::min<int64_t>(int64_t(bfSize), int64_t(size)) - tableEnd;
    const int64_t stride = format == 4 ? ((width + 7) & ~int64_t(7)) / 2 : strideFor(width, format);
    if (available < stride * height)
        return refuse(MixStatus::Truncated, endsEarly("pixel data", uint64_t(stride * height - available)) +
                                                (int64_t(bfSize) < int64_t(size) ? " (by bfSize)" : ""));

    src.width = width;
    src.height = height;
    src.bitCount = format;
    src.stride = stride;
    src.table = data + kFileHeaderSize + kHeaderSize;
    src.rows = data + tableEnd;
    return MixStatus::Mixed;
}

// The rows a mix writes to; the reason when the picture cannot take one (not 24-bit, rows
// missing) or a number of the rectangle or copy point is negative, else null.
const char* mixTargetRefusal(DibImage& image, Rows24& dst, std::initializer_list<int32_t> numbers) {
    if (!rows24(image, dst)) return kNeedsRows24;
    if (std::ranges::any_of(numbers, [](int32_t n) { return n < 0; })) return kNegativeRectangle;
    return nullptr;
}

}  // namespace

OpResult mixBytes(DibImage& image, const uint8_t* data, size_t size, int32_t startX, int32_t startY, int32_t width,
                  int32_t height, int32_t copyX, int32_t copyY, float ratio, uint32_t transparent, MixStatus* status) {
    MixStatus dummy;
    MixStatus& st = status ? *status : dummy;
    st = MixStatus::NotApplied;
    Rows24 dst;
    if (const char* why = mixTargetRefusal(image, dst, {startX, startY, width, height, copyX, copyY}))
        return OpResult::refused(why);

    float r = ratio;
    if (r < 0.0f || std::isnan(r)) r = 0.5f;
    if (r > 1.0f) r = 1.0f;

    MixSource src;
    std::string why;
    st = readMixSource(data, size, src, why);
    // A file the small reader does not take may still be a picture Qel reads; its colours are mixed
    // as 24-bit rows. A truncated classic BMP stays refused.
    PixelBytes decoded;
    if (st == MixStatus::NotBitmap || st == MixStatus::Unsupported) {
        const bool bmp = size >= 2 && data[0] == 'B' && data[1] == 'M';
        DibImage other;
        ImageError error = ImageError::None;
        std::string otherWhy;
        if (other.loadBytes(data, size, &error, &otherWhy)) {
            const auto hd = other.header();
            src = MixSource{.width = hd.biWidth, .height = hd.biHeight, .bitCount = 24, .stride = strideFor(hd.biWidth, 24)};
            decoded = PixelBytes(static_cast<size_t>(src.stride * src.height));
            for (int y = 0; y < hd.biHeight; ++y) {
                uint8_t* row = decoded.data() + (src.height - 1 - y) * src.stride;
                for (int x = 0; x < hd.biWidth; ++x, row += 3) {
                    const Rgb c = other.colourAt(x, y);
                    row[0] = c.b, row[1] = c.g, row[2] = c.r;
                }
            }
            src.rows = decoded.data();
            st = MixStatus::Mixed;
        } else if (!bmp) {
            st = MixStatus::NotPicture;
            why = otherWhy.empty() ? "not a picture file Qel reads" : otherWhy;
        }
    }
    if (st != MixStatus::Mixed) return OpResult::refused(why);

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
    image.rebuildDisplay();
    return OpResult::changed();
}

OpResult mixFile(DibImage& image, const std::string& path, int32_t startX, int32_t startY, int32_t width,
                 int32_t height, int32_t copyX, int32_t copyY, float ratio, uint32_t transparent, MixStatus* status) {
    MixStatus dummy;
    MixStatus& st = status ? *status : dummy;
    st = MixStatus::NotApplied;
    Rows24 dst;
    if (path.empty()) return OpResult::refused("no file name");
    if (const char* why = mixTargetRefusal(image, dst, {startX, startY, width, height, copyX, copyY}))
        return OpResult::refused(why);
    std::vector<uint8_t> data;
    if (!readFileBytes(path, data, kMaxVariantFileBytes)) {
        st = MixStatus::CannotOpen;
        const int code = readErrno(path);
        return OpResult::fileRefused(code ? std::strerror(code) : "cannot be read", code, path);
    }
    return mixBytes(image, data.data(), data.size(), startX, startY, width, height, copyX, copyY, ratio,
                    transparent, status);
}

}  // namespace qel
