#include "cli/progress.h"

#include <cstdio>
#include <sstream>

namespace qel::batch {

std::string jsonString(const std::string& text) {
    std::string s = "\"";
    for (const unsigned char c : text) {
        switch (c) {
        case '"': s += "\\\""; break;
        case '\\': s += "\\\\"; break;
        case '\n': s += "\\n"; break;
        case '\t': s += "\\t"; break;
        case '\r': s += "\\r"; break;
        default:
            if (c < 0x20) {
                char u[8];
                std::snprintf(u, sizeof u, "\\u%04x", c);
                s += u;
            } else {
                s += char(c);
            }
        }
    }
    return s + "\"";
}

Progress::Progress(std::ostream& out, std::ostream& err, size_t total, bool live, bool json)
    : out_(out), err_(err), total_(total), live_(live), json_(json), start_(std::chrono::steady_clock::now()) {
    draw(true);  // the line shows from the start, before the first picture is done
}

void Progress::fileDone(const FileReport& r) {
    std::lock_guard lock(mutex_);
    ++done_;
    if (!r.ok) ++failed_;
    if (json_) {
        out_ << "{\"path\":" << jsonString(r.path) << ",\"output\":" << jsonString(r.output) << ",\"status\":\""
             << (r.ok ? "ok" : "failed") << "\",\"milliseconds\":" << r.milliseconds
             << ",\"message\":" << jsonString(r.message);
        if (!r.printed.empty()) out_ << ",\"printed\":" << jsonString(r.printed);
        out_ << "}\n" << std::flush;
    } else if (!r.printed.empty()) {
        // Each printed line names its file, so the lines of workers can be told apart.
        if (lineShown_) err_ << "\r\033[K";
        lineShown_ = false;
        std::istringstream lines(r.printed);
        for (std::string line; std::getline(lines, line);) out_ << r.path << ": " << line << "\n";
        out_ << std::flush;
    }
    if (!r.ok) {
        if (lineShown_) err_ << "\r\033[K";
        lineShown_ = false;
        err_ << "qel-batch: " << r.message << "\n" << std::flush;
    }
    draw(done_ == total_);
}

void Progress::error(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (lineShown_) err_ << "\r\033[K";
    lineShown_ = false;
    err_ << line << "\n" << std::flush;
}

void Progress::draw(bool force) {
    if (!live_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && lineShown_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? double(done_) / seconds : 0;
    std::ostringstream s;
    s.precision(1);
    s << std::fixed << "\r\033[K" << done_ << "/" << total_ << " files, " << failed_ << " failed, " << rate << "/s";
    if (rate > 0 && done_ < total_) s << ", " << long(double(total_ - done_) / rate + 0.5) << " s left";
    err_ << s.str() << std::flush;
    lineShown_ = true;
}

void Progress::finish() {
    std::lock_guard lock(mutex_);
    if (lineShown_) err_ << "\r\033[K" << std::flush;
    lineShown_ = false;
}

}  // namespace qel::batch
