// Picture files other than classic BMP: PNG, JPEG, TIFF, WebP and GIF (read
// only), and BMP files carrying an embedded JPEG or PNG stream. Each reader
// turns a file into the record's two blocks at the depth that keeps the file's
// pixels exactly:
//   palette 1/4/8 bits -> same depth (2 bits -> 4), the file's palette as table;
//   grey 1 bit -> 1-bit black/white, grey 2..16 bits -> 8-bit with a 256-step grey table;
//   colour -> 24 bits; 16-bit samples become (v * 255 + 32767) / 65535;
//   alpha and transparent colours are composited over white.
// Sizes are checked against the record's limits from the header, before any
// pixel buffer is allocated. Refusals carry a short English reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/image/dib_image.h"

namespace qel {

// The outcome of a read or a write: ImageError::None, or the error with a reason.
struct CodecResult {
    ImageError error = ImageError::None;
    std::string reason;
    explicit operator bool() const { return error == ImageError::None; }
};

// The format of a file's bytes (Unknown for anything unrecognised).
ImageFormat formatByContent(const uint8_t* data, size_t size);
// The format a file name's extension names, case-insensitively (Unknown for none or another).
ImageFormat formatByExtension(std::string_view path);
// "BMP", "PNG", "JPEG", "TIFF", "WebP", "GIF" ("unknown").
const char* formatName(ImageFormat format);
bool canWrite(ImageFormat format);
// The extensions saving knows, as shown to users: ".bmp .png .jpg .jpeg .tif .tiff .webp".
const char* writableExtensions();

// Why content that no reader takes is refused ("the file is empty", or not a picture format
// Qel reads), naming the formats that are read.
std::string notAPicture(size_t size);

// True when the bytes are for decodePicture rather than the BMP reader: a PNG, JPEG,
// TIFF, WebP or GIF file, or a BMP file whose pixels are an embedded JPEG or PNG stream.
bool needsCodec(const uint8_t* data, size_t size);
// Told by a reader that it needs no byte before the given offset any more (it may still read them).
using InputPassed = std::function<void(size_t offset)>;

// Hands a picture being read over to a writer running beside the reader (a conversion). The reader
// says when the picture's blocks are made and how many rows from the top are final; the writer
// waits for the rows it reads and says when it has stopped reading.
// When the picture need not be kept and both sides go through the rows in order, the rows pass
// through a window of a few bands instead of the pixel block (which stays empty): the reader
// waits for room, the writer says which rows it is done with.
class RowFeed {
public:
    // Converter: rows may pass through a window sized for this writer (PNG or JPEG) running on
    // the calling thread's row threads.
    void allowWindow(ImageFormat writer);
    // Reader: true when the picture's rows (from the top, `stride` bytes each) go through a window
    // of rowsInWindow() rows rather than the pixel block. Called before made().
    bool openWindow(int64_t stride, int height);
    // Reader: where row y is written, rows 0 .. y - 1 being final; waits until the writer is done
    // with row y - rowsInWindow() (or has stopped).
    uint8_t* rowToWrite(int y);
    // Writer: whether the rows are in the window; where final row y is; rows 0 .. n - 1 are not
    // read again.
    bool windowed() const { return !window_.empty(); }
    const uint8_t* rowToRead(int y) const { return window_.data() + stride_ * size_t(y % capacity_); }
    void done(int n);
    // Writer: it has failed and reads no more rows; the reader goes on without waiting for room.
    void stop();
    int rowsInWindow() const { return capacity_; }

    // Reader: the header block and pixel block have their final size (rows still zero).
    void made();
    // Reader: rows 0 to n - 1 from the top are final.
    void rows(int n);
    // Reader: the read is over; on success every row is final. On failure the reader then waits
    // for released() before taking the blocks away.
    void end(bool ok);
    void waitReleased();
    // Writer: false when the read ended without them (then stop reading the picture).
    bool waitMade();
    bool waitRows(int n);
    bool waitEnd();  // the read's outcome
    void released();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool made_ = false, ended_ = false, ok_ = false, released_ = false, stopped_ = false;
    int rows_ = 0;
    ImageFormat writer_ = ImageFormat::Unknown;
    int writerThreads_ = 1;
    std::vector<uint8_t> window_, spare_;  // spare_: where rows go once the writer has stopped
    size_t stride_ = 0;
    int capacity_ = 1, done_ = 0;
};

// Reads such a file into a header block and pixel rows (both cleared on refusal). With `feed`, a
// writer may read the rows as they are made.
CodecResult decodePicture(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                          ImageFormat* format = nullptr, const InputPassed& passed = {}, RowFeed* feed = nullptr);

// What a file's header declares, read without decoding its pixels: the size and the
// depth the reader would give the picture (1, 4, 8 or 24).
struct PictureShape {
    int64_t width = 0;
    int64_t height = 0;
    int bitCount = 0;
    // Bytes of the picture's pixel block.
    uint64_t pixelBytes() const { return uint64_t(strideFor(width, bitCount)) * uint64_t(height); }
};
// The shape of a file of any readable format (BMP included), recognised by content.
CodecResult probePicture(const uint8_t* data, size_t size, PictureShape& shape, ImageFormat* format = nullptr);
// The file bytes of the record in a format other than BMP. `pngEffort` 1..9 trades a PNG's
// writing time for its size (0: the default); other formats refuse anything but 0.
CodecResult encodePicture(const DibImage& image, ImageFormat format, int quality, std::vector<uint8_t>& out,
                          int pngEffort = 0);
// The same, the bytes handed to `write` in order as they are made (a PNG's chunks as each slice is
// compressed, so the compressed picture is never held whole). `write` may be called from another
// thread, never from two at once; a false from it ends the encoding, refused without a reason.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;
// With `feed`, the picture is still being read: rows are read as the feed says they are final, and
// the encoding is refused (without a reason) when the read fails.
CodecResult encodePicture(const DibImage& image, ImageFormat format, int quality, const ByteSink& write,
                          RowFeed* feed = nullptr, int pngEffort = 0);
// Saving a TIFF over an existing one: `out`, a one-page TIFF, gets pages 2..N of the existing
// file's bytes after its page, copied as they are coded; unchanged when that file has one page or
// is not a readable TIFF. Refused when a page cannot be copied.
CodecResult keepLaterTiffPages(const uint8_t* existing, size_t size, std::vector<uint8_t>& out);

}  // namespace qel
