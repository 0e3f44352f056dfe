// The value of qel-batch's --quantize.
#include <any>

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/colour/quantize.h"

namespace qel::batch {

// "N" or "N;dither", as the scale's ";nearest" and the transform's ";forward" add a choice to a value.
Result parseQuantize(Context& ctx, const std::string& value, std::any& record) {
    const auto parts = split(value, ';');
    int32_t n = 0;
    if (parts.size() > 2 || (parts.size() == 2 && parts[1] != "dither") || !parseNumber(parts[0], n))
        return fail(kExitUsage, "--quantize needs N or N;dither: " + value);
    if (n < kQuantizeMinColours || n > kQuantizeMaxColours)
        return fail(kExitUsage, "--quantize needs a number of colours from 2 to 256: " + value);
    if (auto f = requireEnabled(ctx)) return f;
    record = QuantizeSettings{.colours = n, .dither = parts.size() == 2};
    return std::nullopt;
}

}  // namespace qel::batch
