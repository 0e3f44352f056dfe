// qel-batch options of the line-art filters.
#include <charconv>

#include "cli/batch.h"
#include "core/lineart/lineart.h"

namespace qel::batch {

namespace {

// Straightening and line tidy are offered only on a thinned 8-bit picture.
Result requireThinned(const Context& ctx, const std::string& op) {
    if (auto f = requireDepth(ctx, op, {8})) return f;
    if (!ctx.thinned) return fail(kExitInput, op + " needs a thinned picture: run --thin or --tidy2 first");
    return std::nullopt;
}

}  // namespace

void registerLineartOperations(Registry& r) {
    r.push_back({"--thin", Operation::Arg::None, "", "thin black strokes to one pixel",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireDepth(ctx, "--thin", {8})) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--thin", thin(ctx.image))) return f;
                     ctx.thinned = true;
                     return std::nullopt;
                 }});
    r.push_back({"--straighten", Operation::Arg::Required, "L", "redraw thinned strokes as segments of L pixels",
                 [](Context& ctx, const std::string& value) -> Result {
                     int length = 0;
                     const char* end = value.data() + value.size();
                     auto [p, ec] = std::from_chars(value.data(), end, length);
                     if (ec != std::errc() || p != end || length < 1)
                         return fail(kExitUsage, "--straighten=L needs a whole number of 1 or more, not '" + value + "'");
                     if (auto f = requireThinned(ctx, "--straighten")) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--straighten", straighten(ctx.image, length))) return f;
                     return std::nullopt;
                 }});
    r.push_back({"--tidy", Operation::Arg::None, "", "even out the steps of thinned strokes",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireThinned(ctx, "--tidy")) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--tidy", tidyLines(ctx.image))) return f;
                     return std::nullopt;
                 }});
    r.push_back({"--tidy2", Operation::Arg::None, "", "remove bumps, notches and specks beside straight lines",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireDepth(ctx, "--tidy2", {8})) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--tidy2", tidyLines2(ctx.image))) return f;
                     ctx.thinned = true;
                     return std::nullopt;
                 }});
}

}  // namespace qel::batch
