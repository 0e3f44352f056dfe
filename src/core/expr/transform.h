// Transform by formula: moves and recolours every pixel of a 24-bit picture by
// the formulas x'=, y'= and z'=, plus the settings and field checks of the
// dialog that gathers them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/expr/formula_file.h"
#include "core/image/dib_image.h"

namespace qel {

// What the view remembers of the last accepted transform, and the dialog's defaults.
struct TransformSettings {
    std::string formulaX = "x";
    std::string formulaY = "y";
    std::string formulaZ = "0";
    float weightRed = 1.0f;
    float weightGreen = 1.0f;
    float weightBlue = 1.0f;
    int inverseTransform = 1;  // 1 inverse mapping (destination takes from (x', y')), 0 forward
    int keepSettings = 0;      // 1: the dialog opens with these values next time
};

// Limits of the dialog's fields.
constexpr int kFormulaFieldMaxChars = 128;
constexpr float kWeightMin = -255.0f;
constexpr float kWeightMax = 255.0f;

enum class WeightCheck { Ok, NotANumber, OutOfRange };
// Reads a weight field as the dialog's data exchange does: optional spaces or
// tabs around a decimal number (sign, digits, ".", exponent), stored as a
// 32-bit float and checked against -255 ... 255. Independent of the locale.
WeightCheck parseWeight(std::string_view text, float& value);
// Moves and recolours the pixels. The three texts are rewritten in place into
// their compact form. Refused (picture unchanged) when the picture is not
// 24-bit, a formula is invalid or the header does not fit the pixel block.
// `inverse` 1: every pixel (x, y) takes its colour from (x', y'); 0: pixel
// (x, y) is carried to (x', y').
OpResult transformByFormula(DibImage& image, char* textX, char* textY, char* textZ, float weightRed,
                            float weightGreen, float weightBlue, int inverse);
// Same with the settings' formulas copied into working buffers of its own.
OpResult transformByFormula(DibImage& image, const TransformSettings& settings);

}  // namespace qel
