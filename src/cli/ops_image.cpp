// qel-batch options of the image record: information and the 24-bit conversion.
#include "cli/batch.h"
#include "core/commands/command_table.h"
#include "core/formats/codecs.h"
#include "core/image/image_info.h"

namespace qel::batch {

void registerImageOperations(Registry& r) {
    r.push_back({"--info", Operation::Arg::None, "", "print height, width, pixel bytes, colours of the depth and the file format",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requirePicture(ctx, "--info")) return f;
                     auto h = ctx.image.header();
                     *ctx.out << imageInformationText(h.biHeight, h.biWidth, ctx.image.bitsSize(), h.biBitCount) << "\n";
                     if (ctx.image.fileFormat != ImageFormat::Unknown)
                         *ctx.out << "形式：" << formatName(ctx.image.fileFormat) << "\n";
                     return std::nullopt;
                 }});
    r.push_back({"--to-24bit", Operation::Arg::None, "", "convert to 24 bits per pixel",
                 [](Context& ctx, const std::string&) -> Result {
                     if (auto f = requireEnabled(ctx)) return f;
                     ctx.takeSnapshot();
                     // fromBitmap reads the raster completely before it replaces the picture: no copy needed.
                     ctx.image.fromBitmap(*ctx.image.display());
                     return std::nullopt;
                 }});
    r.back().command = cmd::ID_TO_24BIT;
}

}  // namespace qel::batch
