// The values of qel-batch's --scale and --mix.
#include <any>
#include <vector>

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/geometry/geometry.h"
#include "core/formats/bmp_file.h"

namespace qel::batch {

namespace {

// Integers separated by commas, each within [lo, hi] like the dialog's fields.
bool parseInts(const std::string& text, std::vector<int32_t*> out, int32_t lo, int32_t hi) {
    const auto parts = split(text, ',');
    if (parts.size() != out.size()) return false;
    for (size_t i = 0; i < parts.size(); ++i)
        if (!parseNumber(parts[i], *out[i]) || *out[i] < lo || *out[i] > hi) return false;
    return true;
}

}  // namespace

Result parseScale(Context& ctx, const std::string& value, std::any& record) {
    const auto parts = split(value, ';');
    const auto x = parts[0].find('x');
    int32_t w = 0, h = 0;
    if (parts.size() > 2 || (parts.size() == 2 && parts[1] != "nearest") || x == std::string::npos ||
        !parseNumber(parts[0].substr(0, x), w) || !parseNumber(parts[0].substr(x + 1), h))
        return fail(kExitUsage, "--scale needs WIDTHxHEIGHT or WIDTHxHEIGHT;nearest: " + value);
    if (w < kScaleMin || w > kScaleMax || h < kScaleMin || h > kScaleMax)
        return fail(kExitUsage, "--scale needs each side from 1 to 30000: " + value);
    if (auto f = requireEnabled(ctx)) return f;
    if (!sizeWithinLimits(w, h))
        return fail(kExitInput, "--scale: " + parts[0] + " is larger than a picture may be (268435456 pixels at most)");
    record = ScaleSettings{.width = w, .height = h, .interpolate = parts.size() == 1};
    return std::nullopt;
}

Result parseMix(Context& ctx, const std::string& value, std::any& record) {
    const auto parts = split(value, ';');
    const std::string usage = "--mix needs FILE[;RATIO[;X,Y,W,H[;CX,CY[;R,G,B]]]]: " + value;
    if (parts.size() > 5 || parts[0].empty()) return fail(kExitUsage, usage);
    if (auto f = requireEnabled(ctx)) return f;
    const auto hd = ctx.image.header();
    MixSettings m{.path = parts[0], .width = hd.biWidth, .height = hd.biHeight};
    int32_t r = 205, g = 205, b = 205;
    if (parts.size() > 1 && (!parseNumber(parts[1], m.ratio) || !(m.ratio >= 0.0f && m.ratio <= 1.0f)))
        return fail(kExitUsage, "--mix needs a ratio from 0 to 1: " + parts[1]);
    if (parts.size() > 2 && !parseInts(parts[2], {&m.startX, &m.startY, &m.width, &m.height}, 0, 30000))
        return fail(kExitUsage, "--mix needs X,Y,W,H, each from 0 to 30000: " + parts[2]);
    if (parts.size() > 3 && !parseInts(parts[3], {&m.copyX, &m.copyY}, 0, 30000))
        return fail(kExitUsage, "--mix needs CX,CY, each from 0 to 30000: " + parts[3]);
    if (parts.size() > 4 && !parseInts(parts[4], {&r, &g, &b}, 0, 255))
        return fail(kExitUsage, "--mix needs R,G,B, each from 0 to 255: " + parts[4]);
    m.transparent = packColourRef(r, g, b);
    record = m;
    return std::nullopt;
}

}  // namespace qel::batch
