// File reading and atomic writing.
#include "core/formats/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <filesystem>
#include <random>
#include <system_error>

namespace qel {

namespace {
std::atomic<RawWrite> rawWrite{nullptr};

std::string temporaryNameBeside(const std::filesystem::path& target) {
    // One generator per thread: workers saving at once draw names without sharing its state.
    thread_local std::mt19937_64 gen{std::random_device{}()};
    static const char digits[] = "0123456789abcdef";
    std::string suffix = ".qel-";
    uint64_t r = gen();
    for (int i = 0; i < 12; ++i) suffix += digits[(r >> (4 * i)) & 15];
    suffix += ".tmp";
    return (target.parent_path() / ('.' + target.filename().string() + suffix)).string();
}
}  // namespace

void setRawWriteForTesting(RawWrite write) { rawWrite = write; }

int readErrno(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return ENOENT;
    if (std::filesystem::is_directory(path, ec)) return EISDIR;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return errno ? errno : EACCES;
    std::fclose(f);
    return 0;
}

int writeErrno(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) return ENOENT;
    if (std::filesystem::is_directory(path, ec)) return EISDIR;
    if (::access(parent.empty() ? "." : parent.c_str(), W_OK) != 0) return errno;
    return 0;
}

std::string fileReason(const std::string& path, int code, const std::string& otherwise) {
    return path + ": " + (code ? std::string(std::strerror(code)) : otherwise);
}

template <class Bytes>
bool readFileBytes(const std::string& path, Bytes& out, size_t maxBytes) {
    out.clear();
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return false;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    // One read into a buffer of the file's size (no regrowing copies); a file that grew
    // meanwhile is read on in chunks.
    bool ok = true;
    bool more = true;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        const long end = std::ftell(f);
        if (end > 0 && static_cast<unsigned long>(end) > maxBytes) {
            ok = false;
        } else if (end > 0 && std::fseek(f, 0, SEEK_SET) == 0) {
            out.resize(static_cast<size_t>(end));
            const size_t n = std::fread(out.data(), 1, out.size(), f);
            if (n < out.size()) {
                ok = !std::ferror(f);
                more = false;
                out.resize(n);
            }
        } else if (std::fseek(f, 0, SEEK_SET) != 0) {
            ok = false;
        }
    } else {
        std::clearerr(f);
    }
    uint8_t buffer[1 << 16];
    while (ok && more) {
        size_t n = std::fread(buffer, 1, sizeof buffer, f);
        out.insert(out.end(), buffer, buffer + n);
        if (out.size() > maxBytes) {
            ok = false;
            break;
        }
        if (n < sizeof buffer) {
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    if (!ok) out.clear();
    return ok;
}

template bool readFileBytes(const std::string&, std::vector<uint8_t>&, size_t);
template bool readFileBytes(const std::string&, PixelBytes&, size_t);

MappedFile::MappedFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        void* map = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            ::madvise(map, size_t(st.st_size), MADV_SEQUENTIAL);
            data_ = static_cast<const uint8_t*>(map);
            size_ = size_t(st.st_size);
        }
    }
    ::close(fd);
}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

void MappedFile::passed(size_t offset) const {
    // Given back in steps of 1 MB: few calls, and a reader stepping back a little finds its bytes
    // still there. A reader that jumped ahead and came back (a directory at the end) is followed.
    constexpr size_t kStep = size_t(1) << 20;
    const size_t end = std::min(offset, size_) / kStep * kStep;
    if (!data_ || end == 0 || end == released_) return;
    ::madvise(const_cast<uint8_t*>(data_), end, MADV_DONTNEED);
    released_ = end;
}

size_t readFileHead(const std::string& path, uint8_t* head, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    const size_t n = std::fread(head, 1, size, f);
    std::fclose(f);
    return n;
}

bool writeFileAtomically(const std::string& path, const void* data, size_t size) {
    return writeFileAtomically(path, {FilePart{data, size}});
}

bool writeFileAtomically(const std::string& path, std::span<const FilePart> parts) {
    AtomicFile file(path);
    for (const FilePart& part : parts)
        if (!file.write(part.data, part.size)) return false;
    return file.commit();
}

AtomicFile::~AtomicFile() {
    if (file_) std::fclose(file_);
    std::error_code ec;
    if (!temp_.empty()) std::filesystem::remove(temp_, ec);
}

bool AtomicFile::write(const void* data, size_t size) {
    if (failed_) return false;
    if (!file_) {
        namespace fs = std::filesystem;
        std::error_code ec;
        if (path_.empty() || fs::is_directory(path_, ec)) return !(failed_ = true);
        temp_ = temporaryNameBeside(fs::path(path_));
        file_ = std::fopen(temp_.c_str(), "wb");
        if (!file_) {
            temp_.clear();
            return !(failed_ = true);
        }
    }
    if (size == 0) return true;
    RawWrite w = rawWrite.load();
    const size_t written = w ? w(data, size, file_) : std::fwrite(data, 1, size, file_);
    failed_ = written != size;
    return !failed_;
}

bool AtomicFile::commit() {
    if (!file_ && !write(nullptr, 0)) return false;  // an empty file is still made
    if (failed_) return false;
    bool ok = std::fflush(file_) == 0;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    if (ok) {
        namespace fs = std::filesystem;
        std::error_code ec;
        // Keep the permissions of the file being replaced.
        const fs::path target(path_);
        auto st = fs::status(target, ec);
        if (!ec && fs::exists(st)) fs::permissions(temp_, st.permissions(), fs::perm_options::replace, ec);
        fs::rename(temp_, target, ec);
        ok = !ec;
    }
    if (ok) temp_.clear();  // renamed: nothing left to remove
    failed_ = !ok;
    return ok;
}

}  // namespace qel
