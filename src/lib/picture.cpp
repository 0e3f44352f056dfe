// The library's picture: a record of the core with the state qel-batch keeps for one picture
// (the thinned flag, the working palette), and each operation run from its descriptor the way
// qel-batch runs it: the value checked, the rule checked, the snapshot, the thinned flag.
#include <algorithm>
#include <any>
#include <cctype>
#include <memory>
#include <string>

#include <qel/qel.h>

#include "core/colour/quantize.h"
#include "core/expr/calculator.h"
#include "core/expr/transform.h"
#include "core/formats/bmp_file.h"
#include "core/geometry/geometry.h"
#include "core/image/dib_image.h"
#include "core/ops/operation.h"
#include "core/ops/rules.h"

namespace qel {

struct Picture::Impl {
    DibImage image;
    bool thinned = false;
    std::shared_ptr<void> familyState;  // the working palette of the palette operations
    int index = 0;                      // operations run so far
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

// Why the operation's rule keeps it from this picture, or empty.
std::string ruleRefusal(const Operation& op, const Picture::Impl& p) {
    if (op.rule == cmd::Rule::Always) return {};
    if (!p.image.hasPicture()) return kNoPicture;
    const int d = p.image.bitCount();
    if (cmd::isEnabled(op.rule, {.documentWindow = true, .picture = true, .depth = d, .thinned = p.thinned})) return {};
    const std::vector<int> depths = cmd::depthsAccepted(op.rule);
    if (std::find(depths.begin(), depths.end(), d) != depths.end()) return "needs a thinned picture: run thin or tidy2 first";
    std::string list;
    for (int want : depths) list += (list.empty() ? "" : " or ") + std::to_string(want);
    return "needs a " + list + "-bit picture; this picture is " + std::to_string(d) + "-bit";
}

std::string fill(std::string text, const Operation& op, const std::string& value) {
    const std::pair<std::string, std::string> fills[] = {
        {"{option}", op.name}, {"{value}", value}, {"{min}", std::to_string(op.arg.min)}, {"{max}", std::to_string(op.arg.max)}};
    for (const auto& [key, with] : fills)
        for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + with.size()))
            text.replace(at, key.size(), with);
    return text;
}

OpResult runOperation(Picture::Impl& p, const char* name, std::any value, std::ostream* out = nullptr) {
    const Operation* op = findOperation(name);
    if (!op) return OpResult::refused(std::string("no operation ") + name);
    if (op->arg.kind == OperationArg::Kind::Int) {
        const int32_t n = std::any_cast<int32_t>(value);
        if (n < op->arg.min || n > op->arg.max) return OpResult::refused(fill(op->arg.outOfRange, *op, std::to_string(n)));
    }
    if (std::string why = ruleRefusal(*op, p); !why.empty()) return OpResult::refused(op->name + (": " + why));
    p.release();
    ++p.index;
    OperationRun run{.image = p.image, .value = std::move(value), .out = out,
                     .snapshot = [&p] { p.image.stampSizeImage(); }, .familyState = &p.familyState, .index = p.index};
    if (op->snapshot) p.image.stampSizeImage();
    OpResult done = op->run(run);
    if (!done.isRefused() && op->thinned != cmd::Thinned::Keep) p.thinned = op->thinned == cmd::Thinned::Set;
    return done;
}

Error loadError(ImageError e, const std::string& why, const std::string& what) {
    std::string text = what + ": " + messageFor(e).text;
    if (!why.empty()) text += " (" + why + ")";
    return Error(text);
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
    if (!impl->image.loadFile(path, &e, &why)) throw loadError(e, why, path);
    return Picture(std::move(impl));
}

Picture Picture::fromMemory(const void* data, size_t size) {
    auto impl = std::make_unique<Impl>();
    ImageError e = ImageError::None;
    std::string why;
    if (!impl->image.loadBytes(static_cast<const uint8_t*>(data), size, &e, &why)) throw loadError(e, why, "picture bytes");
    return Picture(std::move(impl));
}

