// DibImage: the one picture record every operation works on. It holds a
// device-independent bitmap (a 40-byte BITMAPINFOHEADER with its colour table
// in `info`, bottom-up padded pixel rows in `bits`), the display bitmap built
// from them, the logical palette and the colour histogram. This header also
// offers the rules all image code shares: colour-table size, row stride and
// pixel addressing, so no operation derives them on its own.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/image/display_bitmap.h"
#include "core/image/op_result.h"
#include "core/image/pixel_bytes.h"

static_assert(std::endian::native == std::endian::little, "BMP blocks are handled in host order");

namespace qel {


// BITMAPINFOHEADER as stored in files and in `info` (little-endian, 40 bytes, no padding).
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 4740;
    int32_t biYPelsPerMeter = 4740;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

constexpr int kHeaderSize = 40;
constexpr int kFileHeaderSize = 14;
constexpr int kHistogramCells = 64 * 64 * 64;
constexpr Rgb kGreyFill{205, 205, 205};  // unused table entries, empty palette slots, default transparent colour

// The header operations write when they build a picture from scratch.
BitmapInfoHeader newHeader(int32_t width, int32_t height, uint16_t bitCount, uint32_t clrUsed,
                           uint32_t sizeImage);

// Colour-table rule: biClrUsed (as a 16-bit count) when non-zero, else by depth.
int tableEntries(const BitmapInfoHeader& h);

// Bytes per stored row: ((w * bitCount + 31) / 32) * 4, in 64 bits.
constexpr int64_t strideFor(int64_t width, int bitCount) {
    return ((width * bitCount + 31) / 32) * 4;
}

// Why a record operation failed; callers turn these into the user's messages.
enum class ImageError {
    None,
    MissLoad,      // the file cannot be opened or read
    NotBitmap,     // not a BMP file, or one the reader cannot hold
    TooLarge,      // a side above 65535 or more than 2^28 pixels
    Unsupported,   // a variant the readers do not take (unknown BMP compression, animated WebP, ...)
    WriteFailed,   // the file could not be written; any old file is untouched
    NoPicture,     // the record holds no picture
    UnknownFormat, // saving: the file name has no extension of a format that can be written
};

// File formats pictures are read from (by content) and written to (by extension).
enum class ImageFormat { Unknown, Bmp, Png, Jpeg, Tiff, Webp, Gif };

// How saveFile writes: the format (Unknown: by the file name's extension) and the
// quality of lossy formats (0: JPEG at 90, WebP lossless; 1..100: JPEG or lossy WebP at Q) and
// the effort of a PNG's compression (1 fastest .. 9 smallest; 0: the default, 7).
struct SaveOptions {
    ImageFormat format = ImageFormat::Unknown;
    int quality = 0;
    int pngEffort = 0;
};

struct UserMessage {
    const char* text;
    const char* title;
};
// The message box text and title a caller shows for an error (None gives empty strings).
UserMessage messageFor(ImageError e);

class DibImage {
public:
    DibImage();
    DibImage(const DibImage&) = delete;
    DibImage& operator=(const DibImage&) = delete;

    // --- the record ---
    std::unique_ptr<DisplayBitmap> displayBitmap;  // what the view paints; null without a picture
    std::vector<Rgb> palette;                      // logical palette, rebuilt on load and restore
    PixelBytes bits;                               // pixel rows, bottom row first
    std::vector<uint8_t> info;                     // header + colour table
    int32_t width = 0;                             // biWidth/biHeight as of the last load or restore
    int32_t height = 0;
    std::vector<int32_t> histogram;                // 64*64*64 counts, red slowest; empty until the first count
    int32_t colourCount = 0;

    // A record nobody looks at (the batch tool) may defer the display raster: rebuildDisplay then only
    // checks the blocks and records the size, and display() builds the pixels when they are first read.
    bool deferDisplay = false;
    // The display bitmap with its pixels built; null without a picture.
    const DisplayBitmap* display();

    int32_t infoSize() const { return static_cast<int32_t>(info.size()); }
    int32_t bitsSize() const { return static_cast<int32_t>(bits.size()); }
    bool hasPicture() const { return !info.empty() && displayBitmap != nullptr; }
    bool hasBlocks() const { return info.size() >= kHeaderSize && !bits.empty(); }
    // True when the header describes at least one pixel and `bits` holds every row of it.
    bool pixelRowsPresent() const;

