// Geometry and compositing operations: on 24-bit pictures nearest and
// averaging scaling with the route the scale command takes, the aspect
// coupling of the scale dialog, blending a rectangle of a second BMP file into
// the picture, and the fixed escape-time fractal; at every depth quarter turns,
// mirror images and cropping.
//
// Every operation refuses, changing nothing, a record without a picture it takes,
// rows shorter than the header needs or a result beyond the readers' size limits.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/image/dib_image.h"

namespace qel {

// ---------------------------------------------------------------- scaling

// Nearest-neighbour resampling to width x height. Per axis the loop runs over
// destination indices when enlarging and over source indices otherwise; where
// several source pixels land on one destination pixel the right-most,
// bottom-most one wins. Unreached destination pixels and row padding are 0.
OpResult scaleNearest(DibImage& image, int32_t width, int32_t height);

// Every source pixel is folded into the destination pixel it maps to as a
// running mean truncated at each sample (rows top-down, columns left to right).
// The sample count of a pixel is not limited. Unreached pixels stay black.
OpResult scaleAverage(DibImage& image, int32_t width, int32_t height);

// scaleNearest to 2*width x 2*height followed by scaleAverage to width x height,
// computed in one pass without building the doubled picture. Same bytes.
OpResult scaleDoubledAverage(DibImage& image, int32_t width, int32_t height);

enum class ScaleRoute { Nearest, Average, DoubledAverage };

// The route of the scale command: nearest without interpolation; direct
// averaging only when both sides shrink; otherwise the doubling route.
ScaleRoute scaleRoute(int32_t fromWidth, int32_t fromHeight, int32_t toWidth, int32_t toHeight, bool interpolate);

// Runs the scale command's operation on the picture (route from its current size).
OpResult scaleByCommand(DibImage& image, int32_t width, int32_t height, bool interpolate);

// The scale operation's settings.
struct ScaleSettings {
    int32_t width = 0, height = 0;
    bool interpolate = true;
};

// Range the scale dialog accepts for each side.
constexpr int32_t kScaleMin = 1;
constexpr int32_t kScaleMax = 30000;

// An edit's text read as an unsigned integer the way the dialog reads it while
// the user types: leading and trailing blanks allowed, anything else (or a value
// beyond 32 bits) reads as 0.
uint32_t readTypedUnsigned(std::string_view text);

// The other side for a typed side with the aspect ratio kept:
// typed * origOther / origThis, truncated (0 when origThis is not positive).
int64_t coupledSide(int64_t typed, int32_t origThis, int32_t origOther);

// The scale dialog's typing logic without any widgets. The GUI forwards focus,
// text-change and check-box events and writes back the text it is given.
struct ScaleDialogState {
    int32_t width = 0;
    int32_t height = 0;
    int32_t origWidth = 0;
    int32_t origHeight = 0;
    int keepAspect = 1;
    int interpolate = 1;
    int editing = 0;  // 0 none, 1 width edit, 2 height edit

