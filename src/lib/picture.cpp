// The library's picture: a record of the core with the state qel-batch keeps for one picture
// (the thinned flag, the working palette), and each operation run from its descriptor the way
// qel-batch runs it: the value checked, the rule checked, the snapshot, the thinned flag.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <any>
#include <cctype>
#include <memory>
#include <stdexcept>
#include <string>

#include <qel/qel.h>

#include <unistd.h>

#include "core/formats/bmp_file.h"
#include "core/formats/codecs.h"
#include "core/formats/file_io.h"
#include "core/expr/calculator.h"
#include "core/image/dib_image.h"
#include "core/ops/operation.h"
#include "core/ops/rules.h"
#include "core/ops/runner.h"

namespace qel {

struct Picture::Impl {
    DibImage image;
    PictureState state;                 // the thinned flag, the working palette, the random sequence
    bool rowsWritten = false;           // row() handed out for writing: rebuild before the next use
    std::weak_ptr<PixelBytes> lent;     // rows lent out: kept there when an operation runs

    Impl() { image.deferDisplay = true; }
    // Rows still lent out outlive the picture: their holder takes them.
    ~Impl() {
        if (auto holder = lent.lock()) *holder = std::move(image.bits);
    }
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;
    void sync() {
        if (rowsWritten && image.hasPicture()) image.rebuildDisplay();
        rowsWritten = false;
    }
    // Before an operation: rows still lent out move to their holder and the picture goes on with a copy.
    void release() {
        if (auto holder = lent.lock()) {
            *holder = std::move(image.bits);
            image.bits = *holder;
            rowsWritten = true;
        }
        lent.reset();
        sync();
    }
};

namespace {

// Runs an operation through the core's runner, as qel-batch does; its value is typed.
OpResult runOn(Picture::Impl& p, const Operation& op, std::any value, std::ostream* out = nullptr) {
    p.release();
    RunRequest request{.image = p.image, .state = p.state, .out = out};
    return runOperation(op, std::move(value), request).result;
}

// Why a picture could not be read, in English.
Error loadError(ImageError e, const std::string& why, const std::string& path, bool isFile) {
    const int code = isFile && e == ImageError::MissLoad ? readErrno(path) : 0;
    std::string text;
    switch (e) {
    case ImageError::MissLoad: text = code ? std::strerror(code) : "cannot be read"; break;
    case ImageError::TooLarge: text = "picture too large"; break;
    case ImageError::Unsupported: text = "format not supported"; break;
    default: text = "not a picture file, or truncated or damaged"; break;
    }
    // A reader's reason says it all for content no reader takes; otherwise it follows the kind.
    if (!why.empty() && !code) text = e == ImageError::NotBitmap ? why : text + ": " + why;
    return Error(path + ": " + text, code, isFile ? path : std::string());
}

}  // namespace

// A moved-from picture reads as one without a picture and becomes one when next changed.
const Picture::Impl& Picture::self() const {
    static const Impl nothing;
    return impl_ ? *impl_ : nothing;
}

Picture::Impl& Picture::self() {
    if (!impl_) impl_ = std::make_unique<Impl>();
    return *impl_;
}

Picture::Picture() : impl_(std::make_unique<Impl>()) {}
Picture::Picture(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Picture::~Picture() = default;
Picture::Picture(Picture&&) noexcept = default;
Picture& Picture::operator=(Picture&&) noexcept = default;

Picture Picture::open(const std::string& path) {
    auto impl = std::make_unique<Impl>();
    ImageError e = ImageError::None;
    std::string why;
    if (!impl->image.loadFile(path, &e, &why)) throw loadError(e, why, path, true);
    return Picture(std::move(impl));
}

Picture Picture::fromMemory(const void* data, size_t size) {
    auto impl = std::make_unique<Impl>();
    ImageError e = ImageError::None;
    std::string why;
    if (!impl->image.loadBytes(static_cast<const uint8_t*>(data), size, &e, &why)) throw loadError(e, why, "picture bytes", false);
    return Picture(std::move(impl));
}

Picture Picture::create(int width, int height, int depth, const std::vector<Colour>& palette) {
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24) throw Error("depth must be 1, 4, 8 or 24, not " + std::to_string(depth));
    if (width < 1 || height < 1 || !sizeWithinLimits(width, height))
        throw Error("a picture of " + std::to_string(width) + "x" + std::to_string(height) +
                    " cannot be made: each side from 1 to 65535, at most 268435456 pixels");
    const int entries = depth == 24 ? 0 : 1 << depth;
    if (palette.size() > size_t(entries))
        throw Error("a " + std::to_string(depth) + "-bit picture has at most " + std::to_string(entries) + " colours");
    const int64_t stride = strideFor(width, depth);
    const auto size = static_cast<uint32_t>(stride * height);
    std::vector<uint8_t> info = makeInfoBlock(newHeader(width, height, static_cast<uint16_t>(depth), 0, size), entries);
    auto impl = std::make_unique<Impl>();
    impl->image.info = std::move(info);
    for (int i = 0; i < entries; ++i) {
        const int grey = i * 255 / (entries - 1);
        const Colour c = palette.empty() ? Colour{uint8_t(grey), uint8_t(grey), uint8_t(grey)}
                                         : i < int(palette.size()) ? palette[i] : Colour{0, 0, 0};
        impl->image.setTableColour(i, Rgb{c.red, c.green, c.blue});
    }
    PixelBytes bits(size);
    if (depth == 24) std::fill(bits.begin(), bits.end(), uint8_t(255));
    std::vector<uint8_t> header = std::move(impl->image.info);
    impl->image.replace(std::move(header), std::move(bits));
    impl->image.rebuildPalette();
    return Picture(std::move(impl));
}

Picture Picture::copy() const {
    const Impl& me = self();
    auto impl = std::make_unique<Impl>();
    if (!me.image.info.empty()) {
        impl->image.replace(me.image.info, me.image.bits);
        impl->image.width = me.image.width;
        impl->image.height = me.image.height;
        impl->image.rebuildPalette();
    }
    impl->image.fileFormat = me.image.fileFormat;
    impl->state.thinned = me.state.thinned;
    return Picture(std::move(impl));
}

namespace {
void checkEffort(int effort, ImageFormat format, const std::string& name) {
    if (effort < 0 || effort > 9) throw Error("effort must be from 1 to 9 (0: the default)");
    if (effort != 0 && format != ImageFormat::Png) throw Error(name + ": effort applies to PNG files only");
}
}  // namespace

void Picture::save(const std::string& path, int quality, int effort) const {
    if (quality < 0 || quality > 100) throw Error("quality must be from 1 to 100 (0: the default)");
    checkEffort(effort, formatByExtension(path), path);
    if (empty()) throw Error(path + ": there is no picture to save");
    impl_->sync();
    const ImageError e = self().image.saveFile(path, SaveOptions{.quality = quality, .pngEffort = effort});
    if (e == ImageError::None) return;
    const std::string& why = self().image.refusalReason;
    if (e == ImageError::UnknownFormat) throw Error(path + ": unknown file type; use " + writableExtensions());
    const int code = e == ImageError::WriteFailed ? writeErrno(path) : 0;
    throw Error(path + ": cannot be written" + (why.empty() ? code ? std::string(": ") + std::strerror(code) : "" : ": " + why),
                code, path);
}

std::vector<uint8_t> Picture::toBytes(const std::string& format, int quality, int effort) const {
    if (quality < 0 || quality > 100) throw Error("quality must be from 1 to 100 (0: the default)");
    if (empty()) throw Error("there is no picture to encode");
    const ImageFormat f = formatByExtension("." + format);
    if (f == ImageFormat::Unknown || !canWrite(f)) throw Error(format + ": not a format Qel writes; use " + writableExtensions());
    checkEffort(effort, f, format);
    impl_->sync();
    if (f == ImageFormat::Bmp) {
        const auto bytes = self().image.fileBytes();
        return {bytes.begin(), bytes.end()};
    }
    std::vector<uint8_t> out;
    const CodecResult r = encodePicture(self().image, f, quality, out, effort);
    if (!r) throw Error(format + " cannot be made" + (r.reason.empty() ? "" : ": " + r.reason));
    return out;
}

bool Picture::empty() const { return !self().image.hasPicture(); }
int Picture::width() const { return self().image.header().biWidth; }
int Picture::height() const { return self().image.header().biHeight; }
int Picture::depth() const { return self().image.bitCount(); }
std::string Picture::fileFormat() const {
    const ImageFormat f = self().image.fileFormat;
    return f == ImageFormat::Unknown ? std::string() : formatName(f);
}
size_t Picture::rowBytes() const { return empty() ? 0 : size_t(self().image.stride()); }

std::vector<Colour> Picture::palette() const {
    std::vector<Colour> colours;
    if (empty() || depth() == 24) return colours;
    const int n = std::min(tableEntries(self().image.header()), self().image.tableSize());
    for (int i = 0; i < n; ++i) {
        const Rgb c = self().image.tableColour(i);
        colours.push_back({c.r, c.g, c.b});
    }
    return colours;
}

const uint8_t* Picture::row(int y) const {
    if (empty() || y < 0 || y >= height()) throw std::out_of_range("row " + std::to_string(y) + " is outside the picture");
    return self().image.rowFromTop(y);
}

uint8_t* Picture::row(int y) {
    const uint8_t* r = static_cast<const Picture*>(this)->row(y);
    self().rowsWritten = true;
    return const_cast<uint8_t*>(r);
}

bool Picture::thinned() const { return self().state.thinned; }
void Picture::setThinned(bool thinned) { self().state.thinned = thinned; }

std::shared_ptr<const void> Picture::lendRows() {
    auto holder = self().lent.lock();
    if (!holder) self().lent = holder = std::make_shared<PixelBytes>();
    self().rowsWritten = true;
    return holder;
}

const std::vector<OperationInfo>& listOperations() {
    static const std::vector<OperationInfo> infos = [] {
        const auto lower = [](std::string text, char dash) {
            for (char& c : text) c = c == '-' ? dash : char(std::tolower(static_cast<unsigned char>(c)));
            return text;
        };
        std::vector<OperationInfo> list;
        for (const Operation* op : qel::operations()) {
            OperationInfo info{.name = op->name, .help = op->doc ? op->doc : op->help, .value = OperationInfo::Value(op->arg.kind),
                               .method = lower(op->binding ? op->binding : op->name, '_'), .keyword = op->arg.keyword, .valueHelp = op->arg.help,
                               .min = op->arg.min, .max = op->arg.max, .reports = op->reports, .number = op->number, .notes = op->notes, .needsPicture = !op->standalone};
            if (info.keyword.empty()) info.keyword = lower(op->arg.valueName, '-');
            for (const OperationField& f : op->arg.fields)
                info.fields.push_back({.name = f.name, .kind = FieldInfo::Kind(f.kind), .min = f.min, .max = f.max,
                                       .hasDefault = f.initial != nullptr, .initial = f.initial ? f.initial : "",
                                       .group = f.group ? f.group : "", .help = f.help});
            list.push_back(std::move(info));
        }
        return list;
    }();
    return infos;
}

OpResult Picture::run(std::string_view name, const OperationValue& value, std::ostream* out) {
    const Operation* op = findOperation(std::string(name));
    if (!op) return OpResult::refused("no operation " + std::string(name));
    std::any typed;
    if (const auto* n = std::get_if<int32_t>(&value)) typed = *n;
    else if (const auto* t = std::get_if<std::string>(&value)) typed = *t;
    else if (const auto* f = std::get_if<Fields>(&value)) typed = FieldValues(*f);
    return runOn(self(), *op, std::move(typed), out);
}

std::string calc(std::string_view formula) {
    if (!formulaIsValid(formula)) throw std::invalid_argument("not a valid formula: " + std::string(formula));
    return calculatorAnswer(formula);
}

const char* version() { return QEL_VERSION; }

}  // namespace qel
