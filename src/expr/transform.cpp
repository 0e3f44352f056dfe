#include "expr/transform.h"

#include <charconv>
#include <cstring>
#include <vector>

#include "expr/compiled_formula.h"
#include "expr/formula.h"
#include "image/parallel_rows.h"

namespace qel {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

uint8_t clampChannel(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

}  // namespace

WeightCheck parseWeight(std::string_view text, float& value) {
    size_t b = 0, e = text.size();
    while (b < e && isBlank(text[b])) ++b;
    while (e > b && isBlank(text[e - 1])) --e;
    std::string_view t = text.substr(b, e - b);
    size_t k = 0;
    bool negative = false;
    if (k < t.size() && (t[k] == '+' || t[k] == '-')) negative = t[k++] == '-';
    const size_t numberStart = k;
    size_t digits = 0;
    while (k < t.size() && isDigit(t[k])) ++k, ++digits;
    if (k < t.size() && t[k] == '.') {
        ++k;
        while (k < t.size() && isDigit(t[k])) ++k, ++digits;
    }
    if (digits == 0) return WeightCheck::NotANumber;
    bool negativeExponent = false;
    if (k < t.size() && (t[k] == 'e' || t[k] == 'E')) {
        size_t m = k + 1;
        if (m < t.size() && (t[m] == '+' || t[m] == '-')) negativeExponent = t[m++] == '-';
        if (m >= t.size() || !isDigit(t[m])) return WeightCheck::NotANumber;
        while (m < t.size() && isDigit(t[m])) ++m;
        k = m;
    }
    if (k != t.size()) return WeightCheck::NotANumber;
    double d = 0;
    auto [end, ec] = std::from_chars(t.data() + numberStart, t.data() + k, d, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        if (!negativeExponent) return WeightCheck::OutOfRange;
        d = 0;  // too small to hold: reads as zero
    } else if (ec != std::errc() || end != t.data() + k) {
        return WeightCheck::NotANumber;
    }
    if (negative) d = -d;
    const float f = static_cast<float>(d);
    if (!(f >= kWeightMin && f <= kWeightMax)) return WeightCheck::OutOfRange;
    value = f;
    return WeightCheck::Ok;
}

std::string formatWeight(float value) {
    char buffer[64];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                   std::chars_format::general, 6);
    if (ec != std::errc()) return "0";
    return std::string(buffer, end);
}

FormulaFileFields fieldTexts(const TransformSettings& s) {
    return {s.formulaX, s.formulaY, s.formulaZ, formatWeight(s.weightRed), formatWeight(s.weightGreen),
            formatWeight(s.weightBlue), s.inverseTransform == 1};
}

const DisplayBitmap* transformByFormula(DibImage& image, char* textX, char* textY, char* textZ, float weightRed,
                                        float weightGreen, float weightBlue, int inverse) {
    if (!image.hasBlocks() || image.bitCount() != 24) return nullptr;
    Formula f;
    f.reset();
    Formula::normalise(textX);
    Formula::normalise(textY);
    Formula::normalise(textZ);
    if (!Formula::validate(textX) || !Formula::validate(textY) || !Formula::validate(textZ))
        return image.displayBitmap.get();

    const auto header = image.header();
    const int32_t w = header.biWidth;
    const int32_t h = header.biHeight;
    const int64_t stride = strideFor(w, 24);
    if (w <= 0 || h <= 0 || stride * h > static_cast<int64_t>(image.bits.size())) return image.displayBitmap.get();

    // The per-pixel path runs postfix programs; a text too deep for one keeps the text evaluator.
    CompiledFormula programX, programY, programZ;
    const bool compiled = programX.compile(textX) && programY.compile(textY) && programZ.compile(textZ);
    auto value = [&](const Formula& vars, const CompiledFormula& program, const char* text) {
        return compiled ? program.evaluate(vars) : vars.evaluate(text);
    };

    const std::vector<uint8_t>& source = image.bits;
    std::vector<uint8_t> result(source.size(), 0);
    const double wr = weightRed, wg = weightGreen, wb = weightBlue;
    // Pixels of rows first..last-1 in raster order; zPrev carries z from pixel to pixel.
    auto rows = [&](Formula& vars, double& zPrev, int32_t first, int32_t last) {
        for (int32_t y = first; y < last; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                vars.setVariables(x, y, zPrev);
                const double z = value(vars, programZ, textZ);
                zPrev = z;
                const int64_t dR = truncToInt32(wr * z);
                const int64_t dG = truncToInt32(wg * z);
                const int64_t dB = truncToInt32(wb * z);
                vars.setVariables(x, y, z);
                const int32_t X = truncToInt32(value(vars, programX, textX));
                const int32_t Y = truncToInt32(value(vars, programY, textY));
                if (X < 0 || X >= w || Y < 0 || Y >= h) continue;
                const int32_t sx = inverse ? X : x, sy = inverse ? Y : y;
                const int32_t dx = inverse ? x : X, dy = inverse ? y : Y;
                const uint8_t* s = source.data() + (h - 1 - sy) * stride + 3 * int64_t(sx);
                uint8_t* d = result.data() + (h - 1 - dy) * stride + 3 * int64_t(dx);
                d[0] = clampChannel(s[0] + dB);
                d[1] = clampChannel(s[1] + dG);
                d[2] = clampChannel(s[2] + dR);
            }
        }
    };
    // Rows are independent when every pixel writes only itself (inverse mapping), no
    // formula draws random numbers (one shared sequence in raster order) and z' does not
    // read z (the previous pixel's value): then they run in parallel with the same bytes.
    const auto draws = [](const char* t) { return std::strpbrk(t, "rf") != nullptr; };
    const bool independentRows = compiled && inverse && !draws(textX) && !draws(textY) && !draws(textZ) &&
                                 std::strchr(textZ, 'z') == nullptr;
    if (independentRows) {
        forEachRowBand(h, int64_t(w) * 16, [&](int64_t first, int64_t last) {
            Formula vars;
            double zPrev = 0;
            rows(vars, zPrev, static_cast<int32_t>(first), static_cast<int32_t>(last));
        });
    } else {
        double zPrev = 0;
        rows(f, zPrev, 0, h);
    }
    image.bits = std::move(result);
    return image.rebuildDisplay();
}

const DisplayBitmap* transformByFormula(DibImage& image, const TransformSettings& settings) {
    auto buffer = [](const std::string& text) {
        std::vector<char> b(text.begin(), text.end());
        b.push_back('\0');
        return b;
    };
    auto bx = buffer(settings.formulaX), by = buffer(settings.formulaY), bz = buffer(settings.formulaZ);
    return transformByFormula(image, bx.data(), by.data(), bz.data(), settings.weightRed, settings.weightGreen,
                              settings.weightBlue, settings.inverseTransform);
}

}  // namespace qel
