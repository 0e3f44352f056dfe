// The one runner of operations. The window program, qel-batch and the library hand it a picture,
// the picture's state and a value; it reads or checks the value, checks the enabling rule, takes
// the snapshot, runs the operation in the picture's own random sequence, sets the thinned flag and
// words any refusal, so an operation behaves alike whoever runs it.
#pragma once

#include <any>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "core/image/dib_image.h"
#include "core/ops/operation.h"
#include "core/ops/random_sequence.h"

namespace qel {

// What a picture carries from one operation to the next, wherever it lives (a window document and
// its view, a qel-batch picture, a library Picture).
struct PictureState {
    bool thinned = false;               // offers straightening and line tidy
    std::shared_ptr<void> familyState;  // what a family keeps between operations (the working palette)
    int index = 0;                      // operations run so far
    RandomSequence random;              // rand and frand of the picture's formulas
};

// The step that refused: the value (a usage error), the rule (not on this picture) or the operation
// itself (which includes field values that cannot go together on this picture).
enum class RunStage { Ran, Value, Rule, Operation };

struct RunResult {
    OpResult result;  // a refusal's reason names the operation
    RunStage stage = RunStage::Ran;
    bool isRefused() const { return result.isRefused(); }
};

// One run: the picture, its state, where reports go, how the snapshot is taken (null: the header's
// biSizeImage is stamped, as every snapshot does) and how refusals name the operation and the
// picture (qel-batch: "--thin" and the file; the library: "thin" and "this picture").
struct RunRequest {
    DibImage& image;
    PictureState& state;
    std::ostream* out = nullptr;
    std::function<void()> snapshot{};
    const char* optionPrefix = "";
    std::string pictureName = "this picture";
};

// Runs `op` with its value in qel-batch's text form (ignored for an operation taking none).
RunResult runOperationText(const Operation& op, std::string_view text, RunRequest& request);
// Runs `op` with a typed value: nothing, int32_t (Int), std::string (Text), or for a Record its
// FieldValues (checked like the text form) or the family's settings record (a dialog's, as it is).
RunResult runOperation(const Operation& op, std::any value, RunRequest& request);

// Reads a value in the text form as the operation takes it on this picture, without its rule and
// without running it (for tests and fuzzers that run operations on pictures their rules refuse):
// the refusal, or "".
std::string readValue(const Operation& op, std::string_view text, const DibImage& image, std::any& value);
// A field's value as the text form writes it ("0.5", "nearest").
std::string fieldText(const OperationField& field, const FieldValue& value);

}  // namespace qel
