// JPEG reading through the TurboJPEG API, with the EXIF orientation (read with
// libexif) applied so photos stand the right way up; writing through the libjpeg
// API of the same library in bands on every core, joined with optimised Huffman tables.
#include <libexif/exif-data.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include <jpeglib.h>
#include <jerror.h>

#include "core/formats/codec_detail.h"
#include "core/formats/jpeg_join.h"
#include "core/image/parallel_rows.h"

namespace qel::codec {

namespace {

struct TjDeleter {
    void operator()(void* h) const { tjDestroy(h); }
};
using Tj = std::unique_ptr<void, TjDeleter>;

std::string tjMessage(void* handle) { return tjGetErrorStr2(handle); }

// The EXIF orientation (1..8), 1 when there is none.
int exifOrientation(const uint8_t* data, size_t size) {
    ExifData* exif = exif_data_new_from_data(data, static_cast<unsigned int>(std::min<size_t>(size, 0xFFFFFFFFu)));
    if (!exif) return 1;
    int orientation = 1;
    if (ExifEntry* e = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
        e && e->format == EXIF_FORMAT_SHORT && e->components >= 1 && e->size >= 2)
        orientation = exif_get_short(e->data, exif_data_get_byte_order(exif));
    exif_data_unref(exif);
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onJpegError(j_common_ptr c) {
    auto* e = reinterpret_cast<JpegError*>(c->err);
    (*c->err->format_message)(c, e->message);
    std::longjmp(e->jump, 1);
}
void quietly(j_common_ptr) {}

// Warnings while reading: a file that ends before its end marker, or scan data that reaches a
// marker early, has lost the rest of the picture, so the read stops there; other warnings (stray
// bytes between segments, say) leave every row decoded and are passed over.
void onJpegMessage(j_common_ptr c, int level) {
    if (level != -1) return;
    auto* e = reinterpret_cast<JpegError*>(c->err);
    ++c->err->num_warnings;
    const int code = c->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER) {
        std::snprintf(e->message, sizeof e->message, "data ends early");
        std::longjmp(e->jump, 1);
    }
}

// A limit on progressive scans keeps a crafted file from taking minutes.
void limitScans(j_common_ptr c) {
    auto* d = reinterpret_cast<j_decompress_ptr>(c);
    if (d->is_decompressor && d->input_scan_number > 500) {
        auto* e = reinterpret_cast<JpegError*>(c->err);
        std::snprintf(e->message, sizeof e->message, "more than 500 scans");
        std::longjmp(e->jump, 1);
    }
}

// Compresses top-down BGR rows with a restart marker after every MCU row and the standard
// Huffman tables; *out is malloc'ed. Only plain data lives in this frame, as libjpeg reports
// errors by a long jump.
bool compressRows(const uint8_t* const* rows, int w, int h, bool grey, int quality, unsigned char** out,
                  unsigned long* size, char* message) {
    jpeg_compress_struct c;
    JpegError error;
    c.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onJpegError;
    error.manager.output_message = quietly;
    if (setjmp(error.jump)) {
        std::memcpy(message, error.message, sizeof error.message);
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, out, size);
    c.image_width = static_cast<JDIMENSION>(w);
    c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = grey ? 1 : 3;
    c.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&c);  // 4:2:0 chroma, accurate integer DCT
    jpeg_set_quality(&c, quality, TRUE);
    c.restart_in_rows = 1;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height)
        jpeg_write_scanlines(&c, const_cast<JSAMPARRAY>(rows + c.next_scanline), c.image_height - c.next_scanline);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return true;
}

}  // namespace

