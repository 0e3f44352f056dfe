#include "cli/many_files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "cli/progress.h"
#include "core/formats/codecs.h"
#include "core/formats/bmp_file.h"
#include "core/image/parallel_rows.h"

namespace qel::batch {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> stopRequested{false};

extern "C" void onInterrupt(int) { stopRequested.store(true); }

// A folder contributes the files whose extension names a picture format (read by content all the same).
bool isPicture(const fs::path& p) { return formatByExtension(p.filename().string()) != ImageFormat::Unknown; }

uint64_t halfTheMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
    return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) / 2 : uint64_t(1) << 30;
}

// Reads the paths of a list file, one a line; "-" is standard input.
bool readList(const std::string& name, std::vector<std::string>& paths) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (name != "-") {
        file.open(name);
        if (!file) return false;
        in = &file;
    }
    for (std::string line; std::getline(*in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) paths.push_back(line);
    }
    return true;
}

}  // namespace

void requestStop() { stopRequested.store(true); }

void MemoryBudget::acquire(uint64_t bytes) {
    std::lock_guard gate(gate_);
    std::unique_lock lock(mutex_);
    freed_.wait(lock, [&] { return used_ == 0 || used_ + bytes <= limit_; });
    used_ += bytes;
}

void MemoryBudget::release(uint64_t bytes) {
    {
        std::lock_guard lock(mutex_);
        used_ -= bytes;
    }
    freed_.notify_all();
}

uint64_t estimatePictureMemory(const std::string& path) {
    // The size the file's header declares (the file mapped, so only the pages the header
    // check reads are loaded); a file no reader recognises counts four times its bytes.
    std::error_code ec;
    const uint64_t fileSize = fs::file_size(path, ec);
    if (ec) return uint64_t(1) << 20;
    PictureShape shape;
    bool probed = false;
    if (const int fd = ::open(path.c_str(), O_RDONLY); fd >= 0) {
        if (fileSize > 0) {
            void* map = ::mmap(nullptr, fileSize, PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                probed = static_cast<bool>(probePicture(static_cast<const uint8_t*>(map), fileSize, shape));
                ::munmap(map, fileSize);
            }
        }
        ::close(fd);
    }
    // The pixels at 24 bits, a snapshot of them and the 32-bit display raster, with room for a result.
    if (probed) return uint64_t(shape.width) * uint64_t(shape.height) * 14 + (uint64_t(1) << 20);
    return fileSize * 4 + (uint64_t(1) << 20);
}

void ManyFiles::addOptions(CLI::App& app) {
    app.add_option("--out-dir", outDir, "write each result under DIR, keeping its relative path")
        ->type_name("DIR")->group(kGroup);
    app.add_flag("-r,--recursive", recursive, "take the pictures of subfolders of a folder too")->group(kGroup);
    app.add_option("--format", format, "write the results as EXT (bmp, png, jpg, tif, webp) instead of the input's extension")
        ->type_name("EXT")->group(kGroup);
    app.add_option("--suffix", suffix, "add S to each output's name before its extension")->type_name("S")->group(kGroup);
    app.add_flag("--force", force, "replace outputs that exist")->group(kGroup);
    app.add_flag("--in-place", inPlace, "let an output replace its input (without --out-dir: next to it)")
        ->group(kGroup);
    app.add_option("-j,--jobs", workerCount, "use N cores: up to N pictures at once, each on N / pictures threads (default: every core)")
        ->check(CLI::Range(1, 1024))->type_name("N")->group(kGroup);
    app.add_option("--memory", memory, "start no picture while those in flight would pass SIZE (512M, 4G; default: half the memory)")
        ->transform(CLI::AsSizeValue(false))->type_name("SIZE")->group(kGroup);
    app.add_flag("--json", json, "print one JSON object per file on standard output")->group(kGroup);
    app.add_flag("--quiet", quiet, "no progress line and no summary when all succeed")->group(kGroup);
    app.add_flag("--thinned", thinned, "treat pictures read from files as already thinned")->group(kGroup);
}

bool ManyFiles::wanted(const std::vector<std::string>& inputs) const {
    if (!outDir.empty() || inPlace || inputs.size() > 1) return true;
    std::error_code ec;
    return inputs.size() == 1 && (inputs[0].rfind('@', 0) == 0 || fs::is_directory(inputs[0], ec));
}

