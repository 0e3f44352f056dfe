// Conversion of non-classic BMP layouts into the classic one.
#include "core/formats/bmp_variants.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "core/formats/bmp_file.h"

namespace qel {

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3, kJpeg = 4, kPng = 5, kAlphaBitFields = 6;

bool isKnownHeaderSize(uint32_t biSize) {
    switch (biSize) {
    case 12: case 16: case 40: case 52: case 56: case 64: case 108: case 124: return true;
    default: return false;
    }
}

// One colour channel of a bit-field pixel, scaled to 8 bits by the mask's width with rounding.
struct Channel {
    uint32_t mask = 0;
    int shift = 0;
    uint64_t max = 0;  // 2^width - 1; 0 for an empty mask (the channel reads 0)

    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        while (((m >> shift) & 1u) == 0) ++shift;
        max = uint64_t(m) >> shift;
    }
    bool contiguous() const { return (max & (max + 1)) == 0; }
    uint8_t value(uint32_t pixel) const {
        if (max == 0) return 0;
        const uint64_t v = (pixel & mask) >> shift;
        return static_cast<uint8_t>((v * 255 + max / 2) / max);
    }
};

// Everything the header says about the picture, in one form for all header sizes.
struct Layout {
    BitmapInfoHeader base;  // the 40-byte part (fields a short header lacks are 0)
    int64_t width = 0;
    int64_t height = 0;     // absolute value
    bool topDown = false;
    int bitCount = 0;
    uint32_t compression = kRgb;
    uint64_t tableStart = 0;  // file offset of the colour table (after header and masks)
    int entrySize = 4;        // 3 for OS/2 1.x tables
    uint32_t declaredEntries = 0;
    std::array<uint32_t, 3> masks{};
};

ImageError parseHeader(const uint8_t* data, size_t size, Layout& L, std::string* why) {
    const uint32_t biSize = le32(data + kFileHeaderSize);
    if (!isKnownHeaderSize(biSize))
        return refuse(ImageError::Unsupported, why, "an info header of " + std::to_string(biSize) + " bytes");
    if (size < uint64_t(kFileHeaderSize) + biSize)
        return refuse(ImageError::NotBitmap, why,
                      "the file ends within its " + std::to_string(biSize) + "-byte info header");
    const uint8_t* hdr = data + kFileHeaderSize;
    L.tableStart = uint64_t(kFileHeaderSize) + biSize;

    if (biSize == 12) {  // OS/2 1.x: unsigned 16-bit sides, no compression, 3-byte table entries
        L.width = le16(hdr + 4);
        L.height = le16(hdr + 6);
        L.bitCount = le16(hdr + 10);
        L.entrySize = 3;
        L.base = newHeader(0, 0, 0, 0, 0);
        return ImageError::None;
    }

    std::array<uint8_t, kHeaderSize> raw{};
    std::memcpy(raw.data(), hdr, std::min<uint32_t>(biSize, kHeaderSize));
    std::memcpy(&L.base, raw.data(), kHeaderSize);
    L.width = L.base.biWidth;
    L.height = L.base.biHeight;
    L.topDown = L.height < 0;
    if (L.topDown) L.height = -L.height;  // 64 bits: -2^31 stays representable
    L.bitCount = L.base.biBitCount;
    L.compression = L.base.biCompression;
    L.declaredEntries = L.base.biClrUsed;

    const bool os2v2 = biSize == 16 || biSize == 64;
    if (L.compression == kJpeg) return refuse(ImageError::Unsupported, why, "an embedded JPEG picture");
    if (L.compression == kPng) return refuse(ImageError::Unsupported, why, "an embedded PNG picture");
    // In OS/2 2.x headers 3 is Huffman 1D and 4 is RLE24: neither is taken.
    if (os2v2 && L.compression == kBitFields) return refuse(ImageError::Unsupported, why, "Huffman 1D compression");

    if (L.compression == kBitFields || L.compression == kAlphaBitFields) {
        // The masks follow a 40-byte header, or are part of longer ones; alpha (the fourth) is dropped.
        const int count = L.compression == kAlphaBitFields ? 4 : 3;
        const uint8_t* m = hdr + kHeaderSize;
        if (biSize == kHeaderSize) {
            if (size < L.tableStart + 4u * count)
                return refuse(ImageError::NotBitmap, why, "the file ends within its bit-field masks");
            L.tableStart += 4u * count;
        }
        for (int i = 0; i < 3; ++i) L.masks[i] = le32(m + 4 * i);
    }
    return ImageError::None;
}