namespace {

// Decodes into the picture's rows as they come, so memory follows the data actually in the
// file. Only plain data lives in this frame, as libjpeg reports errors by a long jump; the
// picture is created through `make` once the header is known.
template <class Make>
bool decompressRows(const uint8_t* data, size_t size, int orientation, Make make, RowFeed* feed,
                    const InputPassed* passed, char* message) {
    jpeg_decompress_struct d;
    JpegError error;
    d.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = onJpegError;
    error.manager.emit_message = onJpegMessage;
    error.manager.output_message = quietly;
    jpeg_progress_mgr progress{};
    progress.progress_monitor = limitScans;
    // malloc'ed, as nothing with a destructor may live in this frame; volatile, as it is set
    // after setjmp and freed after the jump.
    uint8_t* volatile cmykRow = nullptr;
    if (setjmp(error.jump)) {
        std::memcpy(message, error.message, sizeof error.message);
        std::free(cmykRow);
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    d.progress = &progress;
    jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d, TRUE);
    const bool grey = d.jpeg_color_space == JCS_GRAYSCALE;
    const bool cmyk = d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK;
    d.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
    OrientedRows* rows = make(int(d.image_width), int(d.image_height), grey, message);
    if (!rows) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_start_decompress(&d);
    const JDIMENSION w = d.output_width;
    if (cmyk) {
        cmykRow = static_cast<uint8_t*>(std::malloc(size_t(7) * w));
        if (!cmykRow) {
            std::snprintf(error.message, sizeof error.message, "out of memory");
            std::longjmp(error.jump, 1);
        }
    }
    uint8_t* bgr = cmyk ? cmykRow + size_t(4) * w : nullptr;
    while (d.output_scanline < d.output_height) {
        const int y = static_cast<int>(d.output_scanline);
        // The data is read in order: what lies behind is given back now and then.
        if (*passed && y % 64 == 0) (*passed)(size_t(d.src->next_input_byte - data));
        if (cmyk) {
            JSAMPROW row = cmykRow;
            jpeg_read_scanlines(&d, &row, 1);
            // Stored inverted, as CMYK JPEG files are written: each ink value is 255 minus the ink.
            const uint8_t* s = cmykRow;
            for (JDIMENSION x = 0; x < w; ++x, s += 4) {
                bgr[3 * x] = static_cast<uint8_t>((s[2] * s[3] + 127) / 255);
                bgr[3 * x + 1] = static_cast<uint8_t>((s[1] * s[3] + 127) / 255);
                bgr[3 * x + 2] = static_cast<uint8_t>((s[0] * s[3] + 127) / 255);
            }
            rows->put(y, bgr);
            if (feed && ((y + 1) % 16 == 0 || y + 1 == int(d.output_height))) feed->rows(y + 1);
        } else if (orientation == 1) {
            JSAMPROW row = rows->direct(y);
            jpeg_read_scanlines(&d, &row, 1);
            // Told every 16 rows to a writer reading beside (turned pictures only once whole).
            if (feed && ((y + 1) % 16 == 0 || y + 1 == int(d.output_height))) feed->rows(y + 1);
        } else {
            JSAMPROW row = rows->scratch();
            jpeg_read_scanlines(&d, &row, 1);
            rows->put(y, row);
        }
    }
    jpeg_finish_decompress(&d);
    std::free(cmykRow);
    jpeg_destroy_decompress(&d);
    return true;
}

}  // namespace

int jpegWindowRows(int threads) { return (threads + 2) * kJpegBandMcuRows * 16; }

CodecResult decodeJpeg(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                       const InputPassed& passed, RowFeed* feed) {
    const int orientation = exifOrientation(data, size);
    std::optional<NewPicture> pic;
    std::optional<OrientedRows> rows;
    CodecResult refusal;
    auto make = [&](int w, int h, bool grey, char*) -> OrientedRows* {
        if (w <= 0 || h <= 0) {
            refusal = damaged("JPEG", "no picture size");
            return nullptr;
        }
        if (CodecResult r = checkSize(w, h); !r) {
            refusal = r;
            return nullptr;
        }
        const bool turned = orientation >= 5;
        // Upright rows come top down, once each: they may go through the feed's window.
        pic.emplace(info, bits, turned ? h : w, turned ? w : h, grey ? 8 : 24, grey ? greyTable() : std::vector<Rgb>{},
                    orientation == 1 ? feed : nullptr);
        rows.emplace(*pic, orientation, w, h);
        if (feed) feed->made();
        return &*rows;
    };
    char message[JMSG_LENGTH_MAX] = "";
    if (!decompressRows(data, size, orientation, make, feed, &passed, message)) {
        if (!refusal) return refusal;
        return damaged("JPEG", message);
    }
    return {};
}