Result ManyFiles::collect(const std::vector<std::string>& inputs, std::vector<Job>& jobs) const {
    if (!format.empty() && !canWrite(formatByExtension("." + format)))
        return fail(kExitUsage, "--format: cannot write " + format + " files (" + writableExtensions() + ")");
    if (pngEffort != 0 && !format.empty() && formatByExtension("." + format) != ImageFormat::Png)
        return fail(kExitUsage, "--png-effort applies to PNG outputs, not --format " + format);
    std::vector<std::pair<fs::path, fs::path>> found;  // input, path relative to the output folder
    std::vector<std::string> paths;
    for (const auto& in : inputs) {
        if (in.size() > 1 && in[0] == '@') {
            if (!readList(in.substr(1), paths)) return fail(kExitUsage, in.substr(1) + ": list cannot be read");
        } else {
            paths.push_back(in);
        }
    }
    for (const auto& p : paths) {
        std::error_code ec;
        const fs::path path(p);
        if (fs::is_directory(path, ec)) {
            std::vector<fs::path> files;
            auto take = [&](const fs::directory_entry& e) {
                if (e.is_regular_file(ec) && isPicture(e.path())) files.push_back(e.path());
            };
            try {
                if (recursive)
                    for (const auto& e : fs::recursive_directory_iterator(path)) take(e);
                else
                    for (const auto& e : fs::directory_iterator(path)) take(e);
            } catch (const fs::filesystem_error& e) {
                return fail(kExitInput, e.path1().string() + ": folder cannot be read (" + e.code().message() + ")");
            }
            std::sort(files.begin(), files.end());
            for (const auto& f : files) found.emplace_back(f, f.lexically_relative(path));
        } else {
            // A relative path that stays below the current folder is kept; any other keeps its name.
            const fs::path normal = path.lexically_normal();
            const bool keep = normal.is_relative() && !normal.empty() && *normal.begin() != "..";
            found.emplace_back(path, keep ? normal : path.filename());
        }
    }
    for (const auto& [input, relative] : found) {
        Job job{input.string(), "", input.string()};
        if (!outDir.empty() || inPlace) {
            fs::path out = outDir.empty() ? input.parent_path() / input.filename() : fs::path(outDir) / relative;
            const std::string ext = format.empty() ? out.extension().string() : "." + format;
            out.replace_filename(out.stem().string() + suffix + ext);
            job.output = out.string();
        }
        jobs.push_back(std::move(job));
    }
    return std::nullopt;
}

namespace {

// Runs the plan on one picture and writes its output; code takes the failure's exit status.
FileReport runOne(const ManyFiles& opt, const Job& job, const std::string& clash, const Plan& plan,
                  MemoryBudget& budget, int& code) {
    const auto start = std::chrono::steady_clock::now();
    FileReport report;
    report.path = job.shown;
    report.output = job.output;
    Result r;
    std::error_code ec;
    if (!clash.empty()) {
        r = fail(kExitOutput, job.output + ": " + clash);
    } else if (!job.output.empty()) {
        const bool same = fs::equivalent(job.input, job.output, ec);
        if (same && !opt.inPlace)
            r = fail(kExitOutput, job.output + ": would replace its input; --in-place allows it");
        else if (!same && fs::exists(job.output, ec) && !opt.force)
            r = fail(kExitOutput, job.output + ": exists; --force replaces it");
    }
    if (!r) {
        const uint64_t need = estimatePictureMemory(job.input);
        budget.acquire(need);
        try {
            Context ctx;
            std::ostringstream printed;
            ctx.out = &printed;
            ctx.image.deferDisplay = true;
            r = loadPicture(ctx, job.input);
            if (!r) {
                ctx.state.thinned = opt.thinned;
                r = runPlan(ctx, plan);
            }
            report.printed = printed.str();
            if (!r && !job.output.empty()) {
                const fs::path parent = fs::path(job.output).parent_path();
                if (!parent.empty()) fs::create_directories(parent, ec);
                // Saving writes a temporary file and renames it: an interrupted run leaves no partial output.
                const ImageFormat format = formatByExtension(job.output);
                const SaveOptions options{format, opt.quality, format == ImageFormat::Png ? opt.pngEffort : 0};
                if (ctx.image.saveFile(job.output, options) != ImageError::None) {
                    const std::string& why = ctx.image.refusalReason;
                    r = fail(kExitOutput, job.output + ": cannot be written" + (why.empty() ? "" : ": " + why));
                }
            }
        } catch (const std::bad_alloc&) {
            r = fail(kExitInput, job.input + ": not enough memory");
        }
        budget.release(need);
    }
    report.ok = !r;
    if (r) {
        report.message = r->message;
        code = r->exitCode;
    }
    report.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    return report;
}

}  // namespace

