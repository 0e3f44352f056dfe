// qel-batch options of the geometry operations.
#include <vector>

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/commands/command_table.h"
#include "core/geometry/geometry.h"
#include "core/image/bmp_file.h"

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

Result runScale(Context& ctx, const std::string& value) {
    const auto parts = split(value, ';');
    const auto x = parts[0].find('x');
    int32_t w = 0, h = 0;
    if (parts.size() > 2 || (parts.size() == 2 && parts[1] != "nearest") || x == std::string::npos ||
        !parseNumber(parts[0].substr(0, x), w) || !parseNumber(parts[0].substr(x + 1), h))
        return fail(kExitUsage, "--scale needs WIDTHxHEIGHT or WIDTHxHEIGHT;nearest: " + value);
    if (w < kScaleMin || w > kScaleMax || h < kScaleMin || h > kScaleMax)
        return fail(kExitUsage, "--scale needs each side from 1 to 30000: " + value);
    const bool interpolate = parts.size() == 1;
    if (auto f = requireEnabled(ctx)) return f;
    if (!sizeWithinLimits(w, h))
        return fail(kExitInput, "--scale: " + parts[0] + " is larger than a picture may be (268435456 pixels at most)");
    ctx.takeSnapshot();
    return reportRefusal("--scale", scaleByCommand(ctx.image, w, h, interpolate));
}

Result runMix(Context& ctx, const std::string& value) {
    const auto parts = split(value, ';');
    const std::string usage = "--mix needs FILE[;RATIO[;X,Y,W,H[;CX,CY[;R,G,B]]]]: " + value;
    if (parts.size() > 5 || parts[0].empty()) return fail(kExitUsage, usage);
    if (auto f = requireEnabled(ctx)) return f;
    const auto hd = ctx.image.header();
    float ratio = 0.5f;
    int32_t x = 0, y = 0, w = hd.biWidth, h = hd.biHeight, cx = 0, cy = 0, r = 205, g = 205, b = 205;
    if (parts.size() > 1 && (!parseNumber(parts[1], ratio) || !(ratio >= 0.0f && ratio <= 1.0f)))
        return fail(kExitUsage, "--mix needs a ratio from 0 to 1: " + parts[1]);
    if (parts.size() > 2 && !parseInts(parts[2], {&x, &y, &w, &h}, 0, 30000))
        return fail(kExitUsage, "--mix needs X,Y,W,H, each from 0 to 30000: " + parts[2]);
    if (parts.size() > 3 && !parseInts(parts[3], {&cx, &cy}, 0, 30000))
        return fail(kExitUsage, "--mix needs CX,CY, each from 0 to 30000: " + parts[3]);
    if (parts.size() > 4 && !parseInts(parts[4], {&r, &g, &b}, 0, 255))
        return fail(kExitUsage, "--mix needs R,G,B, each from 0 to 255: " + parts[4]);
    ctx.takeSnapshot();
    MixStatus status = MixStatus::Mixed;
    const OpResult mixed = mixFile(ctx.image, parts[0], x, y, w, h, cx, cy, ratio, packColourRef(r, g, b), &status);
    const std::string file = "--mix: " + parts[0] + ": ";
    switch (status) {
    case MixStatus::Mixed: return std::nullopt;
    case MixStatus::CannotOpen: return fail(kExitInput, file + "cannot be opened");
    case MixStatus::NotBitmap: return fail(kExitInput, file + "not a BMP file with a 40-byte header: " + mixed.reason);
    case MixStatus::Unsupported:
        return fail(kExitInput, file + "only uncompressed 4-bit (16 colours), 8-bit (256 colours) and 24-bit files "
                                       "are mixed, not " + mixed.reason);
    case MixStatus::Truncated: return fail(kExitInput, file + mixed.reason);
    case MixStatus::NotApplied: break;
    }
    return fail(kExitInput, "--mix: " + mixed.reason);
}

}  // namespace

void registerGeometryOperations(Registry& r) {
    r.push_back({"--scale", Operation::Arg::Required, "WxH[;nearest]",
                 "scale a 24-bit picture to W x H (1-30000), averaging unless ;nearest is given", runScale});
    r.back().command = cmd::ID_SCALE;
    r.push_back({"--mix", Operation::Arg::Required, "FILE[;RATIO[;X,Y,W,H[;CX,CY[;R,G,B]]]]",
                 "blend the W x H rectangle at CX,CY of a BMP file onto X,Y of a 24-bit picture; file pixels of "
                 "colour R,G,B are skipped (defaults 0.5; 0,0,picture size; 0,0; 205,205,205)",
                 runMix});
    r.back().command = cmd::ID_MIX;
    r.push_back({"--fractal", Operation::Arg::None, "", "draw the fixed fractal over a 24-bit picture",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     return reportRefusal("--fractal", drawFractal(ctx.image, kFractalStepX, kFractalStepY,
                                                                   kFractalConstant, kFractalIterations));
                 }});
    r.back().command = cmd::ID_FRACTAL;
}

}  // namespace qel::batch
