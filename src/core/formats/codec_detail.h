// What the format readers and writers share: refusals, the size check, the
// new picture's blocks, sample scaling and compositing over white.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/formats/codecs.h"

namespace qel::codec {

inline CodecResult refuse(ImageError e, std::string reason) { return CodecResult{e, std::move(reason)}; }
inline CodecResult damaged(const std::string& format, const std::string& what) {
    return refuse(ImageError::NotBitmap, format + " file damaged or truncated: " + what);
}
// The record's limits, checked on the size a header claims.
CodecResult checkSize(int64_t width, int64_t height);

// The blocks of a new picture: a 1/4/8-bit one with `table` as its colour table, or a
// 24-bit one; rows are zero. Pixel rows are addressed from the top with row().
// With a feed from a reader that fills the rows once each, top down, a colour or grey picture's
// rows go through the feed's window when it opens one (the pixel block then stays empty).
struct NewPicture {
    NewPicture(std::vector<uint8_t>& info, PixelBytes& bits, int width, int height, int bitCount,
               const std::vector<Rgb>& table = {}, RowFeed* feed = nullptr);
    uint8_t* row(int y) const { return window_ ? window_->rowToWrite(y) : bits_.data() + (height - 1 - y) * stride; }
    int width, height, bitCount;
    int64_t stride;
    PixelBytes& bits_;
    RowFeed* window_ = nullptr;
};
// Rows a conversion's window holds for each writer: enough for each of the writer's threads to
// code a band (or compress a slice) while the reader fills the next.
int pngWindowRows(int64_t stride, int threads);
int jpegWindowRows(int threads);
// Top-down row y of the picture being written: in its pixel block or in the feed's window.
inline const uint8_t* rowToEncode(const DibImage& image, const RowFeed* feed, int y) {
    return feed && feed->windowed() ? feed->rowToRead(y) : image.rowFromTop(y);
}

// Rows of an 8- or 24-bit picture arriving top-down as the file stores them, put where an
// orientation tag (EXIF or TIFF, 1..8) places them: 2 mirrors, 3 turns half round, 4 flips,
// 5 transposes, 6 turns a quarter clockwise, 7 transverses, 8 turns a quarter anticlockwise.
// The picture is made with the turned size (width and height swapped from 5 on).
class OrientedRows {
public:
    OrientedRows(NewPicture& pic, int orientation, int storedWidth, int storedHeight);
    // Where stored row y can be decoded in place (orientation 1 only).
    uint8_t* direct(int y) const { return pic_.row(y); }
    // A row-sized buffer to decode a stored row into before put().
    uint8_t* scratch() { return scratch_.data(); }
    void put(int y, const uint8_t* row);

private:
    NewPicture& pic_;
    int orientation_, width_, height_, bytes_;
    std::vector<uint8_t> scratch_;
};

// 0, 255/(2^depth - 1), ... 255: grey steps of 1-, 2-, 4- and 8-bit samples on the 8-bit scale.
inline uint8_t greyStep(unsigned v, int depth) { return static_cast<uint8_t>(v * 255u / ((1u << depth) - 1)); }
inline uint8_t from16(unsigned v) { return static_cast<uint8_t>((v * 255u + 32767u) / 65535u); }
// A colour sample c with alpha a (same scale, max m) composited over white, on the 8-bit scale.
inline uint8_t overWhite8(unsigned c, unsigned a) { return static_cast<uint8_t>((c * a + 255u * (255u - a) + 127u) / 255u); }
inline uint8_t overWhite16(uint32_t c, uint32_t a) {
    return from16(static_cast<uint32_t>((uint64_t(c) * a + uint64_t(65535) * (65535 - a) + 32767) / 65535));
}
std::vector<Rgb> greyTable();

// The record's pixels as top-down rows of 8-bit R, G, B (or B, G, R), tightly packed.
std::vector<uint8_t> colourRows(const DibImage& image, bool bgr);
// True for an 8-bit picture whose table is the 256-step grey table: written as grey, not palette.
bool hasGreyTable(const DibImage& image);
// True when the record's blocks hold a whole picture at 1, 4, 8 or 24 bits.
// With a feed whose window holds the rows, the pixel block is not looked at.
CodecResult checkWritable(const DibImage& image, const RowFeed* feed = nullptr);

// With a feed, the PNG and JPEG readers say when the picture is made and each row as it is final.
CodecResult decodePng(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                      const InputPassed& passed, RowFeed* feed = nullptr);
CodecResult decodeJpeg(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                       const InputPassed& passed = {}, RowFeed* feed = nullptr);
CodecResult decodeTiff(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                       const InputPassed& passed);
CodecResult decodeWebp(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits);
CodecResult decodeGif(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits);

// Each reader's header check for probePicture: size and resulting depth, no pixels decoded.
CodecResult probePng(const uint8_t* data, size_t size, PictureShape& shape);
CodecResult probeJpeg(const uint8_t* data, size_t size, PictureShape& shape);
CodecResult probeTiff(const uint8_t* data, size_t size, PictureShape& shape);
CodecResult probeWebp(const uint8_t* data, size_t size, PictureShape& shape);
CodecResult probeGif(const uint8_t* data, size_t size, PictureShape& shape);

// The file's bytes handed to `write` in order, each IDAT chunk as soon as it and those before it are made.
// With a feed (the picture still being read), rows are read once the feed has them. `effort` 1..9
// trades time for size (0: the default, 7).
CodecResult encodePng(const DibImage& image, const ByteSink& write, RowFeed* feed, int effort = 0);
// The JPEG file handed to `write` in order as its bands are joined.
CodecResult encodeJpeg(const DibImage& image, int quality, const ByteSink& write, RowFeed* feed);
CodecResult encodeTiff(const DibImage& image, std::vector<uint8_t>& out);
CodecResult encodeWebp(const DibImage& image, int quality, std::vector<uint8_t>& out);

}  // namespace qel::codec
