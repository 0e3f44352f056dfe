// qel-batch options of the palette window: a working palette kept between
// options, the requests the window sends to its view, and palette files.
//
// The working palette is loaded from the picture's colour table (N by the
// palette command's rule) at the first palette option after any other option,
// as if the palette window were opened then. Organise and approximate reload
// it, as the view does.

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/commands/command_table.h"
#include "core/colour/palette_file.h"
#include "core/colour/palette_ops.h"
#include "core/colour/working_palette.h"

namespace qel::batch {

namespace {

struct PaletteState {
    WorkingPalette pal;
    int lastOperation = -1;  // index of the palette option that used it last
};

// Runs `body` on the working palette, loading it first unless the option just before was a palette option.
template <typename Body>
Result withPalette(Context& ctx, Body body) {
    if (auto f = requireEnabled(ctx)) return f;
    auto st = std::static_pointer_cast<PaletteState>(ctx.paletteState);
    if (!st) {
        st = std::make_shared<PaletteState>();
        ctx.paletteState = st;
    }
    if (st->lastOperation != ctx.operationIndex - 1) loadPaletteFromImage(st->pal, ctx.image);
    Result r = body(st->pal);
    st->lastOperation = ctx.operationIndex;
    return r;
}

// A whole decimal integer from 0 to `max`.
bool parseRange(const std::string& text, int32_t max, int32_t& v) {
    return parseNumber(text, v) && v >= 0 && v <= max;
}

Result request(Context& ctx, const std::string& op, WorkingPalette& pal, PaletteRequest code) {
    return reportRefusal(op, runPaletteRequest(ctx.image, pal, code, [&ctx] { ctx.takeSnapshot(); }));
}

}  // namespace

void registerPaletteOptions(Registry& r) {
    const size_t first = r.size();
    r.push_back({"--palette", Operation::Arg::Required, "FILE",
                 "load a palette file into the working palette (its count never raises N)",
                 [](Context& ctx, const std::string& file) -> Result {
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         if (loadPaletteFile(file, pal) != PaletteFileError::None)
                             return fail(kExitInput, "--palette: " + file + " cannot be read (" +
                                                         paletteFileMessage(PaletteFileError::CannotRead).text + ")");
                         return std::nullopt;
                     });
                 }});
    r.push_back({"--save-palette", Operation::Arg::Required, "FILE", "save the working palette as a palette file",
                 [](Context& ctx, const std::string& file) -> Result {
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         if (savePaletteFile(file, pal) != PaletteFileError::None)
                             return fail(kExitOutput, "--save-palette: " + file + " cannot be written (" +
                                                          paletteFileMessage(PaletteFileError::CannotWrite).text + ")");
                         return std::nullopt;
                     });
                 }});
    r.push_back({"--set-palette", Operation::Arg::None, "", "copy the working palette into the colour table",
                 [](Context& ctx, const std::string&) -> Result {
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         return request(ctx, "--set-palette", pal, kRequestSetTable);
                     });
                 }});
    r.push_back({"--organise", Operation::Arg::None, "",
                 "merge duplicate and empty (205,205,205) colours of the working palette into the picture",
                 [](Context& ctx, const std::string&) -> Result {
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         return request(ctx, "--organise", pal, kRequestOrganise);
                     });
                 }});
    r.push_back({"--approximate", Operation::Arg::Required, "P",
                 "move table colours closer than P (0-50000, 0: all) to their nearest working colour",
                 [](Context& ctx, const std::string& value) -> Result {
                     int32_t p = 0;
                     if (!parseRange(value, kMaxPrecision, p))
                         return fail(kExitUsage, "--approximate needs an integer from 0 to 50000: " + value);
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         prepareApproximate(pal, p);
                         return request(ctx, "--approximate", pal, kRequestApproximate);
                     });
                 }});
    r.push_back({"--remap", Operation::Arg::None, "",
                 "move pixels to their nearest working colour and copy the working palette into the table",
                 [](Context& ctx, const std::string&) -> Result {
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         return request(ctx, "--remap", pal, kRequestRemap);
                     });
                 }});
    r.push_back({"--fit-palette", Operation::Arg::None, "",
                 "replace each table colour by its nearest working colour (no snapshot)",
                 [](Context& ctx, const std::string&) -> Result {
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         return reportRefusal("--fit-palette", fitToPalette(ctx.image, pal));
                     });
                 }});
    r.push_back({"--sort-palette", Operation::Arg::None, "",
                 "sort the working palette by brightness and reorder the picture's table to it",
                 [](Context& ctx, const std::string&) -> Result {
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         sortPalette(pal);
                         return request(ctx, "--sort-palette", pal, kRequestRemap);
                     });
                 }});
    r.push_back({"--merge-near", Operation::Arg::Required, "A",
                 "make near colours of the working palette equal (distance 0-10000000); --organise applies it",
                 [](Context& ctx, const std::string& value) -> Result {
                     int32_t a = 0;
                     if (!parseRange(value, kMaxMergeDistance, a))
                         return fail(kExitUsage, "--merge-near needs an integer from 0 to 10000000: " + value);
                     return withPalette(ctx, [&](WorkingPalette& pal) -> Result {
                         mergeNearColours(pal, a);
                         return std::nullopt;
                     });
                 }});
    // Every option is a request of the palette window; fitting is its own menu command.
    for (size_t i = first; i < r.size(); ++i) r[i].command = r[i].name == "--fit-palette" ? cmd::ID_FIT_PALETTE : cmd::ID_PALETTE;
}

}  // namespace qel::batch
