// TIFF reading and writing through libtiff, on bytes in memory. The first page
// is read. Grey, palette and RGB pages (strips or tiles, with or without alpha,
// JPEG-coded YCbCr too) are read sample by sample so their pixels stay exact;
// every other layout libtiff understands (separate planes, CMYK, CIELab, ...)
// goes through its RGBA reader. Memory follows the data: rows and tiles are
// decoded one at a time into the picture, a large tile in growing steps.
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
    const InputPassed* passed = nullptr;  // set when reading a mapped file: told where each read starts
    uint64_t pos = 0;
    std::string error;
    // libtiff's JPEG coding warns, and goes on, when a strip's or tile's JPEG data holds fewer rows or
    // columns than the strip or tile: the rest would stay undecoded, so the page counts as damaged.
    std::string jpegShort;
};

tmsize_t readProc(thandle_t h, void* buf, tmsize_t n) {
    auto* f = static_cast<MemoryFile*>(h);
    const size_t size = f->out ? f->out->size() : f->size;
    const uint8_t* data = f->out ? f->out->data() : f->data;
    if (n < 0 || f->pos >= size) return 0;
    const auto count = static_cast<size_t>(std::min<uint64_t>(uint64_t(n), size - f->pos));
    if (f->passed) (*f->passed)(f->pos);
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
// Bytes being read are handed to libtiff as a mapping, as a mapped file would be:
// it then decodes strips and tiles straight from them.
int mapProc(thandle_t h, void** base, toff_t* size) {
    auto* f = static_cast<MemoryFile*>(h);
    if (f->out || f->passed) return 0;
    *base = const_cast<uint8_t*>(f->data);
    *size = f->size;
    return 1;
}
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
int warningHandler(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* f = static_cast<MemoryFile*>(user);
    if (module && std::strcmp(module, "JPEGPreDecode") == 0 && f->jpegShort.empty()) {
        char text[256];
        std::vsnprintf(text, sizeof text, fmt, ap);
        f->jpegShort = text;
    }
    return 1;
}

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

// A refusal naming what failed, with libtiff's own first message as the detail.
CodecResult tiffError(const MemoryFile& file, const std::string& what) {
    return damaged("TIFF", file.error.empty() ? what : what + " (" + file.error + ")");
}

CodecResult shortJpeg(const MemoryFile& file) {
    return damaged("TIFF", "JPEG data smaller than its strip or tile (" + file.jpegShort + ")");
}

// A scratch block for decoded strips and tiles, zero-filled when it grows.
struct Scratch {
    std::unique_ptr<uint8_t[]> block;
    size_t size = 0;
    uint8_t* reserve(size_t n) {
        if (n > size) {
            block.reset();
            block = std::make_unique<uint8_t[]>(n);
            size = n;
        }
        return block.get();
    }
    uint8_t* data() const { return block.get(); }
};

// Decodes strip or tile `index` (`full` bytes, made of units of `unit` bytes) into `buf`; the bytes
// decoded, or -1. A chunk over a megabyte is decoded in growing prefixes (1, 4, 16 ... MB), so one
// whose data ends early is refused before a block of its declared size is taken.
tmsize_t readChunk(TIFF* tif, const MemoryFile& file, bool tiled, uint32_t index, tmsize_t full, tmsize_t unit, Scratch& buf) {
    constexpr tmsize_t kFirstStep = tmsize_t(1) << 20;
    unit = std::max<tmsize_t>(unit, 1);
    for (tmsize_t want = std::min(full, std::max(unit, kFirstStep / unit * unit));;
         want = std::min(full, std::max(unit, want * 4 / unit * unit))) {
        uint8_t* to = buf.reserve(static_cast<size_t>(want));
        const tmsize_t got = tiled ? TIFFReadEncodedTile(tif, index, to, want) : TIFFReadEncodedStrip(tif, index, to, want);
        if (got < want || want == full || !file.jpegShort.empty()) return got;
    }
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

// How many bytes the page's strips or tiles reach past the end of the file (0 when all are there).
uint64_t missingBytes(TIFF* tif, uint64_t fileSize) {
    const uint32_t chunks = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t end = 0;
    for (uint32_t i = 0; i < chunks; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif, i), count = TIFFGetStrileByteCount(tif, i);
        if (count == 0) continue;
        if (offset + count < offset) return UINT64_MAX;
        end = std::max(end, offset + count);
    }
    return end > fileSize ? end - fileSize : 0;
}

// What the reader makes of a page.
struct Layout {
    uint32_t w = 0, h = 0;
    uint16_t bps = 1, spp = 1, photometric = 0xFFFF, compression = COMPRESSION_NONE;
    int orientation = 1;      // 1..8, as the Orientation tag says (1 when absent or out of range)
    bool tiled = false;
    bool exact = false;       // read sample by sample here; otherwise through libtiff's RGBA reader
    int channels = 0;         // colour samples of a pixel: 1 grey or palette, 3 RGB
    int alpha = -1;           // the sample holding alpha, or -1
    bool associated = false;  // alpha already multiplied into the colour samples
    bool inverted = false;    // min-is-white grey
    int depth = 24;           // bit count of the picture
};

// Reads and checks the current page's header: size, layout, compression and where its data lies.
CodecResult readLayout(TIFF* tif, MemoryFile& file, Layout& l) {
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.w) || !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.h))
        return damaged("TIFF", "the first page has no picture size");
    if (CodecResult r = checkSize(l.w, l.h); !r) return r;
    uint16_t planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT, orientation = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bps);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &l.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric);
    if (TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8) l.orientation = orientation;
    l.tiled = TIFFIsTiled(tif) != 0;
    if (!TIFFIsCODECConfigured(l.compression)) {
        const TIFFCodec* codec = TIFFFindCODEC(l.compression);
        return refuse(ImageError::Unsupported, std::string("TIFF compression ") +
                                                   (codec ? codec->name : std::to_string(l.compression)) + " is not supported");
    }
    // A page claiming more pixels than the file's bytes can expand to is refused before its
    // pixels are allocated.
    const uint64_t leastRaw = uint64_t(l.w) * l.h * l.bps * l.spp / 8;
    if (const uint64_t most = maxExpansion(l.compression); most != 0 && leastRaw > most * file.size + 4096)
        return damaged("TIFF", "too little image data for " + std::to_string(l.w) + " x " + std::to_string(l.h) + " pixels");
    if (const uint64_t missing = missingBytes(tif, file.size); missing != 0)
        return damaged("TIFF", missing == UINT64_MAX ? std::string("pixel data lies outside the file")
                                                     : "pixel data ends " + std::to_string(missing) + " bytes early");

    const bool grey = l.photometric == PHOTOMETRIC_MINISBLACK || l.photometric == PHOTOMETRIC_MINISWHITE;
    const bool palette = l.photometric == PHOTOMETRIC_PALETTE;
    // JPEG-coded YCbCr: libjpeg gives RGB rows.
    const bool jpegYcc = l.photometric == PHOTOMETRIC_YCBCR && l.compression == COMPRESSION_JPEG;
    if (jpegYcc) TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    const bool rgb = l.photometric == PHOTOMETRIC_RGB || jpegYcc;
    l.channels = grey || palette ? 1 : rgb ? 3 : 0;
    uint16_t extraCount = 0;
    uint16_t* extra = nullptr;
    const bool extraTagged = TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) != 0;
    for (int i = 0; extraTagged && i < extraCount; ++i)
        if (extra[i] == EXTRASAMPLE_ASSOCALPHA || extra[i] == EXTRASAMPLE_UNASSALPHA) {
            l.alpha = l.channels + i;
            l.associated = extra[i] == EXTRASAMPLE_ASSOCALPHA;
            break;
        }
    // A fourth RGB sample without the tag is taken as associated alpha, as libtiff's RGBA reader takes it.
    if (!extraTagged && rgb && l.spp == 4) l.alpha = 3, l.associated = true;
    l.inverted = l.photometric == PHOTOMETRIC_MINISWHITE;
    const bool wholeBytes = l.bps == 8 || l.bps == 16;
    const bool packed = l.bps == 1 || l.bps == 2 || l.bps == 4;
    l.exact = format == SAMPLEFORMAT_UINT && (planar == PLANARCONFIG_CONTIG || l.spp == 1) && l.channels > 0 &&
              l.spp >= l.channels && l.alpha < l.spp &&
              (grey ? (l.spp == 1 ? packed || wholeBytes : wholeBytes)
                    : palette ? l.spp == 1 && (packed || l.bps == 8) : wholeBytes);
    l.depth = !l.exact || l.channels == 3 ? 24 : palette ? (l.bps == 2 ? 4 : l.bps) : l.bps == 1 && l.spp == 1 ? 1 : 8;
    if (l.exact && l.tiled) {
        // Tiles are placed at whole bytes of the picture's rows.
        uint32_t tw = 0;
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
        if (uint64_t(tw) * l.depth % 8 != 0) l.exact = false, l.depth = 24;
    }
    if (!l.exact) {
        char message[1024] = "";
        if (!TIFFRGBAImageOK(tif, message)) return refuse(ImageError::Unsupported, std::string("TIFF layout not supported: ") + message);
    }
    return {};
}

