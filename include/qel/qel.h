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
#include <variant>
#include <vector>

#include <qel/op_result.h>

namespace qel {

// A picture that cannot be read or written; what() says why.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One colour of a palette.
struct Colour {
    uint8_t red = 0, green = 0, blue = 0;
    bool operator==(const Colour&) const = default;
};

// The values of transform(): formulas for x', y' and z' in x, y, z (the calculator's language),
// the weights of red, green and blue in z, and the mapping.
struct TransformArgs {
    std::string x = "x", y = "y", z = "0";
    float weightRed = 1.0f, weightGreen = 1.0f, weightBlue = 1.0f;
    bool forward = false;  // false: each destination pixel takes from (x', y')
};

// The values of mix(): the picture file mixed in, the share it gets, the area of this picture
// (width or height 0: to the picture's edge), where the copy starts in the other picture and its
// colour left out.
struct MixArgs {
    std::string file;
    float ratio = 0.5f;
    int32_t x = 0, y = 0, width = 0, height = 0, copyX = 0, copyY = 0;
    Colour transparent{205, 205, 205};
};

// What the library tells about an operation, for bindings and help texts.
struct OperationInfo {
    enum class Value { None, Int, Text, Record };
    std::string name;     // "black-white": qel-batch's --black-white
    std::string help;     // one line
    Value value = Value::None;
    std::string keyword;  // the value's name ("threshold"); Record values have their own function
    int32_t min = 0, max = 0;   // an Int value's range
    bool reports = false;       // prints an answer (info, count-colours, calc)
    bool needsPicture = true;   // false: runs without a picture (calc)
};

// Every operation, in the order qel-batch's help lists them. Each has a function of its own in
// Picture (calc: qel::calc).
const std::vector<OperationInfo>& listOperations();

// An operation's value for Picture::run: none, a whole number or text.
using OperationValue = std::variant<std::monostate, int32_t, std::string>;

// A picture of 1, 4, 8 or 24 bits per pixel. Rows count from the top; a row holds the pixels
// packed as the depth says (24-bit: blue, green, red), padded to rowBytes().
class Picture {
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

    // Writes the picture in the format of the file name's extension (.bmp .png .jpg .jpeg .tif
    // .tiff .webp); quality 1-100 writes JPEG at that quality or lossy WebP, 0 the defaults.
    // Throws Error; the file is written whole or left as it was.
    void save(const std::string& path, int quality = 0) const;

    bool empty() const;
    int width() const;
    int height() const;
    int depth() const;  // bits per pixel: 1, 4, 8 or 24
    std::vector<Colour> palette() const;  // the colour table (empty for 24-bit pictures)
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
    // reports writes its answer to `out`. Record values go through their own functions below.
    OpResult run(std::string_view name, const OperationValue& value = {}, std::ostream* out = nullptr);

    // --- the operations; a refusal (wrong depth, a value out of range) changes nothing ---
    OpResult info(std::ostream& out);
    OpResult to24bit();
    OpResult to256();
    OpResult to16();
    OpResult grey();
    OpResult blackWhite(int threshold);
    OpResult countColours(std::ostream& out);
    OpResult reduce256();
    // An 8-bit picture of at most `colours` (2-256) colours chosen for quality, the error diffused
    // with `dither`.
    OpResult quantize(int colours = 256, bool dither = false);
    // The palette window: a working palette kept with the picture.
    OpResult loadPalette(const std::string& file);
    OpResult savePalette(const std::string& file);
    OpResult setPalette();
    OpResult organise();
    OpResult approximate(int precision);
    OpResult remap();
    OpResult fitPalette();
    OpResult sortPalette();
    OpResult mergeNear(int amount);
    // Line art.
    OpResult thin();
    OpResult straighten(int length);
    OpResult tidy();
    OpResult tidy2();
    // Formulas and geometry.
    OpResult transform(const TransformArgs& args);
    OpResult scale(int width, int height, bool nearest = false);
    OpResult mix(const MixArgs& args);
    OpResult fractal();

    struct Impl;

private:
    explicit Picture(std::unique_ptr<Impl> impl);
    Impl& self();
    const Impl& self() const;
    std::unique_ptr<Impl> impl_;
};

// The calculator: the formula's value with x = 3.141592, y = 2.718282, z = 0, as "%f", or the
// invalid-formula answer.
std::string calc(std::string_view formula);

// The library's version, "MAJOR.MINOR".
const char* version();

}  // namespace qel
