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
#include <string_view>
#include <variant>
#include <vector>

#include "core/image/dib_image.h"
#include "core/image/op_result.h"
#include "core/ops/command_ids.h"
#include "core/ops/rules.h"

namespace qel {

// One field of a record value: its keyword in the library and in Python, its kind, range and
// default, and the refusals of a value it does not take. Fields given together in the text form
// ("X,Y,W,H") share a group, which is also one keyword in Python (area=(x, y, w, h)).
struct OperationField {
    enum class Kind {
        Int,   // a whole decimal number from min to max (32-bit)
        Real,  // a decimal number from min to max
        Text,  // text of at most max characters (0: any length), which `valid` accepts
        Flag,  // on when the text form has `word` in its place (off: empty, or `offWord`)
    };
    const char* name = "";   // "width"
    Kind kind = Kind::Int;
    double min = 0, max = 0;
    const char* initial = nullptr;  // the default as the text form writes it; null: always given
    const char* group = nullptr;    // the group's keyword ("area"); null: a field of its own
    const char* word = "";          // Flag: its word in the text form ("nearest")
    const char* offWord = nullptr;  // Flag: the word for off, if the text form has one ("inverse")
    const char* help = "";          // for docstrings: "the new width"
    // Refusals; {option}, {value} (the field's text), {group} (the text of its group), {text} (the
    // whole value), {min} and {max} are filled in.
    const char* outOfRange = "";
    const char* notNumber = nullptr;  // text that is no number (null: outOfRange)
    const char* invalid = nullptr;    // Text that `valid` refuses; Flag: a word that is neither
    bool (*valid)(std::string_view text) = nullptr;
    // Reads a Real the way the family's dialog does (null: plain decimal notation).
    enum class Read { Ok, NotNumber, OutOfRange };
    Read (*readReal)(std::string_view text, double& value) = nullptr;
};

// A record's field values as callers give them: not given (the default), a number, text or a flag.
using FieldValue = std::variant<std::monostate, int64_t, double, std::string, bool>;
using FieldValues = std::vector<FieldValue>;

// The value an operation takes, and how qel-batch reads it from "--name=VALUE".
struct OperationArg {
    enum class Kind {
        None,    // a bare option
        Int,     // a whole decimal number from min to max (32-bit)
        Text,    // the text as given (a file name, a formula)
        Record,  // several fields, read into the family's settings record
    };
    Kind kind = Kind::None;
    const char* valueName = "";  // "T" in --black-white=T
    // The value may be left out (--name alone, "" to the record's split): every field takes its default.
    bool optional = false;
    int32_t min = 0, max = 0;
    int32_t initial = 0;  // what the window's dialog offers first
    // Refusal of a value out of range; {option}, {value}, {min} and {max} are filled in.
    const char* outOfRange = "{option} needs an integer from {min} to {max}: {value}";
    // Refusal of text that is no number (null: the same as out of range).
    const char* notNumber = nullptr;
    // The value's name in the library's bindings ("threshold"); empty: valueName in lower case.
    const char* keyword = "";
    // An Int or Text value's meaning, for the library's and Python's documentation ("colours averaging
    // below it turn black").
    const char* help = "";

    // --- Record values ---
    std::vector<OperationField> fields{};
    // --- any value ---
    // A value in the text form that tests and fuzzers run the operation with ("{dir}" stands for a
    // folder holding "picture.bmp" and "palette.pal"); null: `initial` (Int), none (no value).
    const char* example = nullptr;
    // Cuts the text form into the fields' texts, in their order; a field left out is empty, and
    // groups[i] is the text field i came in. Returns the refusal of text of the wrong shape, or "".
    std::string (*split)(std::string_view text, std::vector<std::string>& fields, std::vector<std::string>& groups) = nullptr;
    // When reading the text form checks the enabling rule: before it is cut, after it is cut, or
    // after every field is read (the order its refusals come in).
    enum class RuleCheck { BeforeSplit, AfterSplit, AfterFields };
    RuleCheck ruleCheck = RuleCheck::AfterFields;
    // The family's settings record from field values that passed their checks (each a number, text or
    // flag of its field's kind, or not given); the picture gives defaults such as its size. Returns
    // the refusal of values that cannot go together on this picture, or "".
    std::string (*build)(const FieldValues& fields, const DibImage& image, std::any& record) = nullptr;
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
    // The same for the library and Python, where values go by their keywords; null: help says it.
    const char* doc = nullptr;
    cmd::Rule rule = cmd::Rule::Picture;  // where it may run (qel-batch refuses it elsewhere)
    cmd::Thinned thinned = cmd::Thinned::Keep;
    int command = 0;         // the specified menu command it is (0: none, or one of its own)
    // A menu item of its own, beyond the specified table: its menu ("色", "効果>線") and text; it goes
    // at the end of that menu after a separator, with an id from kFirstOwnCommand.
    const char* menu = nullptr;
    const char* menuText = nullptr;
    bool snapshot = true;    // the snapshot is taken before it runs
    bool standalone = false; // needs no picture: a command line of only such options takes no input
    bool writes = false;     // a refusal is a file that cannot be written (qel-batch exit status 3)
    bool reports = false;    // prints an answer to `out` (the bindings return it)
    bool number = false;     // that answer is a whole number (the bindings return it as one)
    // Changes the picture and prints what it found to `out` when given (the tilt deskew corrected):
    // the bindings return the picture as usual and offer the note beside it.
    bool notes = false;
    // Its function's name in the library and in Python when the option's name would mislead there
    // ("load-palette": `palette` is the picture's colour table); null: the option's name.
    const char* binding = nullptr;
    OpResult (*run)(OperationRun&) = nullptr;
};

// The pieces of `text` between separators (an empty text is one empty piece): how record values
// are cut into their fields.
inline std::vector<std::string> splitText(std::string_view text, char separator) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// How qel-batch writes the option with its value: "--thin", "--black-white=T", "--adaptive-bw[=W,K]".
inline std::string optionWithValue(const Operation& op) {
    const std::string name = std::string("--") + op.name;
    if (op.arg.kind == OperationArg::Kind::None) return name;
    return name + (op.arg.optional ? "[=" : "=") + op.arg.valueName + (op.arg.optional ? "]" : "");
}

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
// Menu commands of operations beyond the specified table take ids from here on, in the order of
// operations(): a new operation needs no id written by hand.
constexpr int kFirstOwnCommand = 0xA000;
// The menu command an operation is when the command table has a row for it: its specified id, or
// its own from kFirstOwnCommand.
int commandOf(const Operation& op);
// The operation that is menu command `id`, or null.
const Operation* operationForCommand(int id);
// The field `name` of the record of menu command `id`: what its dialog's field takes (a field that
// is not declared is a mistake in the program, std::logic_error).
const OperationField& fieldOf(int id, std::string_view name);

}  // namespace qel
