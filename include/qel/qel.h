// Qel as a library: open a picture, run Qel's operations on it, save it.
//
//     #include <qel/qel.h>
//
//     qel::Picture pic = qel::Picture::open("scan.png");   // throws qel::Error with the reason
//     if (pic.depth() == 24) pic.to256();
//     pic.grey();
//     qel::OpResult r = pic.thin();                        // a refusal is a result, not an exception
//     if (r.isRefused()) std::cerr << r.reason << "\n";
//     pic.save("thin.png");                                // the format follows the extension
//     std::cout << qel::calc("sin(30)+2^3") << "\n";
//
// Build with `find_package(Qel)` and `target_link_libraries(app PRIVATE Qel::qel)`, or with
// `pkg-config --cflags --libs qel`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include <qel/export.h>
#include <qel/op_result.h>
#include <qel/operation_args.h>

namespace qel {

// A picture that cannot be read or written; what() says why, code() gives the system's error number
// when a file could not be opened or written (ENOENT, EACCES, ...; 0 otherwise) and file() its name.
class QEL_API Error : public std::runtime_error {
public:
    explicit Error(const std::string& what, int code = 0, std::string file = {})
        : std::runtime_error(what), code_(code), file_(std::move(file)) {}
    int code() const { return code_; }
    const std::string& file() const { return file_; }

private:
    int code_;
    std::string file_;
};

// One colour of a palette.
struct Colour {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Colour&) const = default;
};

// One value of an operation's record, as Picture::run takes it: not given (its default), a whole
// number, a real number, text or a flag.
using FieldValue = std::variant<std::monostate, int64_t, double, std::string, bool>;
using Fields = std::vector<FieldValue>;

// One field of an operation's record value.
struct FieldInfo {
    enum class Kind { Int, Real, Text, Flag };
    std::string name;  // "width": its keyword in Python
    Kind kind = Kind::Int;
    double min = 0, max = 0;           // Int and Real: the range; Text: the most characters (0: any)
    bool hasDefault = false;
    std::string initial;               // the default, as qel-batch's text form writes it
    std::string group;                 // fields given together ("area"), or empty
    std::string help;
};

// What the library tells about an operation, for bindings and help texts.
struct OperationInfo {
    enum class Value { None, Int, Text, Record };
    std::string name;     // "black-white": qel-batch's --black-white
    std::string help;     // one line; values go by their keywords
    Value value = Value::None;
    std::string method;   // its function's name in Python ("black_white", "load_palette")
    std::string keyword;  // an Int or Text value's name ("threshold")
    std::string valueHelp;  // and its meaning
    int32_t min = 0, max = 0;   // an Int value's range
    std::vector<FieldInfo> fields{};  // a Record value's fields, in order
    bool reports = false;       // prints an answer (info, count-colours, calc)
    bool number = false;        // a whole number (count-colours)
    bool notes = false;         // changes the picture and notes what it found (deskew: the tilt)
    bool needsPicture = true;   // false: runs without a picture (calc)
};

// Every operation, in the order qel-batch's help lists them. Each has a function of its own in
// Picture, made from its declaration (calc: qel::calc).
QEL_API const std::vector<OperationInfo>& listOperations();

// An operation's value for Picture::run: none, a whole number, text, or a record's fields.
using OperationValue = std::variant<std::monostate, int32_t, std::string, Fields>;

// A picture of 1, 4, 8 or 24 bits per pixel. Rows count from the top; a row holds the pixels
// packed as the depth says (24-bit: blue, green, red), padded to rowBytes().
class QEL_API Picture {
public:
    Picture();  // no picture; a moved-from picture is one too
    ~Picture();
    Picture(Picture&&) noexcept;
    Picture& operator=(Picture&&) noexcept;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // A picture file of any readable format (BMP, PNG, JPEG, TIFF, WebP, GIF), recognised by content.
    static Picture open(const std::string& path);
    // The same from the file's bytes.
    static Picture fromMemory(const void* data, size_t size);
    // A new picture of that size and depth: 24-bit white, indexed pictures index 0 of `palette`
    // (grey levels when empty; at most 2^depth colours).
    static Picture create(int width, int height, int depth, const std::vector<Colour>& palette = {});

    // An independent picture with the same pixels, colour table, resolution, file format and
    // thinned flag (not the working palette of palette operations run so far).
    Picture copy() const;

    // Writes the picture in the format of the file name's extension (.bmp .png .jpg .jpeg .tif
    // .tiff .webp); quality 1-100 writes JPEG at that quality or lossy WebP, 0 the defaults;
    // effort 1 (fastest) - 9 (smallest) is a PNG's compression effort, 0 the default (7).
    // Throws Error; the file is written whole or left as it was.
    void save(const std::string& path, int quality = 0, int effort = 0) const;
    // The bytes of the file save() would write in `format` ("bmp", "png", "jpg", "tif", "webp").
    std::vector<uint8_t> toBytes(const std::string& format, int quality = 0, int effort = 0) const;

    bool empty() const;
    int width() const;
    int height() const;
    int depth() const;  // bits per pixel: 1, 4, 8 or 24
    std::vector<Colour> palette() const;  // the colour table (empty for 24-bit pictures)
    // The format of the file the picture was read from ("BMP", "PNG", "JPEG", "TIFF", "WebP",
    // "GIF"), or empty for a picture made otherwise.
    std::string fileFormat() const;
    size_t rowBytes() const;
    const uint8_t* row(int y) const;
    uint8_t* row(int y);  // the next operation or save sees what was written

    // Set by thin() and tidy2(), cleared by operations that make the strokes thick again; tidy()
    // and straighten() need it. A picture loaded from a file is not thinned unless told so.
    bool thinned() const;
    void setThinned(bool thinned);

    // Keeps the memory row() points into alive while the handle lives. An operation run meanwhile
    // works on a copy, so a view kept over the rows stays valid and holds them as they were;
    // writes through it before the next operation reach the picture.
    std::shared_ptr<const void> lendRows();

    // Runs the operation named `name` (as in listOperations()) with a value of its kind; one that
    // reports writes its answer to `out`, and one that notes what it found writes its note there.
    OpResult run(std::string_view name, const OperationValue& value = {}, std::ostream* out = nullptr);

    // --- the operations, one function each; a refusal (wrong depth, a value out of range) changes nothing ---
#include <qel/picture_operations.inc>

    struct Impl;

private:
    explicit Picture(std::unique_ptr<Impl> impl);
    Impl& self();
    const Impl& self() const;
    std::unique_ptr<Impl> impl_;
};

// The calculator: the formula's value with x = 3.141592, y = 2.718282, z = 0, as "%f"; a formula
// that is not valid throws std::invalid_argument.
QEL_API std::string calc(std::string_view formula);

// The library's version, "MAJOR.MINOR".
QEL_API const char* version();

}  // namespace qel
