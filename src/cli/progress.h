// What a many-file run tells as it goes: a live line on a terminal, errors, one JSON object per
// file for scripts, and the closing summary. Safe to call from several workers.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <ostream>
#include <string>

namespace qel::batch {

struct FileReport {
    std::string path, output;
    bool ok = false;
    long long milliseconds = 0;
    std::string message;  // the reason of a failure
    std::string printed;  // what the operations printed (--info, ...)
};

class Progress {
public:
    // live: redraw one status line on err; json: one object per file on out.
    Progress(std::ostream& out, std::ostream& err, size_t total, bool live, bool json);
    void fileDone(const FileReport& report);
    // A line on err that clears the live line first.
    void error(const std::string& line);
    // Ends the live line.
    void finish();
    size_t done() const { return done_; }
    size_t failed() const { return failed_; }

private:
    void draw(bool force);
    std::ostream& out_;
    std::ostream& err_;
    size_t total_, done_ = 0, failed_ = 0;
    bool live_, json_, lineShown_ = false;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    std::mutex mutex_;
};

// text as a JSON string literal, quotes included.
std::string jsonString(const std::string& text);

}  // namespace qel::batch
