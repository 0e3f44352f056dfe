// PNG reading and writing through libspng. Samples are decoded as stored
// (SPNG_FMT_PNG, host order) and mapped to the record's depths here, so palette
// indices and grey levels stay exact; gamma and colour profiles are not applied.
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/formats/codec_detail.h"
#include "core/image/bmp_file.h"

namespace qel::codec {

namespace {

struct CtxDeleter {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxDeleter>;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// The bytes of all IDAT chunks. Deflate expands at most about 1032 times, so a header
// claiming more pixels than that can hold is refused before anything is inflated.
uint64_t compressedBytes(const uint8_t* data, size_t size) {
    uint64_t total = 0;
    for (size_t at = 8; at + 12 <= size;) {
        const uint32_t length = be32(data + at);
        if (std::memcmp(data + at + 4, "IDAT", 4) == 0) total += length;
        if (std::memcmp(data + at + 4, "IEND", 4) == 0) break;
        at += uint64_t(length) + 12;
    }
    return total;
}

int channelsOf(uint8_t colourType) {
    switch (colourType) {
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: return 2;
    case SPNG_COLOR_TYPE_TRUECOLOR: return 3;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: return 4;
    default: return 1;
    }
}

}  // namespace

CodecResult decodePng(const uint8_t* data, size_t size, std::vector<uint8_t>& info, std::vector<uint8_t>& bits) {
    Ctx ctx(spng_ctx_new(0));
    if (!ctx) return refuse(ImageError::NotBitmap, "out of memory");
    spng_set_chunk_limits(ctx.get(), size_t(64) << 20, size_t(64) << 20);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Mutated inputs reach the pixel data only when checksums are not checked.
    spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
#endif
    spng_set_png_buffer(ctx.get(), data, size);
    spng_ihdr ihdr{};
    if (int e = spng_get_ihdr(ctx.get(), &ihdr)) return damaged("PNG", spng_strerror(e));
    if (CodecResult r = checkSize(ihdr.width, ihdr.height); !r) return r;
    const int w = static_cast<int>(ihdr.width), h = static_cast<int>(ihdr.height);
    const int depth = ihdr.bit_depth, channels = channelsOf(ihdr.color_type);
    const uint64_t leastRaw = uint64_t(w) * h * depth * channels / 8;
    if (leastRaw > 1100 * compressedBytes(data, size) + 4096)
        return damaged("PNG", "too little image data for " + std::to_string(w) + " x " + std::to_string(h) + " pixels");

    spng_trns trns{};
    const bool hasTrns = spng_get_trns(ctx.get(), &trns) == 0;
    std::vector<Rgb> table;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (int e = spng_get_plte(ctx.get(), &plte)) return damaged("PNG", spng_strerror(e));
        for (uint32_t i = 0; i < plte.n_entries; ++i) {
            const auto& p = plte.entries[i];
            const unsigned a = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
            table.push_back(Rgb{overWhite8(p.red, a), overWhite8(p.green, a), overWhite8(p.blue, a)});
        }
    }

