// WebP reading and writing through libwebp: decoded straight into the
// bottom-up 24-bit rows, alpha (premultiplied by the decoder) over white.
#include <webp/decode.h>
#include <webp/encode.h>

#include <algorithm>
#include <cstring>

#include "core/formats/codec_detail.h"

namespace qel::codec {

namespace {

const char* statusText(VP8StatusCode s) {
    switch (s) {
    case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
    case VP8_STATUS_UNSUPPORTED_FEATURE: return "unsupported feature";
    case VP8_STATUS_NOT_ENOUGH_DATA: return "data ends early";
    default: return "bitstream error";
    }
}

}  // namespace

CodecResult decodeWebp(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) return refuse(ImageError::NotBitmap, "WebP decoder version mismatch");
    if (VP8StatusCode s = WebPGetFeatures(data, size, &config.input); s != VP8_STATUS_OK) return damaged("WebP", statusText(s));
    if (config.input.has_animation) return refuse(ImageError::Unsupported, "animated WebP files are not supported");
    const int w = config.input.width, h = config.input.height;
    if (CodecResult r = checkSize(w, h); !r) return r;
    NewPicture pic(info, bits, w, h, 24);
    std::vector<uint8_t> rgba;
    config.options.flip = 1;  // bottom row first, as the record stores them
    config.output.is_external_memory = 1;
    if (config.input.has_alpha) {
        rgba.resize(size_t(4) * w * h);
        config.output.colorspace = MODE_bgrA;
        config.output.u.RGBA.rgba = rgba.data();
        config.output.u.RGBA.stride = 4 * w;
        config.output.u.RGBA.size = rgba.size();
    } else {
        config.output.colorspace = MODE_BGR;
        config.output.u.RGBA.rgba = bits.data();
        config.output.u.RGBA.stride = static_cast<int>(pic.stride);
        config.output.u.RGBA.size = bits.size();
    }
    const VP8StatusCode s = WebPDecode(data, size, &config);
    WebPFreeDecBuffer(&config.output);
    if (s != VP8_STATUS_OK) return damaged("WebP", statusText(s));
    if (config.input.has_alpha) {
        for (int r = 0; r < h; ++r) {
            const uint8_t* src = rgba.data() + size_t(4) * w * r;
            uint8_t* dst = bits.data() + pic.stride * r;
            for (int x = 0; x < w; ++x, src += 4, dst += 3) {
                const unsigned clear = 255u - src[3];
                for (int c = 0; c < 3; ++c) dst[c] = static_cast<uint8_t>(std::min(255u, src[c] + clear));
            }
        }
    }
    return {};
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

CodecResult probeWebp(const uint8_t*, size_t, PictureShape&) {
    return refuse(ImageError::Unsupported, "Webp header not probed yet");
}

}  // namespace qel::codec
