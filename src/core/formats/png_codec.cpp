// PNG reading through libspng and writing with zlib on every core. Samples are decoded as stored
// (SPNG_FMT_PNG, host order) and mapped to the record's depths here, so palette
// indices and grey levels stay exact; gamma and colour profiles are not applied.
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <memory>

#include "core/formats/codec_detail.h"
#include "core/formats/bmp_file.h"
#include "core/image/parallel_rows.h"

namespace qel::codec {

namespace {

struct CtxDeleter {
    void operator()(spng_ctx* c) const { spng_ctx_free(c); }
};
using Ctx = std::unique_ptr<spng_ctx, CtxDeleter>;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Limits on what libspng keeps of a file besides the pixels: ancillary chunks it stores (text,
// EXIF, ...) by count, and their bytes (inflated text included).
constexpr int kStoredChunkLimit = 10000;
constexpr size_t kChunkBytesLimit = size_t(64) << 20;

// What a walk over the chunks finds: the bytes of all IDAT chunks (deflate expands at most
// about 1032 times, so a header claiming more pixels than that can hold is refused before
// anything is inflated) and the text chunks, to name the limit a file passes.
struct ChunkWalk {
    uint64_t idatBytes = 0;
    uint64_t textChunks = 0;
};
ChunkWalk walkChunks(const uint8_t* data, size_t size) {
    ChunkWalk walk;
    for (size_t at = 8; at + 12 <= size;) {
        const uint32_t length = be32(data + at);
        const uint8_t* type = data + at + 4;
        if (std::memcmp(type, "IDAT", 4) == 0) walk.idatBytes += length;
        if (std::memcmp(type, "tEXt", 4) == 0 || std::memcmp(type, "zTXt", 4) == 0 || std::memcmp(type, "iTXt", 4) == 0)
            ++walk.textChunks;
        if (std::memcmp(type, "IEND", 4) == 0) break;
        at += uint64_t(length) + 12;
    }
    return walk;
}

// libspng's error as a refusal, naming the limit where one was passed.
CodecResult pngRefusal(int e, const ChunkWalk& walk) {
    if (e == SPNG_ECHUNK_LIMITS) {
        if (walk.textChunks > uint64_t(kStoredChunkLimit))
            return refuse(ImageError::Unsupported, "PNG file holds " + std::to_string(walk.textChunks) +
                                                    " text chunks, more than the " + std::to_string(kStoredChunkLimit) +
                                                    " read");
        return refuse(ImageError::Unsupported, "PNG file holds a chunk or compressed text larger than the 64 MB read");
    }
    return damaged("PNG", spng_strerror(e));
}

int channelsOf(uint8_t colourType) {
    switch (colourType) {
    case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA: return 2;
    case SPNG_COLOR_TYPE_TRUECOLOR: return 3;
    case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA: return 4;
    default: return 1;
    }
}

void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}

void appendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    uint8_t word[4];
    put32(word, static_cast<uint32_t>(body.size()));
    out.insert(out.end(), word, word + 4);
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    put32(word, static_cast<uint32_t>(crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt))));
    out.insert(out.end(), word, word + 4);
}

// Row y of the record as PNG samples: R, G, B for colour, packed indices otherwise.
void colourRow(const DibImage& image, const RowFeed* feed, int y, uint8_t* dst) {
    const uint8_t* src = rowToEncode(image, feed, y);
    const int w = image.header().biWidth;
    if (image.header().biBitCount != 24) {
        std::memcpy(dst, src, (size_t(w) * image.header().biBitCount + 7) / 8);
        return;
    }
    for (int x = 0; x < w; ++x, src += 3, dst += 3) {
        dst[0] = src[2];
        dst[1] = src[1];
        dst[2] = src[0];
    }
}

