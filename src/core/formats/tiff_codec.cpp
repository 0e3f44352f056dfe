// TIFF reading and writing through libtiff, on bytes in memory. The first page
// is read. Strip-organised grey, palette and RGB pages are read sample by sample
// so their pixels stay exact; every other layout libtiff understands (tiles,
// separate planes, YCbCr, CMYK, alpha, ...) goes through its RGBA reader.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "core/formats/codec_detail.h"

namespace qel::codec {

namespace {

// A TIFF "file" in memory: the bytes read, or the bytes being written.
struct MemoryFile {
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::vector<uint8_t>* out = nullptr;
    uint64_t pos = 0;
    std::string error;
};

tmsize_t readProc(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    const size_t size = f->out ? f->out->size() : f->size;
    const uint8_t* data = f->out ? f->out->data() : f->data;
    if (n < 0 || f->pos >= size) return 0;
    const auto count = static_cast<size_t>(std::min<uint64_t>(uint64_t(n), size - f->pos));
    std::memcpy(buf, data + f->pos, count);
    f->pos += count;
    return static_cast<tmsize_t>(count);
}
tmsize_t writeProc(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    if (!f->out || n < 0) return -1;
    const uint64_t end = f->pos + uint64_t(n);
    if (end > f->out->size()) f->out->resize(end);
    std::memcpy(f->out->data() + f->pos, buf, static_cast<size_t>(n));
    f->pos = end;
    return n;
}
toff_t sizeProc(thandle_t h) {
    auto* f = static_cast<MemoryFile*>(h);
    return f->out ? f->out->size() : f->size;
}
toff_t seekProc(thandle_t h, toff_t offset, int whence) {
    auto* f = static_cast<MemoryFile*>(h);
    const uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? sizeProc(h) : 0;
    f->pos = base + offset;
    return f->pos;
}
int closeProc(thandle_t) { return 0; }
int mapProc(thandle_t, void**, toff_t*) { return 0; }
void unmapProc(thandle_t, void*, toff_t) {}

// Keeps libtiff's first error as the reason and its messages off stderr.
int errorHandler(TIFF*, void* user, const char*, const char* fmt, va_list ap) {
    auto* f = static_cast<MemoryFile*>(user);
    if (f->error.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, fmt, ap);
        f->error = text;
    }
    return 1;
}
int warningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using Tiff = std::unique_ptr<TIFF, TiffCloser>;

Tiff openMemory(MemoryFile& file, const char* mode) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, errorHandler, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, warningHandler, &file);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(1) << 30);
    Tiff tif(TIFFClientOpenExt("memory", mode, &file, readProc, writeProc, seekProc, closeProc, sizeProc, mapProc,
                               unmapProc, options));
    TIFFOpenOptionsFree(options);
    return tif;
}

CodecResult tiffError(const MemoryFile& file, const char* what) {
    return damaged("TIFF", file.error.empty() ? std::string(what) : file.error);
}

// The page through libtiff's RGBA reader, alpha (associated there) over white.
CodecResult readRgba(TIFF* tif, MemoryFile& file, int w, int h, std::vector<uint8_t>& info, PixelBytes& bits) {
    char message[1024] = "";
    if (!TIFFRGBAImageOK(tif, message)) return refuse(ImageError::Unsupported, std::string("TIFF layout not supported: ") + message);
    std::vector<uint32_t> raster(size_t(w) * h);
    if (!TIFFReadRGBAImageOriented(tif, uint32_t(w), uint32_t(h), raster.data(), ORIENTATION_TOPLEFT, 0))
        return tiffError(file, "pixels cannot be read");
    NewPicture pic(info, bits, w, h, 24);
    for (int y = 0; y < h; ++y) {
        const uint32_t* s = raster.data() + size_t(w) * y;
        uint8_t* d = pic.row(y);
        for (int x = 0; x < w; ++x, d += 3) {
            const unsigned a = 255 - TIFFGetA(s[x]);
            d[0] = static_cast<uint8_t>(std::min(255u, TIFFGetB(s[x]) + a));
            d[1] = static_cast<uint8_t>(std::min(255u, TIFFGetG(s[x]) + a));
            d[2] = static_cast<uint8_t>(std::min(255u, TIFFGetR(s[x]) + a));
        }
    }
    return {};
}

