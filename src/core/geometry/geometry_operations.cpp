// The geometry family's operations: scale, mix, fractal, the turns and mirror images, crop and deskew.
#include "core/formats/bmp_file.h"
#include "core/geometry/geometry.h"
#include "core/ops/operation.h"

namespace qel {

namespace {

OpResult mix(OperationRun& r) {
    const auto& m = r.arg<MixSettings>();
    MixStatus status = MixStatus::Mixed;
    OpResult mixed =
        mixFile(r.image, m.path, m.startX, m.startY, m.width, m.height, m.copyX, m.copyY, m.ratio, m.transparent, &status);
    const std::string file = m.path + ": ";
    switch (status) {
    case MixStatus::Mixed: return mixed;
    case MixStatus::CannotOpen: return OpResult::fileRefused(file + mixed.reason, mixed.code, m.path);
    case MixStatus::NotBitmap: return OpResult::refused(file + "not a BMP file with a 40-byte header: " + mixed.reason);
    case MixStatus::NotPicture: return OpResult::refused(file + mixed.reason);
    case MixStatus::Unsupported:
        return OpResult::refused(file + "only uncompressed 4-bit (16 colours), 8-bit (256 colours) and 24-bit files "
                                        "are mixed, not " + mixed.reason);
    case MixStatus::Truncated: return OpResult::refused(file + mixed.reason);
    case MixStatus::NotApplied: break;
    }
    return OpResult::refused(mixed.reason);
}

using Field = OperationField;
using FieldKind = OperationField::Kind;

// --scale=WxH[;nearest]
constexpr const char* kScaleShape = "{option} needs WIDTHxHEIGHT or WIDTHxHEIGHT;nearest: {text}";

std::string splitScale(std::string_view text, std::vector<std::string>& fields, std::vector<std::string>&) {
    const auto parts = splitText(text, ';');
    const auto x = parts[0].find('x');
    if (parts.size() > 2 || x == std::string::npos) return kScaleShape;
    fields = {parts[0].substr(0, x), parts[0].substr(x + 1)};
    if (parts.size() == 2) fields.push_back(parts[1]);
    return {};
}

std::string buildScale(const FieldValues& f, const DibImage&, std::any& record) {
    const auto w = int32_t(std::get<int64_t>(f[0])), h = int32_t(std::get<int64_t>(f[1]));
    if (!sizeWithinLimits(w, h))
        return std::to_string(w) + "x" + std::to_string(h) + " is larger than a picture may be (268435456 pixels at most)";
    record = ScaleSettings{.width = w, .height = h, .interpolate = !std::get<bool>(f[2])};
    return {};
}

// --mix=FILE[;RATIO[;X,Y,W,H[;CX,CY[;R,G,B]]]]
constexpr const char* kMixArea = "{option} needs X,Y,W,H, each from 0 to 30000: {group}";
constexpr const char* kMixStart = "{option} needs CX,CY, each from 0 to 30000: {group}";
constexpr const char* kMixColour = "{option} needs R,G,B, each from 0 to 255: {group}";

std::string splitMix(std::string_view text, std::vector<std::string>& fields, std::vector<std::string>& groups) {
    const auto parts = splitText(text, ';');
    if (parts.size() > 5 || parts[0].empty()) return "{option} needs FILE[;RATIO[;X,Y,W,H[;CX,CY[;R,G,B]]]]: {text}";
    fields = {parts[0]};
    if (parts.size() > 1) fields.push_back(parts[1]);
    groups = fields;
    const struct { size_t count; const char* refusal; } shapes[] = {{4, kMixArea}, {2, kMixStart}, {3, kMixColour}};
    for (size_t p = 2; p < parts.size(); ++p) {
        const auto pieces = splitText(parts[p], ',');
        if (pieces.size() != shapes[p - 2].count) {
            std::string why = shapes[p - 2].refusal;
            return why.replace(why.find("{group}"), 7, parts[p]);
        }
        fields.insert(fields.end(), pieces.begin(), pieces.end());
        groups.insert(groups.end(), pieces.size(), parts[p]);
    }
    return {};
}

std::string buildMix(const FieldValues& f, const DibImage& image, std::any& record) {
    const auto n = [&](size_t i) { return int32_t(std::get<int64_t>(f[i])); };
    const auto h = image.header();
    record = MixSettings{.path = std::get<std::string>(f[0]), .startX = n(2), .startY = n(3),
                         .width = n(4) ? n(4) : h.biWidth, .height = n(5) ? n(5) : h.biHeight, .copyX = n(6),
                         .copyY = n(7), .ratio = float(std::get<double>(f[1])),
                         .transparent = packColourRef(uint8_t(n(8)), uint8_t(n(9)), uint8_t(n(10)))};
    return {};
}

Field mixInt(const char* name, const char* group, double max, const char* initial, const char* refusal, const char* help) {
    return {.name = name, .kind = FieldKind::Int, .min = 0, .max = max, .initial = initial, .group = group, .help = help,
            .outOfRange = refusal};
}

// --crop=X,Y,W,H
constexpr const char* kCropShape = "{option} needs X,Y,W,H, four whole numbers: {text}";

std::string splitCrop(std::string_view text, std::vector<std::string>& fields, std::vector<std::string>&) {
    fields = splitText(text, ',');
    return fields.size() == 4 ? "" : kCropShape;
}

std::string buildCrop(const FieldValues& f, const DibImage& image, std::any& record) {
    const auto n = [&](size_t i) { return int32_t(std::get<int64_t>(f[i])); };
    const CropSettings c{.x = n(0), .y = n(1), .width = n(2), .height = n(3)};
    if (std::string why = cropRefusal(image, c); !why.empty()) return why;
    record = c;
    return {};
}

Field cropInt(const char* name, double min, const char* refusal, const char* help) {
    return {.name = name, .kind = FieldKind::Int, .min = min, .max = 65535, .help = help, .outOfRange = refusal,
            .notNumber = kCropShape};
}

// Their own items at the end of the effects menu.
constexpr const char* kEffectMenu = "効果";

// An operation that takes no value: the function on the picture.
template <OpResult (*F)(DibImage&)>
OpResult onPicture(OperationRun& r) {
    return F(r.image);
}

}  // namespace

const std::vector<Operation>& geometryOperations() {
    using cmd::Rule;
    using Kind = OperationArg::Kind;
    static const std::vector<Operation> ops = {
        {.name = "scale",
         .arg = {.kind = Kind::Record, .valueName = "WxH[;nearest]",
                 .fields = {{.name = "width", .min = kScaleMin, .max = kScaleMax, .help = "the new width",
                             .outOfRange = "{option} needs each side from {min} to {max}: {text}", .notNumber = kScaleShape},
                            {.name = "height", .min = kScaleMin, .max = kScaleMax, .help = "the new height",
                             .outOfRange = "{option} needs each side from {min} to {max}: {text}", .notNumber = kScaleShape},
                            {.name = "nearest", .kind = FieldKind::Flag, .initial = "", .word = "nearest",
                             .help = "take the nearest pixel instead of averaging", .invalid = kScaleShape}},
                 .example = "3x4", .split = splitScale, .build = buildScale},
         .help = "scale a 24-bit picture to W x H (1-30000), averaging unless ;nearest is given",
         .doc = "scale a 24-bit picture to width x height, averaging unless nearest",
         .rule = Rule::Depth24, .command = cmd::ID_SCALE,
         .run = [](OperationRun& r) {
             const auto& s = r.arg<ScaleSettings>();
             return scaleByCommand(r.image, s.width, s.height, s.interpolate);
         }},
        {.name = "mix",
         .arg = {.kind = Kind::Record, .valueName = "FILE[;RATIO[;X,Y,W,H[;CX,CY[;R,G,B]]]]",
                 .fields = {{.name = "file", .kind = FieldKind::Text, .help = "the picture file mixed in"},
                            {.name = "ratio", .kind = FieldKind::Real, .min = 0, .max = 1, .initial = "0.5",
                             .help = "the share of the file's pixels", .outOfRange = "{option} needs a ratio from 0 to 1: {value}"},
                            mixInt("x", "area", 30000, "0", kMixArea, "the area of this picture mixed into (width, height 0: to its edge)"),
                            mixInt("y", "area", 30000, "0", kMixArea, "top"),
                            mixInt("width", "area", 30000, "0", kMixArea, "width"),
                            mixInt("height", "area", 30000, "0", kMixArea, "height"),
                            mixInt("copy_x", "copy_from", 30000, "0", kMixStart, "where the copy starts in the file"),
                            mixInt("copy_y", "copy_from", 30000, "0", kMixStart, "y"),
                            mixInt("red", "transparent", 255, "205", kMixColour, "the file's colour left out"),
                            mixInt("green", "transparent", 255, "205", kMixColour, "green"),
                            mixInt("blue", "transparent", 255, "205", kMixColour, "blue")},
                 .example = "{dir}/picture.bmp;0.5;0,0,5,5", .split = splitMix, .ruleCheck = OperationArg::RuleCheck::AfterSplit, .build = buildMix},
         .help = "blend the W x H rectangle at CX,CY of a picture file onto X,Y of a 24-bit picture; file pixels of "
                 "colour R,G,B are skipped (defaults 0.5; 0,0,picture size; 0,0; 205,205,205)",
         .doc = "blend a rectangle of another picture file (any format Qel reads) into a 24-bit picture",
         .rule = Rule::Depth24, .command = cmd::ID_MIX, .run = mix},
        {.name = "fractal", .help = "draw the fixed fractal over a 24-bit picture", .rule = Rule::Depth24,
         .command = cmd::ID_FRACTAL,
         .run = [](OperationRun& r) {
             return drawFractal(r.image, kFractalStepX, kFractalStepY, kFractalConstant, kFractalIterations);
         }},
        // Pixels only move: one-pixel strokes stay one pixel wide, so the thinned flag is kept.
        {.name = "rotate-90", .help = "turn the picture a quarter turn clockwise", .rule = Rule::Picture,
         .thinned = cmd::Thinned::Keep, .menu = kEffectMenu, .menuText = "右に90度回転", .run = onPicture<rotate90>},
        {.name = "rotate-180", .help = "turn the picture half a turn", .rule = Rule::Picture,
         .thinned = cmd::Thinned::Keep, .menu = kEffectMenu, .menuText = "180度回転", .run = onPicture<rotate180>},
        {.name = "rotate-270", .help = "turn the picture a quarter turn anticlockwise", .rule = Rule::Picture,
         .thinned = cmd::Thinned::Keep, .menu = kEffectMenu, .menuText = "左に90度回転", .run = onPicture<rotate270>},
        {.name = "flip-horizontal", .help = "mirror the picture left to right", .rule = Rule::Picture,
         .thinned = cmd::Thinned::Keep, .menu = kEffectMenu, .menuText = "左右反転", .run = onPicture<flipHorizontal>},
        {.name = "flip-vertical", .help = "turn the picture upside down (mirror top to bottom)", .rule = Rule::Picture,
         .thinned = cmd::Thinned::Keep, .menu = kEffectMenu, .menuText = "上下反転", .run = onPicture<flipVertical>},
        {.name = "crop",
         .arg = {.kind = Kind::Record, .valueName = "X,Y,W,H",
                 .fields = {cropInt("x", 0, "{option} needs X from {min} to {max}: {text}", "left edge of the rectangle kept"),
                            cropInt("y", 0, "{option} needs Y from {min} to {max}: {text}", "its top edge"),
                            cropInt("width", 1, "{option} needs W from {min} to {max}: {text}", "its width"),
                            cropInt("height", 1, "{option} needs H from {min} to {max}: {text}", "its height")},
                 .example = "0,0,2,2", .split = splitCrop, .build = buildCrop},
         .help = "keep only the W x H rectangle at X,Y (from the top left), which must lie inside the picture",
         .doc = "keep only the width x height rectangle at x, y (from the top left), which must lie inside the picture",
         .rule = Rule::Picture, .thinned = cmd::Thinned::Keep, .menu = kEffectMenu, .menuText = "切り抜き...",
         .run = [](OperationRun& r) { return crop(r.image, r.arg<CropSettings>()); }},
        // Turning blends or moves pixels off their places: one-pixel strokes no longer are.
        {.name = "deskew",
         .help = "find how far a drawing or page is tilted (up to 10 degrees either way), turn it upright and print "
                 "the tilt in degrees, anticlockwise positive",
         .doc = "find how far a drawing or page is tilted (up to 10 degrees either way) and turn it upright; the "
                "tilt found, in degrees anticlockwise, is its note",
         .rule = Rule::Picture, .thinned = cmd::Thinned::Clear, .menu = kEffectMenu, .menuText = "傾き補正",
         .notes = true,
         .run = [](OperationRun& r) {
             double tilt = 0;
             OpResult done = deskew(r.image, &tilt);
             if (r.out && !done.isRefused()) *r.out << tiltText(tilt) << "\n";
             return done;
         }},
    };
    return ops;
}

}  // namespace qel