// One filter over a row: out[i] = row[i] - predict(left, above, corner), the bytes before the first
// pixel reading as zero; returns the sum of the outputs' magnitudes read as signed. Plain loops over
// arrays, so the compiler turns them into vector code.
template <class Predict>
uint64_t filterWith(const uint8_t* __restrict row, const uint8_t* __restrict above, size_t n, size_t bpp,
                    uint8_t* __restrict out, Predict predict) {
    uint64_t sum = 0;
    const size_t head = std::min(bpp, n);
    for (size_t i = 0; i < head; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - predict(0, int(above[i]), 0));
        sum += static_cast<unsigned>(std::abs(int(static_cast<int8_t>(out[i]))));
    }
    // Sums of one stretch fit 32 bits (at most 128 per byte).
    constexpr size_t kStretch = size_t(1) << 24;
    for (size_t from = head; from < n; from += kStretch) {
        const size_t to = std::min(n, from + kStretch);
        uint32_t part = 0;
        for (size_t i = from; i < to; ++i) {
            const uint8_t v = static_cast<uint8_t>(row[i] - predict(int(row[i - bpp]), int(above[i]), int(above[i - bpp])));
            out[i] = v;
            part += static_cast<uint32_t>(std::abs(int(static_cast<int8_t>(v))));
        }
        sum += part;
    }
    return sum;
}

// How hard the writer works for a smaller file (--png-effort): the filters of colour and grey
// rows, then zlib's level and strategy. Palette rows are always stored unfiltered.
enum class RowFilter { Sub, Adaptive };
struct PngEffort {
    RowFilter filter;
    int level, strategy;
};
// Efforts 1 and 2 match runs only (distance 1): on noisy photos, once filtered, as small as the
// slow levels in a fraction of the time, though larger on drawings and gradients. Efforts 3 to 9
// are zlib's levels 3 to 9, each searching longer for repeats. 7 is the default.
constexpr PngEffort kEfforts[10] = {
    {RowFilter::Adaptive, 7, Z_FILTERED},  // 0: the default, effort 7
    {RowFilter::Sub, 1, Z_RLE},
    {RowFilter::Adaptive, 1, Z_RLE},
    {RowFilter::Adaptive, 3, Z_FILTERED},
    {RowFilter::Adaptive, 4, Z_FILTERED},
    {RowFilter::Adaptive, 5, Z_FILTERED},
    {RowFilter::Adaptive, 6, Z_FILTERED},
    {RowFilter::Adaptive, 7, Z_FILTERED},
    {RowFilter::Adaptive, 8, Z_FILTERED},
    {RowFilter::Adaptive, 9, Z_FILTERED},
};

// Writes the filter byte and the filtered row to `line`. Adaptive: of the five filters, the one
// whose bytes, read as signed, have the smallest sum of magnitudes (the usual adaptive choice; the
// first of equal sums). `above` is the row before, zeros for the first row.
void filterRow(const uint8_t* row, const uint8_t* above, size_t n, size_t bpp, uint8_t* line, RowFilter how) {
    if (how == RowFilter::Sub) {
        line[0] = 1;
        filterWith(row, above, n, bpp, line + 1, [](int a, int, int) { return a; });
        return;
    }
    static thread_local std::vector<uint8_t> trial[5];
    for (auto& t : trial) t.resize(n);
    const uint64_t sums[5] = {
        filterWith(row, above, n, bpp, trial[0].data(), [](int, int, int) { return 0; }),
        filterWith(row, above, n, bpp, trial[1].data(), [](int a, int, int) { return a; }),
        filterWith(row, above, n, bpp, trial[2].data(), [](int, int b, int) { return b; }),
        filterWith(row, above, n, bpp, trial[3].data(), [](int a, int b, int) { return (a + b) >> 1; }),
        filterWith(row, above, n, bpp, trial[4].data(), [](int a, int b, int c) {
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
            return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        }),
    };
    int chosen = 0;
    for (int f = 1; f < 5; ++f)
        if (sums[f] < sums[chosen]) chosen = f;
    line[0] = static_cast<uint8_t>(chosen);
    std::memcpy(line + 1, trial[chosen].data(), n);
}

}  // namespace