// How much a compression can expand its data at most; 0 where there is no useful bound
// (fax and JPEG coding can describe large plain areas in a few bits).
uint64_t maxExpansion(uint16_t compression) {
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_ADOBE_DEFLATE: case COMPRESSION_DEFLATE: return 1100;
    case COMPRESSION_LZW: return 4096;
    default: return 0;
    }
}

}  // namespace

CodecResult decodeTiff(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits) {
    MemoryFile file;
    file.data = data;
    file.size = size;
    Tiff tif = openMemory(file, "rm");
    if (!tif) return tiffError(file, "no readable directory");
    uint32_t w = 0, h = 0;
    if (!TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &w) || !TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &h))
        return damaged("TIFF", "no picture size");
    if (CodecResult r = checkSize(w, h); !r) return r;
    uint16_t bps = 1, spp = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, photometric = 0xFFFF;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bps);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetField(tif.get(), TIFFTAG_PHOTOMETRIC, &photometric);
    // A page claiming more pixels than the file's bytes can expand to is refused before its
    // pixels are allocated.
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    const uint64_t leastRaw = uint64_t(w) * h * bps * spp / 8;
    if (const uint64_t most = maxExpansion(compression); most != 0 && leastRaw > most * size + 4096)
        return damaged("TIFF", "too little image data for " + std::to_string(w) + " x " + std::to_string(h) + " pixels");
    const bool grey = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
    const bool exact = !TIFFIsTiled(tif.get()) && format == SAMPLEFORMAT_UINT &&
                       ((spp == 1 && grey && (bps == 1 || bps == 2 || bps == 4 || bps == 8 || bps == 16)) ||
                        (spp == 1 && photometric == PHOTOMETRIC_PALETTE && (bps == 1 || bps == 2 || bps == 4 || bps == 8)) ||
                        (spp == 3 && photometric == PHOTOMETRIC_RGB && planar == PLANARCONFIG_CONTIG && (bps == 8 || bps == 16)));
    if (!exact) return readRgba(tif.get(), file, int(w), int(h), info, bits);

    std::vector<Rgb> table;
    const bool palette = photometric == PHOTOMETRIC_PALETTE;
    const bool inverted = photometric == PHOTOMETRIC_MINISWHITE;
    if (palette) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif.get(), TIFFTAG_COLORMAP, &r, &g, &b)) return damaged("TIFF", "palette missing");
        const int n = 1 << bps;
        // Map entries are scaled by 257 or by 256 depending on the writer: the high byte is right for
        // both. Some writers store 8-bit values in the 16-bit map.
        const bool eightBit = std::all_of(r, r + n, [](uint16_t v) { return v < 256; }) &&
                              std::all_of(g, g + n, [](uint16_t v) { return v < 256; }) &&
                              std::all_of(b, b + n, [](uint16_t v) { return v < 256; });
        for (int i = 0; i < n; ++i)
            table.push_back(eightBit ? Rgb{uint8_t(r[i]), uint8_t(g[i]), uint8_t(b[i])}
                                     : Rgb{uint8_t(r[i] >> 8), uint8_t(g[i] >> 8), uint8_t(b[i] >> 8)});
    } else if (bps == 1) {
        table = inverted ? std::vector<Rgb>{Rgb{255, 255, 255}, Rgb{0, 0, 0}} : std::vector<Rgb>{Rgb{0, 0, 0}, Rgb{255, 255, 255}};
    }
    const bool packed = palette || bps == 1;
    const int outDepth = spp == 3 ? 24 : packed ? (bps == 2 ? 4 : bps) : 8;
    NewPicture pic(info, bits, int(w), int(h), outDepth, outDepth == 24 ? std::vector<Rgb>{} : packed ? table : greyTable());
    std::vector<uint8_t> line(static_cast<size_t>(std::max<tmsize_t>(TIFFScanlineSize(tif.get()), 1)));
    const uint64_t needed = (uint64_t(w) * bps * spp + 7) / 8;
    if (line.size() < needed) return damaged("TIFF", "scanline size inconsistent");
    const auto* line16 = reinterpret_cast<const uint16_t*>(line.data());
    for (uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif.get(), line.data(), y, 0) < 0) return tiffError(file, "pixels cannot be read");
        uint8_t* d = pic.row(int(y));
        if (outDepth == 24) {
            for (uint32_t x = 0; x < w; ++x, d += 3)
                for (int c = 0; c < 3; ++c)
                    d[2 - c] = bps == 8 ? line[3 * x + c] : from16(line16[3 * x + c]);
        } else if (packed && bps != 2) {
            std::memcpy(d, line.data(), static_cast<size_t>(needed));
        } else if (packed) {
            for (uint32_t x = 0; x < w; ++x) {
                const int v = (line[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                d[x >> 1] |= static_cast<uint8_t>((x & 1) ? v : v << 4);
            }
        } else {
            for (uint32_t x = 0; x < w; ++x) {
                unsigned v = bps == 16 ? from16(line16[x])
                             : bps == 8 ? line[x]
                                        : greyStep((line[x * bps / 8] >> (8 - bps - (x * bps) % 8)) & ((1u << bps) - 1), bps);
                d[x] = static_cast<uint8_t>(inverted ? 255 - v : v);
            }
        }
    }
    return {};
}

