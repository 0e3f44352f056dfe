// Command-line parsing and the run of operations for qel-batch.
#include "cli/batch.h"

#include <algorithm>
#include <sstream>

#include "cli/parse.h"
#include "core/commands/command_table.h"
#include "core/formats/codecs.h"
#include "core/image/bmp_file.h"

namespace qel::batch {

namespace {

constexpr const char* kVersion = "qel-batch 0.20";

std::string usageText(const Registry& ops) {
    std::ostringstream s;
    s << "usage: qel-batch INPUT [OPERATION ...] [-o OUTPUT]\n"
         "       qel-batch --new=WIDTHxHEIGHT [OPERATION ...] [-o OUTPUT]\n"
         "Runs the operations left to right on one picture, as the menu commands do.\n"
         "INPUT may be a BMP, PNG, JPEG, TIFF, WebP or GIF file (recognised by content).\n"
         "Without -o nothing is written.\n\n"
         "Options:\n"
         "  -o FILE                 write the result; the extension picks the format:\n"
         "                          .bmp .png .jpg .jpeg .tif .tiff .webp\n"
         "  --quality=Q             JPEG quality, or lossy WebP at Q (1-100; default: JPEG 90, WebP lossless)\n"
         "  --new=WxH               start from a white 24-bit picture\n"
         "  --help, --version\n\n"
         "Operations:\n";
    for (const auto& op : ops) {
        std::string head = op.name + (op.arg == Operation::Arg::Required ? "=" + op.valueName : "");
        s << "  " << head;
        for (size_t i = head.size(); i < 24; ++i) s << ' ';
        s << ' ' << op.help << "\n";
    }
    s << "\nExit status: 0 ok, 1 usage, 2 input unreadable or invalid, 3 output not writable.\n";
    return s.str();
}

bool parseSize(const std::string& text, int64_t& w, int64_t& h) {
    auto x = text.find('x');
    if (x == std::string::npos) return false;
    return parseNumber(std::string_view(text).substr(0, x), w) && parseNumber(std::string_view(text).substr(x + 1), h);
}

}  // namespace

void Context::takeSnapshot() { image.stampSizeImage(); }

Result requirePicture(const Context& ctx, const std::string& op) {
    if (!ctx.image.hasPicture()) return fail(kExitInput, op + ": there is no picture");
    return std::nullopt;
}

Result requireEnabled(const Context& ctx) {
    if (!ctx.current) return fail(kExitUsage, "an option ran outside runOperation");
    const std::string& op = ctx.current->name;
    if (auto r = requirePicture(ctx, op)) return r;
    const cmd::Command* command = cmd::findCommand(ctx.current->command);
    if (!command) return std::nullopt;
    const int d = ctx.image.bitCount();
    const cmd::CommandContext state{.documentWindow = true, .picture = true, .depth = d, .thinned = ctx.thinned};
    if (cmd::isEnabled(command->rule, state)) return std::nullopt;
    const std::vector<int> depths = cmd::depthsAccepted(command->rule);
    if (std::find(depths.begin(), depths.end(), d) != depths.end())
        return fail(kExitInput, op + " needs a thinned picture: run --thin or --tidy2 first");
    std::string list;
    for (int want : depths) list += (list.empty() ? "" : " or ") + std::to_string(want);
    return fail(kExitInput, op + " needs a " + list + "-bit picture; " + ctx.inputName + " is " + std::to_string(d) + "-bit");
}

Result runOperation(Context& ctx, const Operation& op, const std::string& value) {
    ctx.current = &op;
    Result r = op.run(ctx, value);
    ctx.current = nullptr;
    // The option's side effect on the thinned flag, as its menu command has.
    const cmd::Command* command = cmd::findCommand(op.command);
    if (!r && command && command->thinned != cmd::Thinned::Keep) ctx.thinned = command->thinned == cmd::Thinned::Set;
    return r;
}

Registry allOperations() {
    Registry r;
    registerImageOperations(r);
    registerColourOperations(r);
    registerLineartOperations(r);
    registerExprOperations(r);
    registerGeometryOperations(r);
    return r;
}

int runBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const Registry ops = allOperations();
    auto usage = [&](const std::string& why) {
        err << "qel-batch: " << why << "\n" << "Try 'qel-batch --help'.\n";
        return kExitUsage;
    };
    std::string input, output, newSize;
    bool haveOutput = false;
    SaveOptions saveOptions;
    std::vector<std::pair<const Operation*, std::string>> plan;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            out << usageText(ops);
            return kExitOk;
        }
        if (a == "--version") {
            out << kVersion << "\n";
            return kExitOk;
        }
        if (a == "-o") {
            if (i + 1 >= args.size()) return usage("-o needs a file name");
            if (haveOutput) return usage("-o given twice");
            output = args[++i];
            haveOutput = true;
            saveOptions.format = formatByExtension(output);
            if (saveOptions.format == ImageFormat::Gif) return usage("-o " + output + ": GIF files are read only");
            if (saveOptions.format == ImageFormat::Unknown)
                return usage("-o " + output + ": unknown file type; use " + writableExtensions());
            continue;
        }
        if (a.rfind("--quality=", 0) == 0) {
            const std::string_view text = std::string_view(a).substr(10);
            int q = 0;
            auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), q);
            if (ec != std::errc() || p != text.data() + text.size() || q < 1 || q > 100)
                return usage("--quality needs a number from 1 to 100");
            saveOptions.quality = q;
            continue;
        }
        if (a.rfind("--new=", 0) == 0) {
            if (!input.empty() || !newSize.empty()) return usage("give one input: a file or --new");
            newSize = a.substr(6);
            continue;
        }
        if (a.size() > 2 && a.rfind("--", 0) == 0) {
            const auto eq = a.find('=');
            const std::string name = a.substr(0, eq);
            const Operation* found = nullptr;
            for (const auto& op : ops)
                if (op.name == name) found = &op;
            if (!found) return usage("unknown option " + name);
            if (found->arg == Operation::Arg::Required && eq == std::string::npos)
                return usage(name + " needs a value: " + name + "=" + found->valueName);
            if (found->arg == Operation::Arg::None && eq != std::string::npos)
                return usage(name + " takes no value");
            plan.emplace_back(found, eq == std::string::npos ? std::string() : a.substr(eq + 1));
            continue;
        }
        if (!a.empty() && a[0] == '-' && a != "-") return usage("unknown option " + a);
        if (!input.empty() || !newSize.empty()) return usage("give one input: a file or --new");
        input = a;
    }
    bool standaloneOnly = !plan.empty() && !haveOutput;
    for (const auto& step : plan) standaloneOnly = standaloneOnly && step.first->standalone;
    if (input.empty() && newSize.empty() && !standaloneOnly) return usage("no input picture");

    Context ctx;
    ctx.out = &out;
    ctx.image.deferDisplay = true;  // nothing is shown: build the display raster only when an operation reads it
    if (input.empty() && newSize.empty()) {
        ctx.inputName = "qel-batch";
    } else if (!newSize.empty()) {
        int64_t w = 0, h = 0;
        if (!parseSize(newSize, w, h)) return usage("--new needs WIDTHxHEIGHT, for example --new=640x480");
        if (!sizeWithinLimits(w, h)) {
            err << "qel-batch: --new=" << newSize << ": size out of range (1 to 65535 per side, 268435456 pixels at most)\n";
            return kExitInput;
        }
        ctx.inputName = "new picture";
        const auto stride = strideFor(w, 24);
        std::vector<uint8_t> bits(static_cast<size_t>(stride * h), 0);
        for (int64_t y = 0; y < h; ++y) std::fill_n(bits.begin() + y * stride, 3 * w, uint8_t(255));
        auto h24 = newHeader(int32_t(w), int32_t(h), 24, 0, uint32_t(stride * h));
        ctx.image.replace(makeInfoBlock(h24, 0), std::move(bits));
        ctx.image.width = int32_t(w);
        ctx.image.height = int32_t(h);
    } else {
        ctx.inputName = input;
        ImageError e = ImageError::None;
        std::string reason;
        if (!ctx.image.loadFile(input, &e, &reason)) {
            std::string why;
            switch (e) {
            case ImageError::MissLoad: why = "cannot be opened"; break;
            case ImageError::TooLarge: why = "picture too large: " + reason; break;
            case ImageError::Unsupported: why = "format not supported: " + reason; break;
            default: why = reason.empty() ? "not a picture file, or truncated or damaged" : reason; break;
            }
            err << "qel-batch: " << input << ": " << why << " (" << messageFor(e).text << ")\n";
            return kExitInput;
        }
    }

    for (const auto& [op, value] : plan) {
        Result r;
        ++ctx.operationIndex;
        try {
            r = runOperation(ctx, *op, value);
        } catch (const std::bad_alloc&) {
            r = fail(kExitInput, op->name + ": not enough memory");
        }
        if (r) {
            err << "qel-batch: " << ctx.inputName << ": " << r->message << "\n";
            return r->exitCode;
        }
    }

    if (haveOutput) {
        if (ctx.image.saveFile(output, saveOptions) != ImageError::None) {
            const std::string& why = ctx.image.refusalReason;
            err << "qel-batch: " << output << ": cannot be written" << (why.empty() ? "" : ": " + why) << "\n";
            return kExitOutput;
        }
    }
    return kExitOk;
}

}  // namespace qel::batch