// The file's bytes handed to libspng as it asks for them, telling the input which it has passed.
struct PngInput {
    const uint8_t* data;
    size_t size, at = 0;
    const InputPassed* passed;
};
int readPng(spng_ctx*, void* user, void* dst, size_t length) {
    auto* in = static_cast<PngInput*>(user);
    if (length > in->size - in->at) return SPNG_IO_EOF;
    std::memcpy(dst, in->data + in->at, length);
    in->at += length;
    if (*in->passed) (*in->passed)(in->at);
    return 0;
}

CodecResult decodePng(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits,
                      const InputPassed& passed, RowFeed* feed) {
    Ctx ctx(spng_ctx_new(0));
    if (!ctx) return refuse(ImageError::NotBitmap, "out of memory");
    spng_set_chunk_limits(ctx.get(), kChunkBytesLimit, kChunkBytesLimit);
    spng_set_option(ctx.get(), SPNG_CHUNK_COUNT_LIMIT, kStoredChunkLimit);
    const ChunkWalk walk = walkChunks(data, size);
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
    // Mutated inputs reach the pixel data only when checksums are not checked.
    spng_set_crc_action(ctx.get(), SPNG_CRC_USE, SPNG_CRC_USE);
#endif
    // The walk touched every chunk's header; the pixels are read from the start again.
    if (passed) passed(size);
    PngInput input{data, size, 0, &passed};
    spng_set_png_stream(ctx.get(), readPng, &input);
    spng_ihdr ihdr{};
    if (int e = spng_get_ihdr(ctx.get(), &ihdr)) return pngRefusal(e, walk);
    if (CodecResult r = checkSize(ihdr.width, ihdr.height); !r) return r;
    const int w = static_cast<int>(ihdr.width), h = static_cast<int>(ihdr.height);
    const int depth = ihdr.bit_depth, channels = channelsOf(ihdr.color_type);
    const uint64_t leastRaw = uint64_t(w) * h * depth * channels / 8;
    if (leastRaw > 1100 * walk.idatBytes + 4096)
        return damaged("PNG", "too little image data for " + std::to_string(w) + " x " + std::to_string(h) + " pixels");

    // The chunks before the pixels are read here: a checksum or limit failing among them is the reason.
    spng_trns trns{};
    const int trnsError = spng_get_trns(ctx.get(), &trns);
    if (trnsError != 0 && trnsError != SPNG_ECHUNKAVAIL) return pngRefusal(trnsError, walk);
    const bool hasTrns = trnsError == 0;
    std::vector<Rgb> table;
    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED) {
        spng_plte plte{};
        if (int e = spng_get_plte(ctx.get(), &plte)) return pngRefusal(e, walk);
        for (uint32_t i = 0; i < plte.n_entries; ++i) {
            const auto& p = plte.entries[i];
            const unsigned a = hasTrns && i < trns.n_type3_entries ? trns.type3_alpha[i] : 255;
            table.push_back(Rgb{overWhite8(p.red, a), overWhite8(p.green, a), overWhite8(p.blue, a)});
        }
    }

    size_t rawSize = 0;
    if (int e = spng_decoded_image_size(ctx.get(), SPNG_FMT_PNG, &rawSize)) return pngRefusal(e, walk);
    // Rows of a plain PNG are decoded one at a time into one row buffer and mapped straight into
    // the picture; an interlaced one is decoded whole first (its rows arrive pass by pass).
    const size_t rawStride = rawSize / h;
    const bool interlaced = ihdr.interlace_method != 0;
    std::vector<uint8_t> raw(interlaced ? rawSize : rawStride);
    if (int e = spng_decode_image(ctx.get(), interlaced ? raw.data() : nullptr, interlaced ? raw.size() : 0,
                                  SPNG_FMT_PNG, interlaced ? 0 : SPNG_DECODE_PROGRESSIVE))
        return pngRefusal(e, walk);
    // The chunks after the pixels, up to IEND, with the last IDAT's checksum.
    auto finish = [&]() -> CodecResult {
        if (int e = spng_decode_chunks(ctx.get())) return pngRefusal(e, walk);
        return {};
    };
    // A writer reading beside: the picture is made, rows are final (told every 16 rows).
    auto made = [feed] {
        if (feed) feed->made();
    };
    auto rowDone = [feed, h](int y) {
        if (feed && ((y + 1) % 16 == 0 || y + 1 == h)) feed->rows(y + 1);
    };
    // Plain rows are made top down, once each: they may go through the feed's window.
    RowFeed* const sequential = interlaced ? nullptr : feed;
    int rowError = 0;
    // Row y's samples (rows are asked for top down, each once), or null when the data ends early.
    auto rowAt = [&](int y) -> const uint8_t* {
        if (interlaced) return raw.data() + rawStride * y;
        const int e = spng_decode_row(ctx.get(), raw.data(), rawStride);
        if (e != 0 && e != SPNG_EOI) {
            rowError = e;
            return nullptr;
        }
        return raw.data();
    };

    if (ihdr.color_type == SPNG_COLOR_TYPE_INDEXED || (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE && depth == 1)) {
        // Packed indices: 1, 4 and 8 bits are kept as they are, 2 bits widen to 4.
        if (ihdr.color_type != SPNG_COLOR_TYPE_INDEXED) table = {Rgb{0, 0, 0}, Rgb{255, 255, 255}};
        NewPicture pic(info, bits, w, h, depth == 2 ? 4 : depth, table, sequential);
        made();
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = rowAt(y);
            if (!src) return pngRefusal(rowError, walk);
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
            rowDone(y);
        }
        return finish();
    }
    if (ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA) {
        NewPicture pic(info, bits, w, h, 8, greyTable(), sequential);
        made();
        const bool alpha = channels == 2;
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = rowAt(y);
            if (!src) return pngRefusal(rowError, walk);
            const auto* src16 = reinterpret_cast<const uint16_t*>(src);
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
            rowDone(y);
        }
        return finish();
    }
    // Colour, 8 or 16 bits per sample, with or without alpha.
    NewPicture pic(info, bits, w, h, 24, {}, sequential);
    made();
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
        const uint8_t* src = rowAt(y);
        if (!src) return pngRefusal(rowError, walk);
        if (depth == 8)
            convertRow(src, pic.row(y), [](unsigned v) { return uint8_t(v); }, overWhite8);
        else
            convertRow(reinterpret_cast<const uint16_t*>(src), pic.row(y), from16, overWhite16);
        rowDone(y);
    }
    return finish();
}

