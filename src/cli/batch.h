// qel-batch: the command-line tool. Every operation descriptor of the core is
// an option, run the way the menu command runs it, without dialogs; only
// options of several fields have a parser here.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "core/image/dib_image.h"
#include "core/ops/operation.h"

namespace qel::batch {

// 4: some files of a many-file run failed; 130: a many-file run was interrupted.
enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitInput = 2, kExitOutput = 3, kExitSomeFailed = 4, kExitInterrupted = 130 };

struct Failure {
    int exitCode;
    std::string message;  // one line, without the program name
};
using Result = std::optional<Failure>;

// State kept between operations, like a document with one view.
struct Context {
    DibImage image;
    std::string inputName;
    std::ostream* out = nullptr;
    bool thinned = false;  // the view's flag enabling straightening and line tidy
    int operationIndex = 0;  // 1 for the first operation of the command line, 2 for the next, ...
    const Operation* current = nullptr;  // the operation running now
    // Family-specific state lives behind this pointer (the palette window's working palette, ...).
    std::shared_ptr<void> familyState;

    // What the command's snapshot does to the record before the operation runs.
    void takeSnapshot();
};

// The command-line option of an operation: "--grey".
inline std::string optionName(const Operation& op) { return std::string("--") + op.name; }

// Read the value of an option of several fields into its operation's settings record. Each refuses the
// option where its menu command would be disabled (requireEnabled) at the point its messages need.
Result parseTransform(Context& ctx, const std::string& value, std::any& record);  // ops_expr.cpp
Result parseScale(Context& ctx, const std::string& value, std::any& record);      // ops_geometry.cpp
Result parseMix(Context& ctx, const std::string& value, std::any& record);        // ops_geometry.cpp
Result parseQuantize(Context& ctx, const std::string& value, std::any& record);   // ops_colour.cpp

// Failure helpers.
inline Result fail(int code, std::string message) { return Failure{code, std::move(message)}; }
// Refuses the running option where its menu command would be disabled: no picture, a depth its rule
// does not take, or a picture not thinned.
Result requireEnabled(const Context& ctx);
// Refuses an operation on an image without a picture.
Result requirePicture(const Context& ctx, const std::string& op);
// An operation the core refused is a failure of the command line, with the core's reason.
inline Result reportRefusal(const std::string& op, const OpResult& result) {
    if (result.isRefused()) return fail(kExitInput, op + ": " + result.reason);
    return std::nullopt;
}

// Runs one option on the context as the command line does: its value read, refusals where its menu
// command would be disabled, the snapshot, the operation, the core's refusal reported and the effect on
// the thinned flag. Throws what the operation throws (std::bad_alloc).
Result runOperation(Context& ctx, const Operation& op, const std::string& value);

// The operations of a command line with their values, in the order given.
using Plan = std::vector<std::pair<const Operation*, std::string>>;

// Loads a picture file into ctx.image and names it ctx.inputName; the failure's message starts
// with the file's name and gives the reason.
Result loadPicture(Context& ctx, const std::string& path);

// Runs the plan left to right on ctx, stopping at the first failure; failure messages start
// with ctx.inputName. A lack of memory is a failure, not an exception.
Result runPlan(Context& ctx, const Plan& plan);

// Runs the whole command line; returns the exit status. Writes results to out, errors to err.
int runBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qel::batch
