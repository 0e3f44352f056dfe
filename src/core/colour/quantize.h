// Colour reduction for quality: a 24-bit picture becomes an 8-bit picture of at most N colours
// chosen by Qel's own palette quantizer (quantize.cpp), with or without Floyd–Steinberg dithering.
// Unlike the 256-colour reduction (reduction.h) the colours are free, not tied to cells of the cube.
#pragma once

#include <cstdint>

#include "core/image/dib_image.h"

namespace qel {

constexpr int32_t kQuantizeMinColours = 2;
constexpr int32_t kQuantizeMaxColours = 256;

struct QuantizeSettings {
    int32_t colours = 256;  // kQuantizeMinColours .. kQuantizeMaxColours
    bool dither = false;    // Floyd–Steinberg error diffusion
};

// Replaces a 24-bit picture by an 8-bit one with a table of 256 entries: the chosen colours first
// (at most settings.colours), the rest grey (205, 205, 205). A picture of at most settings.colours
// colours keeps exactly those, in the order first met from the top row, and is not dithered. The
// same picture gives the same bytes on any machine, on any number of threads and beside any other
// work. Other depths, pictures without pixels and colour counts out of range are refused and left
// alone.
OpResult quantizeColours(DibImage& image, const QuantizeSettings& settings);

}  // namespace qel