// The colour table as a PNG palette, long enough for every index the pixels use.
std::vector<Rgb> pngPalette(const DibImage& image) {
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight, bc = hd.biBitCount;
    int maxIndex = 0;
    for (int y = 0; y < h && maxIndex < (1 << bc) - 1; ++y) {
        const uint8_t* src = image.rowFromTop(y);
        for (int x = 0; x < w && maxIndex < (1 << bc) - 1; ++x) {
            const int index = bc == 8 ? src[x] : bc == 4 ? (src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15
                                                          : (src[x >> 3] >> (7 - (x & 7))) & 1;
            maxIndex = std::max(maxIndex, index);
        }
    }
    std::vector<Rgb> palette;
    const int entries = std::min(std::max(image.tableSize(), maxIndex + 1), 1 << bc);
    for (int i = 0; i < entries; ++i) palette.push_back(image.tableColour(i));
    return palette;
}

// The file's start: signature, header and palette.
std::vector<uint8_t> pngStart(int w, int h, int bc, bool grey, const std::vector<Rgb>& palette) {
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};  // the signature
    std::vector<uint8_t> body(13);
    put32(body.data(), static_cast<uint32_t>(w));
    put32(body.data() + 4, static_cast<uint32_t>(h));
    body[8] = static_cast<uint8_t>(bc == 24 ? 8 : bc);
    body[9] = bc == 24 ? 2 : grey ? 0 : 3;  // truecolour, grey or indexed; the rest 0
    appendChunk(out, "IHDR", body);
    if (!palette.empty()) {
        body.clear();
        for (const Rgb& c : palette) body.insert(body.end(), {c.r, c.g, c.b});
        appendChunk(out, "PLTE", body);
    }
    return out;
}

