// qel-batch options of the line-art filters.

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/commands/command_table.h"
#include "core/lineart/lineart.h"

namespace qel::batch {

void registerLineartOperations(Registry& r) {
    r.push_back({"--thin", Operation::Arg::None, "", "thin black strokes to one pixel",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--thin", thin(ctx.image))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_THIN;
    r.push_back({"--straighten", Operation::Arg::Required, "L", "redraw thinned strokes as segments of L pixels",
                 [](Context& ctx, const std::string& value) -> Result {
                     int length = 0;
                     if (!parseNumber(value, length) || length < 1)
                         return fail(kExitUsage, "--straighten=L needs a whole number of 1 or more, not '" + value + "'");
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--straighten", straighten(ctx.image, length))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_STRAIGHTEN;
    r.push_back({"--tidy", Operation::Arg::None, "", "even out the steps of thinned strokes",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--tidy", tidyLines(ctx.image))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_TIDY;
    r.push_back({"--tidy2", Operation::Arg::None, "", "remove bumps, notches and specks beside straight lines",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--tidy2", tidyLines2(ctx.image))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_TIDY2;
}

}  // namespace qel::batch
