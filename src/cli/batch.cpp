// Command-line parsing and the run of operations for qel-batch.
#include "cli/batch.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>

#include <CLI/CLI.hpp>

#include "cli/many_files.h"
#include "cli/parse.h"
#include "core/commands/command_table.h"
#include "core/expr/formula.h"
#include "core/formats/codecs.h"
#include "core/formats/bmp_file.h"
#include "core/formats/file_io.h"
#include "core/lineart/centre_lines.h"

namespace qel::batch {

namespace {

constexpr const char* kVersion = "qel-batch 0.20";

// The help text: the operations from the registry, the other options from the parser's table.
std::string usageText(const std::vector<const Operation*>& ops, const CLI::App& app) {
    std::ostringstream s;
    s << "usage: qel-batch INPUT [OPERATION ...] [-o OUTPUT]\n"
         "       qel-batch --new=WIDTHxHEIGHT [OPERATION ...] [-o OUTPUT]\n"
         "Runs the operations left to right on one picture, as the menu commands do.\n"
         "INPUT may be a BMP, PNG, JPEG, TIFF, WebP or GIF file (recognised by content).\n"
         "Without -o nothing is written.\n\n"
         "Options:\n"
         "  -o FILE                 write the result; the extension picks the format:\n"
         "                          .bmp .png .jpg .jpeg .tif .tiff .webp, or .svg: centre lines of a\n"
         "                          thinned picture (after --thin or --tidy2, or with --thinned)\n"
         "  --quality=Q             JPEG quality, or lossy WebP at Q (1-100; default: JPEG 90, WebP lossless)\n"
         "  --png-effort=E          PNG compression effort, 1 fastest to 9 smallest (default 7)\n"
         "  --svg-tolerance=T       .svg: how far (pixels) a line may pass from its pixels (default 0.5)\n"
         "  --svg-width=W           .svg: stroke width (default 1)\n"
         "  --svg-keep-colours      .svg: red, green and blue marks keep their colour instead of black\n"
         "  --svg-curves            .svg: smooth cubic Beziers instead of polylines, corners kept\n"
         "  --new=WxH               start from a white 24-bit picture\n"
         "  --help, --version\n\n"
         "Many files:\n"
         "  qel-batch [OPERATION ...] --out-dir DIR INPUT...\n"
         "  An INPUT is a picture file, a folder (its pictures; -r also those of its subfolders) or @LIST,\n"
         "  a file of input paths one per line (@- reads them from standard input). Outputs keep the\n"
         "  input's path relative to its folder (or as given, for a relative file path).\n";
    auto line = [&s](const std::string& head, const std::string& help) {
        s << "  " << head;
        for (size_t i = head.size(); i < 24; ++i) s << ' ';
        s << ' ' << help << "\n";
    };
    for (const CLI::Option* o : app.get_options())
        if (o->get_group() == ManyFiles::kGroup)
            line(o->get_name(false, true) + (o->get_type_size_max() > 0 ? " " + o->get_type_name().substr(0, o->get_type_name().find(':')) : ""),
                 o->get_description());
    s << "\nOperations:\n";
    for (const Operation* op : ops)
        line(optionWithValue(*op), op->help);
    s << "\nExit status: 0 ok, 1 usage, 2 input unreadable or invalid, 3 output not writable,\n"
         "4 some files of many failed, 130 interrupted (Ctrl+C) before all files were done.\n";
    return s.str();
}

bool parseSize(const std::string& text, int64_t& w, int64_t& h) {
    auto x = text.find('x');
    if (x == std::string::npos) return false;
    return parseNumber(std::string_view(text).substr(0, x), w) && parseNumber(std::string_view(text).substr(x + 1), h);
}

}  // namespace

Result runOption(Context& ctx, const Operation& op, const std::string& value) {
    RunRequest request{.image = ctx.image, .state = ctx.state, .out = ctx.out, .optionPrefix = "--", .pictureName = ctx.inputName};
    const RunResult r = runOperationText(op, value, request);
    switch (r.stage) {
    case RunStage::Ran: return std::nullopt;
    case RunStage::Value: return fail(kExitUsage, r.result.reason);
    case RunStage::Rule: return fail(kExitInput, r.result.reason);
    case RunStage::Operation: return fail(op.writes ? kExitOutput : kExitInput, r.result.reason);
    }
    return std::nullopt;
}

namespace {

// True when the file's content is for the BMP reader: it starts with "BM" and is no embedded stream.
bool readByBmpReader(const std::string& path) {
    uint8_t head[64];
    const size_t n = readFileHead(path, head, sizeof head);
    return formatByContent(head, n) == ImageFormat::Bmp && !needsCodec(head, n);
}

}  // namespace

namespace {

// What a failed read prints.
Result loadRefusal(const std::string& path, ImageError e, const std::string& reason) {
    std::string why;
    switch (e) {
    case ImageError::MissLoad:
        why = "cannot be opened";
        if (const int code = readErrno(path)) why += std::string(": ") + std::strerror(code);
        break;
    case ImageError::TooLarge: why = "picture too large: " + reason; break;
    case ImageError::Unsupported: why = "format not supported: " + reason; break;
    default: why = reason.empty() ? "not a picture file, or truncated or damaged" : reason; break;
    }
    // The window program's "Not Bitmap!!" is kept for files the BMP reader refused; other formats'
    // reasons, and content of no format read, say it all.
    if (e == ImageError::NotBitmap && !readByBmpReader(path)) return fail(kExitInput, path + ": " + why);
    return fail(kExitInput, path + ": " + why + " (" + messageFor(e).text + ")");
}

}  // namespace

Result loadPicture(Context& ctx, const std::string& path) {
    ctx.inputName = path;
    ImageError e = ImageError::None;
    std::string reason;
    if (ctx.image.loadFile(path, &e, &reason)) return std::nullopt;
    return loadRefusal(path, e, reason);
}

Result runPlan(Context& ctx, const Plan& plan) {
    for (const auto& [op, value] : plan) {
        Result r;
        try {
            r = runOption(ctx, *op, value);
        } catch (const std::bad_alloc&) {
            r = fail(kExitInput, optionName(*op) + ": not enough memory");
        }
        if (r) return fail(r->exitCode, ctx.inputName + ": " + r->message);
    }
    return std::nullopt;
}

namespace {

// What one command line asks for.
struct CommandLine {
    std::vector<std::string> inputs, outputs;
    std::vector<std::optional<std::string>> newSizes;  // each --new, with its value when given one
    SaveOptions saveOptions;
    CentreLineOptions svgOptions;
    std::string svgOption;  // the first --svg-... option given, for the refusal without an .svg output
    Plan plan;
    ManyFiles many;
};

// How lossy, PNG and centre-line outputs are written: --quality, --png-effort and --svg-..., which
// are no operations. Returns the usage error, or "" (also for an argument that is none of them).
std::string readOutputOption(const std::string& a, CommandLine& cl) {
    if (a.rfind("--quality=", 0) == 0) {
        int q = 0;
        if (!parseNumber(a.substr(10), q) || q < 1 || q > 100) return "--quality needs a number from 1 to 100";
        cl.saveOptions.quality = q;
        return {};
    }
    if (a.rfind("--png-effort", 0) == 0 && (a.size() == 12 || a[12] == '=')) {
        int e = 0;
        if (a.size() == 12 || !parseNumber(a.substr(13), e) || e < 1 || e > 9)
            return "--png-effort needs a number from 1 (fastest) to 9 (smallest)";
        cl.saveOptions.pngEffort = e;
        return {};
    }
    const auto eq = a.find('=');
    const std::string name = a.substr(0, eq), value = eq == std::string::npos ? "" : a.substr(eq + 1);
    if ((name == "--svg-keep-colours" || name == "--svg-curves") && eq == std::string::npos) {
        (name == "--svg-curves" ? cl.svgOptions.curves : cl.svgOptions.keepColours) = true;
    } else if (name == "--svg-tolerance" || name == "--svg-width") {
        double& v = name == "--svg-width" ? cl.svgOptions.strokeWidth : cl.svgOptions.tolerance;
        if (!parseNumber(value, v)) return name + " needs a number, for example " + name + "=1";
    } else {
        return name == "--svg-keep-colours" || name == "--svg-curves" ? name + " takes no value" : "unknown option " + name;
    }
    if (const std::string why = checkCentreLineOptions(cl.svgOptions); !why.empty()) return name + ": " + why;
    if (cl.svgOption.empty()) cl.svgOption = name;
    return {};
}

// An operation ("--name" or "--name=VALUE") or --new, taken into the plan in command-line order;
// false for any other argument.
bool takeOperation(const std::string& a, CommandLine& cl, std::vector<std::pair<const Operation*, std::optional<std::string>>>& taken) {
    if (a.rfind("--", 0) != 0) return false;
    const auto eq = a.find('=');
    const std::string name = a.substr(0, eq);
    const std::optional<std::string> value = eq == std::string::npos ? std::nullopt : std::optional(a.substr(eq + 1));
    if (name == "--new") {
        cl.newSizes.push_back(value);
        return true;
    }
    const Operation* op = findOperation(name.substr(2));
    if (!op) return false;
    taken.emplace_back(op, value);
    return true;
}

// Reads the command line into `cl`: the exit status when it is done with (help, version, a usage
// error), nothing when there is work to do.
std::optional<int> readCommandLine(const std::vector<std::string>& args, CommandLine& cl, std::ostream& out, std::ostream& err) {
    const std::vector<const Operation*>& ops = operations();
    auto usage = [&](const std::string& why) {
        err << "qel-batch: " << why << "\n" << "Try 'qel-batch --help'.\n";
        return kExitUsage;
    };
    CLI::App app{"qel-batch"};
    app.set_help_flag();
    app.allow_extras();
    bool help = false;
    app.add_flag("-h,--help", help);
    app.set_version_flag("--version", kVersion);
    // -o takes the next argument as its value; without one it is refused below.
    app.add_option("-o", CLI::callback_t([&](const CLI::results_t& r) {
           cl.outputs.push_back(r.empty() ? "" : r[0]);
           return true;
       }))->expected(0, 1)->trigger_on_parse();
    cl.many.addOptions(app);
    app.add_option("INPUT", cl.inputs)->expected(0, -1);
    // The operations and --new take a value only as --name=VALUE; they are read here, in order, and
    // the parser sees the rest.
    std::vector<std::pair<const Operation*, std::optional<std::string>>> taken;
    try {
        std::vector<std::string> rest;
        for (const std::string& a : args) {
            if (a.rfind("--quality=", 0) == 0 || a.rfind("--png-effort", 0) == 0 || a.rfind("--svg-", 0) == 0) {
                if (const std::string why = readOutputOption(a, cl); !why.empty()) return usage(why);
            } else {
                rest.push_back(a);
            }
        }
        // -o takes its name as the next argument only, as it always has.
        for (const std::string& a : rest)
            if (a.size() > 2 && a.rfind("-o", 0) == 0) return usage("unknown option " + a);
        std::vector<std::string> reversed;  // the parser takes its arguments last first
        for (const std::string& a : rest)
            if (!takeOperation(a, cl, taken)) reversed.insert(reversed.begin(), a);
        app.parse(reversed);
    } catch (const CLI::CallForVersion&) {
        out << kVersion << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& e) {
        if (!help) return usage(e.what());
    }
    if (help) {
        out << usageText(ops, app);
        return kExitOk;
    }
    for (const auto& extra : app.remaining()) return usage("unknown option " + extra.substr(0, extra.find('=')));
    for (const auto& [op, value] : taken) {
        const std::string option = optionName(*op);
        const bool takesValue = op->arg.kind != OperationArg::Kind::None;
        if (takesValue && !value && !op->arg.optional) return usage(option + " needs a value: " + option + "=" + op->arg.valueName);
        if (!takesValue && value) return usage(option + " takes no value");
        cl.plan.emplace_back(op, value.value_or(""));
    }
    if (cl.outputs.size() > 1) return usage("-o given twice");
    if (cl.outputs.size() == 1 && cl.outputs[0].empty()) return usage("-o needs a file name");
    const bool svgOutput = cl.outputs.size() == 1 && isSvgName(cl.outputs[0]);
    if (!cl.svgOption.empty() && !svgOutput) return usage(cl.svgOption + " applies to an .svg output (-o NAME.svg)");
    if (cl.outputs.size() == 1 && !svgOutput) {
        cl.saveOptions.format = formatByExtension(cl.outputs[0]);
        if (cl.saveOptions.format == ImageFormat::Gif) return usage("-o " + cl.outputs[0] + ": GIF files are read only");
        if (cl.saveOptions.format == ImageFormat::Unknown)
            return usage("-o " + cl.outputs[0] + ": unknown file type; use " + writableExtensions());
    }
    for (const auto& n : cl.newSizes)
        if (!n) return usage("unknown option --new");
    // One picture: the effort needs a PNG output (many: it applies to those that are PNG).
    if (cl.saveOptions.pngEffort != 0 && !cl.many.wanted(cl.inputs) && cl.saveOptions.format != ImageFormat::Png)
        return usage("--png-effort applies to a PNG output (-o NAME.png)");
    return std::nullopt;
}

int usage(std::ostream& err, const std::string& why) {
    err << "qel-batch: " << why << "\n" << "Try 'qel-batch --help'.\n";
    return kExitUsage;
}

// Runs the command line on its one picture (a file, --new, or none for --calc alone).
int runOnePicture(const CommandLine& cl, std::ostream& out, std::ostream& err) {
    const auto& [inputs, outputs, newSizes, saveOptions, svgOptions, svgOption, plan, many] = cl;
    const bool svgOutput = outputs.size() == 1 && isSvgName(outputs[0]);
    if (inputs.size() + newSizes.size() > 1) return usage(err, "give one input: a file or --new");
    const std::string input = inputs.empty() ? "" : inputs[0];
    const std::string newSize = newSizes.empty() ? "" : *newSizes[0];
    const bool haveOutput = !outputs.empty();
    const std::string output = haveOutput ? outputs[0] : "";

    bool standaloneOnly = !plan.empty() && !haveOutput;
    for (const auto& step : plan) standaloneOnly = standaloneOnly && step.first->standalone;
    if (input.empty() && newSize.empty() && !standaloneOnly) return usage(err, "no input picture");

    Context ctx;
    ctx.out = &out;
    ctx.image.deferDisplay = true;  // nothing is shown: build the display raster only when an operation reads it
    auto reportSave = [&](ImageError e) {
        if (e == ImageError::None) return kExitOk;
        const std::string& why = ctx.image.refusalReason;
        err << "qel-batch: " << output << ": cannot be written" << (why.empty() ? "" : ": " + why) << "\n";
        return kExitOutput;
    };
    if (input.empty() && newSize.empty()) {
        ctx.inputName = "qel-batch";
    } else if (!newSize.empty()) {
        int64_t w = 0, h = 0;
        if (!parseSize(newSize, w, h)) return usage(err, "--new needs WIDTHxHEIGHT, for example --new=640x480");
        if (!sizeWithinLimits(w, h)) {
            err << "qel-batch: --new=" << newSize << ": size out of range (1 to 65535 per side, 268435456 pixels at most)\n";
            return kExitInput;
        }
        ctx.inputName = "new picture";
        const auto stride = strideFor(w, 24);
        PixelBytes bits(static_cast<size_t>(stride * h));
        for (int64_t y = 0; y < h; ++y) std::fill_n(bits.begin() + y * stride, 3 * w, uint8_t(255));
        auto h24 = newHeader(int32_t(w), int32_t(h), 24, 0, uint32_t(stride * h));
        ctx.image.replace(makeInfoBlock(h24, 0), std::move(bits));
        ctx.image.width = int32_t(w);
        ctx.image.height = int32_t(h);
    } else if (plan.empty() && haveOutput && !svgOutput) {
        // A plain conversion: the writer takes the rows as they are read, and nothing keeps them.
        ctx.inputName = input;
        ImageError e = ImageError::None, saved = ImageError::None;
        std::string reason;
        if (!ctx.image.convertFile(input, output, saveOptions, &saved, &e, &reason, /*keep=*/false)) {
            const Result r = loadRefusal(input, e, reason);
            err << "qel-batch: " << r->message << "\n";
            return r->exitCode;
        }
        return reportSave(saved);
    } else if (auto r = loadPicture(ctx, input)) {
        err << "qel-batch: " << r->message << "\n";
        return r->exitCode;
    }
    ctx.state.thinned = many.thinned && !input.empty();

    if (auto r = runPlan(ctx, plan)) {
        err << "qel-batch: " << r->message << "\n";
        return r->exitCode;
    }

    if (svgOutput) {
        // Centre lines need one-pixel strokes: the state in which straightening and line tidy run.
        if (!ctx.state.thinned) {
            err << "qel-batch: " << output << ": SVG needs a thinned picture: run --thin or --tidy2 first (or give --thinned)\n";
            return kExitInput;
        }
        std::string why;
        const ImageError e = saveCentreLineSvg(ctx.image, output, svgOptions, &why);
        if (e != ImageError::None) {
            err << "qel-batch: " << output << ": cannot be written" << (why.empty() ? "" : ": " + why) << "\n";
            return e == ImageError::WriteFailed ? kExitOutput : kExitInput;
        }
    } else if (haveOutput) {
        return reportSave(ctx.image.saveFile(output, saveOptions));
    }
    return kExitOk;
}

}  // namespace

int runBatch(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    CommandLine cl;
    if (const std::optional<int> done = readCommandLine(args, cl, out, err)) return *done;
    if (cl.many.wanted(cl.inputs)) {
        if (!cl.outputs.empty()) return usage(err, "-o writes one picture: give --out-dir for many inputs");
        if (!cl.newSizes.empty()) return usage(err, "give one input: a file or --new");
        return cl.many.run(cl.inputs, cl.plan, cl.saveOptions, out, err);
    }
    return runOnePicture(cl, out, err);
}

}  // namespace qel::batch
