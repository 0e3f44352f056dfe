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
#include "core/ops/runner.h"

namespace qel::batch {

// 4: some files of a many-file run failed; 130: a many-file run was interrupted.
enum ExitCode { kExitOk = 0, kExitUsage = 1, kExitInput = 2, kExitOutput = 3, kExitSomeFailed = 4, kExitInterrupted = 130 };

struct Failure {
    int exitCode;
    std::string message;  // one line, without the program name
};
using Result = std::optional<Failure>;

// One picture of a command line, like a document with one view: its state (the thinned flag, the
// working palette, the random sequence) goes from option to option.
struct Context {
    DibImage image;
    std::string inputName;
    std::ostream* out = nullptr;
    PictureState state;
};

// The command-line option of an operation: "--grey".
inline std::string optionName(const Operation& op) { return std::string("--") + op.name; }

inline Result fail(int code, std::string message) { return Failure{code, std::move(message)}; }

// Runs one option on the picture through the core's runner; a refusal fails with the exit status of
// its step (a value: usage; the rule or the operation: input; a file not written: output).
Result runOption(Context& ctx, const Operation& op, const std::string& value);

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
