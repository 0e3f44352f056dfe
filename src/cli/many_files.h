// qel-batch over many pictures: inputs from files, folders and lists, outputs under one folder,
// a pool of workers each running the whole chain of operations on one picture at a time.
#pragma once

#include <condition_variable>
#include <mutex>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/batch.h"

namespace CLI {
class App;
}

namespace qel::batch {

// One picture to run: where it is read, where it goes ("" when nothing is written) and the name
// it is reported under.
struct Job {
    std::string input, output, shown;
};

// Waits before a picture is loaded while the pictures in flight would pass the limit; a picture
// larger than the limit runs alone. Callers are admitted in the order they ask.
class MemoryBudget {
public:
    explicit MemoryBudget(uint64_t limit) : limit_(limit) {}
    void acquire(uint64_t bytes);
    void release(uint64_t bytes);

private:
    uint64_t limit_, used_ = 0;
    std::mutex gate_, mutex_;  // gate_: held by the one caller waiting, so later ones queue behind it
    std::condition_variable freed_;
};

// The options of a many-file run and the run itself.
struct ManyFiles {
    static constexpr const char* kGroup = "Many files";
    std::string outDir, format, suffix;
    bool recursive = false, force = false, inPlace = false, json = false, quiet = false;
    bool thinned = false;  // pictures read from files count as already thinned (also for one file)
    int workerCount = 0;   // 0: one per core
    uint64_t memory = 0;   // bytes; 0: half the machine's memory
    int quality = 0;       // --quality for JPEG and lossy WebP outputs; 0: the default
    int pngEffort = 0;     // --png-effort for PNG outputs; 0: the default

    void addOptions(CLI::App& app);
    // True when the inputs and options call for a many-file run rather than the one-file form.
    bool wanted(const std::vector<std::string>& inputs) const;
    // Expands the inputs into jobs, in the order given (folders sorted by path); failures are usage
    // errors (an unreadable list, a --format that cannot be written).
    Result collect(const std::vector<std::string>& inputs, std::vector<Job>& jobs) const;
    // `output` holds --quality for JPEG and lossy WebP outputs and --png-effort for PNG ones (0: the defaults).
    int run(const std::vector<std::string>& inputs, const Plan& plan, const SaveOptions& output, std::ostream& out,
            std::ostream& err);
};

// Asks a running many-file run to start no more pictures (what Ctrl+C does); the run clears it
// when it ends.
void requestStop();

// The memory a picture file will take once loaded and worked on, from its header where it can be read.
uint64_t estimatePictureMemory(const std::string& path);

}  // namespace qel::batch
