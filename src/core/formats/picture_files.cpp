// The picture record read from and written to files: the file formats' side of DibImage. The record
// declares these members; reading and writing, BMP and every other format, lives here.
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <thread>

#include "core/formats/bmp_file.h"
#include "core/formats/codecs.h"
#include "core/formats/file_io.h"
#include "core/image/dib_image.h"

namespace qel {

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
    const size_t headSize = readFileHead(path, head, sizeof head);
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

const DisplayBitmap* DibImage::convertFile(const std::string& in, const std::string& out, const SaveOptions& options,
                                           ImageError* saved, ImageError* error, std::string* why, bool keep) {
    const ImageFormat format = options.format != ImageFormat::Unknown ? options.format : formatByExtension(out);
    auto oneAfterTheOther = [&]() -> const DisplayBitmap* {
        const DisplayBitmap* shown = loadFile(in, error, why);
        if (shown) *saved = saveFile(out, options);
        return shown;
    };
    // Only the PNG and JPEG readers give rows as they go, and only those writers take them so.
    uint8_t head[64];
    const size_t headSize = readFileHead(in, head, sizeof head);
    const ImageFormat from = formatByContent(head, headSize);
    std::error_code ec;
    if ((format != ImageFormat::Png && format != ImageFormat::Jpeg) ||
        (from != ImageFormat::Png && from != ImageFormat::Jpeg) || std::filesystem::is_directory(out, ec))
        return oneAfterTheOther();
    const MappedFile mapped(in);
    if (!mapped.ok() || mapped.size() > kMaxVariantFileBytes) return oneAfterTheOther();

    clear();
    fileFormat = ImageFormat::Unknown;
    refusalReason.clear();
    RowFeed feed;
    if (!keep) feed.allowWindow(format);
    CodecResult read;
    ImageFormat readFormat = ImageFormat::Unknown;
    auto readFile = [&] {
        try {
            read = decodePicture(mapped.data(), mapped.size(), info, bits, &readFormat,
                                 [&mapped](size_t at) { mapped.passed(at); }, &feed);
        } catch (const std::bad_alloc&) {
            read = CodecResult{ImageError::TooLarge, "not enough memory"};
            feed.end(false);
            feed.waitReleased();
            info.clear();
            bits.clear();
        }
    };
    std::thread reader;
    try {
        reader = std::thread(readFile);
    } catch (const std::system_error&) {
        return oneAfterTheOther();  // no thread to be had
    }
    AtomicFile file(out);
    CodecResult written{ImageError::WriteFailed, ""};
    if (feed.waitMade()) {
        try {
            written = encodePicture(*this, format, options.quality,
                                    [&file](const uint8_t* data, size_t size) { return file.write(data, size); }, &feed,
                                    options.pngEffort);
        } catch (const std::bad_alloc&) {
            written = CodecResult{ImageError::WriteFailed, "out of memory"};
        }
    }
    feed.released();
    reader.join();
    if (why) *why = read.reason;
    if (read) fileFormat = readFormat;
    if (read && feed.windowed()) {
        // The rows went through the window: only the picture's size is left to show.
        if (error) *error = ImageError::None;
        const auto h = header();
        clear();
        displayBitmap = std::make_unique<DisplayBitmap>();
        displayBitmap->width = h.biWidth;
        displayBitmap->height = h.biHeight;
        refusalReason = std::move(written.reason);
        *saved = !written ? written.error : file.commit() ? ImageError::None : ImageError::WriteFailed;
        return displayBitmap.get();
    }
    const DisplayBitmap* shown = finishLoad(read.error, error, why);
    if (!shown) return nullptr;  // the temporary file goes with `file`
    refusalReason = std::move(written.reason);
    *saved = !written ? written.error : file.commit() ? ImageError::None : ImageError::WriteFailed;
    return shown;
}

std::vector<uint8_t> DibImage::fileBytes() const { return bmpFileBytes(info, bits); }

ImageError DibImage::saveFile(const std::string& path, const SaveOptions& options) const {
    refusalReason.clear();
    if (info.empty()) return ImageError::NoPicture;
    const ImageFormat format = options.format != ImageFormat::Unknown ? options.format : formatByExtension(path);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return ImageError::WriteFailed;
    if (format == ImageFormat::Tiff) {
        std::vector<uint8_t> bytes;
        CodecResult r = encodePicture(*this, format, options.quality, bytes, options.pngEffort);
        // A TIFF written over a TIFF of several pages keeps the pages after the first.
        std::vector<uint8_t> existing;
        if (r && std::filesystem::is_regular_file(path, ec) && readFileBytes(path, existing) &&
            formatByContent(existing.data(), existing.size()) == ImageFormat::Tiff)
            r = keepLaterTiffPages(existing.data(), existing.size(), bytes);
        refusalReason = std::move(r.reason);
        if (!r) return r.error;
        return writeFileAtomically(path, bytes.data(), bytes.size()) ? ImageError::None : ImageError::WriteFailed;
    }
    if (format != ImageFormat::Bmp) {
        // Written as the encoder makes the bytes; the file appears only once they are all written.
        AtomicFile file(path);
        CodecResult r = encodePicture(*this, format, options.quality,
                                      [&file](const uint8_t* data, size_t size) { return file.write(data, size); },
                                      nullptr, options.pngEffort);
        refusalReason = std::move(r.reason);
        if (!r) return r.error;
        return file.commit() ? ImageError::None : ImageError::WriteFailed;
    }
    if (options.pngEffort != 0) {
        refusalReason = "PNG effort given for a BMP file";
        return ImageError::WriteFailed;
    }
    const auto fileHeader = bmpFileHeader(info.size(), bits.size());
    const bool ok = writeFileAtomically(path, {FilePart{fileHeader.data(), fileHeader.size()},
                                               FilePart{info.data(), info.size()}, FilePart{bits.data(), bits.size()}});
    return ok ? ImageError::None : ImageError::WriteFailed;
}

}  // namespace qel