// A colour sample c with the pixel's alpha a (both on the page's scale) over white, on the 8-bit scale.
uint8_t overWhite(const Layout& l, uint32_t c, uint32_t a) {
    if (l.bps == 8) return l.associated ? static_cast<uint8_t>(std::min(255u, c + 255u - std::min(a, 255u))) : overWhite8(c, a);
    return l.associated ? from16(std::min(65535u, c + 65535u - std::min(a, 65535u))) : overWhite16(c, a);
}

// Turns n pixels of file samples, from a row's (or a tile row's) first byte, into the picture's row
// bytes from `d` on.
void convertRun(const Layout& l, const uint8_t* s, uint32_t n, uint8_t* d) {
    const unsigned spp = l.spp;
    const unsigned top = l.bps == 16 ? 65535u : 255u;
    auto sample = [&](size_t i) -> uint32_t {
        if (l.bps == 8) return s[i];
        uint16_t v;
        std::memcpy(&v, s + 2 * i, 2);
        return v;
    };
    auto to8 = [&](uint32_t v) { return l.bps == 8 ? static_cast<uint8_t>(v) : from16(v); };
    if (l.channels == 3) {
        for (uint32_t x = 0; x < n; ++x, d += 3)
            for (unsigned c = 0; c < 3; ++c) {
                const uint32_t v = sample(size_t(x) * spp + c);
                d[2 - c] = l.alpha < 0 ? to8(v) : overWhite(l, v, sample(size_t(x) * spp + unsigned(l.alpha)));
            }
    } else if (l.depth == 8 && l.bps < 8) {
        for (uint32_t x = 0; x < n; ++x) {
            const unsigned v = greyStep((s[x * l.bps / 8] >> (8 - l.bps - (x * l.bps) % 8)) & ((1u << l.bps) - 1), l.bps);
            d[x] = static_cast<uint8_t>(l.inverted ? 255 - v : v);
        }
    } else if (l.depth == 8 && l.photometric != PHOTOMETRIC_PALETTE) {
        for (uint32_t x = 0; x < n; ++x) {
            uint32_t v = sample(size_t(x) * spp);
            if (l.inverted) v = top - v;
            d[x] = l.alpha < 0 ? to8(v) : overWhite(l, v, sample(size_t(x) * spp + unsigned(l.alpha)));
        }
    } else if (l.bps == 2) {  // 2-bit palette indices as 4-bit ones
        for (uint32_t x = 0; x < n; x += 2) {
            const unsigned a = (s[x >> 2] >> (6 - 2 * (x & 3))) & 3;
            const unsigned b = x + 1 < n ? (s[(x + 1) >> 2] >> (6 - 2 * ((x + 1) & 3))) & 3 : 0;
            d[x >> 1] = static_cast<uint8_t>(a << 4 | b);
        }
    } else {  // palette indices and black/white bits as they are
        std::memcpy(d, s, (size_t(n) * l.bps + 7) / 8);
    }
}