CodecResult encodeTiff(const DibImage& image, std::vector<uint8_t>& out) {
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight, bc = hd.biBitCount;
    MemoryFile file;
    file.out = &out;
    Tiff tif = openMemory(file, "w");
    if (!tif) return refuse(ImageError::WriteFailed, "TIFF writer: " + file.error);
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(bc == 24 ? 8 : bc));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(bc == 24 ? 3 : 1));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, bc == 24 ? PHOTOMETRIC_RGB : PHOTOMETRIC_PALETTE);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    if (bc == 24) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    std::vector<uint16_t> map;
    if (bc != 24) {
        // The map always has 2^depth entries; entries beyond the table are black.
        const int n = 1 << bc;
        map.resize(size_t(3) * n);
        for (int i = 0; i < n; ++i) {
            const Rgb c = image.tableColour(i);
            map[i] = uint16_t(c.r * 257);
            map[n + i] = uint16_t(c.g * 257);
            map[2 * n + i] = uint16_t(c.b * 257);
        }
        TIFFSetField(t, TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    }
    const size_t rowBytes = (size_t(w) * bc + 7) / 8;
    std::vector<uint8_t> line(rowBytes);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = image.rowFromTop(y);
        if (bc == 24) {
            for (int x = 0; x < w; ++x) {
                line[3 * x] = src[3 * x + 2];
                line[3 * x + 1] = src[3 * x + 1];
                line[3 * x + 2] = src[3 * x];
            }
        } else {
            std::memcpy(line.data(), src, rowBytes);
        }
        if (TIFFWriteScanline(t, line.data(), uint32_t(y), 0) < 0) return refuse(ImageError::WriteFailed, "TIFF writer: " + file.error);
    }
    if (!TIFFWriteDirectory(t)) return refuse(ImageError::WriteFailed, "TIFF writer: " + file.error);
    tif.reset();
    return {};
}

CodecResult probeTiff(const uint8_t*, size_t, PictureShape&) {
    return refuse(ImageError::Unsupported, "Tiff header not probed yet");
}

}  // namespace qel::codec
