// Classic BMP reader, file writer and the safe save.
#include "core/formats/bmp_file.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "core/formats/bmp_variants.h"
#include "core/formats/file_io.h"
#include "core/image/memory_hint.h"

namespace qel {

bool sizeWithinLimits(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide && width * height <= kMaxPixels;
}

std::string beyondSizeLimits(int64_t width, int64_t height) {
    return std::to_string(width) + " x " + std::to_string(height) + " pixels is beyond 65535 per side or " +
           std::to_string(kMaxPixels) + " in all";
}

namespace {
std::string endsInHeaders(size_t size) {
    return "the file ends within its headers, after " + std::to_string(size) + " bytes";
}
}  // namespace

bool readInfoHeader(const uint8_t* data, size_t size, BitmapInfoHeader& h, std::string* why) {
    if (size < 2 || le16(data) != 0x4D42) return refuse(false, why, kNotBm);
    if (size < kFileHeaderSize + kHeaderSize) return refuse(false, why, endsInHeaders(size));
    std::memcpy(&h, data + kFileHeaderSize, kHeaderSize);
    return true;
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

namespace {

// Checks a classic file and gives the size of its header block; variants and refusals otherwise.
ImageError classicInfoBytes(const uint8_t* data, size_t size, uint64_t& infoBytes, std::string* why) {
    BitmapInfoHeader h;
    if (!readInfoHeader(data, size, h, why)) return ImageError::NotBitmap;
    if (h.biWidth <= 0)
        return refuse(ImageError::NotBitmap, why, "biWidth " + std::to_string(h.biWidth) + " is not positive");
    if (h.biHeight <= 0)
        return refuse(ImageError::NotBitmap, why, "biHeight " + std::to_string(h.biHeight) + " is not positive");
    if (!sizeWithinLimits(h.biWidth, h.biHeight))
        return refuse(ImageError::TooLarge, why, beyondSizeLimits(h.biWidth, h.biHeight));

    // The colour table follows the header directly; pixel rows follow the table up to the end of the file.
    infoBytes = kHeaderSize + 4ull * tableEntries(h);
    const uint64_t available = size - kFileHeaderSize;
    if (available < infoBytes)
        return refuse(ImageError::NotBitmap, why, endsEarly("the colour table", infoBytes - available));
    const uint64_t pixelBytes = available - infoBytes;
    const uint64_t needed = static_cast<uint64_t>(strideFor(h.biWidth, h.biBitCount)) * static_cast<uint64_t>(h.biHeight);
    if (pixelBytes < needed) return refuse(ImageError::NotBitmap, why, endsEarly("pixel data", needed - pixelBytes));
    if (pixelBytes > 0x7FFFFFFFull)  // sizes are 32-bit signed in the record
        return refuse(ImageError::TooLarge, why,
                      std::to_string(pixelBytes) + " bytes of pixel data is beyond 2^31 - 1");
    return ImageError::None;
}

bool isClassic(const uint8_t* data, size_t size) {
    return size >= kFileHeaderSize + kHeaderSize && le16(data) == 0x4D42 && isClassicLayout(data + kFileHeaderSize);
}

}  // namespace

ImageError readBmp(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                   std::string* why) {
    info.clear();
    bits.clear();
    if (size < 2 || le16(data) != 0x4D42) return refuse(ImageError::NotBitmap, why, kNotBm);
    if (size < kFileHeaderSize + 4) return refuse(ImageError::NotBitmap, why, endsInHeaders(size));
    if (!isClassic(data, size)) return readBmpVariant(data, size, info, bits, why);
    uint64_t infoBytes = 0;
    if (ImageError e = classicInfoBytes(data, size, infoBytes, why); e != ImageError::None) return e;
    const uint8_t* hdr = data + kFileHeaderSize;
    info.assign(hdr, hdr + infoBytes);
    bits.assign(hdr + infoBytes, data + size);
    return ImageError::None;
}

ImageError readBmp(PixelBytes&& file, std::vector<uint8_t>& info, PixelBytes& bits,
                   std::string* why) {
    if (!isClassic(file.data(), file.size())) return readBmp(file.data(), file.size(), info, bits, why);
    info.clear();
    bits.clear();
    uint64_t infoBytes = 0;
    if (ImageError e = classicInfoBytes(file.data(), file.size(), infoBytes, why); e != ImageError::None) return e;
    const auto pixelsAt = static_cast<std::ptrdiff_t>(kFileHeaderSize + infoBytes);
    info.assign(file.begin() + kFileHeaderSize, file.begin() + pixelsAt);
    file.erase(file.begin(), file.begin() + pixelsAt);
    bits = std::move(file);
    return ImageError::None;
}

namespace {

// Reads `size` bytes at `offset` into `out`; false on any shortfall.
bool readAt(std::FILE* f, long offset, uint8_t* out, size_t size) {
    return std::fseek(f, offset, SEEK_SET) == 0 && std::fread(out, 1, size, f) == size;
}

// A classic file read straight into its two blocks: the header and table first, then
// the pixel rows into their own buffer, so the rows are neither copied nor moved.
// False (blocks untouched) when the file is not classic or changed while being read.
bool readClassicFile(std::FILE* f, ImageError& result, std::vector<uint8_t>& info, PixelBytes& bits,
                     std::string* why) {
    if (std::fseek(f, 0, SEEK_END) != 0) return false;
    const long end = std::ftell(f);
    uint8_t head[kFileHeaderSize + kHeaderSize];
    if (end < static_cast<long>(sizeof head) || !readAt(f, 0, head, sizeof head)) return false;
    const auto size = static_cast<size_t>(end);
    if (!isClassic(head, size)) return false;
    uint64_t infoBytes = 0;
    result = classicInfoBytes(head, size, infoBytes, why);  // reads the two headers only
    if (result != ImageError::None) return true;
    std::vector<uint8_t> newInfo(static_cast<size_t>(infoBytes));
    const size_t bitsBytes = size - kFileHeaderSize - static_cast<size_t>(infoBytes);
    PixelBytes newBits(bitsBytes);
    adviseLargePages(newBits.data(), bitsBytes);
    if (!readAt(f, kFileHeaderSize, newInfo.data(), newInfo.size())) return false;
    if (!newBits.empty() && std::fread(newBits.data(), 1, newBits.size(), f) != newBits.size()) return false;
    if (std::fgetc(f) != EOF) return false;  // the file grew meanwhile
    info = std::move(newInfo);
    bits = std::move(newBits);
    return true;
}

}  // namespace

ImageError readBmpFile(const std::string& path, std::vector<uint8_t>& info, PixelBytes& bits,
                       std::string* why) {
    info.clear();
    bits.clear();
    std::error_code ec;
    if (path.empty()) return refuse(ImageError::MissLoad, why, "no file name");
    if (std::filesystem::is_directory(path, ec)) return refuse(ImageError::MissLoad, why, "a directory, not a file");
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        ImageError result = ImageError::None;
        const bool done = readClassicFile(f, result, info, bits, why);
        std::fclose(f);
        if (done) return result;
    }
    // Other layouts are parsed in memory: refuse what is no BMP file, or larger than any picture
    // within the limits can be, before reading it whole.
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t magic[2] = {0, 0};
        const bool isBm = std::fread(magic, 1, 2, f) == 2 && le16(magic) == 0x4D42;
        std::fclose(f);
        if (!isBm) return refuse(ImageError::NotBitmap, why, kNotBm);
    } else {
        return refuse(ImageError::MissLoad, why, "cannot be opened");
    }
    const auto fileSize = std::filesystem::file_size(path, ec);
    if (!ec && fileSize > kMaxVariantFileBytes)
        return refuse(ImageError::TooLarge, why,
                      std::to_string(fileSize) + " bytes is beyond the largest file read whole");
    PixelBytes data;
    if (ImageError e = readWholeFile(path, data); e != ImageError::None) return refuse(e, why, "cannot be read");
    return readBmp(std::move(data), info, bits, why);
}

ImageError readWholeFile(const std::string& path, PixelBytes& out) {
    return readFileBytes(path, out) ? ImageError::None : ImageError::MissLoad;
}

std::array<uint8_t, kFileHeaderSize> bmpFileHeader(size_t infoSize, size_t bitsSize) {
    std::array<uint8_t, kFileHeaderSize> out{};
    const auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
    };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<uint32_t>(bitsSize + infoSize + kFileHeaderSize));
    put32(10, static_cast<uint32_t>(infoSize + kFileHeaderSize));
    return out;
}

std::vector<uint8_t> bmpFileBytes(const std::vector<uint8_t>& info, const PixelBytes& bits) {
    const auto header = bmpFileHeader(info.size(), bits.size());
    std::vector<uint8_t> out(kFileHeaderSize + info.size() + bits.size());
    std::memcpy(out.data(), header.data(), kFileHeaderSize);
    if (!info.empty()) std::memcpy(out.data() + kFileHeaderSize, info.data(), info.size());
    if (!bits.empty()) std::memcpy(out.data() + kFileHeaderSize + info.size(), bits.data(), bits.size());
    return out;
}

}  // namespace qel