// The page sample by sample, rows top-down as stored.
CodecResult readExact(TIFF* tif, MemoryFile& file, const Layout& l, const std::vector<Rgb>& table, std::vector<uint8_t>& info,
                      PixelBytes& bits) {
    if (!l.tiled) {
        const tmsize_t lineSize = TIFFScanlineSize(tif);
        if (lineSize <= 0 || uint64_t(lineSize) < (uint64_t(l.w) * l.bps * l.spp + 7) / 8)
            return damaged("TIFF", "row size inconsistent with the picture size");
        Scratch line;
        line.reserve(static_cast<size_t>(lineSize));
        NewPicture pic(info, bits, int(l.w), int(l.h), l.depth, table);
        for (uint32_t y = 0; y < l.h; ++y) {
            if (TIFFReadScanline(tif, line.data(), y, 0) < 0) return tiffError(file, "row " + std::to_string(y) + " cannot be decoded");
            if (!file.jpegShort.empty()) return shortJpeg(file);
            convertRun(l, line.data(), l.w, pic.row(int(y)));
        }
        return {};
    }
    uint32_t tw = 0, th = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
    const tmsize_t tileSize = TIFFTileSize(tif), tileRow = TIFFTileRowSize(tif);
    if (tw == 0 || th == 0 || tileRow <= 0 || uint64_t(tileRow) < (uint64_t(tw) * l.bps * l.spp + 7) / 8 ||
        uint64_t(tileSize) < uint64_t(tileRow) * th)
        return damaged("TIFF", "tile size inconsistent with the tile's pixels");
    Scratch tile;
    NewPicture pic(info, bits, int(l.w), int(l.h), l.depth, table);
    for (uint64_t ty = 0; ty < l.h; ty += th)
        for (uint64_t tx = 0; tx < l.w; tx += tw) {
            const uint32_t index = TIFFComputeTile(tif, uint32_t(tx), uint32_t(ty), 0, 0);
            const tmsize_t got = readChunk(tif, file, true, index, tileSize, tileRow, tile);
            if (!file.jpegShort.empty()) return shortJpeg(file);
            if (got < tileSize)
                return tiffError(file, "the tile at " + std::to_string(tx) + ", " + std::to_string(ty) + " cannot be decoded");
            const auto cols = static_cast<uint32_t>(std::min<uint64_t>(tw, l.w - tx));
            const auto rows = static_cast<uint32_t>(std::min<uint64_t>(th, l.h - ty));
            for (uint32_t r = 0; r < rows; ++r)
                convertRun(l, tile.data() + size_t(tileRow) * r, cols, pic.row(int(ty + r)) + tx * l.depth / 8);
        }
    return {};
}