    static ScaleDialogState forPicture(int32_t w, int32_t h) {
        ScaleDialogState s;
        s.width = s.origWidth = w;
        s.height = s.origHeight = h;
        return s;
    }
    void widthFocused() { editing = 1; }
    void heightFocused() { editing = 2; }
    // Text to put into the height edit, when the change is coupled.
    std::optional<std::string> widthTextChanged(std::string_view text);
    // Text to put into the width edit, when the change is coupled.
    std::optional<std::string> heightTextChanged(std::string_view text);
    void keepAspectClicked() { keepAspect = (keepAspect + 1) % 2; }
};

// ---------------------------------------------------------------- mixing

// Transparent colour in the packed layout the mix takes: red bits 0-7, green 8-15, blue 16-23.
constexpr uint32_t packColourRef(int r, int g, int b) {
    return uint32_t(r & 0xFF) | (uint32_t(g & 0xFF) << 8) | (uint32_t(b & 0xFF) << 16);
}

enum class MixStatus {
    Mixed,         // the file was read; pixels in the clipped rectangle were blended (possibly none)
    NotApplied,    // no 24-bit picture, empty file name or a negative number
    CannotOpen,    // the file cannot be opened or read
    NotBitmap,     // a "BM" file neither reader takes: header not 40 bytes, or shorter than its header
    NotPicture,    // no picture file Qel reads
    Unsupported,   // a pixel format the mix does not read
    Truncated,     // the pixel data is shorter than the rows need
};

// Blends the width x height rectangle at (copyX, copyY) of the picture file onto the
// rectangle at (startX, startY) of the picture: each channel becomes
// trunc(min(255, file * r + picture * (1 - r))) unless the file pixel has the
// transparent colour. A classic BMP file is read by a reader of its own: 4-bit files
// with 16 table entries, 8-bit with 256 and 24-bit without a table; any other file
// by the document reader (a truncated classic BMP is refused). Ratio below 0 (or
// not a number) becomes 0.5, above 1 becomes 1. On any failure the picture is
// unchanged and the result is refused, saying what is wrong with the file.
OpResult mixFile(DibImage& image, const std::string& path, int32_t startX, int32_t startY, int32_t width,
                 int32_t height, int32_t copyX, int32_t copyY, float ratio, uint32_t transparent,
                 MixStatus* status = nullptr);

// The mix operation's settings; its refusal names the file and what is wrong with it.
struct MixSettings {
    std::string path;
    int32_t startX = 0, startY = 0, width = 0, height = 0, copyX = 0, copyY = 0;
    float ratio = 0.5f;
    uint32_t transparent = packColourRef(205, 205, 205);
};

// Same, with the file's bytes already in memory.
OpResult mixBytes(DibImage& image, const uint8_t* data, size_t size, int32_t startX, int32_t startY, int32_t width,
                  int32_t height, int32_t copyX, int32_t copyY, float ratio, uint32_t transparent,
                  MixStatus* status = nullptr);

// ---------------------------------------------------------------- fractal

// The fixed parameters of the fractal command.
constexpr float kFractalStepX = 0.058f;
constexpr float kFractalStepY = 0.001f;
constexpr float kFractalConstant = 0.5f;
constexpr int kFractalIterations = 100;

// Overwrites every pixel with black or white from the iteration
// u <- u^2 - v^2 + c, v <- 2uv starting at (x*a, y*b), stopped early when u or v
// exceeds 1000; black when u^2 + v^2 > 4 afterwards. Computed in extended
// precision. Only pixel bytes change.
OpResult drawFractal(DibImage& image, float a, float b, float c, int n);

// ---------------------------------------------------------------- orientation

// Turns and mirror images of a 1-, 4-, 8- or 24-bit picture. Pixels keep their bytes or indices,
// the colour table stays, rows are padded with zeros and biSizeImage is the new pixel block's size;
// a quarter turn swaps the sides and the resolution fields.
OpResult rotate90(DibImage& image);   // a quarter turn clockwise
OpResult rotate180(DibImage& image);
OpResult rotate270(DibImage& image);  // a quarter turn anticlockwise
OpResult flipHorizontal(DibImage& image);  // left and right swapped
OpResult flipVertical(DibImage& image);    // upside down

// The crop operation's rectangle, from the picture's top left.
struct CropSettings {
    int32_t x = 0, y = 0, width = 0, height = 0;
};

// Why the rectangle cannot be cut out of this picture (a side below 1, or not inside it), naming
// its numbers and the picture's size; "" when it can.
std::string cropRefusal(const DibImage& image, const CropSettings& rect);

// Keeps only the rectangle, at any depth, like the turns above; refused by cropRefusal's reason.
OpResult crop(DibImage& image, const CropSettings& rect);

// ---------------------------------------------------------------- deskew

// Turns a 1-, 4-, 8- or 24-bit picture `degrees` clockwise about its centre, keeping its size.
// 24-bit pictures and 8-bit ones whose table is the grey ramp (entry i grey i) are blended from the
// four nearest pixels, the corners turned in continuing the picture's edge (white paper stays white,
// a scan's shaded edge stays shaded rather than meeting white in a false edge); other indexed
// pictures take the nearest pixel and fill with the table entry nearest white.
OpResult rotateByAngle(DibImage& image, double degrees);

constexpr double kDeskewMaxDegrees = 10;     // tilts looked for, either way
constexpr double kDeskewLeastDegrees = 0.05;  // a smaller tilt is left as it is

// How far the drawing or page is tilted anticlockwise, in degrees (-10 to 10, to 0.01): the angle
// whose rows and columns of ink are sharpest. A page without ink is upright.
double findTilt(const DibImage& image);

// Finds the tilt and turns the picture upright by it (*found, when given, is the tilt); a tilt
// below 0.05 degrees leaves the picture unchanged.
OpResult deskew(DibImage& image, double* found = nullptr);

// A tilt as the deskew operation prints it: degrees with two decimals ("2.95", "-0.40").
std::string tiltText(double degrees);

}  // namespace qel
