// Every operation run on a picture a reader produced, each on its own copy of
// the record, so every operation meets every kind of picture.
#pragma once

#include <any>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "core/image/dib_image.h"
#include "core/ops/operation.h"
#include "core/ops/runner.h"

namespace qel::fuzz {

inline void runOn(const DibImage& source, const std::function<void(DibImage&)>& op) {
    DibImage copy;
    auto h = source.header();
    h.biSizeImage = static_cast<uint32_t>(source.bitsSize());  // what the snapshot does before each command
    std::vector<uint8_t> info = source.info;
    std::memcpy(info.data(), &h, kHeaderSize);
    if (!copy.restoreFrom(info, source.bits)) return;
    op(copy);
}

// Every listed operation with its declared example value, its rule aside (the rule is the
// callers' check), except those whose example names files.
inline void runOperations(DibImage& image) {
    auto h = image.header();
    if (int64_t(h.biWidth) * h.biHeight > 128 * 128) return;  // keep each input fast
    for (const Operation* op : operations()) {
        std::string example = op->arg.example ? op->arg.example : std::to_string(op->arg.initial);
        if (example.find("{dir}") != std::string::npos) continue;
        runOn(image, [&](DibImage& d) {
            std::any value;
            if (!readValue(*op, example, d, value).empty()) return;
            std::shared_ptr<void> family;
            OperationRun run{.image = d, .value = value, .snapshot = [] {}, .familyState = &family, .index = 1};
            op->run(run);
        });
    }
    DisplayBitmap shown = *image.displayBitmap;
    image.rereadAs8Bit();
    image.fromBitmap(shown);
}

}  // namespace qel::fuzz