// The page through libtiff's RGBA reader, a band of rows at a time, alpha (associated there) over white;
// rows top-down as stored.
CodecResult readRgba(TIFF* tif, MemoryFile& file, const Layout& l, std::vector<uint8_t>& info, PixelBytes& bits) {
    // That reader zero-fills a block as large as a whole strip or tile before decoding into it: chunks
    // over a megabyte are decoded here first, in growing steps, so missing data is found before that.
    const uint32_t chunks = l.tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    const tmsize_t chunkSize = l.tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
    if (chunkSize > (tmsize_t(1) << 20)) {
        const tmsize_t unit = l.tiled ? TIFFVTileSize(tif, 1) : TIFFVStripSize(tif, 1);
        Scratch check;
        for (uint32_t i = 0; i < chunks; ++i)
            if (readChunk(tif, file, l.tiled, i, chunkSize, unit, check) < 0) return tiffError(file, "pixel data cannot be decoded");
            else if (!file.jpegShort.empty()) return shortJpeg(file);
    }
    char message[1024] = "";
    TIFFRGBAImage img;
    if (!TIFFRGBAImageBegin(&img, tif, 1, message)) return refuse(ImageError::Unsupported, std::string("TIFF layout not supported: ") + message);
    struct End {
        TIFFRGBAImage* img;
        ~End() { TIFFRGBAImageEnd(img); }
    } end{&img};
    img.req_orientation = img.orientation;  // rows as stored: the orientation is applied afterwards
    uint32_t unitRows = l.h;
    if (l.tiled) TIFFGetField(tif, TIFFTAG_TILELENGTH, &unitRows);
    else TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &unitRows);
    // Bands of whole strips or tiles where they are small enough, else of as many rows as fit 32 MB.
    const uint64_t rowBytes = uint64_t(l.w) * 4, most = std::max<uint64_t>(1, (uint64_t(32) << 20) / rowBytes);
    const auto band = static_cast<uint32_t>(std::clamp<uint64_t>(unitRows, 1, std::min<uint64_t>(l.h, most)));
    // Not zero-filled: each band is written whole before it is read.
    const auto raster = std::make_unique_for_overwrite<uint32_t[]>(static_cast<size_t>(uint64_t(l.w) * band));
    uint32_t* px = raster.get();
    NewPicture pic(info, bits, int(l.w), int(l.h), 24);
    for (uint32_t y0 = 0; y0 < l.h; y0 += band) {
        const uint32_t n = std::min(band, l.h - y0);
        img.row_offset = int(y0);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, px, l.w, n)) return tiffError(file, "pixel data cannot be decoded");
        if (!file.jpegShort.empty()) return shortJpeg(file);
        for (uint32_t r = 0; r < n; ++r) {
            const uint32_t* s = px + size_t(l.w) * r;
            uint8_t* d = pic.row(int(y0 + r));
            for (uint32_t x = 0; x < l.w; ++x, d += 3) {
                const unsigned a = 255 - TIFFGetA(s[x]);
                d[0] = static_cast<uint8_t>(std::min(255u, TIFFGetB(s[x]) + a));
                d[1] = static_cast<uint8_t>(std::min(255u, TIFFGetG(s[x]) + a));
                d[2] = static_cast<uint8_t>(std::min(255u, TIFFGetR(s[x]) + a));
            }
        }
    }
    return {};
}

