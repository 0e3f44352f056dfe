// Classic BMP reader, file writer and the safe save.
#include "image/bmp_file.h"

#include <cstring>

#include "image/bmp_variants.h"
#include "image/file_io.h"

namespace qel {

bool sizeWithinLimits(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

namespace {

bool isClassicLayout(const uint8_t* hdr) {
    const uint32_t biSize = le32(hdr);
    const auto biHeight = static_cast<int32_t>(le32(hdr + 8));
    const uint16_t bitCount = le16(hdr + 14);
    const uint32_t compression = le32(hdr + 16);
    return biSize == 40 && compression == 0 && biHeight > 0 &&
           (bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 24);
}

}  // namespace

ImageError readBmp(const uint8_t* data, size_t size, std::vector<uint8_t>& info, std::vector<uint8_t>& bits) {
    info.clear();
    bits.clear();
    if (size < 2 || le16(data) != 0x4D42) return ImageError::NotBitmap;
    if (size < kFileHeaderSize + 4) return ImageError::NotBitmap;
    const uint8_t* hdr = data + kFileHeaderSize;
    if (size < kFileHeaderSize + kHeaderSize || !isClassicLayout(hdr))
        return readBmpVariant(data, size, info, bits);

    BitmapInfoHeader h;
    std::memcpy(&h, hdr, kHeaderSize);
    if (h.biWidth <= 0 || h.biHeight <= 0) return ImageError::NotBitmap;
    if (!sizeWithinLimits(h.biWidth, h.biHeight)) return ImageError::TooLarge;

    // The colour table follows the header directly; pixel rows follow the table up to the end of the file.
    const uint64_t infoBytes = kHeaderSize + 4ull * tableEntries(h);
    const uint64_t available = size - kFileHeaderSize;
    if (available < infoBytes) return ImageError::NotBitmap;
    const uint64_t pixelBytes = available - infoBytes;
    const uint64_t needed = static_cast<uint64_t>(strideFor(h.biWidth, h.biBitCount)) * static_cast<uint64_t>(h.biHeight);
    if (pixelBytes < needed) return ImageError::NotBitmap;
    if (pixelBytes > 0x7FFFFFFFull) return ImageError::TooLarge;  // sizes are 32-bit signed in the record

    info.assign(hdr, hdr + infoBytes);
    bits.assign(hdr + infoBytes, data + size);
    return ImageError::None;
}

ImageError readWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    return readFileBytes(path, out) ? ImageError::None : ImageError::MissLoad;
}

std::vector<uint8_t> bmpFileBytes(const std::vector<uint8_t>& info, const std::vector<uint8_t>& bits) {
    std::vector<uint8_t> out(kFileHeaderSize + info.size() + bits.size());
    const auto put16 = [&](size_t at, uint16_t v) { out[at] = uint8_t(v); out[at + 1] = uint8_t(v >> 8); };
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
    };
    put16(0, 0x4D42);
    put32(2, static_cast<uint32_t>(bits.size() + info.size() + kFileHeaderSize));
    put16(6, 0);
    put16(8, 0);
    put32(10, static_cast<uint32_t>(info.size() + kFileHeaderSize));
    if (!info.empty()) std::memcpy(out.data() + kFileHeaderSize, info.data(), info.size());
    if (!bits.empty()) std::memcpy(out.data() + kFileHeaderSize + info.size(), bits.data(), bits.size());
    return out;
}

ImageError writeFileSafely(const std::string& path, const std::vector<uint8_t>& bytes) {
    return writeFileAtomically(path, bytes.data(), bytes.size()) ? ImageError::None : ImageError::WriteFailed;
}

}  // namespace qel