// Checks depth against compression, and sets the masks of plain 16- and 32-bit pixels.
ImageError checkFormat(Layout& L, std::string* why) {
    const int bc = L.bitCount;
    const std::string depth = std::to_string(bc) + "-bit pixels";
    switch (L.compression) {
    case kRgb:
        if (bc != 1 && bc != 2 && bc != 4 && bc != 8 && bc != 16 && bc != 24 && bc != 32)
            return refuse(ImageError::Unsupported, why, depth);
        if (bc == 16) L.masks = {0x7C00, 0x03E0, 0x001F};
        if (bc == 32) L.masks = {0xFF0000, 0x00FF00, 0x0000FF};
        return ImageError::None;
    case kRle8:
    case kRle4: {
        const int rleDepth = L.compression == kRle8 ? 8 : 4;
        const std::string rle = L.compression == kRle8 ? "RLE8" : "RLE4";
        if (bc != rleDepth) return refuse(ImageError::NotBitmap, why, rle + " compression of " + depth);
        if (L.topDown) return refuse(ImageError::NotBitmap, why, rle + " compression of top-down rows");
        return ImageError::None;
    }
    case kBitFields:
    case kAlphaBitFields: {
        if (bc != 16 && bc != 32) return refuse(ImageError::NotBitmap, why, "bit fields of " + depth);
        const uint32_t depthBits = bc == 16 ? 0xFFFFu : 0xFFFFFFFFu;
        uint32_t seen = 0;
        bool any = false;
        for (auto& m : L.masks) {
            m &= depthBits;
            if (!Channel(m).contiguous()) return refuse(ImageError::NotBitmap, why, "a bit field has gaps");
            if ((seen & m) != 0) return refuse(ImageError::NotBitmap, why, "bit fields overlap");
            seen |= m;
            any = any || m != 0;
        }
        return any ? ImageError::None : refuse(ImageError::NotBitmap, why, "every bit field is empty");
    }
    default:
        return refuse(ImageError::Unsupported, why, "compression " + std::to_string(L.compression));
    }
}

int outputDepth(const Layout& L) {
    switch (L.bitCount) {
    case 1: case 4: case 8: return L.bitCount;
    case 2: return 8;
    default: return 24;
    }
}

// The colour table as the file holds it, limited to what the depth can index
// and to what lies between the table's start and the pixels.
std::vector<Rgb> readTable(const uint8_t* data, const Layout& L, uint64_t pixelOffset) {
    const uint64_t full = uint64_t(1) << L.bitCount;
    const uint64_t declared = L.declaredEntries != 0 ? L.declaredEntries : full;
    const uint64_t room = (pixelOffset - L.tableStart) / L.entrySize;
    const uint64_t n = std::min({declared, full, room});
    std::vector<Rgb> table;
    table.reserve(n);
    for (uint64_t i = 0; i < n; ++i) {
        const uint8_t* e = data + L.tableStart + i * L.entrySize;
        table.push_back(Rgb{e[2], e[1], e[0]});
    }
    return table;
}

// Uncompressed rows of any depth into output rows (bottom-up), flipping top-down files.
ImageError convertRows(const uint8_t* pixels, uint64_t available, const Layout& L, int outBc,
                       PixelBytes& out, std::string* why) {
    const int64_t w = L.width, h = L.height, bc = L.bitCount;
    const int64_t inStride = strideFor(w, L.bitCount);
    const int64_t rowBytes = (w * bc + 7) / 8;
    // The last row may lack its padding.
    const uint64_t needed = uint64_t(inStride) * uint64_t(h - 1) + uint64_t(rowBytes);
    if (needed > available) return refuse(ImageError::NotBitmap, why, endsEarly("pixel data", needed - available));

    const int64_t outStride = strideFor(w, outBc);
    out = PixelBytes(static_cast<size_t>(outStride * h));
    const std::array<Channel, 3> ch{Channel(L.masks[0]), Channel(L.masks[1]), Channel(L.masks[2])};

    for (int64_t r = 0; r < h; ++r) {
        const uint8_t* src = pixels + (L.topDown ? h - 1 - r : r) * inStride;
        uint8_t* dst = out.data() + r * outStride;
        if (bc == outBc) {
            std::memcpy(dst, src, static_cast<size_t>(rowBytes));
        } else if (bc == 2) {
            for (int64_t x = 0; x < w; ++x) dst[x] = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
        } else {  // 16 or 32 bits through the masks, to blue, green, red
            for (int64_t x = 0; x < w; ++x) {
                const uint32_t p = bc == 16 ? le16(src + 2 * x) : le32(src + 4 * x);
                dst[3 * x] = ch[2].value(p);
                dst[3 * x + 1] = ch[1].value(p);
                dst[3 * x + 2] = ch[0].value(p);
            }
        }
    }
    return ImageError::None;
}