uint32_t pixelAt(const uint8_t* row, int64_t x, int depth) {
    switch (depth) {
    case 24: return row[3 * x] | uint32_t(row[3 * x + 1]) << 8 | uint32_t(row[3 * x + 2]) << 16;
    case 8: return row[x];
    case 4: return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15u;
    default: return (row[x >> 3] >> (7 - (x & 7))) & 1u;
    }
}
void setPixel(uint8_t* row, int64_t x, int depth, uint32_t v) {
    switch (depth) {
    case 24: row[3 * x] = uint8_t(v); row[3 * x + 1] = uint8_t(v >> 8); row[3 * x + 2] = uint8_t(v >> 16); return;
    case 8: row[x] = uint8_t(v); return;
    case 4: {
        const int shift = (x & 1) ? 0 : 4;
        row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & ~(15 << shift)) | v << shift);
        return;
    }
    default: {
        const int shift = 7 - int(x & 7);
        row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << shift)) | v << shift);
    }
    }
}

// Turns a picture of any depth as an orientation value (the TIFF tag's, which is also EXIF's)
// asks: 2 mirrors, 3 turns half round, 4 flips, 5 transposes, 6 turns a quarter clockwise, 7
// transverses, 8 a quarter anticlockwise. 2-4 work in place; 5-8 build the turned block.
void orientPicture(int orientation, std::vector<uint8_t>& info, PixelBytes& bits) {
    if (orientation <= 1 || orientation > 8) return;
    BitmapInfoHeader h;
    std::memcpy(&h, info.data(), kHeaderSize);
    const int w = h.biWidth, ht = h.biHeight, d = h.biBitCount;
    const int64_t stride = strideFor(w, d);
    auto row = [&](int y) { return bits.data() + (ht - 1 - y) * stride; };  // y from the top
    if (orientation <= 4) {
        if (orientation != 4) {
            std::vector<uint8_t> copy(static_cast<size_t>(stride));
            for (int y = 0; y < ht; ++y) {
                std::memcpy(copy.data(), row(y), copy.size());
                for (int x = 0; x < w; ++x) setPixel(row(y), x, d, pixelAt(copy.data(), w - 1 - x, d));
            }
        }
        if (orientation != 2)
            for (int y = 0; y < ht / 2; ++y) std::swap_ranges(row(y), row(y) + stride, row(ht - 1 - y));
        return;
    }
    const int ow = ht, oh = w;
    const int64_t outStride = strideFor(ow, d);
    PixelBytes out(static_cast<size_t>(outStride * oh));
    for (int y = 0; y < oh; ++y) {
        uint8_t* dst = out.data() + (oh - 1 - y) * outStride;
        for (int x = 0; x < ow; ++x) {
            int sx = y, sy = x;  // 5
            if (orientation == 6) sy = ht - 1 - x;
            else if (orientation == 7) sx = w - 1 - y, sy = ht - 1 - x;
            else if (orientation == 8) sx = w - 1 - y;
            setPixel(dst, x, d, pixelAt(row(sy), sx, d));
        }
    }
    h.biWidth = ow;
    h.biHeight = oh;
    h.biSizeImage = static_cast<uint32_t>(out.size());
    std::memcpy(info.data(), &h, kHeaderSize);
    bits = std::move(out);
}

// The colour table of an exactly read page: the palette, black/white, or none (grey gets the grey table).
CodecResult pageTable(TIFF* tif, const Layout& l, std::vector<Rgb>& table) {
    table.clear();
    if (l.photometric == PHOTOMETRIC_PALETTE) {
        uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b)) return damaged("TIFF", "palette missing");
        const int n = 1 << l.bps;
        // Map entries are scaled by 257 or by 256 depending on the writer: the high byte is right for
        // both. Some writers store 8-bit values in the 16-bit map.
        const bool eightBit = std::all_of(r, r + n, [](uint16_t v) { return v < 256; }) &&
                              std::all_of(g, g + n, [](uint16_t v) { return v < 256; }) &&
                              std::all_of(b, b + n, [](uint16_t v) { return v < 256; });
        for (int i = 0; i < n; ++i)
            table.push_back(eightBit ? Rgb{uint8_t(r[i]), uint8_t(g[i]), uint8_t(b[i])}
                                     : Rgb{uint8_t(r[i] >> 8), uint8_t(g[i] >> 8), uint8_t(b[i] >> 8)});
    } else if (l.depth == 1) {
        table = l.inverted ? std::vector<Rgb>{Rgb{255, 255, 255}, Rgb{0, 0, 0}} : std::vector<Rgb>{Rgb{0, 0, 0}, Rgb{255, 255, 255}};
    } else if (l.depth == 8) {
        table = greyTable();
    }
    return {};
}

}  // namespace

