// Format recognition, dispatch to the readers and writers, and what they share.
#include "core/formats/codecs.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/formats/codec_detail.h"
#include "core/formats/bmp_file.h"
#include "core/image/memory_hint.h"
#include "core/image/parallel_rows.h"

namespace qel {

namespace {

bool startsWith(const uint8_t* data, size_t size, const char* magic, size_t n) {
    return size >= n && std::memcmp(data, magic, n) == 0;
}

// A BMP file whose pixels are an embedded stream (compression 4 JPEG, 5 PNG): the
// stream's offset, size and format, or Unknown for any other BMP file.
ImageFormat embeddedStream(const uint8_t* data, size_t size, size_t& offset, size_t& length) {
    if (size < kFileHeaderSize + kHeaderSize || le16(data) != 0x4D42) return ImageFormat::Unknown;
    const uint32_t biSize = le32(data + kFileHeaderSize);
    // Only Windows headers: in OS/2 2.x headers (16 and 64 bytes) 4 means RLE24.
    if (biSize < 40 || biSize == 64) return ImageFormat::Unknown;
    const uint32_t compression = le32(data + kFileHeaderSize + 16);
    if (compression != 4 && compression != 5) return ImageFormat::Unknown;
    offset = le32(data + 10);
    const uint32_t sizeImage = le32(data + kFileHeaderSize + 20);
    length = offset < size ? size - offset : 0;
    if (sizeImage != 0 && sizeImage < length) length = sizeImage;
    return compression == 4 ? ImageFormat::Jpeg : ImageFormat::Png;
}

}  // namespace

ImageFormat formatByContent(const uint8_t* data, size_t size) {
    if (startsWith(data, size, "\x89PNG\r\n\x1a\n", 8)) return ImageFormat::Png;
    if (startsWith(data, size, "\xff\xd8\xff", 3)) return ImageFormat::Jpeg;
    if (startsWith(data, size, "II*\0", 4) || startsWith(data, size, "MM\0*", 4) ||
        startsWith(data, size, "II+\0", 4) || startsWith(data, size, "MM\0+", 4))
        return ImageFormat::Tiff;
    if (size >= 12 && startsWith(data, size, "RIFF", 4) && std::memcmp(data + 8, "WEBP", 4) == 0) return ImageFormat::Webp;
    if (startsWith(data, size, "GIF87a", 6) || startsWith(data, size, "GIF89a", 6)) return ImageFormat::Gif;
    if (startsWith(data, size, "BM", 2)) return ImageFormat::Bmp;
    return ImageFormat::Unknown;
}

ImageFormat formatByExtension(std::string_view path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return ImageFormat::Unknown;
    std::string ext(path.substr(dot + 1));
    for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (ext == "bmp" || ext == "dib") return ImageFormat::Bmp;
    if (ext == "png") return ImageFormat::Png;
    if (ext == "jpg" || ext == "jpeg") return ImageFormat::Jpeg;
    if (ext == "tif" || ext == "tiff") return ImageFormat::Tiff;
    if (ext == "webp") return ImageFormat::Webp;
    if (ext == "gif") return ImageFormat::Gif;
    return ImageFormat::Unknown;
}

const char* formatName(ImageFormat format) {
    switch (format) {
    case ImageFormat::Bmp: return "BMP";
    case ImageFormat::Png: return "PNG";
    case ImageFormat::Jpeg: return "JPEG";
    case ImageFormat::Tiff: return "TIFF";
    case ImageFormat::Webp: return "WebP";
    case ImageFormat::Gif: return "GIF";
    case ImageFormat::Unknown: break;
    }
    return "unknown";
}

bool canWrite(ImageFormat format) { return format != ImageFormat::Unknown && format != ImageFormat::Gif; }

const char* writableExtensions() { return ".bmp .png .jpg .jpeg .tif .tiff .webp"; }

std::string notAPicture(size_t size) {
    const std::string formats = "a picture format Qel reads (BMP, PNG, JPEG, TIFF, WebP, GIF)";
    return size == 0 ? "the file is empty, not " + formats : "the content is not " + formats;
}

bool needsCodec(const uint8_t* data, size_t size) {
    const ImageFormat f = formatByContent(data, size);
    size_t offset = 0, length = 0;
    return f == ImageFormat::Bmp ? embeddedStream(data, size, offset, length) != ImageFormat::Unknown
                                 : f != ImageFormat::Unknown;
}

void RowFeed::allowWindow(ImageFormat writer) {
    writer_ = writer;
    writerThreads_ = rowThreads();
}

bool RowFeed::openWindow(int64_t stride, int height) {
    if (writer_ != ImageFormat::Png && writer_ != ImageFormat::Jpeg) return false;
    const int rows = writer_ == ImageFormat::Png ? codec::pngWindowRows(stride, writerThreads_)
                                                    : codec::jpegWindowRows(writerThreads_);
    // A window as large as the picture saves nothing.
    if (rows >= height) return false;
    window_.resize(size_t(stride) * size_t(rows));
    spare_.resize(size_t(stride));
    stride_ = size_t(stride);
    capacity_ = rows;
    return true;
}

uint8_t* RowFeed::rowToWrite(int y) {
    std::unique_lock lock(mutex_);
    if (y >= done_ + capacity_ && !released_ && !stopped_) {
        // The writer may be waiting for the rows before this one.
        rows_ = std::max(rows_, y);
        changed_.notify_all();
        changed_.wait(lock, [&] { return y < done_ + capacity_ || released_ || stopped_; });
    }
    // Once the writer has stopped, rows it may still be reading are left as they are.
    if (y >= done_ + capacity_) return spare_.data();
    return window_.data() + stride_ * size_t(y % capacity_);
}

void RowFeed::stop() {
    {
        const std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

void RowFeed::done(int n) {
    {
        const std::lock_guard lock(mutex_);
        done_ = std::max(done_, n);
    }
    changed_.notify_all();
}

void RowFeed::made() {
    {
        const std::lock_guard lock(mutex_);
        made_ = true;
    }
    changed_.notify_all();
}

void RowFeed::rows(int n) {
    {
        const std::lock_guard lock(mutex_);
        rows_ = std::max(rows_, n);
    }
    changed_.notify_all();
}

void RowFeed::end(bool ok) {
    {
        const std::lock_guard lock(mutex_);
        ended_ = true;
        ok_ = ok;
        if (ok) made_ = true, rows_ = std::numeric_limits<int>::max();
    }
    changed_.notify_all();
}

void RowFeed::waitReleased() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return released_; });
}