// RLE8 / RLE4 into 8- or 4-bit bottom-up rows. Pixels the stream never writes
// stay index 0; runs are clipped at the row end, deltas and rows beyond the
// picture write nothing. A stream that stops inside a command, or ends before
// the end-of-bitmap mark while rows remain, is truncated.
ImageError decodeRle(const uint8_t* p, uint64_t available, const Layout& L, PixelBytes& out,
                     std::string* why) {
    const auto cut = [&](const char* where) {
        return refuse(ImageError::NotBitmap, why,
                      std::string(L.compression == kRle8 ? "RLE8" : "RLE4") + " data ends " + where);
    };
    const bool rle8 = L.compression == kRle8;
    const int64_t w = L.width, h = L.height;
    const int64_t stride = strideFor(w, rle8 ? 8 : 4);
    out = PixelBytes(static_cast<size_t>(stride * h));

    int64_t x = 0, y = 0;
    const auto put = [&](uint8_t index) {
        if (x < w && y < h) {
            uint8_t* row = out.data() + y * stride;
            if (rle8) {
                row[x] = index;
            } else if (x & 1) {
                row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | index);
            } else {
                row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | (index << 4));
            }
        }
        ++x;
    };

    uint64_t at = 0;
    while (y < h) {
        if (at + 2 > available) return cut("before its end-of-bitmap mark");
        const uint8_t count = p[at], value = p[at + 1];
        at += 2;
        if (count > 0) {  // a run of `count` pixels
            for (int i = 0; i < count && x < w; ++i) put(rle8 ? value : ((i & 1) ? value & 0x0F : value >> 4));
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return ImageError::None;
        case 2:  // delta
            if (at + 2 > available) return cut("within a delta");
            x += p[at];
            y += p[at + 1];
            at += 2;
            break;
        default: {  // `value` literal pixels, padded to an even number of bytes
            const uint64_t bytes = rle8 ? value : (value + 1u) / 2;
            if (at + bytes > available) return cut("within a run of literal pixels");
            for (int i = 0; i < value && x < w; ++i) {
                const uint8_t b = p[at + (rle8 ? i : i / 2)];
                put(rle8 ? b : ((i & 1) ? b & 0x0F : b >> 4));
            }
            at += (bytes + 1) & ~uint64_t(1);
            break;
        }
        }
    }
    return ImageError::None;  // every row reached
}

}  // namespace

ImageError readBmpVariant(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                          std::string* why) {
    info.clear();
    bits.clear();
    if (size < 2 || le16(data) != 0x4D42) return refuse(ImageError::NotBitmap, why, kNotBm);
    if (size < uint64_t(kFileHeaderSize) + 4)
        return refuse(ImageError::NotBitmap, why, "the file ends within its headers");

    Layout L;
    if (ImageError e = parseHeader(data, size, L, why); e != ImageError::None) return e;
    if (ImageError e = checkFormat(L, why); e != ImageError::None) return e;
    if (L.width <= 0 || L.height <= 0)
        return refuse(ImageError::NotBitmap, why,
                      std::to_string(L.width) + " x " + std::to_string(L.height) +
                          " pixels: a side is zero or negative");
    if (!sizeWithinLimits(L.width, L.height))
        return refuse(ImageError::TooLarge, why, beyondSizeLimits(L.width, L.height));

    const uint64_t pixelOffset = le32(data + 10);
    if (pixelOffset < L.tableStart)
        return refuse(ImageError::NotBitmap, why,
                      "bfOffBits " + std::to_string(pixelOffset) + " points into the headers");
    if (pixelOffset >= size)
        return refuse(ImageError::NotBitmap, why,
                      "bfOffBits " + std::to_string(pixelOffset) + " points past the end of the file");

    const int outBc = outputDepth(L);
    std::vector<Rgb> table;
    if (L.bitCount <= 8) table = readTable(data, L, pixelOffset);

    PixelBytes rows;
    const ImageError e = L.compression == kRle8 || L.compression == kRle4
                             ? decodeRle(data + pixelOffset, size - pixelOffset, L, rows, why)
                             : convertRows(data + pixelOffset, size - pixelOffset, L, outBc, rows, why);
    if (e != ImageError::None) return e;

    // Indexed output keeps the table's real length in biClrUsed; without any
    // table the full table is written black (what out-of-table indices show).
    const int full = outBc == 24 ? 0 : 1 << outBc;
    int entries = full;
    uint32_t clrUsed = 0;
    if (outBc != 24 && !table.empty()) {
        entries = static_cast<int>(table.size());
        clrUsed = entries == full ? 0 : static_cast<uint32_t>(entries);
    }

    BitmapInfoHeader h = L.base;
    h.biSize = kHeaderSize;
    h.biWidth = static_cast<int32_t>(L.width);
    h.biHeight = static_cast<int32_t>(L.height);
    h.biPlanes = 1;
    h.biBitCount = static_cast<uint16_t>(outBc);
    h.biCompression = kRgb;
    h.biSizeImage = static_cast<uint32_t>(rows.size());
    h.biClrUsed = clrUsed;
    if (h.biClrImportant > static_cast<uint32_t>(entries)) h.biClrImportant = 0;

    info = makeInfoBlock(h, entries, Rgb{0, 0, 0});
    for (int i = 0; i < static_cast<int>(table.size()) && i < entries; ++i) setInfoColour(info, i, table[i]);
    bits = std::move(rows);
    return ImageError::None;
}

}  // namespace qel