CodecResult decodeTiff(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                       const InputPassed& passed) {
    MemoryFile file;
    file.data = data;
    file.size = size;
    if (passed) file.passed = &passed;
    Tiff tif = openMemory(file, "r");
    if (!tif) return tiffError(file, "the first page's directory cannot be read");
    Layout l;
    if (CodecResult r = readLayout(tif.get(), file, l); !r) return r;
    CodecResult r;
    if (l.exact) {
        std::vector<Rgb> table;
        if (r = pageTable(tif.get(), l, table); !r) return r;
        r = readExact(tif.get(), file, l, table, info, bits);
    } else {
        r = readRgba(tif.get(), file, l, info, bits);
    }
    if (r) orientPicture(l.orientation, info, bits);
    return r;
}

CodecResult probeTiff(const uint8_t* data, size_t size, PictureShape& shape) {
    MemoryFile file;
    file.data = data;
    file.size = size;
    Tiff tif = openMemory(file, "r");
    if (!tif) return tiffError(file, "the first page's directory cannot be read");
    Layout l;
    if (CodecResult r = readLayout(tif.get(), file, l); !r) return r;
    const bool turned = l.orientation >= 5;
    shape.width = turned ? l.h : l.w;
    shape.height = turned ? l.w : l.h;
    shape.bitCount = l.depth;
    return {};
}

