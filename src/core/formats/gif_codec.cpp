// GIF reading through giflib: the first frame on the logical screen, as an
// 8-bit picture with the frame's (or the global) colour map as its table. The
// transparent index, and the screen outside the frame, show white.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>

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

// giflib's text for an error code; it has none for some codes (0 among them).
std::string gifError(int code) {
    const char* text = GifErrorString(code);
    return text ? text : "giflib error " + std::to_string(code);
}

}  // namespace

CodecResult decodeGif(const uint8_t* data, size_t size, std::vector<uint8_t>& info, PixelBytes& bits) {
    Source source{data, size};
    int error = 0;
    std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&source, readInput, &error));
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
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(g) == GIF_ERROR) return failed();
        const GifImageDesc& frame = g->Image;
        if (CodecResult r = checkSize(frame.Width, frame.Height); !r) return r;
        // LZW codes expand to a few thousand pixels at most: a frame claiming more is refused unread.
        if (int64_t(frame.Width) * frame.Height > int64_t(4096) * int64_t(size) + 4096)
            return damaged("GIF", "too little image data for " + std::to_string(frame.Width) + " x " +
                                      std::to_string(frame.Height) + " pixels");
        const bool screen = g->SWidth > 0 && g->SHeight > 0;
        const int w = screen ? g->SWidth : frame.Width, h = screen ? g->SHeight : frame.Height;
        if (CodecResult r = checkSize(w, h); !r) return r;

        std::vector<Rgb> table;
        if (const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : g->SColorMap) {
            for (int i = 0; i < map->ColorCount; ++i)
                table.push_back(Rgb{map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue});
        } else {
            table = greyTable();
        }
        // The transparent entry shows white; so does the screen around a smaller frame, through
        // the transparent entry or one added for it.
        const bool covers = frame.Left == 0 && frame.Top == 0 && frame.Width >= w && frame.Height >= h;
        if (transparent < 0 && !covers && table.size() < 256) transparent = int(table.size());
        if (transparent >= 0 && transparent < 256) {
            if (transparent >= int(table.size())) table.resize(size_t(transparent) + 1, Rgb{0, 0, 0});
            table[size_t(transparent)] = Rgb{255, 255, 255};
        }
        const int fill = transparent >= 0 && transparent < 256 ? transparent : g->SBackGroundColor & 0xFF;
        NewPicture pic(info, bits, w, h, 8, table);
        for (int y = 0; y < h; ++y) std::fill_n(pic.row(y), w, static_cast<uint8_t>(fill));  // row padding stays 0

        std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
        static constexpr int kStart[] = {0, 4, 2, 1}, kStep[] = {8, 8, 4, 2};
        const int passes = frame.Interlace ? 4 : 1;
        for (int pass = 0; pass < passes; ++pass) {
            const int start = frame.Interlace ? kStart[pass] : 0, step = frame.Interlace ? kStep[pass] : 1;
            for (int y = start; y < frame.Height; y += step) {
                if (DGifGetLine(g, line.data(), frame.Width) == GIF_ERROR) return failed();
                const int top = frame.Top + y;
                if (top >= h) continue;
                uint8_t* d = pic.row(top);
                for (int x = 0; x < frame.Width && frame.Left + x < w; ++x) d[frame.Left + x] = line[size_t(x)];
            }
        }
        return {};
    }
}

CodecResult probeGif(const uint8_t*, size_t, PictureShape&) {
    return refuse(ImageError::Unsupported, "Gif header not probed yet");
}

}  // namespace qel::codec
