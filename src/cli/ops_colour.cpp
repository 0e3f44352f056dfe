// qel-batch options of the colour operations.

#include "cli/batch.h"
#include "cli/parse.h"
#include "core/commands/command_table.h"
#include "core/colour/conversions.h"
#include "core/colour/reduction.h"

namespace qel::batch {

namespace {

// Depth conversions, colour count and reduction, each run as its menu command runs.
void registerColourConversionOptions(Registry& r) {
    r.push_back({"--to-256", Operation::Arg::None, "", "convert a 24-bit picture to 256 colours",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--to-256", toIndexed(ctx.image, 256))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_TO_256;
    r.push_back({"--to-16", Operation::Arg::None, "", "convert an 8- or 24-bit picture to 16 colours",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--to-16", toIndexed(ctx.image, 16))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_TO_16;
    r.push_back({"--grey", Operation::Arg::None, "", "make the picture grey",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--grey", toGrey(ctx.image))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_TO_GREY;
    r.push_back({"--black-white", Operation::Arg::Required, "T",
                 "make a 4- or 8-bit picture black and white; colours averaging below T (0-255) turn black",
                 [](Context& ctx, const std::string& value) -> Result {
                     int threshold = 0;
                     if (!parseNumber(value, threshold))
                         return fail(kExitUsage, "--black-white needs an integer threshold: " + value);
                     if (threshold < 0 || threshold > 255)
                         return fail(kExitUsage, "--black-white needs a threshold from 0 to 255: " + value);
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--black-white", toBlackWhite(ctx.image, threshold))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_TO_BLACK_WHITE;
    r.push_back({"--count-colours", Operation::Arg::None, "", "print the number of colours at 6 bits per channel",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     *ctx.out << countColours(ctx.image) << "\n";
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_COUNT_COLOURS;
    r.push_back({"--reduce-256", Operation::Arg::None, "", "reduce a 24-bit picture to at most 256 colours",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     if (auto f = reportRefusal("--reduce-256", reduceColours(ctx.image))) return f;
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_REDUCE_256;
}

}  // namespace

void registerPaletteOptions(Registry& r);  // ops_palette.cpp
void registerColourOperations(Registry& r) { registerColourConversionOptions(r); registerPaletteOptions(r); }

}  // namespace qel::batch