Picture Picture::create(int width, int height, int depth, const std::vector<Colour>& palette) {
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24) throw Error("depth must be 1, 4, 8 or 24, not " + std::to_string(depth));
    if (width < 1 || height < 1 || !sizeWithinLimits(width, height))
        throw Error("a picture of " + std::to_string(width) + "x" + std::to_string(height) + " cannot be made");
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

void Picture::save(const std::string& path, int quality) const {
    if (quality < 0 || quality > 100) throw Error("quality must be from 1 to 100 (0: the default)");
    if (empty()) throw Error(path + ": there is no picture to save");
    impl_->sync();
    const ImageError e = self().image.saveFile(path, SaveOptions{.quality = quality});
    if (e == ImageError::None) return;
    std::string text = path + ": " + messageFor(e).text;
    if (!self().image.refusalReason.empty()) text += " (" + self().image.refusalReason + ")";
    throw Error(text);
}

bool Picture::empty() const { return !self().image.hasPicture(); }
int Picture::width() const { return self().image.header().biWidth; }
int Picture::height() const { return self().image.header().biHeight; }
int Picture::depth() const { return self().image.bitCount(); }
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

bool Picture::thinned() const { return self().thinned; }
void Picture::setThinned(bool thinned) { self().thinned = thinned; }

std::shared_ptr<const void> Picture::lendRows() {
    auto holder = self().lent.lock();
    if (!holder) self().lent = holder = std::make_shared<PixelBytes>();
    self().rowsWritten = true;
    return holder;
}

const std::vector<OperationInfo>& listOperations() {
    static const std::vector<OperationInfo> infos = [] {
        std::vector<OperationInfo> list;
        for (const Operation* op : qel::operations()) {
            OperationInfo info{.name = op->name, .help = op->help, .value = OperationInfo::Value(op->arg.kind),
                               .keyword = op->arg.keyword, .min = op->arg.min, .max = op->arg.max,
                               .reports = op->reports, .needsPicture = !op->standalone};
            if (info.keyword.empty())
                for (const char* c = op->arg.valueName; *c; ++c) info.keyword += char(std::tolower(static_cast<unsigned char>(*c)));
            list.push_back(std::move(info));
        }
        return list;
    }();
    return infos;
}

OpResult Picture::run(std::string_view name, const OperationValue& value, std::ostream* out) {
    const Operation* op = findOperation(std::string(name));
    if (!op) return OpResult::refused("no operation " + std::string(name));
    using Kind = OperationArg::Kind;
    switch (op->arg.kind) {
    case Kind::None: return runOperation(self(), op->name, {}, out);
    case Kind::Int:
        if (const auto* n = std::get_if<int32_t>(&value)) return runOperation(self(), op->name, *n, out);
        return OpResult::refused(op->name + std::string(": needs a whole number"));
    case Kind::Text:
        if (const auto* t = std::get_if<std::string>(&value)) return runOperation(self(), op->name, *t, out);
        return OpResult::refused(op->name + std::string(": needs text"));
    case Kind::Record: break;
    }
    return OpResult::refused(op->name + std::string(": takes its values through its own function"));
}

