#include "core/expr/transform.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <vector>

#include "core/expr/compiled_formula.h"
#include "core/expr/formula.h"
#include "core/image/parallel_rows.h"

namespace qel {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t'; }

uint8_t clampChannel(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Everything the per-pixel loop reads.
struct TransformJob {
    const uint8_t* source;
    uint8_t* result;
    int32_t w, h;
    int64_t stride;
    double wr, wg, wb;
    int inverse;
    bool compiled;
    const CompiledFormula *programX, *programY, *programZ;
    const char *textX, *textY, *textZ;
};

// Pixels of rows first..last-1 in raster order; zPrev carries z from pixel to pixel.
void transformRows(const TransformJob& job, Formula& vars, double& zPrev, int32_t first, int32_t last) {
    const auto value = [&](const CompiledFormula& program, const char* text) {
        return job.compiled ? program.evaluate(vars) : vars.evaluate(text);
    };
    const int32_t w = job.w, h = job.h;
    const int64_t stride = job.stride;
    const int inverse = job.inverse;
    for (int32_t y = first; y < last; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            vars.setVariables(x, y, zPrev);
            const double z = value(*job.programZ, job.textZ);
            zPrev = z;
            const int64_t dR = truncToInt32(job.wr * z);
            const int64_t dG = truncToInt32(job.wg * z);
            const int64_t dB = truncToInt32(job.wb * z);
            vars.setVariables(x, y, z);
            const int32_t X = truncToInt32(value(*job.programX, job.textX));
            const int32_t Y = truncToInt32(value(*job.programY, job.textY));
            if (X < 0 || X >= w || Y < 0 || Y >= h) continue;
            const int32_t sx = inverse ? X : x, sy = inverse ? Y : y;
            const int32_t dx = inverse ? x : X, dy = inverse ? y : Y;
            const uint8_t* s = job.source + (h - 1 - sy) * stride + 3 * int64_t(sx);
            uint8_t* d = job.result + (h - 1 - dy) * stride + 3 * int64_t(dx);
            d[0] = clampChannel(s[0] + dB);
            d[1] = clampChannel(s[1] + dG);
            d[2] = clampChannel(s[2] + dR);
        }
    }
}

// The same for rows whose pixels are independent (compiled programs, no random numbers, z' not
// reading z), the programs run over stretches of a row at once.
void transformRowsMany(const TransformJob& job, int32_t first, int32_t last) {
    constexpr int kStretch = 256;
    double xs[kStretch], zs[kStretch], Xs[kStretch], Ys[kStretch];
    std::vector<double> scratch;
    const int32_t w = job.w, h = job.h;
    for (int32_t y = first; y < last; ++y) {
        for (int32_t from = 0; from < w; from += kStretch) {
            const int n = static_cast<int>(std::min<int32_t>(kStretch, w - from));
            for (int i = 0; i < n; ++i) xs[i] = from + i;
            job.programZ->evaluateMany(xs, y, nullptr, n, zs, scratch);
            job.programX->evaluateMany(xs, y, zs, n, Xs, scratch);
            job.programY->evaluateMany(xs, y, zs, n, Ys, scratch);
            for (int i = 0; i < n; ++i) {
                const int32_t X = truncToInt32(Xs[i]), Y = truncToInt32(Ys[i]);
                if (X < 0 || X >= w || Y < 0 || Y >= h) continue;
                const double z = zs[i];
                const uint8_t* s = job.source + (h - 1 - Y) * job.stride + 3 * int64_t(X);
                uint8_t* d = job.result + (h - 1 - y) * job.stride + 3 * (int64_t(from) + i);
                d[0] = clampChannel(s[0] + int64_t(truncToInt32(job.wb * z)));
                d[1] = clampChannel(s[1] + int64_t(truncToInt32(job.wg * z)));
                d[2] = clampChannel(s[2] + int64_t(truncToInt32(job.wr * z)));
            }
        }
    }
}

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

OpResult transformByFormula(DibImage& image, char* textX, char* textY, char* textZ, float weightRed,
                            float weightGreen, float weightBlue, int inverse) {
    if (!image.hasBlocks() || image.bitCount() != 24) return OpResult::refused(kNeeds24Bit);
    Formula f;
    f.reset();
    Formula::normalise(textX);
    Formula::normalise(textY);
    Formula::normalise(textZ);
    if (!Formula::validate(textX)) return OpResult::refused(std::string("formula x'=") + textX + " is invalid");
    if (!Formula::validate(textY)) return OpResult::refused(std::string("formula y'=") + textY + " is invalid");
    if (!Formula::validate(textZ)) return OpResult::refused(std::string("formula z'=") + textZ + " is invalid");

    const auto header = image.header();
    const int32_t w = header.biWidth;
    const int32_t h = header.biHeight;
    const int64_t stride = strideFor(w, 24);
    if (w <= 0 || h <= 0 || stride * h > static_cast<int64_t>(image.bits.size()))
        return OpResult::refused(kNoPixelRows);

    // The per-pixel path runs postfix programs; a text too deep for one keeps the text evaluator.
    CompiledFormula programX, programY, programZ;
    const bool compiled = programX.compile(textX) && programY.compile(textY) && programZ.compile(textZ);

    PixelBytes result(image.bits.size());
    TransformJob job{image.bits.data(), result.data(), w, h, stride, weightRed, weightGreen, weightBlue, inverse,
                     compiled, &programX, &programY, &programZ, textX, textY, textZ};
    // Rows are independent when every pixel writes only itself (inverse mapping), no
    // formula draws random numbers (one shared sequence in raster order) and z' does not
    // read z (the previous pixel's value): then they run in parallel with the same bytes.
    const auto draws = &Formula::drawsRandom;
    const bool independentRows = compiled && inverse && !draws(textX) && !draws(textY) && !draws(textZ) &&
                                 std::strchr(textZ, 'z') == nullptr;
    if (independentRows) {
        forEachRowBand(h, int64_t(w) * 16, [&job](int64_t first, int64_t last) {
            // Each band reads its own copies of the job and the programs, so the per-pixel
            // writes of one thread (its stack) never share a cache line with what another reads.
            const CompiledFormula px = *job.programX, py = *job.programY, pz = *job.programZ;
            TransformJob mine = job;
            mine.programX = &px;
            mine.programY = &py;
            mine.programZ = &pz;
            transformRowsMany(mine, static_cast<int32_t>(first), static_cast<int32_t>(last));
        });
    } else {
        double zPrev = 0;
        transformRows(job, f, zPrev, 0, h);
    }
    image.bits = std::move(result);
    image.rebuildDisplay();
    return OpResult::changed();
}

OpResult transformByFormula(DibImage& image, const TransformSettings& settings) {
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
