// The geometry family's operations: scale, mix and fractal.
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
    case MixStatus::CannotOpen: return OpResult::refused(file + "cannot be opened");
    case MixStatus::NotBitmap: return OpResult::refused(file + "not a BMP file with a 40-byte header: " + mixed.reason);
    case MixStatus::Unsupported:
        return OpResult::refused(file + "only uncompressed 4-bit (16 colours), 8-bit (256 colours) and 24-bit files "
                                        "are mixed, not " + mixed.reason);
    case MixStatus::Truncated: return OpResult::refused(file + mixed.reason);
    case MixStatus::NotApplied: break;
    }
    return OpResult::refused(mixed.reason);
}

}  // namespace

const std::vector<Operation>& geometryOperations() {
    using cmd::Rule;
    using Kind = OperationArg::Kind;
    static const std::vector<Operation> ops = {
        {.name = "scale", .arg = {.kind = Kind::Record, .valueName = "WxH[;nearest]", .min = kScaleMin, .max = kScaleMax},
         .help = "scale a 24-bit picture to W x H (1-30000), averaging unless ;nearest is given",
         .rule = Rule::Depth24, .command = cmd::ID_SCALE,
         .run = [](OperationRun& r) {
             const auto& s = r.arg<ScaleSettings>();
             return scaleByCommand(r.image, s.width, s.height, s.interpolate);
         }},
        {.name = "mix", .arg = {.kind = Kind::Record, .valueName = "FILE[;RATIO[;X,Y,W,H[;CX,CY[;R,G,B]]]]"},
         .help = "blend the W x H rectangle at CX,CY of a BMP file onto X,Y of a 24-bit picture; file pixels of "
                 "colour R,G,B are skipped (defaults 0.5; 0,0,picture size; 0,0; 205,205,205)",
         .rule = Rule::Depth24, .command = cmd::ID_MIX, .run = mix},
        {.name = "fractal", .help = "draw the fixed fractal over a 24-bit picture", .rule = Rule::Depth24,
         .command = cmd::ID_FRACTAL,
         .run = [](OperationRun& r) {
             return drawFractal(r.image, kFractalStepX, kFractalStepY, kFractalConstant, kFractalIterations);
         }},
    };
    return ops;
}

}  // namespace qel
