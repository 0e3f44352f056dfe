// WebP reading and writing through libwebp. A still picture is decoded by the
// incremental decoder over the whole buffer, so data that ends early is found
// as it is reached: colour-only pictures go straight into the bottom-up 24-bit
// rows, pictures with alpha into libwebp's own (uninitialised) BGRA block first,
// and the picture is built only once that decode is complete; alpha
// (premultiplied by the decoder) shows over white. An animation gives its first
// frame on a white canvas, found by libwebp's demuxer.
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/formats/codec_detail.h"

namespace qel::codec {

namespace {

const char* statusText(VP8StatusCode s) {
    switch (s) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_NOT_ENOUGH_DATA:
    case VP8_STATUS_SUSPENDED: return "data ends early";
    default: return "bitstream error";
    }
}

struct IDecoderDeleter {
    void operator()(WebPIDecoder* d) const { WebPIDelete(d); }
};
struct DemuxDeleter {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct BufferFree {
    void operator()(WebPDecBuffer* b) const { WebPFreeDecBuffer(b); }
};

// Decodes all of `data` with config's output; data that ends early comes back as SUSPENDED.
VP8StatusCode decodeWhole(const uint8_t* data, size_t size, WebPDecoderConfig& config) {
    std::unique_ptr<WebPIDecoder, IDecoderDeleter> idec(WebPIDecode(nullptr, 0, &config));
    if (!idec) return VP8_STATUS_OUT_OF_MEMORY;
    return WebPIUpdate(idec.get(), data, size);
}

// Sets the pixels of rows [top, top + height) outside columns [left, left + width) and of every
// other row to white (row padding stays 0).
void whiteAround(const NewPicture& pic, int left, int top, int width, int height) {
    for (int y = 0; y < pic.height; ++y) {
        uint8_t* row = pic.row(y);
        if (y < top || y >= top + height) {
            std::memset(row, 255, size_t(3) * pic.width);
            continue;
        }
        std::memset(row, 255, size_t(3) * left);
        std::memset(row + size_t(3) * (left + width), 255, size_t(3) * (pic.width - left - width));
    }
}

// One bitstream (a whole still file, or an animation frame's chunks) into a new canvasW x canvasH
// picture at (left, top); the canvas around it is white.
CodecResult decodeFrame(const uint8_t* data, size_t size, int canvasW, int canvasH, int left, int top,
                        std::vector<uint8_t>& info, PixelBytes& bits) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return refuse(ImageError::NotBitmap, "WebP decoder version mismatch");
    if (VP8StatusCode s = WebPGetFeatures(data, size, &config.input); s != VP8_STATUS_OK) return damaged("WebP", statusText(s));
    const int w = config.input.width, h = config.input.height;
    if (w <= 0 || h <= 0 || left < 0 || top < 0 || left + w > canvasW || top + h > canvasH)
        return damaged("WebP", "frame outside the canvas");
    if (!config.input.has_alpha) {
        NewPicture pic(info, bits, canvasW, canvasH, 24);
        config.options.flip = 1;  // bottom row first, as the record stores them
        config.output.colorspace = MODE_BGR;
        config.output.is_external_memory = 1;
        config.output.u.RGBA.rgba = pic.row(top + h - 1) + size_t(3) * left;
        config.output.u.RGBA.stride = static_cast<int>(pic.stride);
        config.output.u.RGBA.size = size_t(pic.stride) * (h - 1) + size_t(3) * w;
        if (VP8StatusCode s = decodeWhole(data, size, config); s != VP8_STATUS_OK) return damaged("WebP", statusText(s));
        whiteAround(pic, left, top, w, h);
        return {};
    }
    // libwebp allocates the BGRA block without filling it: only the rows decoded take memory.
    config.output.colorspace = MODE_bgrA;
    std::unique_ptr<WebPDecBuffer, BufferFree> owned(&config.output);
    if (VP8StatusCode s = decodeWhole(data, size, config); s != VP8_STATUS_OK) return damaged("WebP", statusText(s));
    const WebPRGBABuffer& rgba = config.output.u.RGBA;
    NewPicture pic(info, bits, canvasW, canvasH, 24);
    for (int r = 0; r < h; ++r) {
        const uint8_t* src = rgba.rgba + size_t(rgba.stride) * r;
        uint8_t* dst = pic.row(top + r) + size_t(3) * left;
        for (int x = 0; x < w; ++x, src += 4, dst += 3) {
            const unsigned clear = 255u - src[3];
            for (int c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>(std::min(255u, src[c] + clear));
        }
    }
    whiteAround(pic, left, top, w, h);
    return {};
}

}  // namespace

CodecResult decodeWebp(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits) {
    WebPBitstreamFeatures features;
    if (VP8StatusCode s = WebPGetFeatures(data, size, &features); s != VP8_STATUS_OK) return damaged("WebP", statusText(s));
    if (CodecResult r = checkSize(features.width, features.height); !r) return r;
    if (!features.has_animation) return decodeFrame(data, size, features.width, features.height, 0, 0, info, bits);
    // An animation: its first frame, on the canvas the file declares.
    const WebPData whole{data, size};
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(WebPDemux(&whole));
    if (!demux) return damaged("WebP", "animation chunks damaged or cut short");
    const auto canvasW = static_cast<int64_t>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH));
    const auto canvasH = static_cast<int64_t>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT));
    if (CodecResult r = checkSize(canvasW, canvasH); !r) return r;
    WebPIterator frame;
    if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) return damaged("WebP", "animation without frames");
    CodecResult r = decodeFrame(frame.fragment.bytes, frame.fragment.size, int(canvasW), int(canvasH), frame.x_offset,
                                frame.y_offset, info, bits);
    WebPDemuxReleaseIterator(&frame);
    return r;
}

CodecResult encodeWebp(const DibImage& image, int quality, std::vector<uint8_t>& out) {
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight;
    if (w > WEBP_MAX_DIMENSION || h > WEBP_MAX_DIMENSION)
        return refuse(ImageError::WriteFailed, "WebP pictures are at most 16383 pixels a side");
    const auto rows = colourRows(image, true);
    uint8_t* encoded = nullptr;
    const size_t length = quality == 0 ? WebPEncodeLosslessBGR(rows.data(), w, h, 3 * w, &encoded)
                                       : WebPEncodeBGR(rows.data(), w, h, 3 * w, float(quality), &encoded);
    if (length == 0) {
        WebPFree(encoded);
        return refuse(ImageError::WriteFailed, "WebP encoder failed");
    }
    out.assign(encoded, encoded + length);
    WebPFree(encoded);
    return {};
}

CodecResult probeWebp(const uint8_t* data, size_t size, PictureShape& shape) {
    // The canvas of an animation, the picture's size otherwise: always read as 24-bit.
    WebPBitstreamFeatures features;
    if (VP8StatusCode s = WebPGetFeatures(data, size, &features); s != VP8_STATUS_OK) return damaged("WebP", statusText(s));
    shape = PictureShape{features.width, features.height, 24};
    return checkSize(shape.width, shape.height);
}

}  // namespace qel::codec