OpResult Picture::info(std::ostream& out) { return runOperation(self(), "info", {}, &out); }
OpResult Picture::to24bit() { return runOperation(self(), "to-24bit", {}); }
OpResult Picture::to256() { return runOperation(self(), "to-256", {}); }
OpResult Picture::to16() { return runOperation(self(), "to-16", {}); }
OpResult Picture::grey() { return runOperation(self(), "grey", {}); }
OpResult Picture::blackWhite(int threshold) { return runOperation(self(), "black-white", int32_t(threshold)); }
OpResult Picture::countColours(std::ostream& out) { return runOperation(self(), "count-colours", {}, &out); }
OpResult Picture::reduce256() { return runOperation(self(), "reduce-256", {}); }
OpResult Picture::quantize(int colours, bool dither) {
    if (colours < kQuantizeMinColours || colours > kQuantizeMaxColours)
        return OpResult::refused("quantize: the number of colours must be from 2 to 256");
    return runOperation(self(), "quantize", QuantizeSettings{.colours = colours, .dither = dither});
}
OpResult Picture::loadPalette(const std::string& file) { return runOperation(self(), "palette", file); }
OpResult Picture::savePalette(const std::string& file) { return runOperation(self(), "save-palette", file); }
OpResult Picture::setPalette() { return runOperation(self(), "set-palette", {}); }
OpResult Picture::organise() { return runOperation(self(), "organise", {}); }
OpResult Picture::approximate(int precision) { return runOperation(self(), "approximate", int32_t(precision)); }
OpResult Picture::remap() { return runOperation(self(), "remap", {}); }
OpResult Picture::fitPalette() { return runOperation(self(), "fit-palette", {}); }
OpResult Picture::sortPalette() { return runOperation(self(), "sort-palette", {}); }
OpResult Picture::mergeNear(int amount) { return runOperation(self(), "merge-near", int32_t(amount)); }
OpResult Picture::thin() { return runOperation(self(), "thin", {}); }
OpResult Picture::straighten(int length) { return runOperation(self(), "straighten", int32_t(length)); }
OpResult Picture::tidy() { return runOperation(self(), "tidy", {}); }
OpResult Picture::tidy2() { return runOperation(self(), "tidy2", {}); }
OpResult Picture::fractal() { return runOperation(self(), "fractal", {}); }

OpResult Picture::transform(const TransformArgs& a) {
    const std::string* formulas[] = {&a.x, &a.y, &a.z};
    for (const std::string* f : formulas) {
        if (f->size() > size_t(kFormulaFieldMaxChars))
            return OpResult::refused("transform: formula " + *f + " is longer than " + std::to_string(kFormulaFieldMaxChars) + " characters");
        if (!formulaIsValid(*f)) return OpResult::refused("transform: formula " + *f + " is invalid");
    }
    for (float w : {a.weightRed, a.weightGreen, a.weightBlue})
        if (!(w >= kWeightMin && w <= kWeightMax)) return OpResult::refused("transform: each weight must be from -255 to 255");
    const TransformSettings s{.formulaX = a.x, .formulaY = a.y, .formulaZ = a.z, .weightRed = a.weightRed,
                              .weightGreen = a.weightGreen, .weightBlue = a.weightBlue, .inverseTransform = a.forward ? 0 : 1};
    return runOperation(self(), "transform", s);
}

OpResult Picture::scale(int width, int height, bool nearest) {
    if (width < kScaleMin || width > kScaleMax || height < kScaleMin || height > kScaleMax)
        return OpResult::refused("scale: each side must be from 1 to 30000");
    if (!sizeWithinLimits(width, height)) return OpResult::refused("scale: larger than a picture may be (268435456 pixels at most)");
    return runOperation(self(), "scale", ScaleSettings{.width = width, .height = height, .interpolate = !nearest});
}

OpResult Picture::mix(const MixArgs& a) {
    if (a.file.empty()) return OpResult::refused("mix: no file");
    if (!(a.ratio >= 0.0f && a.ratio <= 1.0f)) return OpResult::refused("mix: the ratio must be from 0 to 1");
    for (int32_t v : {a.x, a.y, a.width, a.height, a.copyX, a.copyY})
        if (v < 0 || v > 30000) return OpResult::refused("mix: area and copy start must be from 0 to 30000");
    MixSettings m{.path = a.file, .startX = a.x, .startY = a.y, .width = a.width ? a.width : width(),
                  .height = a.height ? a.height : height(), .copyX = a.copyX, .copyY = a.copyY, .ratio = a.ratio,
                  .transparent = packColourRef(a.transparent.red, a.transparent.green, a.transparent.blue)};
    return runOperation(self(), "mix", m);
}

std::string calc(std::string_view formula) { return calculatorAnswer(formula); }

const char* version() { return QEL_VERSION; }

}  // namespace qel