    // --- header and table access (copies; `info` is a byte block) ---
    BitmapInfoHeader header() const {
        BitmapInfoHeader h;
        if (info.size() >= kHeaderSize) std::memcpy(&h, info.data(), kHeaderSize);
        else h = BitmapInfoHeader{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        return h;
    }
    void setHeader(const BitmapInfoHeader& h) {
        if (info.size() < kHeaderSize) info.resize(kHeaderSize);
        std::memcpy(info.data(), &h, kHeaderSize);
    }
    int bitCount() const { return header().biBitCount; }
    // Entries physically present in `info` after the header.
    int tableSize() const { return info.size() > kHeaderSize ? static_cast<int>((info.size() - kHeaderSize) / 4) : 0; }
    uint8_t* table() { return info.data() + kHeaderSize; }
    const uint8_t* table() const { return info.data() + kHeaderSize; }
    // Table entry i as a colour; entries beyond the table read black, so pixel indices are never trusted.
    Rgb tableColour(int i) const {
        if (i < 0 || i >= tableSize()) return Rgb{0, 0, 0};
        const uint8_t* e = table() + 4 * i;
        return Rgb{e[2], e[1], e[0]};
    }
    void setTableColour(int i, Rgb c) {
        if (i < 0 || i >= tableSize()) return;
        uint8_t* e = table() + 4 * i;
        e[0] = c.b; e[1] = c.g; e[2] = c.r;
    }

    // --- pixel addressing; y counts from the top, stored row is height-1-y ---
    int64_t stride() const { auto h = header(); return strideFor(h.biWidth, h.biBitCount); }
    uint8_t* rowFromTop(int y) {
        auto h = header();
        return bits.data() + static_cast<int64_t>(h.biHeight - 1 - y) * strideFor(h.biWidth, h.biBitCount);
    }
    const uint8_t* rowFromTop(int y) const { return const_cast<DibImage*>(this)->rowFromTop(y); }
    // Colour index of pixel (x, y) of a 1-, 4- or 8-bit picture.
    int indexAt(int x, int y) const;
    // Colour of pixel (x, y) at any depth (table colour for indexed pictures).
    Rgb colourAt(int x, int y) const;

    // --- whole-record operations ---
    void clear();
    // Sets biSizeImage to the pixel block's size, as every snapshot before an operation does.
    void stampSizeImage();
    // Loads a picture file of any readable format, recognised by content. Returns the display
    // bitmap, or null with *error set (record left empty) and the reader's reason in *why.
    const DisplayBitmap* loadFile(const std::string& path, ImageError* error = nullptr, std::string* why = nullptr);
    // Same, from bytes already in memory.
    const DisplayBitmap* loadBytes(const uint8_t* data, size_t size, ImageError* error = nullptr,
                                   std::string* why = nullptr);
    // Writes the record through a temporary file renamed over the target, in the format the
    // options or the file name's extension choose (.bmp: the classic BMP writer).
    ImageError saveFile(const std::string& path, const SaveOptions& options = {}) const;
    // loadFile then saveFile as one job: to PNG and JPEG the writer runs beside the reader, taking
    // rows as they are read. Returns as loadFile does (nothing is written when the read fails);
    // after a read, *saved is the save's result and the record holds the picture. With `keep`
    // false the picture may pass through a window of a few bands (memory for those only) when
    // both sides go through it top down; the record is then left empty, and a successful read
    // returns a display bitmap with the picture's size and no pixels.
    const DisplayBitmap* convertFile(const std::string& in, const std::string& out, const SaveOptions& options,
                                     ImageError* saved, ImageError* error = nullptr, std::string* why = nullptr,
                                     bool keep = true);
    // The format of the last file loaded (Unknown for pictures made otherwise), and why the last
    // save was refused, in a short English phrase (empty when the error says it all).
    ImageFormat fileFormat = ImageFormat::Unknown;
    mutable std::string refusalReason;
    // The BMP file bytes saveFile writes for .bmp.
    std::vector<uint8_t> fileBytes() const;
    // Becomes a copy of a saved header block and pixel block (undo and redo).
    const DisplayBitmap* restoreFrom(const std::vector<uint8_t>& headerBlock, const PixelBytes& pixelBlock);
    // Rebuilds the image as a 24-bit picture from a display bitmap (paste, 24-bit conversion).
    const DisplayBitmap* fromBitmap(const DisplayBitmap& source);
    // Re-reads the picture at 8 bits through the device table (line-art filters).
    const DisplayBitmap* rereadAs8Bit();
    // Rebuilds displayBitmap from info and bits; every pixel-changing operation ends with it.
    const DisplayBitmap* rebuildDisplay();
    // Rebuilds the logical palette from the colour table.
    void rebuildPalette();
    // Replaces both blocks at once (header + table, pixels) and rebuilds the display bitmap.
    const DisplayBitmap* replace(std::vector<uint8_t> newInfo, PixelBytes newBits);

private:
    const DisplayBitmap* finishLoad(ImageError e, ImageError* error, std::string* why);
    // loadBytes, telling `passed` (when set) how far a format reader has gone through the bytes.
    const DisplayBitmap* loadFrom(const uint8_t* data, size_t size, const std::function<void(size_t)>& passed,
                                  ImageError* error, std::string* why);
    bool displayPending_ = false;  // displayBitmap holds the size only; display() fills it
};

// Header block for a new picture with `entries` table entries filled with `fill`.
std::vector<uint8_t> makeInfoBlock(const BitmapInfoHeader& h, int entries, Rgb fill = kGreyFill);
// Table entry i of a header block (stored blue, green, red, 0); the block holds the entry.
inline void setInfoColour(std::vector<uint8_t>& info, int i, Rgb c) {
    uint8_t* e = info.data() + kHeaderSize + 4 * size_t(i);
    e[0] = c.b, e[1] = c.g, e[2] = c.r, e[3] = 0;
}

}  // namespace qel
