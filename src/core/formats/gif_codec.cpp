// GIF reading through giflib: the first frame on the logical screen, with the
// frame's (or the global) colour map as its table, at the smallest depth that
// holds the table: up to 2 entries 1-bit, up to 16 4-bit, else 8-bit. The
// transparent index, and the screen outside the frame, show white. The screen
// around the frame is painted only once the frame has been read whole, so a
// file that ends early costs no more than the rows it holds.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/formats/codec_detail.h"

namespace qel::codec {

namespace {

struct Source {
    const uint8_t* data;
    size_t size;
    size_t pos = 0;
};

int readInput(GifFileType* gif, GifByteType* out, int n) {
    auto* s = static_cast<Source*>(gif->UserData);
    const size_t count = std::min(static_cast<size_t>(std::max(n, 0)), s->size - s->pos);
    std::memcpy(out, s->data + s->pos, count);
    s->pos += count;
    return static_cast<int>(count);
}

struct GifCloser {
    void operator()(GifFileType* g) const { DGifCloseFile(g, nullptr); }
};
using GifPtr = std::unique_ptr<GifFileType, GifCloser>;

// giflib's text for an error code; it has none for some codes (0 among them).
std::string gifError(int code) {
    const char* text = GifErrorString(code);
    return text ? text : "giflib error " + std::to_string(code);
}

// The picture the first frame gives: screen size, table, depth and the index around the frame.
struct Layout {
    int width = 0, height = 0;
    std::vector<Rgb> table;
    int depth = 8;
    unsigned fill = 0;
};

// Opens the file and reads up to the first frame's descriptor (the pixel data comes next),
// working out the picture's layout; `depth` 0 takes the table's own.
CodecResult openFirstFrame(Source& source, int depth, GifPtr& gif, Layout& out) {
    int error = 0;
    gif.reset(DGifOpen(&source, readInput, &error));
    if (!gif) return damaged("GIF", gifError(error));
    GifFileType* g = gif.get();
    auto failed = [&] { return damaged("GIF", gifError(g->Error)); };
    int transparent = -1;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(g, &type) == GIF_ERROR) return failed();
        if (type == TERMINATE_RECORD_TYPE) return damaged("GIF", "no picture in the file");
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(g, &code, &block) == GIF_ERROR) return failed();
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
                GraphicsControlBlock gcb;
                DGifExtensionToGCB(block[0], block + 1, &gcb);
                transparent = gcb.TransparentColor;
            }
            while (block)
                if (DGifGetExtensionNext(g, &block) == GIF_ERROR) return failed();
            continue;
        }
        if (type == IMAGE_DESC_RECORD_TYPE) break;
    }
    if (DGifGetImageDesc(g) == GIF_ERROR) return failed();
    const GifImageDesc& frame = g->Image;
    if (CodecResult r = checkSize(frame.Width, frame.Height); !r) return r;
    // LZW codes expand to a few thousand pixels at most: a frame claiming more is refused unread.
    if (int64_t(frame.Width) * frame.Height > int64_t(4096) * int64_t(source.size) + 4096)
        return damaged("GIF", "too little image data for " + std::to_string(frame.Width) + " x " +
                                  std::to_string(frame.Height) + " pixels");
    const bool screen = g->SWidth > 0 && g->SHeight > 0;
    out.width = screen ? g->SWidth : frame.Width;
    out.height = screen ? g->SHeight : frame.Height;
    if (CodecResult r = checkSize(out.width, out.height); !r) return r;

    std::vector<Rgb>& table = out.table;
    if (const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : g->SColorMap) {
        for (int i = 0; i < map->ColorCount; ++i)
            table.push_back(Rgb{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
    } else {
        table = greyTable();
    }
    // The transparent entry shows white; so does the screen around a smaller frame, through
    // the transparent entry or one added for it.
    const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width >= out.width && frame.Height >= out.height;
    if (transparent < 0 && !covers && table.size() < 256) transparent = int(table.size());
    if (transparent >= 0 && transparent < 256) {
        if (transparent >= int(table.size())) table.resize(size_t(transparent) + 1, Rgb{0, 0, 0});
        table[size_t(transparent)] = Rgb{255, 255, 255};
    }
    out.depth = depth != 0 ? depth : table.size() <= 2 ? 1 : table.size() <= 16 ? 4 : 8;
    // Outside a covering frame the fill is the transparent entry, which the table holds.
    const unsigned fill = transparent >= 0 && transparent < 256 ? unsigned(transparent) : g->SBackGroundColor & 0xFFu;
    out.fill = fill % (1u << out.depth);
    return {};
}

// Index v at pixel x of a row of 1-, 4- or 8-bit indices.
void putIndex(uint8_t* row, int x, unsigned v, int depth) {
    if (depth == 8) {
        row[x] = static_cast<uint8_t>(v);
    } else if (depth == 4) {
        uint8_t& b = row[x >> 1];
        b = static_cast<uint8_t>((x & 1) ? (b & 0xF0) | v : (b & 0x0F) | (v << 4));
    } else {
        uint8_t& b = row[x >> 3];
        const auto bit = static_cast<uint8_t>(0x80 >> (x & 7));
        b = static_cast<uint8_t>(v ? b | bit : b & ~bit);
    }
}
// Pixels [from, to) of a row set to index v (row padding stays 0).
void fillIndices(uint8_t* row, int from, int to, unsigned v, int depth) {
    if (depth == 8) {
        if (to > from) std::memset(row + from, int(v), size_t(to - from));
        return;
    }
    for (int x = from; x < to; ++x) putIndex(row, x, v, depth);
}

// The first frame at `depth` (0: the table's own). Sets `tooDeep` and refuses when a pixel's
// index does not fit the depth, so that the caller can read the file again at 8 bits.
CodecResult decodeFirstFrame(const uint8_t* data, size_t size, int depth, bool& tooDeep, std::vector<uint8_t>& info,
                             PixelBytes& bits) {
    Source source{data, size};
    GifPtr gif;
    Layout layout;
    if (CodecResult r = openFirstFrame(source, depth, gif, layout); !r) return r;
    GifFileType* g = gif.get();
    const GifImageDesc& frame = g->Image;
    const int w = layout.width, h = layout.height, bitCount = layout.depth;
    const unsigned limit = 1u << bitCount;
    NewPicture pic(info, bits, w, h, bitCount, layout.table);

    // The frame's part of the screen.
    const int left = std::min(frame.Left, w), top = std::min(frame.Top, h);
    const int shownW = std::min(frame.Width, w - left), shownH = std::min(frame.Height, h - top);
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kStart[pass] : 0, step = frame.Interlace ? kStep[pass] : 1;
        for (int y = start; y < frame.Height; y += step) {
            if (DGifGetLine(g, line.data(), frame.Width) == GIF_ERROR) return damaged("GIF", gifError(g->Error));
            if (y >= shownH) continue;
            uint8_t* d = pic.row(top + y);
            for (int x = 0; x < shownW; ++x) {
                const unsigned v = line[size_t(x)];
                if (v >= limit) {
                    tooDeep = true;
                    return damaged("GIF", "pixel index beyond the colour map");
                }
                putIndex(d, left + x, v, bitCount);
            }
        }
    }
    for (int y = 0; y < h; ++y) {
        uint8_t* d = pic.row(y);
        if (y < top || y >= top + shownH) {
            fillIndices(d, 0, w, layout.fill, bitCount);
        } else {
            fillIndices(d, 0, left, layout.fill, bitCount);
            fillIndices(d, left + shownW, w, layout.fill, bitCount);
        }
    }
    return {};
}

}  // namespace

CodecResult decodeGif(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits) {
    bool tooDeep = false;
    CodecResult r = decodeFirstFrame(data, size, 0, tooDeep, info, bits);
    // Pixels may name indices beyond a small map (they show black): such a frame is kept at 8 bits.
    if (tooDeep) r = decodeFirstFrame(data, size, 8, tooDeep, info, bits);
    return r;
}

CodecResult probeGif(const uint8_t* data, size_t size, PictureShape& shape) {
    Source source{data, size};
    GifPtr gif;
    Layout layout;
    if (CodecResult r = openFirstFrame(source, 0, gif, layout); !r) return r;
    shape = PictureShape{layout.width, layout.height, layout.depth};
    return {};
}

}  // namespace qel::codec
