// The descriptor of an operation: everything qel-batch, the window program and the
// documentation checks know about it, written once beside the operation in its
// family's operations file. qel-batch makes an option of each descriptor, the
// window program registers a menu command for each one with a command id, and
// the tests check that the help, the manual page and the README name them all.
//
//     const Operation kGrey{.name = "grey", .help = "make the picture grey", .rule = cmd::Rule::Picture,
//                           .command = cmd::ID_TO_GREY, .run = [](OperationRun& r) { return toGrey(r.image); }};
#pragma once

#include <any>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "core/image/dib_image.h"
#include "core/image/op_result.h"
#include "core/ops/command_ids.h"
#include "core/ops/rules.h"

namespace qel {

// The value an operation takes, and how qel-batch reads it from "--name=VALUE".
struct OperationArg {
    enum class Kind {
        None,    // a bare option
        Int,     // a whole decimal number from min to max (32-bit)
        Text,    // the text as given (a file name, a formula)
        Record,  // several fields, read by the family's own parser into its settings record
    };
    Kind kind = Kind::None;
    const char* valueName = "";  // "T" in --black-white=T
    int32_t min = 0, max = 0;
    int32_t initial = 0;  // what the window's dialog offers first
    // Refusal of a value out of range; {option}, {value}, {min} and {max} are filled in.
    const char* outOfRange = "{option} needs an integer from {min} to {max}: {value}";
    // Refusal of text that is no number (null: the same as out of range).
    const char* notNumber = nullptr;
    // The value's name in the library's bindings ("threshold"); empty: valueName in lower case.
    const char* keyword = "";
};

// One run of an operation on a picture.
struct OperationRun {
    DibImage& image;
    // The argument: int32_t for Int, std::string for Text, the family's settings record for Record.
    std::any value{};
    std::ostream* out = nullptr;      // where an operation that reports prints (qel-batch)
    std::function<void()> snapshot;   // takes the picture's snapshot, for operations that take it themselves
    // State a family keeps between the operations of one command line (the working palette) and
    // the operation's place in it (1, 2, ...).
    std::shared_ptr<void>* familyState = nullptr;
    int index = 0;

    template <class T>
    const T& arg() const { return std::any_cast<const T&>(value); }
};

struct Operation {
    const char* name = "";  // "grey": the option --grey
    OperationArg arg{};
    const char* help = "";  // one line for qel-batch --help
    cmd::Rule rule = cmd::Rule::Picture;  // where it may run (qel-batch refuses it elsewhere)
    cmd::Thinned thinned = cmd::Thinned::Keep;
    int command = 0;         // the menu command it is (0: none)
    bool snapshot = true;    // the snapshot is taken before it runs
    bool standalone = false; // needs no picture: a command line of only such options takes no input
    bool writes = false;     // a refusal is a file that cannot be written (qel-batch exit status 3)
    bool reports = false;    // prints an answer to `out` (the bindings return it)
    OpResult (*run)(OperationRun&) = nullptr;
};

// Each family's operations, in its operations file.
const std::vector<Operation>& pictureOperations();
const std::vector<Operation>& colourOperations();
const std::vector<Operation>& lineartOperations();
const std::vector<Operation>& exprOperations();
const std::vector<Operation>& geometryOperations();

// Every operation, in the order qel-batch's help lists them.
const std::vector<const Operation*>& operations();
// The operation named `name`, or null.
const Operation* findOperation(const std::string& name);
// The operation that is menu command `id`, or null.
const Operation* operationForCommand(int id);

}  // namespace qel
