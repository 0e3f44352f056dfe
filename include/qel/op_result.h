// What an operation on a picture reports: it changed the picture (the picture
// to show is then the image's display bitmap), it found nothing to do, or it
// refused to work on this picture. Anything but a change carries a short
// English reason for the command-line tool and for logs; the window program
// keeps its own messages.
#pragma once

#include <string>
#include <utility>

namespace qel {

enum class OpStatus { Changed, Unchanged, Refused };

struct OpResult {
    OpStatus status = OpStatus::Unchanged;
    std::string reason;  // empty after a change

    static OpResult changed() { return {OpStatus::Changed, {}}; }
    static OpResult unchanged(std::string why) { return {OpStatus::Unchanged, std::move(why)}; }
    static OpResult refused(std::string why) { return {OpStatus::Refused, std::move(why)}; }

    bool isChanged() const { return status == OpStatus::Changed; }
    bool isRefused() const { return status == OpStatus::Refused; }
};

// Reasons several operations share.
inline constexpr const char* kNoPicture = "there is no picture";
inline constexpr const char* kNoPixelRows = "no picture, or fewer pixel rows than the header names";
inline constexpr const char* kNeeds24Bit = "needs a 24-bit picture";

}  // namespace qel