CodecResult encodeTiff(const DibImage& image, std::vector<uint8_t>& out) {
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight, bc = hd.biBitCount;
    // Grey pictures (the 256-step grey table) are written as grey, black/white ones as bilevel: both
    // read back with the same table. Other indexed pictures keep their palette.
    const bool grey = hasGreyTable(image);
    const Rgb black{0, 0, 0}, white{255, 255, 255};
    const bool bilevel = bc == 1 && image.tableSize() == 2 &&
                         ((image.tableColour(0) == black && image.tableColour(1) == white) ||
                          (image.tableColour(0) == white && image.tableColour(1) == black));
    const uint16_t photometric = bc == 24 ? PHOTOMETRIC_RGB
                                 : grey   ? PHOTOMETRIC_MINISBLACK
                                 : bilevel ? (image.tableColour(0) == black ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_MINISWHITE)
                                           : PHOTOMETRIC_PALETTE;
    MemoryFile file;
    file.out = &out;
    Tiff tif = openMemory(file, "w");
    if (!tif) return refuse(ImageError::WriteFailed, "TIFF writer: " + file.error);
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(w));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(h));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(bc == 24 ? 8 : bc));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(bc == 24 ? 3 : 1));
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    // Neighbouring colour and grey samples are alike; palette indices gain nothing from differences.
    if (bc == 24 || grey) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    std::vector<uint16_t> map;
    if (photometric == PHOTOMETRIC_PALETTE) {
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

namespace {

// Copies one tag of the current directory of `from` to `to`, whatever its type and count.
void copyTag(TIFF* from, TIFF* to, const TIFFField* field) {
    const uint32_t tag = TIFFFieldTag(field);
    if (TIFFFieldIsAnonymous(field) && !TIFFFindField(to, tag, TIFF_ANY)) {
        // A tag libtiff does not know: registered for the new file as it was found in the old one.
        static const std::string unknown = "unknown";
        TIFFFieldInfo info{tag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFFFieldDataType(field), FIELD_CUSTOM, 1, 1,
                           const_cast<char*>(unknown.c_str())};
        TIFFMergeFieldInfo(to, &info, 1);
    }
    const TIFFDataType type = TIFFFieldDataType(field);
    if (TIFFFieldPassCount(field)) {
        void* values = nullptr;
        if (TIFFFieldSetGetCountSize(field) == 4) {
            uint32_t n = 0;
            if (TIFFGetField(from, tag, &n, &values)) TIFFSetField(to, tag, n, values);
        } else {
            uint16_t n = 0;
            if (TIFFGetField(from, tag, &n, &values)) TIFFSetField(to, tag, int(n), values);
        }
    } else if (type == TIFF_ASCII) {
        char* text = nullptr;
        if (TIFFGetField(from, tag, &text)) TIFFSetField(to, tag, text);
    } else if (TIFFFieldReadCount(field) == 1) {
        alignas(8) uint8_t value[8] = {};
        if (!TIFFGetField(from, tag, value)) return;
        const int size = TIFFFieldSetGetSize(field);
        const bool real = type == TIFF_FLOAT || type == TIFF_DOUBLE || type == TIFF_RATIONAL || type == TIFF_SRATIONAL;
        if (real && size == 4) TIFFSetField(to, tag, double(*reinterpret_cast<float*>(value)));
        else if (real) TIFFSetField(to, tag, *reinterpret_cast<double*>(value));
        else if (size == 8) TIFFSetField(to, tag, *reinterpret_cast<uint64_t*>(value));
        else if (size == 4) TIFFSetField(to, tag, *reinterpret_cast<uint32_t*>(value));
        else if (size == 2) TIFFSetField(to, tag, int(*reinterpret_cast<uint16_t*>(value)));
        else TIFFSetField(to, tag, int(value[0]));
    } else {
        void* values = nullptr;
        if (TIFFGetField(from, tag, &values)) TIFFSetField(to, tag, values);
    }
}

// Appends the current directory of `from` to `to` unchanged: its tags and its strips or tiles as
// they are coded. Sub-directories (EXIF, GPS, sub-IFDs) are not carried over.
bool copyPage(TIFF* from, TIFF* to) {
    // The tags libtiff keeps in fixed fields, the picture's layout first, then the coding's own.
    static const uint32_t kFixed[] = {
        TIFFTAG_SUBFILETYPE, TIFFTAG_IMAGEWIDTH, TIFFTAG_IMAGELENGTH, TIFFTAG_BITSPERSAMPLE, TIFFTAG_SAMPLESPERPIXEL,
        TIFFTAG_COMPRESSION, TIFFTAG_PHOTOMETRIC, TIFFTAG_PLANARCONFIG, TIFFTAG_ROWSPERSTRIP, TIFFTAG_TILEWIDTH,
        TIFFTAG_TILELENGTH, TIFFTAG_IMAGEDEPTH, TIFFTAG_TILEDEPTH, TIFFTAG_THRESHHOLDING, TIFFTAG_FILLORDER,
        TIFFTAG_ORIENTATION, TIFFTAG_MINSAMPLEVALUE, TIFFTAG_MAXSAMPLEVALUE, TIFFTAG_RESOLUTIONUNIT, TIFFTAG_SAMPLEFORMAT,
        TIFFTAG_YCBCRPOSITIONING, TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION, TIFFTAG_XPOSITION, TIFFTAG_YPOSITION,
        TIFFTAG_SMINSAMPLEVALUE, TIFFTAG_SMAXSAMPLEVALUE, TIFFTAG_PAGENUMBER, TIFFTAG_HALFTONEHINTS,
        TIFFTAG_YCBCRSUBSAMPLING, TIFFTAG_COLORMAP, TIFFTAG_EXTRASAMPLES, TIFFTAG_REFERENCEBLACKWHITE,
        TIFFTAG_TRANSFERFUNCTION, TIFFTAG_PREDICTOR, TIFFTAG_JPEGTABLES, TIFFTAG_GROUP3OPTIONS, TIFFTAG_GROUP4OPTIONS,
        TIFFTAG_BADFAXLINES, TIFFTAG_CLEANFAXDATA, TIFFTAG_CONSECUTIVEBADFAXLINES};
    for (uint32_t tag : kFixed) {
        const TIFFField* field = TIFFFindField(from, tag, TIFF_ANY);
        if (!field) continue;
        switch (tag) {
        case TIFFTAG_PAGENUMBER: case TIFFTAG_HALFTONEHINTS: case TIFFTAG_YCBCRSUBSAMPLING: {
            uint16_t a = 0, b = 0;
            if (TIFFGetField(from, tag, &a, &b)) TIFFSetField(to, tag, int(a), int(b));
            break;
        }
        case TIFFTAG_COLORMAP: {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (TIFFGetField(from, tag, &r, &g, &b)) TIFFSetField(to, tag, r, g, b);
            break;
        }
        case TIFFTAG_TRANSFERFUNCTION: {
            uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
            if (TIFFGetField(from, tag, &r, &g, &b)) TIFFSetField(to, tag, r, g, b);
            break;
        }
        case TIFFTAG_EXTRASAMPLES: {
            uint16_t n = 0;
            uint16_t* types = nullptr;
            if (TIFFGetField(from, tag, &n, &types)) TIFFSetField(to, tag, int(n), types);
            break;
        }
        case TIFFTAG_SMINSAMPLEVALUE: case TIFFTAG_SMAXSAMPLEVALUE: {
            double v = 0;
            if (TIFFGetField(from, tag, &v)) TIFFSetField(to, tag, v);
            break;
        }
        case TIFFTAG_JPEGTABLES: {
            uint32_t n = 0;
            void* tables = nullptr;
            if (TIFFGetField(from, tag, &n, &tables)) TIFFSetField(to, tag, n, tables);
            break;
        }
        default: copyTag(from, to, field);
        }
    }
    static const uint32_t kOtherDirectories[] = {TIFFTAG_SUBIFD, TIFFTAG_EXIFIFD, TIFFTAG_GPSIFD, TIFFTAG_INTEROPERABILITYIFD};
    for (int i = 0, n = TIFFGetTagListCount(from); i < n; ++i) {
        const uint32_t tag = TIFFGetTagListEntry(from, i);
        const TIFFField* field = TIFFFindField(from, tag, TIFF_ANY);
        if (!field || std::find(std::begin(kOtherDirectories), std::end(kOtherDirectories), tag) != std::end(kOtherDirectories) ||
            TIFFFieldDataType(field) == TIFF_IFD || TIFFFieldDataType(field) == TIFF_IFD8)
            continue;
        copyTag(from, to, field);
    }
    const bool tiled = TIFFIsTiled(from) != 0;
    const uint32_t chunks = tiled ? TIFFNumberOfTiles(from) : TIFFNumberOfStrips(from);
    std::vector<uint8_t> raw;
    for (uint32_t i = 0; i < chunks; ++i) {
        const uint64_t count = TIFFGetStrileByteCount(from, i);
        if (count == 0) continue;
        raw.resize(static_cast<size_t>(count));
        const auto n = static_cast<tmsize_t>(count);
        if ((tiled ? TIFFReadRawTile(from, i, raw.data(), n) : TIFFReadRawStrip(from, i, raw.data(), n)) != n) return false;
        if ((tiled ? TIFFWriteRawTile(to, i, raw.data(), n) : TIFFWriteRawStrip(to, i, raw.data(), n)) != n) return false;
    }
    return TIFFWriteDirectory(to) != 0;
}

}  // namespace

}  // namespace qel::codec

