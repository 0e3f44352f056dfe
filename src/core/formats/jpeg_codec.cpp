// JPEG reading through the TurboJPEG API, with the EXIF orientation (read with
// libexif) applied so photos stand the right way up; writing through the libjpeg
// API of the same library, which also offers optimised Huffman tables.
#include <libexif/exif-data.h>
#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jpeglib.h>

#include "core/formats/codec_detail.h"

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

// Turns the picture (1 or 3 bytes a pixel) as an EXIF orientation asks: 2 mirrors, 3 turns
// half round, 4 flips, 5 transposes, 6 turns a quarter clockwise, 7 transverses, 8 a quarter
// anticlockwise.
void applyOrientation(int orientation, int bytesPerPixel, std::vector<uint8_t>& info, std::vector<uint8_t>& bits) {
    if (orientation == 1) return;
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    const int w = h.biWidth, ht = h.biHeight, n = bytesPerPixel;
    const bool swap = orientation >= 5;
    const int ow = swap ? ht : w, oh = swap ? w : ht;
    const int64_t inStride = strideFor(w, 8 * n), outStride = strideFor(ow, 8 * n);
    std::vector<uint8_t> out(static_cast<size_t>(outStride * oh));
    for (int y = 0; y < oh; ++y) {
        uint8_t* dst = out.data() + (oh - 1 - y) * outStride;
        for (int x = 0; x < ow; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x; sy = ht - 1 - y; break;
            case 4: sy = ht - 1 - y; break;
            case 5: sx = y; sy = x; break;
            case 6: sx = y; sy = ht - 1 - x; break;
            case 7: sx = w - 1 - y; sy = ht - 1 - x; break;
            case 8: sx = w - 1 - y; sy = x; break;
            }
            std::memcpy(dst + int64_t(x) * n, bits.data() + (ht - 1 - sy) * inStride + int64_t(sx) * n, n);
        }
    }
    h.biWidth = ow;
    h.biHeight = oh;
    h.biSizeImage = static_cast<uint32_t>(out.size());
    std::memcpy(info.data(), &h, kHeaderSize);
    bits = std::move(out);
}

// True when an end-of-image marker is present: a file without one was cut short.
bool hasEndMarker(const uint8_t* data, size_t size) {
    for (size_t i = size; i >= 2; --i)
        if (data[i - 2] == 0xFF && data[i - 1] == 0xD9) return true;
    return false;
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

// Compresses top-down BGR rows; *out is malloc'ed. Only plain data lives in this frame,
// as libjpeg reports errors by a long jump.
bool compressRows(const uint8_t* const* rows, int w, int h, int quality, unsigned char** out, unsigned long* size,
                  char* message) {
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
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);  // 4:2:0 chroma, accurate integer DCT
    jpeg_set_quality(&c, quality, TRUE);
    c.optimize_coding = TRUE;
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height)
        jpeg_write_scanlines(&c, const_cast<JSAMPARRAY>(rows + c.next_scanline), c.image_height - c.next_scanline);
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return true;
}

}  // namespace

CodecResult decodeJpeg(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits) {
    Tj tj(tjInitDecompress());
    if (!tj) return refuse(ImageError::NotBitmap, "out of memory");
    auto* buffer = const_cast<unsigned char*>(data);
    const auto length = static_cast<unsigned long>(size);
    int w = 0, h = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(tj.get(), buffer, length, &w, &h, &subsampling, &colourspace) != 0)
        return damaged("JPEG", tjMessage(tj.get()));
    if (w <= 0 || h <= 0) return damaged("JPEG", "no picture size");
    if (CodecResult r = checkSize(w, h); !r) return r;
    const bool grey = colourspace == TJCS_GRAY;
    const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
    // A limit on progressive scans keeps a crafted file from taking minutes.
    const int flags = TJFLAG_BOTTOMUP | TJFLAG_LIMITSCANS;
    auto check = [&](int status) -> CodecResult {
        if (status == 0) return {};
        if (tjGetErrorCode(tj.get()) == TJERR_WARNING && hasEndMarker(data, size)) return {};
        return damaged("JPEG", tjMessage(tj.get()));
    };
    if (cmyk) {
        std::vector<uint8_t> raw(size_t(4) * w * h);
        if (CodecResult r = check(tjDecompress2(tj.get(), buffer, length, raw.data(), w, 4 * w, h, TJPF_CMYK, TJFLAG_LIMITSCANS)); !r)
            return r;
        // Stored inverted, as CMYK JPEG files are written: each ink value is 255 minus the ink.
        NewPicture pic(info, bits, w, h, 24);
        for (int y = 0; y < h; ++y) {
            const uint8_t* s = raw.data() + size_t(4) * w * y;
            uint8_t* d = pic.row(y);
            for (int x = 0; x < w; ++x, s += 4, d += 3) {
                d[0] = static_cast<uint8_t>((s[2] * s[3] + 127) / 255);
                d[1] = static_cast<uint8_t>((s[1] * s[3] + 127) / 255);
                d[2] = static_cast<uint8_t>((s[0] * s[3] + 127) / 255);
            }
        }
    } else {
        NewPicture pic(info, bits, w, h, grey ? 8 : 24, grey ? greyTable() : std::vector<Rgb>{});
        if (CodecResult r = check(tjDecompress2(tj.get(), buffer, length, bits.data(), w, static_cast<int>(pic.stride), h,
                                                grey ? TJPF_GRAY : TJPF_BGR, flags));
            !r)
            return r;
    }
    applyOrientation(exifOrientation(data, size), grey ? 1 : 3, info, bits);
    return {};
}

CodecResult encodeJpeg(const DibImage& image, int quality, std::vector<uint8_t>& out) {
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight;
    // 24-bit rows are read where they are; indexed pictures are written as colour.
    std::vector<uint8_t> colour;
    if (hd.biBitCount != 24) colour = colourRows(image, true);
    std::vector<const uint8_t*> rows(static_cast<size_t>(h));
    for (int y = 0; y < h; ++y) rows[y] = colour.empty() ? image.rowFromTop(y) : colour.data() + size_t(3) * w * y;
    unsigned char* jpeg = nullptr;
    unsigned long length = 0;
    char message[JMSG_LENGTH_MAX] = "";
    const bool ok = compressRows(rows.data(), w, h, quality, &jpeg, &length, message);
    if (ok) out.assign(jpeg, jpeg + length);
    std::free(jpeg);
    return ok ? CodecResult{} : refuse(ImageError::WriteFailed, std::string("JPEG encoder: ") + message);
}

CodecResult probeJpeg(const uint8_t*, size_t, PictureShape&) {
    return refuse(ImageError::Unsupported, "Jpeg header not probed yet");
}

}  // namespace qel::codec