// How the rows are laid out in the stream PNG compresses: each row behind its filter byte.
struct PngRows {
    const DibImage& image;
    const RowFeed* feed;
    size_t rowBytes, lineBytes, bytesPerPixel;
    bool filter;  // colour and grey rows are filtered as the effort says; palette rows are stored
                  // unfiltered (filters rarely help indices)
    RowFilter how;

    // Rows first .. last, filtered, into `lines`; `above` and `current` are a row each.
    void filtered(size_t first, size_t last, std::vector<uint8_t>& lines, std::vector<uint8_t>& above,
                  std::vector<uint8_t>& current) const {
        lines.resize((last - first + 1) * lineBytes);
        above.assign(rowBytes, 0);
        current.resize(rowBytes);
        if (first > 0) colourRow(image, feed, static_cast<int>(first - 1), above.data());
        for (size_t y = first; y <= last; ++y) {
            colourRow(image, feed, static_cast<int>(y), current.data());
            uint8_t* line = lines.data() + lineBytes * (y - first);
            if (!filter) {
                line[0] = 0;
                std::memcpy(line + 1, current.data(), rowBytes);
            } else {
                filterRow(current.data(), above.data(), rowBytes, bytesPerPixel, line, how);
            }
            std::swap(above, current);
        }
    }
};

// Deflates `length` bytes at `input`, primed with the `primed` bytes before them, into an IDAT chunk
// (`final`: the stream's end); the first slice carries the zlib header. False when deflate fails;
// throws std::bad_alloc.
bool deflateSlice(const uint8_t* input, size_t length, size_t primed, bool first, bool final, const PngEffort& effort,
                  PixelBytes& chunk) {
    z_stream z{};
    if (deflateInit2(&z, effort.level, Z_DEFLATED, -15, 9, effort.strategy) != Z_OK) return false;
    if (primed > 0) deflateSetDictionary(&z, input - primed, static_cast<uInt>(primed));
    const size_t lead = 8 + (first ? 2 : 0);  // chunk length and type, then the zlib header
    try {
        chunk.resize(lead + deflateBound(&z, length) + 32);  // room for the checksums and IEND
    } catch (...) {
        deflateEnd(&z);
        throw;
    }
    if (first) {
        // Deflate with a 32 KB window, then the level hint zlib itself would write (fastest, fast,
        // default, best), each making the pair a multiple of 31.
        chunk[8] = 0x78;
        const int hint = effort.strategy >= Z_HUFFMAN_ONLY || effort.level < 2 ? 0 : effort.level < 6 ? 1 : effort.level == 6 ? 2 : 3;
        chunk[9] = uint8_t(hint << 6);
        chunk[9] = uint8_t(chunk[9] + (31 - (0x7800 | chunk[9]) % 31) % 31);
    }
    z.next_in = const_cast<uint8_t*>(input);
    z.avail_in = static_cast<uInt>(length);
    z.next_out = chunk.data() + lead;
    z.avail_out = static_cast<uInt>(chunk.size() - lead);
    const int rc = deflate(&z, final ? Z_FINISH : Z_SYNC_FLUSH);
    const size_t produced = chunk.size() - lead - z.avail_out;
    deflateEnd(&z);
    if (rc != (final ? Z_STREAM_END : Z_OK) || z.avail_in != 0) return false;
    chunk.resize(lead + produced);
    std::memcpy(chunk.data() + 4, "IDAT", 4);
    return true;
}

// Bytes of the filtered rows deflated as one slice, and the window each is primed with.
constexpr size_t kSlice = size_t(1) << 20, kWindow = size_t(1) << 15;

