// One operation of each family run on a picture a reader produced, each on
// its own copy of the record, so every family meets every kind of picture.
#pragma once

#include <cstring>

#include "core/colour/conversions.h"
#include "core/colour/palette_ops.h"
#include "core/colour/quantize.h"
#include "core/colour/reduction.h"
#include "core/colour/working_palette.h"
#include "core/expr/transform.h"
#include "core/geometry/geometry.h"
#include "core/image/dib_image.h"
#include "core/lineart/lineart.h"

namespace qel::fuzz {

inline void runOn(const DibImage& source, void (*op)(DibImage&)) {
    DibImage copy;
    auto h = source.header();
    h.biSizeImage = static_cast<uint32_t>(source.bitsSize());  // what the snapshot does before each command
    std::vector<uint8_t> info = source.info;
    std::memcpy(info.data(), &h, kHeaderSize);
    if (!copy.restoreFrom(info, source.bits)) return;
    op(copy);
}

inline void runOperations(DibImage& image) {
    auto h = image.header();
    if (int64_t(h.biWidth) * h.biHeight > 128 * 128) return;  // keep each input fast
    runOn(image, [](DibImage& d) { toIndexed(d, 16); });
    runOn(image, [](DibImage& d) { toGrey(d); toBlackWhite(d, 128); });
    runOn(image, [](DibImage& d) { countColours(d); reduceColours(d); });
    runOn(image, [](DibImage& d) { quantizeColours(d, {.colours = 5, .dither = true}); });
    runOn(image, [](DibImage& d) {
        WorkingPalette pal;
        loadPaletteFromImage(pal, d);
        organiseColours(d, pal);
        approximateColours(d, pal, 30);
        remapColours(d, pal);
    });
    runOn(image, [](DibImage& d) { thin(d); straighten(d, 5); tidyLines(d); tidyLines2(d); });
    runOn(image, [](DibImage& d) {
        TransformSettings s;
        s.formulaX = "x+3*sin(y)";
        s.formulaY = "y";
        s.formulaZ = "z+1";
        transformByFormula(d, s);
    });
    runOn(image, [](DibImage& d) { scaleByCommand(d, 7, 5, true); drawFractal(d, kFractalStepX, kFractalStepY, kFractalConstant, 10); });
    DisplayBitmap shown = *image.displayBitmap;
    image.rereadAs8Bit();
    image.fromBitmap(shown);
}

}  // namespace qel::fuzz
