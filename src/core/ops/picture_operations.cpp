// Operations on the picture record itself: its information.
#include "core/formats/codecs.h"
#include "core/image/image_info.h"
#include "core/ops/operation.h"

namespace qel {

const std::vector<Operation>& pictureOperations() {
    static const std::vector<Operation> ops = {
        {.name = "info", .help = "print height, width, pixel bytes, colours of the depth and the file format",
         .snapshot = false, .reports = true,
         .run = [](OperationRun& r) {
             const auto h = r.image.header();
             if (r.out) {
                 *r.out << imageInformationText(h.biHeight, h.biWidth, r.image.bitsSize(), h.biBitCount) << "\n";
                 if (r.image.fileFormat != ImageFormat::Unknown) *r.out << "形式：" << formatName(r.image.fileFormat) << "\n";
             }
             return OpResult::unchanged("printed");
         }},
    };
    return ops;
}

}  // namespace qel