namespace qel {

CodecResult keepLaterTiffPages(const uint8_t* existing, size_t size, std::vector<uint8_t>& out) {
    using namespace codec;
    MemoryFile old;
    old.data = existing;
    old.size = size;
    // Strips as stored ('c': not cut into smaller ones), so they are copied as they are.
    Tiff from = openMemory(old, "rc");
    if (!from) return {};  // nothing readable to keep
    const tdir_t pages = TIFFNumberOfDirectories(from.get());
    if (pages <= 1) return {};
    MemoryFile fresh;
    fresh.data = out.data();
    fresh.size = out.size();
    Tiff first = openMemory(fresh, "rc");
    if (!first) return refuse(ImageError::WriteFailed, "TIFF writer: " + fresh.error);
    // The existing file's byte order and offset size, so its pages' coded data stays valid as it is.
    std::vector<uint8_t> joined;
    MemoryFile target;
    target.out = &joined;
    const std::string mode = std::string("w") + (TIFFIsBigEndian(from.get()) ? "b" : "l") + (TIFFIsBigTIFF(from.get()) ? "8" : "");
    Tiff to = openMemory(target, mode.c_str());
    if (!to || !copyPage(first.get(), to.get())) return refuse(ImageError::WriteFailed, "TIFF writer: " + target.error);
    for (tdir_t page = 1; page < pages; ++page)
        if (!TIFFSetDirectory(from.get(), page) || !copyPage(from.get(), to.get())) {
            const std::string why = !old.error.empty() ? old.error : target.error;
            return refuse(ImageError::WriteFailed, "page " + std::to_string(page + 1) + " of the existing TIFF file cannot be kept" +
                                                       (why.empty() ? std::string() : ": " + why));
        }
    to.reset();
    out.swap(joined);
    return {};
}

}  // namespace qel
