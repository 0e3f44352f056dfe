// The device layer: what the picture looks like on screen and how it is read
// back. A DisplayBitmap is a top-down 32-bit raster (0xFFRRGGBB per pixel,
// rows packed) that the GUI paints without copying. Reading it back gives
// bottom-up rows at 24 bits (exact colours) or at 8 bits through the fixed
// 256-colour device table.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "core/image/pixel_bytes.h"

#include "core/image/memory_hint.h"

namespace qel {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// An allocator that leaves new elements uninitialised: a raster is always filled whole right after
// it is sized, so zeroing hundreds of megabytes first would only cost time.
template <typename T>
struct FillLaterAllocator : std::allocator<T> {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = FillLaterAllocator<U>;
    };
    FillLaterAllocator() = default;
    template <typename U>
    FillLaterAllocator(const FillLaterAllocator<U>&) noexcept {}
    T* allocate(size_t n) {
        T* p = std::allocator<T>::allocate(n);
        adviseLargePages(p, n * sizeof(T));
        return p;
    }
    template <typename U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

struct DisplayBitmap {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t, FillLaterAllocator<uint32_t>> pixels;  // width * height, top row first, 0xFFRRGGBB

    uint32_t pixel(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    Rgb colour(int x, int y) const {
        uint32_t p = pixel(x, y);
        return Rgb{uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)};
    }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(pixels.data()); }
    int bytesPerLine() const { return width * 4; }
};

constexpr uint32_t packRgb(Rgb c) { return 0xFF000000u | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

// Builds the display bitmap of a header block (header + table) and pixel rows.
// Depths 1, 4, 8 and 24; indices beyond the table show black. Returns null for
// a block it cannot show (other depths, missing rows).
std::unique_ptr<DisplayBitmap> buildDisplayBitmap(const std::vector<uint8_t>& info, const PixelBytes& bits);
// Rebuilds `bm` in place from the blocks when they have its size; false (bm untouched) otherwise. A
// picture at the size limits then never holds two display rasters, and nothing is allocated.
bool refillDisplayBitmap(DisplayBitmap& bm, const std::vector<uint8_t>& info, const PixelBytes& bits);
// Whether buildDisplayBitmap can show these blocks, without building anything.
bool displayable(const std::vector<uint8_t>& info, const PixelBytes& bits);

// 24-bit bottom-up rows (stride 3w rounded up to 4, padding 0), exact colours.
PixelBytes readBack24(const DisplayBitmap& bm);

// 8-bit bottom-up rows (stride (w+3)&~3) as device-table indices; padding bytes hold white (215).
PixelBytes readBack8(const DisplayBitmap& bm);

// readBack8 of the display bitmap these blocks would build, without building it (empty
// when they are not displayable).
PixelBytes readBack8FromBlocks(const std::vector<uint8_t>& info, const PixelBytes& bits);

// The device's 256 colours: 0..215 the cube 36r+6g+b over 0,51,...,255,
// 216..255 the greys round(255k/41), k = 1..40.
const std::array<Rgb, 256>& deviceTable();
constexpr int kDeviceBlack = 0;
constexpr int kDeviceWhite = 215;

// Device-table entry at the smallest squared distance; lowest index on ties.
uint8_t nearestDeviceIndex(Rgb c);

}  // namespace qel
