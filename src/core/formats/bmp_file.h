// BMP file reading and writing. The reader takes the classic layout (14-byte
// file header, 40-byte info header, colour table, pixel rows) byte for byte and
// hands every other layout to the variant reader, which converts it to the
// classic one. The writer saves through a temporary file, so a failed save
// never destroys the file it was to replace.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/image/dib_image.h"

namespace qel {

// Largest picture any reader accepts; checked before any allocation.
constexpr int64_t kMaxSide = 65535;
constexpr int64_t kMaxPixels = int64_t(1) << 28;
bool sizeWithinLimits(int64_t width, int64_t height);
// Largest file of a non-classic layout that is read into memory: 2^28 pixels at 32 bits, headers,
// a full table and some slack. A classic file's rows are read in place instead.
constexpr uint64_t kMaxVariantFileBytes = (uint64_t(1) << 30) + (uint64_t(1) << 20);

// Every reader that refuses a file can also say why: given `why`, it stores a short
// English reason there ("bfType is not BM", "pixel data ends 1200 bytes early").
// The info header of a file that starts with "BM" and holds both headers; false (with the reason) for
// anything shorter or without the mark (no other field is checked).
bool readInfoHeader(const uint8_t* data, size_t size, BitmapInfoHeader& h, std::string* why = nullptr);

// Parses a whole BMP file held in memory into a header block and pixel rows.
ImageError readBmp(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                   std::string* why = nullptr);
// Same, taking over the file's buffer: a classic file's pixel rows stay where
// they were read instead of being copied (large pictures load with one buffer).
ImageError readBmp(PixelBytes&& file, std::vector<uint8_t>& info, PixelBytes& bits,
                   std::string* why = nullptr);

// Reads a BMP file into the two blocks, with the same results as readBmp on the file's
// bytes. A classic file's pixel rows are read straight into `bits` (one buffer, no copy).
ImageError readBmpFile(const std::string& path, std::vector<uint8_t>& info, PixelBytes& bits,
                       std::string* why = nullptr);
// Reads a file's bytes (MissLoad when it cannot be opened or read).
ImageError readWholeFile(const std::string& path, PixelBytes& out);

// A reader's refusal: stores `reason` in *why when asked and returns `error`.
template <typename Error>
Error refuse(Error error, std::string* why, std::string reason) {
    if (why) *why = std::move(reason);
    return error;
}
// The reasons more than one reader gives.
inline std::string endsEarly(const char* what, uint64_t missing) {
    return std::string(what) + " ends " + std::to_string(missing) + (missing == 1 ? " byte" : " bytes") + " early";
}
std::string beyondSizeLimits(int64_t width, int64_t height);
inline constexpr const char* kNotBm = "bfType is not BM";

// File header + info + bits, with bfSize and bfOffBits computed.
std::vector<uint8_t> bmpFileBytes(const std::vector<uint8_t>& info, const PixelBytes& bits);
// The 14-byte file header alone.
std::array<uint8_t, kFileHeaderSize> bmpFileHeader(size_t infoSize, size_t bitsSize);


// Little-endian reads used by the readers.
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

}  // namespace qel
