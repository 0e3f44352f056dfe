// The picture record: construction, header rules, load, save, restore and the
// conversions through the display bitmap.
#include "core/image/dib_image.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>


namespace qel {

BitmapInfoHeader newHeader(int32_t width, int32_t height, uint16_t bitCount, uint32_t clrUsed, uint32_t sizeImage) {
    BitmapInfoHeader h;
    h.biSize = 40;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bitCount;
    h.biCompression = 0;
    h.biSizeImage = sizeImage;
    h.biXPelsPerMeter = 4740;
    h.biYPelsPerMeter = 4740;
    h.biClrUsed = clrUsed;
    h.biClrImportant = 0;
    return h;
}

int tableEntries(const BitmapInfoHeader& h) {
    if (h.biClrUsed != 0) return static_cast<uint16_t>(h.biClrUsed);
    switch (h.biBitCount) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

bool DibImage::pixelRowsPresent() const {
    if (!hasBlocks()) return false;
    const auto hd = header();
    if (hd.biWidth <= 0 || hd.biHeight <= 0) return false;
    const int64_t need = strideFor(hd.biWidth, hd.biBitCount) * hd.biHeight;
    return need > 0 && need <= static_cast<int64_t>(bits.size());
}

void DibImage::stampSizeImage() {
    if (info.size() < kHeaderSize) return;
    auto h = header();
    h.biSizeImage = static_cast<uint32_t>(bitsSize());
    setHeader(h);
}

UserMessage messageFor(ImageError e) {
    switch (e) {
    case ImageError::None: return {"", ""};
    case ImageError::MissLoad: return {"Miss Load!!", "error"};
    case ImageError::NotBitmap: return {"Not Bitmap!!", "error"};
    case ImageError::TooLarge: return {"Too Large!! (65535 x 65535, 268435456 pixels at most)", "error"};
    case ImageError::Unsupported: return {"Not Supported!!", "error"};
    case ImageError::WriteFailed: return {"Miss Save!!", "error"};
    case ImageError::NoPicture: return {"画像がありません。", "error"};
    case ImageError::UnknownFormat: return {"Unknown File Type!! (.bmp .png .jpg .jpeg .tif .tiff .webp)", "error"};
    }
    return {"", ""};
}

std::vector<uint8_t> makeInfoBlock(const BitmapInfoHeader& h, int entries, Rgb fill) {
    std::vector<uint8_t> block(kHeaderSize + 4 * static_cast<size_t>(std::max(entries, 0)));
    std::memcpy(block.data(), &h, kHeaderSize);
    for (int i = 0; i < entries; ++i) setInfoColour(block, i, fill);
    return block;
}

// The histogram is allocated by the first colour count, so records that are never counted
// (undo copies, pictures only converted or filtered) do not carry its megabyte.
DibImage::DibImage() = default;

int DibImage::indexAt(int x, int y) const {
    const uint8_t* row = rowFromTop(y);
    switch (bitCount()) {
    case 8: return row[x];
    case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
    default: return 0;
    }
}

Rgb DibImage::colourAt(int x, int y) const {
    if (bitCount() == 24) {
        const uint8_t* p = rowFromTop(y) + 3 * x;
        return Rgb{p[2], p[1], p[0]};
    }
    return tableColour(indexAt(x, y));
}

void DibImage::clear() {
    displayBitmap.reset();
    displayPending_ = false;
    palette.clear();
    bits.clear();
    bits.shrink_to_fit();
    info.clear();
    info.shrink_to_fit();
}

void DibImage::rebuildPalette() {
    palette.clear();
    const int n = std::min(tableEntries(header()), tableSize());
    palette.reserve(n);
    for (int i = 0; i < n; ++i) palette.push_back(tableColour(i));
}

const DisplayBitmap* DibImage::rebuildDisplay() {
    displayPending_ = false;
    if (deferDisplay) {
        displayBitmap.reset();
        if (!displayable(info, bits)) return nullptr;
        auto h = header();
        displayBitmap = std::make_unique<DisplayBitmap>();
        displayBitmap->width = h.biWidth;
        displayBitmap->height = h.biHeight;
        displayPending_ = true;
        return displayBitmap.get();
    }
    if (displayBitmap && refillDisplayBitmap(*displayBitmap, info, bits)) return displayBitmap.get();
    displayBitmap = buildDisplayBitmap(info, bits);
    return displayBitmap.get();
}

const DisplayBitmap* DibImage::display() {
    if (displayPending_) {
        displayBitmap = buildDisplayBitmap(info, bits);
        displayPending_ = false;
    }
    return displayBitmap.get();
}

const DisplayBitmap* DibImage::replace(std::vector<uint8_t> newInfo, PixelBytes newBits) {
    info = std::move(newInfo);
    bits = std::move(newBits);
    return rebuildDisplay();
}

const DisplayBitmap* DibImage::restoreFrom(const std::vector<uint8_t>& headerBlock, const PixelBytes& pixelBlock) {
    if (headerBlock.size() < kHeaderSize) return nullptr;
    BitmapInfoHeader h;
    std::memcpy(&h, headerBlock.data(), kHeaderSize);
    const size_t infoBytes = kHeaderSize + 4 * static_cast<size_t>(tableEntries(h));
    // Everything new is allocated before the record changes, so a restore that runs out of memory throws
    // with the record as it was. A pixel block and display raster of the present size are refilled in place.
    std::vector<uint8_t> newInfo(infoBytes, 0);
    std::memcpy(newInfo.data(), headerBlock.data(), std::min(infoBytes, headerBlock.size()));
    const bool bitsInPlace = bits.size() == h.biSizeImage;
    PixelBytes newBits;
    if (!bitsInPlace) newBits = PixelBytes(h.biSizeImage);
    std::unique_ptr<DisplayBitmap> newDisplay;
    const bool displayInPlace =
        deferDisplay || (displayBitmap && displayBitmap->width == h.biWidth && displayBitmap->height == h.biHeight);
    if (!displayInPlace && displayable(newInfo, bitsInPlace ? bits : newBits)) {
        newDisplay = std::make_unique<DisplayBitmap>();
        newDisplay->width = h.biWidth;
        newDisplay->height = h.biHeight;
        newDisplay->pixels.resize(static_cast<size_t>(int64_t(h.biWidth) * h.biHeight));
    }
    PixelBytes& target = bitsInPlace ? bits : newBits;
    std::fill(target.begin(), target.end(), uint8_t(0));
    if (!pixelBlock.empty() && h.biSizeImage != 0)
        std::memcpy(target.data(), pixelBlock.data(), std::min<size_t>(h.biSizeImage, pixelBlock.size()));
    info.swap(newInfo);
    if (!bitsInPlace) bits.swap(newBits);
    if (newDisplay) displayBitmap = std::move(newDisplay);
    width = h.biWidth;
    height = h.biHeight;
    rebuildPalette();
    return rebuildDisplay();
}

const DisplayBitmap* DibImage::fromBitmap(const DisplayBitmap& source) {
    const int32_t w = source.width, h = source.height;
    const auto stride = static_cast<uint32_t>(strideFor(w, 24));
    auto newInfo = makeInfoBlock(newHeader(w, h, 24, 0, stride * static_cast<uint32_t>(h)), 0);
    auto newBits = readBack24(source);
    return replace(std::move(newInfo), std::move(newBits));
}

const DisplayBitmap* DibImage::rereadAs8Bit() {
    if (!hasBlocks()) return nullptr;
    // A display still to be built would come from the blocks as they stand: read them
    // back directly instead of building the raster first.
    const bool fromBlocks = displayPending_ && displayable(info, bits);
    if (!fromBlocks && !display()) return nullptr;
    auto hd = header();
    const int32_t w = hd.biWidth, h = hd.biHeight;
    const auto size = static_cast<uint32_t>(strideFor(w, 8) * h);
    std::vector<uint8_t> newInfo = makeInfoBlock(newHeader(w, h, 8, 256, size), 256);
    const auto& dev = deviceTable();
    for (int i = 0; i < 256; ++i) setInfoColour(newInfo, i, dev[i]);
    auto newBits = fromBlocks ? readBack8FromBlocks(info, bits) : readBack8(*displayBitmap);
    return replace(std::move(newInfo), std::move(newBits));
}

}  // namespace qel