int pngWindowRows(int64_t stride, int threads) {
    // A slice with its window and the row above spans at most this many rows (lines are at least
    // stride - 2 bytes: the row, its filter byte, less the stride's padding).
    const size_t line = static_cast<size_t>(std::max<int64_t>(stride - 2, 1));
    const size_t slice = kSlice / line + 2, window = kWindow / line + 2;
    return static_cast<int>(std::min<size_t>(size_t(threads + 2) * slice + window, 1 << 30));
}

CodecResult encodePng(const DibImage& image, const ByteSink& write, RowFeed* feed, int effort) {
    const PngEffort& settings = kEfforts[effort >= 1 && effort <= 9 ? effort : 0];
    const auto hd = image.header();
    const int w = hd.biWidth, h = hd.biHeight, bc = hd.biBitCount;
    // Grey pictures (the 256-step grey table) and black/white ones are written as grey PNG,
    // the grey ones filtered like colour rows; reading them back gives the same table.
    const bool grey = hasGreyTable(image);
    const bool blackWhite = bc == 1 && image.tableSize() == 2 && image.tableColour(0) == Rgb{0, 0, 0} &&
                            image.tableColour(1) == Rgb{255, 255, 255};
    const size_t rowBytes = bc == 24 ? size_t(3) * w : (size_t(w) * bc + 7) / 8;
    const PngRows rows{image, feed, rowBytes, rowBytes + 1, size_t(bc == 24 ? 3 : 1), bc == 24 || grey, settings.filter};
    const size_t lineBytes = rows.lineBytes;

    try {
        std::vector<Rgb> palette;
        if (bc != 24 && !grey && !blackWhite) {
            if (feed && !feed->waitRows(h)) return refuse(ImageError::WriteFailed, "");
            palette = pngPalette(image);
        }
        const std::vector<uint8_t> start = pngStart(w, h, bc, grey || blackWhite, palette);
        if (!write(start.data(), start.size())) return refuse(ImageError::WriteFailed, "");
    } catch (const std::bad_alloc&) {
        return refuse(ImageError::WriteFailed, "out of memory");
    }

    // The rows as PNG stores them, top down, each behind the filter chosen for it, form one
    // stream of h * lineBytes bytes. It is cut into slices of about a megabyte, deflated side by
    // side, each primed with the 32 KB before it, and joined into one zlib stream: one IDAT chunk
    // per slice. Each slice filters the rows it covers itself, so the filtered picture is never
    // held whole. The default, level 7, keeps smooth pictures (gradients, drawings) as small as
    // other writers make them; on photos it costs little more than the fast levels, whose short
    // match search falls apart on gradients.
    const size_t total = lineBytes * size_t(h);
    const int64_t slices = int64_t((total + kSlice - 1) / kSlice);
    // Compressed slices: room for the worst case, of which only the pages written cost memory.
    std::vector<PixelBytes> packed(static_cast<size_t>(slices));
    std::vector<uLong> adlers(static_cast<size_t>(slices)), crcs(static_cast<size_t>(slices));
    std::atomic<bool> failed{false}, shortOfMemory{false}, notWritten{false};  // not written: or not read
    // A writer that fails stops reading, so a reader waiting for room in the window goes on.
    auto fail = [&](std::atomic<bool>& why) {
        failed = why = true;
        if (feed) feed->stop();
    };
    // The first row slice i reads: the one above the window before it (its filters look up).
    auto neededFrom = [&](size_t i) {
        const size_t begin = i * kSlice, primed = std::min(kWindow, begin);
        return static_cast<int>(std::max<size_t>((begin - primed) / lineBytes, 1) - 1);
    };
    // Each slice becomes a whole IDAT chunk (the last one with the stream's checksum) and is written
    // once it and every slice before it are compressed, so few compressed slices are held at once.
    std::mutex order;
    std::vector<char> ready(static_cast<size_t>(slices));
    size_t next = 0;  // the first slice not yet written
    auto finished = [&](size_t i) {
        const std::lock_guard lock(order);
        ready[i] = 1;
        for (; next < ready.size() && ready[next] && !failed; ++next) {
            auto& p = packed[next];
            uLong crc = crcs[next];
            if (next + 1 == ready.size()) {
                uLong adler = adlers[0];
                for (size_t k = 1; k < adlers.size(); ++k)
                    adler = adler32_combine(adler, adlers[k], static_cast<z_off_t>(std::min(kSlice, total - k * kSlice)));
                uint8_t tail[4];
                put32(tail, static_cast<uint32_t>(adler));
                p.insert(p.end(), tail, tail + 4);
                crc = crc32(crc, tail, 4);
            }
            put32(p.data(), static_cast<uint32_t>(p.size() - 8));
            uint8_t c[4];
            put32(c, static_cast<uint32_t>(crc));
            p.insert(p.end(), c, c + 4);
            if (!write(p.data(), p.size())) fail(notWritten);
            PixelBytes().swap(p);
        }
        // The rows before those the first slice not yet written reads are let go.
        if (feed) feed->done(next < ready.size() ? neededFrom(next) : h);
    };
    forEachRowBandOnWorkers(slices, int64_t(kSlice) / 4, [&](int, int64_t first, int64_t last) {
        // A worker's own buffers; running short here ends the save, never the program.
        std::vector<uint8_t> lines, above, current;
        for (int64_t i = first; i < last && !failed; ++i) {
            const size_t begin = size_t(i) * kSlice, length = std::min(kSlice, total - begin);
            const size_t primed = std::min(kWindow, begin);
            // The rows holding the window before the slice and the slice itself.
            const size_t firstRow = (begin - primed) / lineBytes, lastRow = (begin + length - 1) / lineBytes;
            if (feed && !feed->waitRows(static_cast<int>(lastRow + 1))) {
                fail(notWritten);
                return;
            }
            try {
                rows.filtered(firstRow, lastRow, lines, above, current);
                const uint8_t* input = lines.data() + (begin - firstRow * lineBytes);
                auto& chunk = packed[size_t(i)];
                if (!deflateSlice(input, length, primed, i == 0, i + 1 == slices, settings, chunk)) {
                    fail(failed);
                    return;
                }
                adlers[size_t(i)] = adler32(1, input, static_cast<uInt>(length));
                crcs[size_t(i)] = crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 4));
                finished(size_t(i));
            } catch (const std::bad_alloc&) {
                fail(shortOfMemory);
                return;
            }
        }
    }, feed && feed->windowed() ? 1 : 64);
    if (shortOfMemory) return refuse(ImageError::WriteFailed, "out of memory");
    if (notWritten) return refuse(ImageError::WriteFailed, "");
    if (failed) return refuse(ImageError::WriteFailed, "PNG encoder: deflate failed");
    std::vector<uint8_t> end;
    appendChunk(end, "IEND", {});
    if (!write(end.data(), end.size())) return refuse(ImageError::WriteFailed, "");
    return {};
}

CodecResult probePng(const uint8_t* data, size_t size, PictureShape& shape) {
    // The signature, then IHDR: length, type, width, height, depth, colour type.
    if (size < 8 + 8 + 13 || std::memcmp(data + 12, "IHDR", 4) != 0) return damaged("PNG", "header missing");
    shape.width = be32(data + 16);
    shape.height = be32(data + 20);
    const int depth = data[24], type = data[25];
    shape.bitCount = type == SPNG_COLOR_TYPE_INDEXED ? (depth == 2 ? 4 : depth)
                     : type == SPNG_COLOR_TYPE_GRAYSCALE && depth == 1 ? 1
                     : type == SPNG_COLOR_TYPE_GRAYSCALE || type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ? 8
                                                                                                  : 24;
    return checkSize(shape.width, shape.height);
}

}  // namespace qel::codec
