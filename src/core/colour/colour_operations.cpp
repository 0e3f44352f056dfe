// The colour family's operations: depth conversions (black and white at a given threshold or at
// Otsu's), colour count and reduction, and the palette window's requests on a working palette kept
// between the operations of one command line.
#include "core/colour/conversions.h"
#include "core/colour/palette_file.h"
#include "core/colour/palette_ops.h"
#include "core/colour/quantize.h"
#include "core/colour/reduction.h"
#include "core/colour/working_palette.h"
#include "core/formats/file_io.h"
#include "core/ops/operation.h"

namespace qel {

namespace {

using cmd::Rule;
using cmd::Thinned;
using Kind = OperationArg::Kind;

OpResult to24Bit(OperationRun& r) {
    const DisplayBitmap* shown = r.image.display();
    if (!shown) return OpResult::refused(kNoPicture);
    // The picture as the screen shows it, read back at 24 bits. fromBitmap reads the raster completely
    // before it replaces the picture: no copy needed.
    r.image.fromBitmap(*shown);
    return OpResult::changed();
}

OpResult printColourCount(OperationRun& r) {
    const int32_t count = countColours(r.image);
    if (r.out) *r.out << count << "\n";
    return OpResult::unchanged("counted");
}

// The working palette of a command line is loaded from the picture's colour table at the first
// palette operation after any other, as if the palette window were opened then.
struct PaletteSession {
    WorkingPalette pal;
    int lastIndex = -1;  // the place of the palette operation that used it last
};

WorkingPalette& workingPalette(OperationRun& r) {
    thread_local std::shared_ptr<void> unshared;  // a run without a command line: a fresh palette each time
    std::shared_ptr<void>& slot = r.familyState ? *r.familyState : unshared;
    auto session = std::static_pointer_cast<PaletteSession>(slot);
    if (!session || !r.familyState) {
        session = std::make_shared<PaletteSession>();
        slot = session;
    }
    if (session->lastIndex != r.index - 1 || !r.familyState) loadPaletteFromImage(session->pal, r.image);
    session->lastIndex = r.index;
    return session->pal;
}

OpResult request(OperationRun& r, WorkingPalette& pal, PaletteRequest code) {
    return runPaletteRequest(r.image, pal, code, r.snapshot);
}

// What every palette-window operation shares: its rule, and the snapshot its request takes itself.
Operation paletteOperation(Operation op) {
    op.rule = Rule::Depth4Or8;
    op.snapshot = false;
    return op;
}

// --quantize=N[;dither]
constexpr const char* kQuantizeShape = "{option} needs N or N;dither: {text}";

std::string splitQuantize(std::string_view text, std::vector<std::string>& fields, std::vector<std::string>&) {
    fields = splitText(text, ';');
    return fields.size() > 2 ? kQuantizeShape : "";
}

std::string buildQuantize(const FieldValues& f, const DibImage&, std::any& record) {
    record = QuantizeSettings{.colours = int32_t(std::get<int64_t>(f[0])), .dither = std::get<bool>(f[1])};
    return {};
}

}  // namespace

const std::vector<Operation>& colourOperations() {
    static const std::vector<Operation> ops = {
        {.name = "to-24bit", .help = "convert to 24 bits per pixel", .rule = Rule::DepthNot24,
         .thinned = Thinned::Clear, .command = cmd::ID_TO_24BIT, .run = to24Bit},
        {.name = "to-256", .help = "convert a 24-bit picture to 256 colours", .rule = Rule::Depth24,
         .thinned = Thinned::Clear, .command = cmd::ID_TO_256,
         .run = [](OperationRun& r) { return toIndexed(r.image, 256); }},
        // The header width may change; the window program then resizes the document and every view.
        {.name = "to-16", .help = "convert an 8- or 24-bit picture to 16 colours", .rule = Rule::DepthAbove4,
         .thinned = Thinned::Clear, .command = cmd::ID_TO_16,
         .run = [](OperationRun& r) { return toIndexed(r.image, 16); }},
        {.name = "grey", .help = "make the picture grey", .command = cmd::ID_TO_GREY,
         .run = [](OperationRun& r) { return toGrey(r.image); }},
        {.name = "black-white",
         .arg = {.kind = Kind::Int, .valueName = "T", .min = 0, .max = 255, .initial = 1,
                 .outOfRange = "{option} needs a threshold from 0 to 255: {value}",
                 .notNumber = "{option} needs an integer threshold: {value}", .keyword = "threshold",
                 .help = "colours whose channels average below it turn black, the rest white", .example = "128"},
         .help = "make a 4- or 8-bit picture black and white; colours averaging below T (0-255) turn black",
         .doc = "make a 4- or 8-bit picture black and white by its colour table",
         .rule = Rule::Depth4Or8, .command = cmd::ID_TO_BLACK_WHITE,
         .run = [](OperationRun& r) { return toBlackWhite(r.image, r.arg<int32_t>()); }},
        // The threshold from the picture itself: an operation of its own, so the specified dialog stays as it is.
        {.name = "black-white-auto",
         .help = "make a 4- or 8-bit picture black and white at Otsu's threshold of its pixels' channel averages",
         .rule = Rule::Depth4Or8, .menu = "色>色数変更", .menuText = "白黒(自動)",
         .run = [](OperationRun& r) { return toBlackWhiteAuto(r.image); }},
        {.name = "count-colours", .help = "print the number of colours at 6 bits per channel",
         .command = cmd::ID_COUNT_COLOURS, .snapshot = false, .reports = true, .number = true, .run = printColourCount},
        {.name = "reduce-256", .help = "reduce a 24-bit picture to at most 256 colours", .rule = Rule::Depth24,
         .command = cmd::ID_REDUCE_256, .run = [](OperationRun& r) { return reduceColours(r.image); }},
        {.name = "quantize",
         .arg = {.kind = Kind::Record, .valueName = "N[;dither]",
                 .fields = {{.name = "colours", .min = kQuantizeMinColours, .max = kQuantizeMaxColours, .initial = "256",
                             .help = "the most colours", .outOfRange = "{option} needs a number of colours from {min} to {max}: {text}",
                             .notNumber = kQuantizeShape},
                            {.name = "dither", .kind = OperationField::Kind::Flag, .initial = "", .word = "dither",
                             .help = "diffuse the error (Floyd-Steinberg)", .invalid = kQuantizeShape}},
                 .example = "3;dither", .split = splitQuantize, .build = buildQuantize},
         .help = "turn a 24-bit picture into an 8-bit one of at most N (2-256) colours chosen for quality; "
                 ";dither diffuses the error (Floyd-Steinberg)",
         .doc = "turn a 24-bit picture into an 8-bit one of at most `colours` colours chosen for quality",
         .rule = Rule::Depth24, .thinned = Thinned::Clear, .command = cmd::ID_QUANTIZE,
         .run = [](OperationRun& r) { return quantizeColours(r.image, r.arg<QuantizeSettings>()); }},
        paletteOperation(
            {.name = "palette", .arg = {.kind = Kind::Text, .valueName = "FILE", .keyword = "file",
                     .help = "the palette file read", .example = "{dir}/palette.pal"},
             .help = "load a palette file into the working palette (its count never raises N)",
             .doc = "load a palette file into the working palette (never more colours than it has)", .binding = "load-palette",
             .run = [](OperationRun& r) {
                 const auto& file = r.arg<std::string>();
                 if (loadPaletteFile(file, workingPalette(r)) == PaletteFileError::None) return OpResult::changed();
                 const int code = readErrno(file);
                 return OpResult::fileRefused(fileReason(file, code, "cannot be read"), code, file);
             }}),
        paletteOperation(
            {.name = "save-palette", .arg = {.kind = Kind::Text, .valueName = "FILE", .keyword = "file",
                     .help = "the palette file written", .example = "{dir}/saved.pal"},
             .help = "save the working palette as a palette file", .writes = true,
             .run = [](OperationRun& r) {
                 const auto& file = r.arg<std::string>();
                 if (savePaletteFile(file, workingPalette(r)) == PaletteFileError::None) return OpResult::changed();
                 const int code = writeErrno(file);
                 return OpResult::fileRefused(fileReason(file, code, "cannot be written"), code, file);
             }}),
        paletteOperation({.name = "set-palette", .help = "copy the working palette into the colour table",
                          .run = [](OperationRun& r) { return request(r, workingPalette(r), kRequestSetTable); }}),
        paletteOperation(
            {.name = "organise",
             .help = "merge duplicate and empty (205,205,205) colours of the working palette into the picture",
             .run = [](OperationRun& r) { return request(r, workingPalette(r), kRequestOrganise); }}),
        paletteOperation(
            {.name = "approximate", .arg = {.kind = Kind::Int, .valueName = "P", .min = 0, .max = kMaxPrecision, .keyword = "precision",
                     .help = "table colours closer than this (squared distance; 0: all) move", .example = "40"},
             .help = "move table colours closer than P (0-50000, 0: all) to their nearest working colour",
             .doc = "move the table's colours near a working colour onto it",
             .run = [](OperationRun& r) {
                 WorkingPalette& pal = workingPalette(r);
                 prepareApproximate(pal, r.arg<int32_t>());
                 return request(r, pal, kRequestApproximate);
             }}),
        paletteOperation(
            {.name = "remap",
             .help = "move pixels to their nearest working colour and copy the working palette into the table",
             .run = [](OperationRun& r) { return request(r, workingPalette(r), kRequestRemap); }}),
        paletteOperation({.name = "fit-palette", .help = "replace each table colour by its nearest working colour (no snapshot)",
                          .command = cmd::ID_FIT_PALETTE,
                          .run = [](OperationRun& r) { return fitToPalette(r.image, workingPalette(r)); }}),
        paletteOperation(
            {.name = "sort-palette",
             .help = "sort the working palette by brightness and reorder the picture's table to it",
             .run = [](OperationRun& r) {
                 WorkingPalette& pal = workingPalette(r);
                 sortPalette(pal);
                 return request(r, pal, kRequestRemap);
             }}),
        paletteOperation(
            {.name = "merge-near",
             .arg = {.kind = Kind::Int, .valueName = "A", .min = 0, .max = kMaxMergeDistance, .keyword = "distance",
                     .help = "colours closer than this (squared distance) become one", .example = "3000"},
             .help = "make near colours of the working palette equal (distance 0-10000000); --organise applies it",
             .doc = "make near colours of the working palette equal; organise() applies it to the picture",
             .run = [](OperationRun& r) {
                 mergeNearColours(workingPalette(r), r.arg<int32_t>());
                 return OpResult::unchanged("merged in the working palette");
             }}),
    };
    return ops;
}

}  // namespace qel