bool RowFeed::waitMade() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return made_ || ended_; });
    return made_ && (!ended_ || ok_);
}

bool RowFeed::waitRows(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return rows_ >= n || ended_ || stopped_; });
    return rows_ >= n && !stopped_;
}

bool RowFeed::waitEnd() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return ended_; });
    return ok_;
}

void RowFeed::released() {
    {
        const std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

CodecResult decodePicture(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                          ImageFormat* format, const InputPassed& passed, RowFeed* feed) {
    InputPassed streamPassed = passed;
    info.clear();
    bits.clear();
    ImageFormat f = formatByContent(data, size);
    if (format) *format = f;
    if (f == ImageFormat::Bmp) {
        size_t offset = 0, length = 0;
        const ImageFormat inner = embeddedStream(data, size, offset, length);
        if (inner == ImageFormat::Unknown) return codec::refuse(ImageError::NotBitmap, "BMP file for the BMP reader");
        const char* name = inner == ImageFormat::Jpeg ? "embedded JPEG" : "embedded PNG";
        if (length == 0 || formatByContent(data + offset, length) != inner)
            return codec::damaged("BMP", std::string(name) + " stream missing");
        data += offset;
        size = length;
        f = inner;
        if (passed) streamPassed = [&passed, offset](size_t at) { passed(offset + at); };
    }
    CodecResult r;
    switch (f) {
    case ImageFormat::Png: r = codec::decodePng(data, size, info, bits, streamPassed, feed); break;
    case ImageFormat::Jpeg: r = codec::decodeJpeg(data, size, info, bits, streamPassed, feed); break;
    case ImageFormat::Tiff: r = codec::decodeTiff(data, size, info, bits, streamPassed); break;
    case ImageFormat::Webp: r = codec::decodeWebp(data, size, info, bits); break;
    case ImageFormat::Gif: r = codec::decodeGif(data, size, info, bits); break;
    default: r = codec::refuse(ImageError::NotBitmap, notAPicture(size)); break;
    }
    if (feed) {
        feed->end(bool(r));
        // A writer may be reading the rows: they go once it has stopped.
        if (!r) feed->waitReleased();
    }
    if (!r) {
        info.clear();
        bits.clear();
    }
    return r;
}

CodecResult probePicture(const uint8_t* data, size_t size, PictureShape& shape, ImageFormat* format) {
    shape = PictureShape{};
    ImageFormat f = formatByContent(data, size);
    if (format) *format = f;
    if (f == ImageFormat::Bmp) {
        size_t offset = 0, length = 0;
        const ImageFormat inner = embeddedStream(data, size, offset, length);
        if (inner == ImageFormat::Unknown) {
            if (size < kFileHeaderSize + 16) return codec::damaged("BMP", "header ends early");
            const uint8_t* h = data + kFileHeaderSize;
            const bool os2 = le32(h) == 12;
            shape.width = os2 ? le16(h + 4) : int32_t(le32(h + 4));
            shape.height = os2 ? le16(h + 6) : std::abs(int64_t(int32_t(le32(h + 8))));
            const int bc = os2 ? le16(h + 10) : le16(h + 14);
            shape.bitCount = bc == 1 || bc == 4 || bc == 8 ? bc : bc == 2 ? 4 : 24;
            return codec::checkSize(shape.width, shape.height);
        }
        if (length == 0 || formatByContent(data + offset, length) != inner)
            return codec::damaged("BMP", "embedded stream missing");
        data += offset;
        size = length;
        f = inner;
    }
    switch (f) {
    case ImageFormat::Png: return codec::probePng(data, size, shape);
    case ImageFormat::Jpeg: return codec::probeJpeg(data, size, shape);
    case ImageFormat::Tiff: return codec::probeTiff(data, size, shape);
    case ImageFormat::Webp: return codec::probeWebp(data, size, shape);
    case ImageFormat::Gif: return codec::probeGif(data, size, shape);
    default: break;
    }
    return codec::refuse(ImageError::NotBitmap, notAPicture(size));
}

namespace {
// The refusal of a PNG effort out of range or given for another format, or "".
std::string effortProblem(ImageFormat format, int pngEffort) {
    if (pngEffort < 0 || pngEffort > 9) return "PNG effort must be 1 to 9";
    if (pngEffort != 0 && format != ImageFormat::Png) return std::string("PNG effort given for a ") + formatName(format) + " file";
    return {};
}
}  // namespace

CodecResult encodePicture(const DibImage& image, ImageFormat format, int quality, const ByteSink& write,
                          RowFeed* feed, int pngEffort) {
    if (format == ImageFormat::Png || format == ImageFormat::Jpeg) {
        if (CodecResult r = codec::checkWritable(image, feed); !r) return r;
        if (quality < 0 || quality > 100) return codec::refuse(ImageError::WriteFailed, "quality must be 1 to 100");
        if (std::string why = effortProblem(format, pngEffort); !why.empty())
            return codec::refuse(ImageError::WriteFailed, std::move(why));
        if (format == ImageFormat::Png) return codec::encodePng(image, write, feed, pngEffort);
        return codec::encodeJpeg(image, quality == 0 ? 90 : quality, write, feed);
    }
    // The other writers take the picture whole.
    if (feed && !feed->waitEnd()) return codec::refuse(ImageError::WriteFailed, "");
    std::vector<uint8_t> out;
    CodecResult r = encodePicture(image, format, quality, out, pngEffort);
    if (r && !write(out.data(), out.size())) return codec::refuse(ImageError::WriteFailed, "");
    return r;
}

CodecResult encodePicture(const DibImage& image, ImageFormat format, int quality, std::vector<uint8_t>& out,
                          int pngEffort) {
    out.clear();
    if (CodecResult r = codec::checkWritable(image); !r) return r;
    if (quality < 0 || quality > 100) return codec::refuse(ImageError::WriteFailed, "quality must be 1 to 100");
    if (std::string why = effortProblem(format, pngEffort); !why.empty())
        return codec::refuse(ImageError::WriteFailed, std::move(why));
    switch (format) {
    case ImageFormat::Png:
        return codec::encodePng(
            image,
            [&out](const uint8_t* data, size_t size) {
                out.insert(out.end(), data, data + size);
                return true;
            },
            nullptr, pngEffort);
    case ImageFormat::Jpeg: {
        CodecResult r = codec::encodeJpeg(image, quality == 0 ? 90 : quality, [&out](const uint8_t* data, size_t size) {
            out.insert(out.end(), data, data + size);
            return true;
        }, nullptr);
        if (!r) out.clear();
        return r;
    }
    case ImageFormat::Tiff: return codec::encodeTiff(image, out);
    case ImageFormat::Webp: return codec::encodeWebp(image, quality, out);
    case ImageFormat::Gif: return codec::refuse(ImageError::UnknownFormat, "GIF files are read only");
    default: break;
    }
    return codec::refuse(ImageError::UnknownFormat, std::string("unknown file type: use ") + writableExtensions());
}

namespace codec {

CodecResult checkSize(int64_t width, int64_t height) {
    if (width <= 0 || height <= 0) return refuse(ImageError::NotBitmap, "picture has no pixels");
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Pictures within the limits but of many million pixels take seconds under the sanitizers;
    // the fuzzers look at the glue on small ones (the limits themselves are tested directly).
    if (width * height > (int64_t(1) << 22)) return refuse(ImageError::TooLarge, "larger than fuzzing allows");
#endif
    if (!sizeWithinLimits(width, height))
        return refuse(ImageError::TooLarge, "picture of " + std::to_string(width) + " x " + std::to_string(height) +
                                                " pixels is too large (65535 per side, 268435456 pixels at most)");
    return {};
}

NewPicture::NewPicture(std::vector<uint8_t>& info, PixelBytes& bits, int w, int h, int bitCount,
                       const std::vector<Rgb>& table, RowFeed* feed)
    : width(w), height(h), bitCount(bitCount), stride(strideFor(w, bitCount)), bits_(bits) {
    const int entries = bitCount == 24 ? 0 : static_cast<int>(table.size());
    const auto size = static_cast<uint32_t>(stride * h);
    info = makeInfoBlock(newHeader(w, h, static_cast<uint16_t>(bitCount), static_cast<uint32_t>(entries), size), entries);
    for (int i = 0; i < entries; ++i) setInfoColour(info, i, table[i]);
    // Only colour and grey rows are written without the whole picture (palettes need every row).
    if (feed && (bitCount == 24 || (bitCount == 8 && table == greyTable())) && feed->openWindow(stride, h)) {
        window_ = feed;
        bits = PixelBytes();
        return;
    }
    // A fresh block: zero without being written, so only the rows a reader fills cost memory.
    bits = PixelBytes();
    bits = PixelBytes(size);
    adviseLargePages(bits.data(), size);
}

OrientedRows::OrientedRows(NewPicture& pic, int orientation, int storedWidth, int storedHeight)
    : pic_(pic), orientation_(orientation >= 1 && orientation <= 8 ? orientation : 1), width_(storedWidth),
      height_(storedHeight), bytes_(pic.bitCount == 24 ? 3 : 1),
      scratch_(size_t(storedWidth) * bytes_) {}

void OrientedRows::put(int y, const uint8_t* row) {
    const int n = bytes_, w = width_;
    if (orientation_ <= 4) {
        uint8_t* d = pic_.row(orientation_ <= 2 ? y : height_ - 1 - y);
        if (orientation_ == 1 || orientation_ == 4) {
            std::memcpy(d, row, size_t(w) * n);
            return;
        }
        for (int x = 0; x < w; ++x) std::memcpy(d + size_t(w - 1 - x) * n, row + size_t(x) * n, n);
        return;
    }
    // Stored row y becomes a column: 5 and 8 put it at x = y, 6 and 7 at x = height - 1 - y;
    // 5 and 6 run it downwards, 7 and 8 upwards.
    const size_t column = size_t(orientation_ == 5 || orientation_ == 8 ? y : height_ - 1 - y) * n;
    const bool down = orientation_ == 5 || orientation_ == 6;
    for (int x = 0; x < w; ++x) std::memcpy(pic_.row(down ? x : w - 1 - x) + column, row + size_t(x) * n, n);
}

std::vector<Rgb> greyTable() {
    std::vector<Rgb> t(256);
    for (int i = 0; i < 256; ++i) t[i] = Rgb{uint8_t(i), uint8_t(i), uint8_t(i)};
    return t;
}

bool hasGreyTable(const DibImage& image) {
    if (image.bitCount() != 8 || image.tableSize() != 256) return false;
    for (int i = 0; i < 256; ++i)
        if (!(image.tableColour(i) == Rgb{uint8_t(i), uint8_t(i), uint8_t(i)})) return false;
    return true;
}

CodecResult checkWritable(const DibImage& image, const RowFeed* feed) {
    const bool windowed = feed && feed->windowed();
    if (!windowed && !image.hasBlocks()) return refuse(ImageError::NoPicture, "no picture");
    const auto h = image.header();
    const int bc = h.biBitCount;
    if (bc != 1 && bc != 4 && bc != 8 && bc != 24)
        return refuse(ImageError::WriteFailed, std::to_string(bc) + "-bit pictures cannot be written in this format");
    if (!sizeWithinLimits(h.biWidth, h.biHeight) ||
        (!windowed && static_cast<uint64_t>(strideFor(h.biWidth, bc)) * uint64_t(h.biHeight) > image.bits.size()))
        return refuse(ImageError::WriteFailed, "the picture's blocks are inconsistent");
    return {};
}

std::vector<uint8_t> colourRows(const DibImage& image, bool bgr) {
    const auto h = image.header();
    const int w = h.biWidth, bc = h.biBitCount;
    std::vector<uint8_t> out(size_t(3) * w * h.biHeight);
    std::array<Rgb, 256> lut{};
    for (int i = 0; i < 256; ++i) lut[i] = image.tableColour(i);
    for (int y = 0; y < h.biHeight; ++y) {
        const uint8_t* src = image.rowFromTop(y);
        uint8_t* dst = out.data() + size_t(3) * w * y;
        if (bc == 24) {
            for (int x = 0; x < w; ++x, src += 3, dst += 3) {
                dst[0] = bgr ? src[0] : src[2];
                dst[1] = src[1];
                dst[2] = bgr ? src[2] : src[0];
            }
            continue;
        }
        for (int x = 0; x < w; ++x, dst += 3) {
            int index = 0;
            if (bc == 8) index = src[x];
            else if (bc == 4) index = (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
            else index = (src[x >> 3] >> (7 - (x & 7))) & 1;
            const Rgb c = lut[index];
            dst[0] = bgr ? c.b : c.r;
            dst[1] = c.g;
            dst[2] = bgr ? c.r : c.b;
        }
    }
    return out;
}

}  // namespace codec
}  // namespace qel
