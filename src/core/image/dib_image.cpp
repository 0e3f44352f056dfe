// The picture record: construction, header rules, load, save, restore and the
// conversions through the display bitmap.
#include "core/image/dib_image.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "core/formats/codecs.h"
#include "core/image/bmp_file.h"
#include "core/image/file_io.h"

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
    for (int i = 0; i < entries; ++i) {
        uint8_t* e = block.data() + kHeaderSize + 4 * i;
        e[0] = fill.b; e[1] = fill.g; e[2] = fill.r; e[3] = 0;
    }
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

const DisplayBitmap* DibImage::loadBytes(const uint8_t* data, size_t size, ImageError* error, std::string* why) {
    return loadFrom(data, size, {}, error, why);
}

const DisplayBitmap* DibImage::loadFrom(const uint8_t* data, size_t size, const std::function<void(size_t)>& passed,
                                        ImageError* error, std::string* why) {
    clear();
    fileFormat = ImageFormat::Unknown;
    if (formatByContent(data, size) == ImageFormat::Unknown) {
        if (why) *why = notAPicture(size);
        return finishLoad(ImageError::NotBitmap, error, why);
    }
    if (needsCodec(data, size)) {
        ImageFormat format = ImageFormat::Unknown;
        CodecResult r = decodePicture(data, size, info, bits, &format, passed);
        if (why) *why = std::move(r.reason);
        if (r) fileFormat = format;
        return finishLoad(r.error, error, why);
    }
    const ImageError e = readBmp(data, size, info, bits, why);
    if (e == ImageError::None) fileFormat = ImageFormat::Bmp;
    return finishLoad(e, error, why);
}

const DisplayBitmap* DibImage::finishLoad(ImageError e, ImageError* error, std::string* why) {
    if (error) *error = e;
    if (e != ImageError::None) {
        info.clear();
        bits.clear();
        return nullptr;
    }
    auto h = header();
    width = h.biWidth;
    height = h.biHeight;
    rebuildPalette();
    if (!rebuildDisplay()) {
        info.clear();
        bits.clear();
        palette.clear();
        if (error) *error = ImageError::NotBitmap;
        if (why) *why = "the pixels cannot be shown";
        return nullptr;
    }
    return displayBitmap.get();
}

const DisplayBitmap* DibImage::loadFile(const std::string& path, ImageError* error, std::string* why) {
    if (path.empty()) {
        if (error) *error = ImageError::MissLoad;
        if (why) *why = "no file name";
        return nullptr;
    }
    clear();
    fileFormat = ImageFormat::Unknown;
    // Files for the format readers are recognised by their first bytes and parsed in memory;
    // BMP files keep the BMP reader's own file path.
    uint8_t head[64];
    size_t headSize = 0;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        headSize = std::fread(head, 1, sizeof head, f);
        std::fclose(f);
    }
    // Content no reader recognises (an empty file among it) is refused here, naming the formats read.
    std::error_code ec;
    const bool empty =
        headSize == 0 && std::filesystem::is_regular_file(path, ec) && std::filesystem::file_size(path, ec) == 0 && !ec;
    if (empty || (headSize > 0 && formatByContent(head, headSize) == ImageFormat::Unknown)) {
        if (why) *why = notAPicture(headSize);
        return finishLoad(ImageError::NotBitmap, error, why);
    }
    if (headSize > 0 && needsCodec(head, headSize)) {
        // Mapped rather than read, so the readers that go through a file in order give back what
        // they have passed; files that cannot be mapped are read whole.
        if (const MappedFile mapped(path); mapped.ok() && mapped.size() <= kMaxVariantFileBytes)
            return loadFrom(mapped.data(), mapped.size(), [&mapped](size_t at) { mapped.passed(at); }, error, why);
        std::vector<uint8_t> data;
        if (!readFileBytes(path, data, kMaxVariantFileBytes)) {
            const bool tooLarge = std::filesystem::file_size(path, ec) > kMaxVariantFileBytes && !ec;
            if (why) *why = tooLarge ? "the file is larger than any picture within the limits" : "the file cannot be read";
            return finishLoad(tooLarge ? ImageError::TooLarge : ImageError::MissLoad, error, why);
        }
        return loadBytes(data.data(), data.size(), error, why);
    }
    const ImageError e = readBmpFile(path, info, bits, why);
    if (e == ImageError::None) fileFormat = ImageFormat::Bmp;
    return finishLoad(e, error, why);
}

std::vector<uint8_t> DibImage::fileBytes() const { return bmpFileBytes(info, bits); }

ImageError DibImage::saveFile(const std::string& path, const SaveOptions& options) const {
    refusalReason.clear();
    if (info.empty()) return ImageError::NoPicture;
    const ImageFormat format = options.format != ImageFormat::Unknown ? options.format : formatByExtension(path);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return ImageError::WriteFailed;
    if (format != ImageFormat::Bmp) {
        std::vector<uint8_t> bytes;
        CodecResult r = encodePicture(*this, format, options.quality, bytes);
        // A TIFF written over a TIFF of several pages keeps the pages after the first.
        std::vector<uint8_t> existing;
        if (r && format == ImageFormat::Tiff && std::filesystem::is_regular_file(path, ec) && readFileBytes(path, existing) &&
            formatByContent(existing.data(), existing.size()) == ImageFormat::Tiff)
            r = keepLaterTiffPages(existing.data(), existing.size(), bytes);
        refusalReason = std::move(r.reason);
        if (!r) return r.error;
        return writeFileAtomically(path, bytes.data(), bytes.size()) ? ImageError::None : ImageError::WriteFailed;
    }
    const auto fileHeader = bmpFileHeader(info.size(), bits.size());
    const bool ok = writeFileAtomically(path, {FilePart{fileHeader.data(), fileHeader.size()},
                                               FilePart{info.data(), info.size()}, FilePart{bits.data(), bits.size()}});
    return ok ? ImageError::None : ImageError::WriteFailed;
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
    for (int i = 0; i < 256; ++i) {
        uint8_t* e = newInfo.data() + kHeaderSize + 4 * i;
        e[0] = dev[i].b; e[1] = dev[i].g; e[2] = dev[i].r; e[3] = 0;
    }
    auto newBits = fromBlocks ? readBack8FromBlocks(info, bits) : readBack8(*displayBitmap);
    return replace(std::move(newInfo), std::move(newBits));
}

}  // namespace qel
