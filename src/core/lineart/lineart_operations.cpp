// The line-art family's operations. Thinning and line tidy 2 mark the picture as thinned, which
// offers straightening and line tidy.
#include "core/lineart/lineart.h"
#include "core/ops/operation.h"

namespace qel {

const std::vector<Operation>& lineartOperations() {
    using cmd::Rule;
    using cmd::Thinned;
    static const std::vector<Operation> ops = {
        {.name = "thin", .help = "thin black strokes to one pixel", .rule = Rule::Depth8, .thinned = Thinned::Set,
         .command = cmd::ID_THIN, .run = [](OperationRun& r) { return thin(r.image); }},
        {.name = "straighten",
         .arg = {.kind = OperationArg::Kind::Int, .valueName = "L", .min = 1, .max = INT32_MAX,
                 .outOfRange = "{option}=L needs a whole number of 1 or more, not '{value}'", .keyword = "length",
                 .help = "the segments' length in pixels", .example = "2"},
         .help = "redraw thinned strokes as segments of L pixels", .doc = "redraw thinned strokes as straight segments",
         .rule = Rule::Depth8Thinned,
         .command = cmd::ID_STRAIGHTEN, .run = [](OperationRun& r) { return straighten(r.image, r.arg<int32_t>()); }},
        {.name = "tidy", .help = "even out the steps of thinned strokes", .rule = Rule::Depth8Thinned,
         .command = cmd::ID_TIDY, .run = [](OperationRun& r) { return tidyLines(r.image); }},
        {.name = "tidy2", .help = "remove bumps, notches and specks beside straight lines", .rule = Rule::Depth8,
         .thinned = Thinned::Set, .command = cmd::ID_TIDY2, .run = [](OperationRun& r) { return tidyLines2(r.image); }},
    };
    return ops;
}

}  // namespace qel
