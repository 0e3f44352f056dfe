// The line-art family's operations. Thinning and line tidy 2 mark the picture as thinned, which
// offers straightening and line tidy; the scan clean-up (adaptive black and white, despeckling)
// makes the black-and-white pictures they take.
#include "core/lineart/lineart.h"
#include "core/lineart/scan_cleanup.h"
#include "core/ops/operation.h"

namespace qel {

namespace {

// --adaptive-bw[=W[,K]]
constexpr const char* kAdaptiveShape = "{option} needs W or W,K: {text}";

std::string splitAdaptive(std::string_view text, std::vector<std::string>& fields, std::vector<std::string>&) {
    if (text.empty()) return {};  // every field its default
    fields = splitText(text, ',');
    return fields.size() > 2 ? kAdaptiveShape : "";
}

std::string buildAdaptive(const FieldValues& f, const DibImage&, std::any& record) {
    const AdaptiveBwSettings s{.window = int32_t(std::get<int64_t>(f[0])), .k = std::get<double>(f[1])};
    if (s.window % 2 == 0) return "the window must be odd, not " + std::to_string(s.window);
    record = s;
    return {};
}

}  // namespace

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
        // A new black-and-white picture: its strokes are not thinned.
        {.name = "adaptive-bw",
         .arg = {.kind = OperationArg::Kind::Record, .valueName = "W,K", .optional = true,
                 .fields = {{.name = "window", .min = 3, .max = 2047, .initial = "31",
                             .help = "side of the square window, odd", .outOfRange = "{option} needs an odd window W from {min} to {max}: {value}",
                             .notNumber = kAdaptiveShape},
                            {.name = "k", .kind = OperationField::Kind::Real, .min = 0, .max = 1, .initial = "0.2",
                             .help = "how far below the window's mean the threshold may go", .outOfRange = "{option} needs K from {min} to {max}: {value}",
                             .notNumber = kAdaptiveShape}},
                 .example = "15,0.3", .split = splitAdaptive, .build = buildAdaptive},
         .help = "make a picture black and white by Sauvola's threshold over a W x W window (odd, default 31) with "
                 "K (0-1, default 0.2): pixels darker than their surroundings turn black",
         .doc = "make a picture black and white by Sauvola's threshold over a window x window square: pixels darker "
                "than their surroundings turn black",
         .rule = Rule::Picture, .thinned = Thinned::Clear, .menu = "色>色数変更", .menuText = "適応的白黒化...",
         .run = [](OperationRun& r) { return adaptiveBlackWhite(r.image, r.arg<AdaptiveBwSettings>()); }},
        // Filling a hole can thicken a thinned stroke.
        {.name = "despeckle",
         .arg = {.kind = OperationArg::Kind::Int, .valueName = "N", .min = 1, .max = INT32_MAX, .initial = 4,
                 .outOfRange = "{option}=N needs a whole number of 1 or more, not '{value}'", .keyword = "pixels",
                 .help = "black specks and enclosed white holes of fewer pixels go", .example = "4"},
         .help = "remove black specks (8-connected) and fill enclosed white holes (4-connected) of fewer than N pixels",
         .doc = "remove black specks and fill enclosed white holes of fewer than `pixels` pixels",
         .rule = Rule::Depth8, .thinned = Thinned::Clear, .menu = "効果>線", .menuText = "ゴミ取り...",
         .run = [](OperationRun& r) { return despeckle(r.image, r.arg<int32_t>()); }},
    };
    return ops;
}

}  // namespace qel