int ManyFiles::run(const std::vector<std::string>& inputs, const Plan& plan, const SaveOptions& output, std::ostream& out,
                   std::ostream& err) {
    quality = output.quality;
    pngEffort = output.pngEffort;
    std::vector<Job> list;
    if (auto f = collect(inputs, list)) {
        err << "qel-batch: " << f->message << "\n" << (f->exitCode == kExitUsage ? "Try 'qel-batch --help'.\n" : "");
        stopRequested.store(false);
        return f->exitCode;
    }
    if (list.empty()) {
        err << "qel-batch: no pictures among the inputs\n";
        stopRequested.store(false);
        return kExitInput;
    }
    // Two inputs never write one file: the first claims it.
    std::vector<std::string> clash(list.size());
    std::map<std::string, size_t> claimed;
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i].output.empty()) continue;
        std::error_code ec;
        const fs::path canonical = fs::weakly_canonical(list[i].output, ec);
        const std::string key = (ec ? fs::absolute(list[i].output, ec).lexically_normal() : canonical).string();
        const auto [at, added] = claimed.emplace(key, i);
        if (!added) clash[i] = "also the output of " + list[at->second].shown;
    }
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    const int workers = std::clamp(workerCount > 0 ? workerCount : cores, 1, int(list.size()));
    MemoryBudget budget(memory > 0 ? memory : halfTheMemory());
    const bool live = !quiet && !json && &err == &std::cerr && isatty(STDERR_FILENO);
    Progress progress(out, err, list.size(), live, json);
    std::atomic<size_t> next{0};
    std::mutex usageMutex;
    std::optional<Failure> usageFailure;  // an option's value is wrong for every file: stop at once
    auto work = [&] {
        // The cores are shared out among the workers: with as many workers as cores, the
        // operations inside each run on one thread; -j 1 keeps the whole run on one core.
        struct Limit {
            int before = rowThreadLimit();
            ~Limit() { rowThreadLimit() = before; }
        } restore;
        if (workers > 1 || workerCount > 0) rowThreadLimit() = std::max(1, (workerCount > 0 ? workerCount : cores) / workers);
        for (;;) {
            if (stopRequested.load()) return;
            const size_t i = next.fetch_add(1);
            if (i >= list.size()) return;
            int code = kExitOk;
            FileReport report = runOne(*this, list[i], clash[i], plan, budget, code);
            if (code == kExitUsage) {
                std::lock_guard lock(usageMutex);
                if (!usageFailure) usageFailure = Failure{code, report.message};
                stopRequested.store(true);
                return;
            }
            progress.fileDone(report);
        }
    };
    auto previous = std::signal(SIGINT, onInterrupt);
    {
        std::vector<std::jthread> pool;
        for (int i = 1; i < workers; ++i) pool.emplace_back(work);
        work();
    }
    std::signal(SIGINT, previous);
    progress.finish();
    const bool interrupted = stopRequested.exchange(false) && !usageFailure;
    if (usageFailure) {
        err << "qel-batch: " << usageFailure->message << "\nTry 'qel-batch --help'.\n";
        return kExitUsage;
    }
    const size_t failed = progress.failed(), succeeded = progress.done() - failed;
    if (live || failed > 0 || interrupted ) {
        std::ostringstream s;
        s << "qel-batch: " << succeeded << " done, " << failed << " failed";
        if (interrupted) s << ", " << list.size() - progress.done() << " not started (interrupted)";
        progress.error(s.str());
    }
    return interrupted ? kExitInterrupted : failed > 0 ? kExitSomeFailed : kExitOk;
}

}  // namespace qel::batch