CodecResult encodeJpeg(const DibImage& image, int quality, const ByteSink& write, RowFeed* feed) {
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight;
    // 24-bit rows and grey ones (one component) are read where they are; other indexed pictures
    // are written as colour.
    const bool grey = hasGreyTable(image);
    std::vector<uint8_t> colour;
    if (hd.biBitCount != 24 && !grey) {
        if (feed && !feed->waitRows(h)) return refuse(ImageError::WriteFailed, "");
        colour = colourRows(image, true);
    }
    // Bands of kJpegBandMcuRows MCU rows (8 or 16 pixel rows each: grey or 4:2:0 colour), coded
    // apart on every core and joined; the bands are the same whatever the number of cores.
    const int bandRows = kJpegBandMcuRows * (grey ? 8 : 16);
    const int bands = (h + bandRows - 1) / bandRows;
    struct Band {
        unsigned char* data = nullptr;
        unsigned long size = 0;
        char message[JMSG_LENGTH_MAX] = "";
        bool ok = false, unread = false;
        ~Band() { std::free(data); }
    };
    std::vector<Band> coded(static_cast<size_t>(bands));
    // The rows before the first band not yet coded are let go (a window holds only a few bands).
    std::mutex order;
    std::vector<char> finished(static_cast<size_t>(bands));
    int firstOpen = 0;
    auto bandDone = [&](int64_t b) {
        const std::lock_guard lock(order);
        finished[size_t(b)] = 1;
        while (firstOpen < bands && finished[size_t(firstOpen)]) ++firstOpen;
        if (feed) feed->done(std::min(firstOpen * bandRows, h));
    };
    const bool windowed = feed && feed->windowed();
    forEachRowBand(bands, int64_t(w) * bandRows, [&](int64_t first, int64_t last) {
        std::vector<const uint8_t*> rows;
        for (int64_t b = first; b < last; ++b) {
            const int y = static_cast<int>(b) * bandRows, n = std::min(bandRows, h - y);
            Band& band = coded[static_cast<size_t>(b)];
            if (feed && !feed->waitRows(y + n)) {
                band.unread = true;
                bandDone(b);
                continue;
            }
            rows.resize(size_t(n));
            for (int i = 0; i < n; ++i)
                rows[size_t(i)] = colour.empty() ? rowToEncode(image, feed, y + i) : colour.data() + size_t(3) * w * (y + i);
            band.ok = compressRows(rows.data(), w, n, grey, quality, &band.data, &band.size, band.message);
            if (!band.ok && feed) feed->stop();
            bandDone(b);
        }
    }, windowed ? 1 : 64);
    std::vector<std::span<const uint8_t>> parts;
    for (const Band& band : coded)
        if (!band.ok && !band.unread) return refuse(ImageError::WriteFailed, std::string("JPEG encoder: ") + band.message);
    for (const Band& band : coded) {
        if (band.unread) return refuse(ImageError::WriteFailed, "");
        parts.emplace_back(band.data, band.size);
    }
    // Each band's bytes go once it is recoded into the file.
    const JoinOutcome joined = joinJpegBands(parts, h, write, [&coded](size_t b) {
        std::free(coded[b].data);
        coded[b].data = nullptr;
    });
    if (joined == JoinOutcome::NotBands) return refuse(ImageError::WriteFailed, "JPEG encoder: the bands do not join");
    if (joined == JoinOutcome::NotWritten) return refuse(ImageError::WriteFailed, "");
    return {};
}

CodecResult probeJpeg(const uint8_t* data, size_t size, PictureShape& shape) {
    Tj tj(tjInitDecompress());
    if (!tj) return refuse(ImageError::NotBitmap, "out of memory");
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj.get(), data, static_cast<unsigned long>(size), &w, &h, &subsampling, &colourspace) != 0)
        return damaged("JPEG", tjMessage(tj.get()));
    const bool turned = exifOrientation(data, size) >= 5;
    shape.width = turned ? h : w;
    shape.height = turned ? w : h;
    shape.bitCount = colourspace == TJCS_GRAY ? 8 : 24;
    return checkSize(shape.width, shape.height);
}

}  // namespace qel::codec