    size_t rawSize = 0;
    if (int e = spng_decoded_image_size(ctx.get(), SPNG_FMT_PNG, &rawSize)) return damaged("PNG", spng_strerror(e));
    std::vector<uint8_t> raw(rawSize);
    if (int e = spng_decode_image(ctx.get(), raw.data(), raw.size(), SPNG_FMT_PNG, 0))
        return damaged("PNG", spng_strerror(e));
    const size_t rawStride = rawSize / h;
    const auto* raw16 = reinterpret_cast<const uint16_t*>(raw.data());

    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED || (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && depth == 1)) {
        // Packed indices: 1, 4 and 8 bits are kept as they are, 2 bits widen to 4.
        if (ihdr.color_type != SPNG_COLOR_TYPE_INDEXED) table = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
        NewPicture pic(info, bits, w, h, depth == 2 ? 4 : depth, table);
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = raw.data() + rawStride * y;
            uint8_t* dst = pic.row(y);
            if (depth != 2) {
                std::memcpy(dst, src, rawStride);
            } else {
                for (int x = 0; x < w; ++x) {
                    const int v = (src[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                    dst[x >> 1] |= static_cast<uint8_t>((x & 1) ? v : v << 4);
                }
            }
            // A transparent grey level shows white.
            if (ihdr.color_type != SPNG_COLOR_TYPE_INDEXED && hasTrns && trns.gray == 0)
                for (size_t i = 0; i < rawStride; ++i) dst[i] = 0xFF;
        }
        return {};
    }
    if (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA) {
        NewPicture pic(info, bits, w, h, 8, greyTable());
        const bool alpha = channels == 2;
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = raw.data() + rawStride * y;
            const uint16_t* src16 = raw16 + rawStride / 2 * y;
            uint8_t* dst = pic.row(y);
            for (int x = 0; x < w; ++x) {
                unsigned v;
                if (depth == 16) {
                    v = alpha ? overWhite16(src16[2 * x], src16[2 * x + 1]) : from16(src16[x]);
                    if (hasTrns && !alpha && src16[x] == trns.gray) v = 255;
                } else if (depth == 8) {
                    v = alpha ? overWhite8(src[2 * x], src[2 * x + 1]) : src[x];
                    if (hasTrns && !alpha && src[x] == trns.gray) v = 255;
                } else {
                    const unsigned s = (src[x * depth / 8] >> (8 - depth - (x * depth) % 8)) & ((1u << depth) - 1);
                    v = hasTrns && s == trns.gray ? 255 : greyStep(s, depth);
                }
                dst[x] = static_cast<uint8_t>(v);
            }
        }
        return {};
    }
    // Colour, 8 or 16 bits per sample, with or without alpha.
    NewPicture pic(info, bits, w, h, 24);
    const bool alpha = channels == 4;
    auto convertRow = [&](const auto* s, uint8_t* dst, auto to8, auto over) {
        for (int x = 0; x < w; ++x, s += channels, dst += 3) {
            if (alpha) {
                dst[0] = over(s[2], s[3]); dst[1] = over(s[1], s[3]); dst[2] = over(s[0], s[3]);
            } else if (hasTrns && s[0] == trns.red && s[1] == trns.green && s[2] == trns.blue) {
                dst[0] = dst[1] = dst[2] = 255;
            } else {
                dst[0] = to8(s[2]); dst[1] = to8(s[1]); dst[2] = to8(s[0]);
            }
        }
    };
    for (int y = 0; y < h; ++y) {
        if (depth == 8)
            convertRow(raw.data() + rawStride * y, pic.row(y), [](unsigned v) { return uint8_t(v); }, overWhite8);
        else
            convertRow(raw16 + rawStride / 2 * y, pic.row(y), from16, overWhite16);
    }
    return {};
}

CodecResult encodePng(const DibImage& image, std::vector<uint8_t>& out) {
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight, bc = hd.biBitCount;
    Ctx ctx(spng_ctx_new(SPNG_CTX_ENCODER));
    if (!ctx) return refuse(ImageError::WriteFailed, "out of memory");
    spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
    // zlib level 4 with the filtered strategy packs photos as tightly as the default level 6, in
    // about three quarters of the time.
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_LEVEL, 4);
    spng_set_option(ctx.get(), SPNG_IMG_COMPRESSION_STRATEGY, 1);  // Z_FILTERED
    spng_ihdr ihdr{};
    ihdr.width = static_cast<uint32_t>(w);
    ihdr.height = static_cast<uint32_t>(h);
    ihdr.bit_depth = static_cast<uint8_t>(bc == 24 ? 8 : bc);
    ihdr.color_type = bc == 24 ? SPNG_COLOR_TYPE_TRUECOLOR : SPNG_COLOR_TYPE_INDEXED;
    spng_set_ihdr(ctx.get(), &ihdr);

    std::vector<uint8_t> rows;
    if (bc == 24) {
        rows = colourRows(image, false);
    } else {
        // The table as the palette, long enough for every index the pixels use.
        const size_t rowBytes = (size_t(w) * bc + 7) / 8;
        rows.resize(rowBytes * h);
        int maxIndex = 0;
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = image.rowFromTop(y);
            std::memcpy(rows.data() + rowBytes * y, src, rowBytes);
            for (int x = 0; x < w && maxIndex < (1 << bc) - 1; ++x) {
                const int index = bc == 8 ? src[x] : bc == 4 ? (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15
                                                              : (src[x >> 3] >> (7 - (x & 7))) & 1;
                maxIndex = std::max(maxIndex, index);
            }
        }
        spng_plte plte{};
        plte.n_entries = static_cast<uint32_t>(std::min(std::max(image.tableSize(), maxIndex + 1), 1 << bc));
        for (uint32_t i = 0; i < plte.n_entries; ++i) {
            const Rgb c = image.tableColour(static_cast<int>(i));
            plte.entries[i] = spng_plte_entry{c.r, c.g, c.b, 255};
        }
        spng_set_plte(ctx.get(), &plte);
    }
    if (int e = spng_encode_image(ctx.get(), rows.data(), rows.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE))
        return refuse(ImageError::WriteFailed, std::string("PNG encoder: ") + spng_strerror(e));
    size_t length = 0;
    int error = 0;
    auto* buffer = static_cast<uint8_t*>(spng_get_png_buffer(ctx.get(), &length, &error));
    if (!buffer) return refuse(ImageError::WriteFailed, std::string("PNG encoder: ") + spng_strerror(error));
    out.assign(buffer, buffer + length);
    std::free(buffer);
    return {};
}

}  // namespace qel::codec
