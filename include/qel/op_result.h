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
    // A refusal because a file the operation reads or writes could not be opened or written: the
    // system's error number (ENOENT, EACCES, ...) and the file's name; 0 and empty otherwise.
    int code = 0;
    std::string file;

    static OpResult changed() { return make(OpStatus::Changed, {}); }
    static OpResult unchanged(std::string why) { return make(OpStatus::Unchanged, std::move(why)); }
    static OpResult refused(std::string why) { return make(OpStatus::Refused, std::move(why)); }
    static OpResult fileRefused(std::string why, int code, std::string file) {
        OpResult r = make(OpStatus::Refused, std::move(why));
        r.code = code;
        r.file = std::move(file);
        return r;
    }

    bool isChanged() const { return status == OpStatus::Changed; }
    bool isRefused() const { return status == OpStatus::Refused; }

private:
    static OpResult make(OpStatus status, std::string why) {
        OpResult r;
        r.status = status;
        r.reason = std::move(why);
        return r;
    }
};

// Reasons several operations share.
inline constexpr const char* kNoPicture = "there is no picture";
inline constexpr const char* kNoPixelRows = "no picture, or fewer pixel rows than the header names";
inline constexpr const char* kNeeds24Bit = "needs a 24-bit picture";

}  // namespace qel
